#include "src/base/pair_load.h"

#include <algorithm>
#include <string>
#include <utility>

#include "src/base/graph_builder.h"

namespace quelmar::base {

runtime::Result<Graph> graph_from_pairs(std::span<const utils::NodeName> pairs,
                                        std::span<const utils::NodeName> lone_names,
                                        utils::TaskMonitor& monitor,
                                        const PairLoadOptions& options) {
    const LoadPool pool(options.pool);
    GraphBuilder builder(GraphBuilder::Limits{.max_nodes = options.max_nodes}, pool.get());
    const std::size_t ends = pairs.size() & ~std::size_t{1};
    // Rounds grow with a quarter of the pairs resolved, kept even so that no
    // pair is split. The caller's array is resident beside the build, and
    // with an eighth, as the text load grows, the build's peak was 2% higher.
    for (std::size_t first = 0; first < ends;) {
        if (!monitor.checkpoint({utils::TaskProgress::Stage::kReading, first / 2, ends / 2})) {
            return runtime::Error::interrupted();
        }
        const std::size_t round =
            std::max<std::size_t>(2, round_target(options.round_names, first, 4) & ~std::size_t{1});
        const std::size_t count = std::min(round, ends - first);
        if (!builder.add_lines(pairs.subspan(first, count))) {
            return runtime::Error(runtime::ErrorKind::kLimit,
                                  std::string(GraphBuilder::kTooManyNodes));
        }
        first += count;
    }
    builder.add_lone_names(lone_names);
    return std::move(builder).into_permanent(monitor);
}

}  // namespace quelmar::base
