#include "src/exposure/tools/interim_memory_loads.h"

#include <absl/container/flat_hash_map.h>
#include <absl/container/flat_hash_set.h>

#include <algorithm>
#include <map>
#include <string>
#include <vector>

#include "src/base/graph_builder.h"
#include "src/base/line_rules.h"
#include "src/base/text_load.h"

namespace quelmar::exposure::tools {

runtime::Result<base::Graph> build_graph_from_pairs(std::span<const utils::NodeName> pairs,
                                                    std::span<const utils::NodeName> extra_names,
                                                    utils::TaskMonitor& monitor) {
    constexpr std::size_t kPairsPerCheckpoint = std::size_t{1} << 20;
    base::LoadPool pool(nullptr);
    base::GraphBuilder builder(base::GraphBuilder::Limits{}, pool.get());
    const std::size_t count = pairs.size() / 2;
    for (std::size_t i = 0; i < count; i += kPairsPerCheckpoint) {
        if (!monitor.checkpoint({utils::TaskProgress::Stage::kReading, i, count})) {
            return runtime::Error::interrupted();
        }
        const std::size_t end = std::min(count, i + kPairsPerCheckpoint);
        if (!builder.add_lines(pairs.subspan(2 * i, 2 * (end - i)))) {
            return runtime::Error(runtime::ErrorKind::kLimit,
                                  std::string(base::GraphBuilder::kTooManyNodes));
        }
    }
    runtime::Result<base::Graph> built = std::move(builder).into_permanent(monitor);
    if (!built || extra_names.empty()) return built;
    const base::Graph& graph = built.value();
    std::vector<utils::NodeName> names;
    bool extended = false;
    absl::flat_hash_set<utils::NodeName> added;
    for (utils::NodeName name : extra_names) {
        if (graph.name_set().retrieve(name) || !added.insert(name).second) continue;
        if (!extended) names = graph.name_set().id_to_name();
        extended = true;
        names.push_back(name);
    }
    if (!extended) return built;
    if (names.size() > utils::kMaxNodes) {
        return runtime::Error(runtime::ErrorKind::kLimit,
                              std::string(base::GraphBuilder::kTooManyNodes));
    }
    std::vector<std::uint64_t> offsets(graph.offsets().begin(), graph.offsets().end());
    offsets.resize(names.size() + 1, offsets.back());
    std::vector<utils::NodeId> neighbours(graph.all_neighbours().begin(),
                                          graph.all_neighbours().end());
    return base::Graph(*utils::NameSet::from_id_order(std::move(names)), std::move(offsets),
                       neighbours, graph.m_cache());
}

runtime::Result<base::Clustering> build_clustering_from_memberships(
    const base::Graph& graph, std::span<const utils::NodeName> nodes,
    std::span<const base::ClusterId> clusters) {
    std::map<base::ClusterId, std::vector<utils::NodeId>> grouped;
    absl::flat_hash_set<base::ClusterId> unresolved;
    for (std::size_t i = 0; i < nodes.size(); ++i) {
        const auto id = graph.name_set().retrieve(nodes[i]);
        if (!id) {
            if (!unresolved.insert(clusters[i]).second) {
                return runtime::Error(
                    base::unresolved_node_message(std::to_string(nodes[i]), clusters[i]));
            }
            continue;
        }
        grouped[clusters[i]].push_back(static_cast<utils::NodeId>(*id));
    }
    base::Clustering result;
    for (auto& [cluster, members] : grouped) {
        std::sort(members.begin(), members.end());
        members.erase(std::unique(members.begin(), members.end()), members.end());
        if (members.size() < 2) continue;
        result.clusters.emplace_back(cluster, base::Cluster{std::move(members)});
    }
    return result;
}

}  // namespace quelmar::exposure::tools
