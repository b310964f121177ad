#include "src/base/membership_builder.h"

#include <absl/container/flat_hash_map.h>

#include <algorithm>
#include <numeric>

#include "runtime/parallel.h"
#include "runtime/prefetch.h"

namespace quelmar::base {

void MembershipBuilder::append(std::span<const utils::NodeId> members,
                               std::span<const MemberRun> runs) {
    const std::uint64_t base = members_.size();
    members_.insert(members_.end(), members.begin(), members.end());
    for (const MemberRun& run : runs) {
        if (!runs_.empty() && runs_.back().cluster == run.cluster &&
            runs_.back().end == base + run.begin) {
            runs_.back().end = base + run.end;
        } else {
            runs_.push_back({run.cluster, base + run.begin, base + run.end});
        }
    }
}

// Runs are grouped by cluster id (ascending) with a counting pass; each
// cluster's members are then sorted and deduplicated on the pool.
Clustering MembershipBuilder::finish(runtime::WorkerPool* pool) && {
    absl::flat_hash_map<ClusterId, std::uint32_t> index_of;
    std::vector<ClusterId> ids;
    std::vector<std::uint32_t> cluster_of_run(runs_.size());
    for (std::size_t r = 0; r < runs_.size(); ++r) {
        const auto [it, inserted] = index_of.try_emplace(runs_[r].cluster, ids.size());
        if (inserted) ids.push_back(runs_[r].cluster);
        cluster_of_run[r] = it->second;
    }
    index_of = {};
    // Pairs sort faster than indices compared through the ids; ids are
    // distinct, so the order is by id alone.
    std::vector<std::pair<ClusterId, std::uint32_t>> by_id(ids.size());
    for (std::uint32_t k = 0; k < by_id.size(); ++k) by_id[k] = {ids[k], k};
    std::sort(by_id.begin(), by_id.end());
    std::vector<std::uint32_t> rank(ids.size());
    for (std::uint32_t k = 0; k < by_id.size(); ++k) rank[by_id[k].second] = k;

    // Run indices by rank of their cluster, input order kept within one.
    std::vector<std::uint64_t> first_run(ids.size() + 1, 0);
    for (const std::uint32_t c : cluster_of_run) ++first_run[rank[c] + 1];
    std::partial_sum(first_run.begin(), first_run.end(), first_run.begin());
    std::vector<std::uint64_t> runs_by_rank(runs_.size());
    {
        std::vector<std::uint64_t> cursor(first_run.begin(), first_run.end() - 1);
        for (std::size_t r = 0; r < runs_.size(); ++r)
            runs_by_rank[cursor[rank[cluster_of_run[r]]]++] = r;
    }

    // A cluster's runs lie anywhere in the input, and most clusters are
    // small: the runs of the clusters a little ahead are fetched meanwhile.
    std::vector<Cluster> cores(ids.size());
    auto first_run_of = [&](std::size_t k) -> const MemberRun& {
        return runs_[runs_by_rank[first_run[k]]];
    };
    runtime::parallel_for_ranges(
        pool, ids.size(), [&](std::size_t begin, std::size_t end, std::size_t) {
            constexpr std::size_t kAhead = 8;
            for (std::size_t k = begin; k < end; ++k) {
                if (k + 2 * kAhead < end) runtime::prefetch(&first_run_of(k + 2 * kAhead));
                if (k + kAhead < end) runtime::prefetch(&members_[first_run_of(k + kAhead).begin]);
                auto& core = cores[k].core;
                for (std::uint64_t i = first_run[k]; i < first_run[k + 1]; ++i) {
                    const MemberRun& run = runs_[runs_by_rank[i]];
                    core.insert(core.end(), members_.begin() + run.begin,
                                members_.begin() + run.end);
                }
                std::sort(core.begin(), core.end());
                core.erase(std::unique(core.begin(), core.end()), core.end());
                // Every cluster here has a known member: fewer than two is one.
                if (core.size() < 2) core = {};
            }
        });
    members_ = {};
    runs_ = {};

    Clustering result;
    for (std::size_t k = 0; k < cores.size(); ++k) {
        if (cores[k].core.empty()) {
            ++result.dropped_singletons;
        } else {
            result.clusters.emplace_back(by_id[k].first, std::move(cores[k]));
        }
    }
    result.unknown_memberships = unresolved_.size();
    return result;
}

}  // namespace quelmar::base
