#include "src/base/clustering.h"

#include <absl/container/flat_hash_map.h>
#include <absl/container/flat_hash_set.h>

#include <algorithm>
#include <numeric>
#include <optional>
#include <string_view>
#include <utility>

#include "runtime/cache_line.h"
#include "runtime/parallel.h"
#include "src/base/line_blocks.h"
#include "src/base/line_rules.h"
#include "src/base/lookahead.h"

namespace quelmar::base {
namespace {

// Consecutive known lines of one cluster: members [begin, end).
struct MemberRun {
    ClusterId cluster;
    std::uint64_t begin;
    std::uint64_t end;
};

struct UnknownNode {
    ClusterId cluster;
    NumberToken node;
};

// What one worker makes of one block of lines: the members of its known
// lines in line order, grouped in runs, its lines naming unknown nodes in
// line order, and the first failing line's message. Reused block after block;
// readers side by side in an array are written by different workers.
class alignas(runtime::kCacheLine) BlockReader {
public:
    void read(TextBlock block, const utils::NameSet& names) {
        clear();
        for_each_line(block, [&](const LineTokens* line) { return add(line); });
        resolve(names);
    }
    void read_one(const LineTokens* line, const utils::NameSet& names) {
        clear();
        add(line);
        resolve(names);
    }

    const std::vector<utils::NodeId>& members() const { return members_; }
    const std::vector<MemberRun>& runs() const { return runs_; }
    const std::vector<UnknownNode>& unknown() const { return unknown_; }
    std::optional<std::string_view> failure() const { return failure_; }

private:
    struct Line {
        NumberToken node;
        ClusterId cluster;
    };

    void clear() {
        lines_.clear();
        members_.clear();
        runs_.clear();
        unknown_.clear();
        failure_.reset();
    }
    bool add(const LineTokens* line) {
        failure_ = membership_line_error(line);
        if (failure_) return false;
        lines_.push_back({line->first, line->second.value});
        return true;
    }
    void resolve(const utils::NameSet& names) {
        visit_with_lookahead(
            lines_.size(), [&](std::size_t i) { names.prefetch(lines_[i].node.value); },
            [&](std::size_t i) {
                const Line& line = lines_[i];
                if (const auto id = names.retrieve(line.node.value)) {
                    if (runs_.empty() || runs_.back().cluster != line.cluster) {
                        runs_.push_back({line.cluster, members_.size(), members_.size()});
                    }
                    members_.push_back(static_cast<utils::NodeId>(*id));
                    ++runs_.back().end;
                } else {
                    unknown_.push_back({line.cluster, line.node});
                }
            });
    }

    std::vector<Line> lines_;
    std::vector<utils::NodeId> members_;
    std::vector<MemberRun> runs_;
    std::vector<UnknownNode> unknown_;
    std::optional<std::string_view> failure_;
};

// Gathers the blocks' members in file order and applies the unknown-node
// rule line by line; groups the members by cluster at the end.
class ClusteringBuilder {
public:
    // The error of the block's first failing line, if any.
    runtime::Result<void> take(const BlockReader& block) {
        for (const UnknownNode& line : block.unknown()) {
            if (!unresolved_.insert(line.cluster).second) {
                return runtime::Error(
                    unresolved_node_message(line.node.as_written(), line.cluster));
            }
        }
        if (const auto failure = block.failure()) return runtime::Error(std::string(*failure));
        const std::uint64_t base = members_.size();
        members_.insert(members_.end(), block.members().begin(), block.members().end());
        for (const MemberRun& run : block.runs()) {
            if (!runs_.empty() && runs_.back().cluster == run.cluster &&
                runs_.back().end == base + run.begin) {
                runs_.back().end = base + run.end;
            } else {
                runs_.push_back({run.cluster, base + run.begin, base + run.end});
            }
        }
        return {};
    }

    Clustering finish(runtime::WorkerPool* pool) &&;

private:
    std::vector<utils::NodeId> members_;
    std::vector<MemberRun> runs_;
    // Clusters that already had one line naming an unknown node.
    absl::flat_hash_set<ClusterId> unresolved_;
};

// Runs are grouped by cluster id (ascending) with a counting pass; each
// cluster's members are then sorted and deduplicated on the pool.
Clustering ClusteringBuilder::finish(runtime::WorkerPool* pool) && {
    absl::flat_hash_map<ClusterId, std::uint32_t> index_of;
    std::vector<ClusterId> ids;
    std::vector<std::uint32_t> cluster_of_run(runs_.size());
    for (std::size_t r = 0; r < runs_.size(); ++r) {
        const auto [it, inserted] = index_of.try_emplace(runs_[r].cluster, ids.size());
        if (inserted) ids.push_back(runs_[r].cluster);
        cluster_of_run[r] = it->second;
    }
    index_of = {};
    std::vector<std::uint32_t> by_id(ids.size());
    std::iota(by_id.begin(), by_id.end(), 0);
    std::sort(by_id.begin(), by_id.end(), [&](auto a, auto b) { return ids[a] < ids[b]; });
    std::vector<std::uint32_t> rank(ids.size());
    for (std::uint32_t k = 0; k < by_id.size(); ++k) rank[by_id[k]] = k;

    // Run indices by rank of their cluster, file order kept within one.
    std::vector<std::uint64_t> first_run(ids.size() + 1, 0);
    for (const std::uint32_t c : cluster_of_run) ++first_run[rank[c] + 1];
    std::partial_sum(first_run.begin(), first_run.end(), first_run.begin());
    std::vector<std::uint64_t> runs_by_rank(runs_.size());
    {
        std::vector<std::uint64_t> cursor(first_run.begin(), first_run.end() - 1);
        for (std::size_t r = 0; r < runs_.size(); ++r)
            runs_by_rank[cursor[rank[cluster_of_run[r]]]++] = r;
    }

    std::vector<Cluster> cores = runtime::parallel_map(pool, ids.size(), [&](std::size_t k) {
        Cluster cluster;
        auto& core = cluster.core;
        for (std::uint64_t i = first_run[k]; i < first_run[k + 1]; ++i) {
            const MemberRun& run = runs_[runs_by_rank[i]];
            core.insert(core.end(), members_.begin() + run.begin, members_.begin() + run.end);
        }
        std::sort(core.begin(), core.end());
        core.erase(std::unique(core.begin(), core.end()), core.end());
        if (core.size() < 2) core = {};
        return cluster;
    });
    members_ = {};
    runs_ = {};

    Clustering result;
    for (std::size_t k = 0; k < cores.size(); ++k) {
        if (!cores[k].core.empty())
            result.clusters.emplace_back(ids[by_id[k]], std::move(cores[k]));
    }
    return result;
}

}  // namespace

runtime::Result<Clustering> Clustering::parse_from_reader(const Graph& graph,
                                                          utils::ByteSource& input,
                                                          const TextLoadOptions& options) {
    const LoadPool pool(options.pool);
    const utils::NameSet& names = graph.name_set();
    LineChunkReader reader(input, options.buffer_bytes);
    ClusteringBuilder builder;
    std::vector<BlockReader> readers;
    for (;;) {
        auto piece = reader.next();
        if (!piece) return std::move(piece).error();
        const LineChunkReader::Piece& lines = piece.value();
        if (lines.at_end()) break;
        if (lines.long_line) {
            readers.resize(std::max<std::size_t>(readers.size(), 1));
            readers[0].read_one(lines.long_line_valid ? &lines.long_line_tokens : nullptr, names);
            if (auto taken = builder.take(readers[0]); !taken) return std::move(taken).error();
            continue;
        }
        const std::vector<TextBlock> blocks = cut_into_blocks(lines.lines, options.block_bytes);
        readers.resize(std::max(readers.size(), blocks.size()));
        runtime::parallel_for_beside_caller(
            pool.get(), blocks.size(), [&](std::size_t b) { readers[b].read(blocks[b], names); },
            [&] { reader.read_ahead(); });
        for (std::size_t b = 0; b < blocks.size(); ++b) {
            if (auto taken = builder.take(readers[b]); !taken) return std::move(taken).error();
        }
    }
    return std::move(builder).finish(pool.get());
}

runtime::Result<Clustering> Clustering::parse_from_file(const Graph& graph,
                                                        const std::string& path) {
    auto file = utils::FileSource::open(path);
    if (!file) return std::move(file).error();
    return parse_from_reader(graph, file.value());
}

}  // namespace quelmar::base
