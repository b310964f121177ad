#include "src/base/clustering.h"

#include <absl/container/flat_hash_map.h>
#include <absl/container/flat_hash_set.h>

#include <algorithm>
#include <array>
#include <optional>
#include <string_view>
#include <utility>

#include "src/base/line_reader.h"

namespace quelmar::base {
namespace {

constexpr std::string_view kMissingNodeName = "missing node_name";
constexpr std::string_view kMissingClusterId = "missing cluster_id";
constexpr std::string_view kInvalidClusterId = "invalid cluster_id";

// The node name exactly as written; the cluster id in decimal.
std::string unresolved_node_message(const NumberToken& node, ClusterId cluster) {
    return "node " + node.as_written() + " requested in cluster " + std::to_string(cluster) +
           " not found in graph, and is not singleton";
}

std::optional<std::string_view> clustering_line_error(const LineTokens& line) {
    if (line.count == 0) return kMissingNodeName;
    if (line.count == 1) return kMissingClusterId;
    if (!line.second.valid()) return kInvalidClusterId;
    if (!line.first.valid()) return line.first.error_message();
    return std::nullopt;
}

class ClusteringBuilder {
public:
    explicit ClusteringBuilder(const utils::NameSet& names) : names_(names) {}

    // Name lookups miss the cache with large graphs: lines are parsed in
    // batches, prefetching each name's hash slot, then resolved in order.
    static constexpr std::size_t kBatchLines = 32;

    bool batch_full() const { return pending_count_ == kBatchLines; }

    void add(const NumberToken& node, ClusterId cluster) {
        names_.prefetch(node.value);
        pending_[pending_count_++] = {node, cluster};
    }

    // Resolves the pending lines in order; the error of the first line whose
    // cluster already had an unknown node.
    std::optional<runtime::Error> resolve() {
        const std::size_t count = std::exchange(pending_count_, 0);
        for (std::size_t i = 0; i < count; ++i) {
            const auto& [node, cluster] = pending_[i];
            if (const auto id = names_.retrieve(node.value)) {
                members_of(cluster).push_back(static_cast<utils::NodeId>(*id));
            } else if (!unresolved_.insert(cluster).second) {
                return runtime::Error(unresolved_node_message(node, cluster));
            }
        }
        return std::nullopt;
    }

    Clustering finish() && {
        Clustering result;
        for (auto& [id, cluster] : clusters_) {
            auto& core = cluster.core;
            std::sort(core.begin(), core.end());
            core.erase(std::unique(core.begin(), core.end()), core.end());
            if (core.size() >= 2) result.clusters.emplace_back(id, std::move(cluster));
        }
        clusters_ = {};
        std::sort(result.clusters.begin(), result.clusters.end(),
                  [](const auto& a, const auto& b) { return a.first < b.first; });
        return result;
    }

private:
    struct PendingLine {
        NumberToken node;
        ClusterId cluster;
    };

    // Lines of one cluster usually come together: the last cluster is kept
    // at hand.
    std::vector<utils::NodeId>& members_of(ClusterId cluster) {
        if (clusters_.empty() || clusters_[last_index_].first != cluster) {
            const auto [it, inserted] = index_of_.try_emplace(cluster, clusters_.size());
            if (inserted) clusters_.emplace_back(cluster, Cluster());
            last_index_ = it->second;
        }
        return clusters_[last_index_].second.core;
    }

    const utils::NameSet& names_;
    std::array<PendingLine, kBatchLines> pending_;
    std::size_t pending_count_ = 0;
    absl::flat_hash_map<ClusterId, std::size_t> index_of_;
    // In order of first appearance; sorted by id at the end.
    std::vector<std::pair<ClusterId, Cluster>> clusters_;
    std::size_t last_index_ = 0;
    // Clusters that already had one line naming an unknown node.
    absl::flat_hash_set<ClusterId> unresolved_;
};

}  // namespace

runtime::Result<Clustering> Clustering::parse_from_reader(const Graph& graph,
                                                          utils::ByteSource& input) {
    LineReader reader(input);
    ClusteringBuilder builder(graph.name_set());
    LineTokens line;
    for (;;) {
        const LineReader::Step step = reader.next(line);
        if (step == LineReader::Step::kEnd) break;
        std::optional<std::string_view> line_error;
        if (step == LineReader::Step::kLine) line_error = clustering_line_error(line);
        if (step == LineReader::Step::kFailed || line_error) [[unlikely]] {
            // Lines before the failing one may fail first.
            if (auto earlier = builder.resolve()) return std::move(*earlier);
            if (line_error) return runtime::Error(std::string(*line_error));
            return reader.take_error();
        }
        builder.add(line.first, line.second.value);
        if (builder.batch_full()) {
            if (auto failure = builder.resolve()) return std::move(*failure);
        }
    }
    if (auto failure = builder.resolve()) return std::move(*failure);
    return std::move(builder).finish();
}

runtime::Result<Clustering> Clustering::parse_from_file(const Graph& graph,
                                                        const std::string& path) {
    auto file = utils::FileSource::open(path);
    if (!file) return std::move(file).error();
    return parse_from_reader(graph, file.value());
}

}  // namespace quelmar::base
