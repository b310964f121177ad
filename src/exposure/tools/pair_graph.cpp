#include "src/exposure/tools/pair_graph.h"

#include <algorithm>
#include <optional>
#include <utility>
#include <vector>

#include <absl/container/flat_hash_set.h>

#include "src/base/graph_builder.h"
#include "src/utils/snapshot_writer.h"

namespace quelmar::exposure::tools {
namespace {

// With random names every lookup misses the cache: prefetch the names of a
// batch of pairs ahead of adding them, as the edge-list loader does.
constexpr std::size_t kPrefetchPairs = 32;

runtime::Result<base::Graph> build(std::span<const std::uint64_t> pairs,
                                   utils::TaskMonitor& monitor) {
    base::GraphBuilder builder;
    const std::size_t count = pairs.size() / 2;
    for (std::size_t i = 0; i < count; ++i) {
        if (i % kPairsPerCheckpoint == 0 &&
            !monitor.checkpoint({utils::TaskProgress::Stage::kReading, i, count})) {
            return runtime::Error(std::string(utils::TaskMonitor::kInterrupted));
        }
        if (i % kPrefetchPairs == 0) {
            const std::size_t end = std::min(count, i + kPrefetchPairs);
            for (std::size_t name = 2 * i; name < 2 * end; ++name) builder.prefetch(pairs[name]);
        }
        if (!builder.add_edge(pairs[2 * i], pairs[2 * i + 1])) {
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

runtime::Result<void> write_pair_graph_snapshot(const std::string& path,
                                                std::span<const std::uint64_t> pairs,
                                                std::span<const std::uint64_t> extra_names,
                                                utils::TaskMonitor& monitor) {
    runtime::Result<base::Graph> built = build(pairs, monitor);
    if (!built) return std::move(built).error();
    const base::Graph& graph = built.value();
    std::optional<std::vector<utils::NodeName>> names = names_with_extras(graph, extra_names);
    if (!names) {
        return utils::write_compressed_bincode(
            path, {graph.name_set(), graph.offsets(), graph.all_neighbours(), graph.m_cache()},
            monitor);
    }
    if (names->size() > utils::kMaxNodes)
        return runtime::Error(std::string(base::GraphBuilder::kTooManyNodes));
    // Nodes without edges: the same neighbour array, the last offset repeated.
    std::vector<std::uint64_t> offsets(graph.offsets().begin(), graph.offsets().end());
    offsets.resize(names->size() + 1, offsets.back());
    std::optional<utils::NameSet> name_set = utils::NameSet::from_id_order(std::move(*names));
    return utils::write_compressed_bincode(
        path, {*name_set, offsets, graph.all_neighbours(), graph.m_cache()}, monitor);
}

}  // namespace quelmar::exposure::tools
