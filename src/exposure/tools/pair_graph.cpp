#include "src/exposure/tools/pair_graph.h"

#include <algorithm>
#include <optional>
#include <utility>
#include <vector>

#include <absl/container/flat_hash_set.h>

#include "src/base/graph_builder.h"

namespace quelmar::exposure::tools {
namespace {

runtime::Result<base::Graph> build_graph(std::span<const std::uint64_t> pairs,
                                         utils::TaskMonitor& monitor) {
    base::GraphBuilder builder;
    const std::size_t count = pairs.size() / 2;
    for (std::size_t i = 0; i < count; i += kPairsPerCheckpoint) {
        if (!monitor.checkpoint({utils::TaskProgress::Stage::kReading, i, count})) {
            return runtime::Error(std::string(utils::TaskMonitor::kInterrupted));
        }
        const std::size_t end = std::min(count, i + kPairsPerCheckpoint);
        if (!builder.add_lines(pairs.subspan(2 * i, 2 * (end - i)))) {
            return runtime::Error(std::string(base::GraphBuilder::kTooManyNodes));
        }
    }
    return std::move(builder).into_permanent(monitor);
}

// The names of `graph` followed by those of `extra_names` it lacks, in
// order; nothing when there are none.
std::optional<std::vector<utils::NodeName>> names_with_extras(
    const base::Graph& graph, std::span<const std::uint64_t> extra_names) {
    std::optional<std::vector<utils::NodeName>> names;
    absl::flat_hash_set<utils::NodeName> added;
    for (std::uint64_t name : extra_names) {
        if (graph.name_set().retrieve(name) || !added.insert(name).second) continue;
        if (!names) names = graph.name_set().id_to_name();
        names->push_back(name);
    }
    return names;
}

}  // namespace

runtime::Result<PairGraph> PairGraph::build(std::span<const std::uint64_t> pairs,
                                            std::span<const std::uint64_t> extra_names,
                                            utils::TaskMonitor& monitor) {
    runtime::Result<base::Graph> built = build_graph(pairs, monitor);
    if (!built) return std::move(built).error();
    PairGraph result(std::move(built).value());
    std::optional<std::vector<utils::NodeName>> names =
        names_with_extras(result.graph_, extra_names);
    if (!names) return result;
    if (names->size() > utils::kMaxNodes)
        return runtime::Error(std::string(base::GraphBuilder::kTooManyNodes));
    // Nodes without edges: the last offset repeated.
    const std::span<const std::uint64_t> offsets = result.graph_.offsets();
    result.offsets_.assign(offsets.begin(), offsets.end());
    result.offsets_.resize(names->size() + 1, offsets.back());
    result.names_ = utils::NameSet::from_id_order(std::move(*names));
    return result;
}

utils::SnapshotContent PairGraph::content() const {
    if (!names_) {
        return {graph_.name_set(), graph_.offsets(), graph_.all_neighbours(), graph_.m_cache()};
    }
    return {*names_, offsets_, graph_.all_neighbours(), graph_.m_cache()};
}

}  // namespace quelmar::exposure::tools
