#include "src/base/membership_builder.h"

#include <algorithm>
#include <bit>
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

namespace {

constexpr int kDigitBits = 8;
constexpr std::size_t kBuckets = std::size_t{1} << kDigitBits;

// Groups the runs by cluster id, ascending, in place: one pass of an
// in-place radix sort on the top 16 bits where ids differ, then each bucket
// sorted on its own (side by side). Runs of one cluster may change order;
// its members are sorted anyway. No scratch as large as the runs: they can
// be as many as the memberships.
void sort_by_cluster(std::vector<MemberRun>& runs, runtime::WorkerPool* pool) {
    ClusterId any = 0;
    ClusterId all = ~ClusterId{0};
    for (const MemberRun& run : runs) {
        any |= run.cluster;
        all &= run.cluster;
    }
    const ClusterId varying = any ^ all;
    if (varying == 0) return;
    const int shift = std::max(0, 64 - std::countl_zero(varying) - kDigitBits);
    auto digit = [shift](const MemberRun& run) { return (run.cluster >> shift) & (kBuckets - 1); };
    std::vector<std::uint64_t> end(kBuckets, 0);
    for (const MemberRun& run : runs) ++end[digit(run)];
    std::inclusive_scan(end.begin(), end.end(), end.begin());
    std::vector<std::uint64_t> next(kBuckets, 0);
    std::copy(end.begin(), end.end() - 1, next.begin() + 1);
    for (std::size_t b = 0; b < kBuckets; ++b) {
        while (next[b] < end[b]) {
            const std::size_t d = digit(runs[next[b]]);
            if (d == b) {
                ++next[b];
            } else {
                std::swap(runs[next[b]], runs[next[d]++]);
            }
        }
    }
    runtime::parallel_for_ranges(pool, kBuckets,
                                 [&](std::size_t first, std::size_t last, std::size_t) {
                                     for (std::size_t b = first; b < last; ++b) {
                                         const std::uint64_t begin = b == 0 ? 0 : end[b - 1];
                                         if (end[b] - begin > 1) {
                                             std::sort(runs.begin() + begin, runs.begin() + end[b],
                                                       [](const MemberRun& x, const MemberRun& y) {
                                                           return x.cluster < y.cluster;
                                                       });
                                         }
                                     }
                                 });
}

}  // namespace

// Runs are grouped by cluster id (ascending) by a radix sort; each
// cluster's members are then sorted and deduplicated on the pool.
Clustering MembershipBuilder::finish(runtime::WorkerPool* pool) && {
    sort_by_cluster(runs_, pool);
    // Cluster k has the runs [first_run[k], first_run[k + 1]).
    std::vector<std::uint64_t> first_run;
    for (std::size_t r = 0; r < runs_.size(); ++r) {
        if (r == 0 || runs_[r].cluster != runs_[r - 1].cluster) first_run.push_back(r);
    }
    first_run.push_back(runs_.size());
    Clustering result;
    result.clusters.resize(first_run.size() - 1);

    // A cluster's members lie anywhere in the input, and most clusters are
    // small: the members of the clusters a little ahead are fetched meanwhile.
    auto first_run_of = [&](std::size_t k) -> const MemberRun& { return runs_[first_run[k]]; };
    runtime::parallel_for_ranges(
        pool, result.clusters.size(), [&](std::size_t begin, std::size_t end, std::size_t) {
            constexpr std::size_t kAhead = 8;
            for (std::size_t k = begin; k < end; ++k) {
                if (k + kAhead < end) runtime::prefetch(&members_[first_run_of(k + kAhead).begin]);
                result.clusters[k].first = first_run_of(k).cluster;
                auto& core = result.clusters[k].second.core;
                for (std::uint64_t i = first_run[k]; i < first_run[k + 1]; ++i) {
                    const MemberRun& run = runs_[i];
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

    const auto dropped =
        std::remove_if(result.clusters.begin(), result.clusters.end(),
                       [](const auto& cluster) { return cluster.second.core.empty(); });
    result.dropped_singletons = static_cast<std::uint64_t>(result.clusters.end() - dropped);
    result.clusters.erase(dropped, result.clusters.end());
    result.unknown_memberships = unresolved_.size();
    return result;
}

}  // namespace quelmar::base
