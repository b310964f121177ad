#include "src/base/membership_builder.h"

#include <algorithm>
#include <bit>
#include <cstring>
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
// in-place radix sort on the top 8 bits where ids differ, then each bucket
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

// Runs are grouped by cluster id (ascending) by a radix sort. Each cluster
// then gathers its runs into its own stretch of one array, where it is
// sorted and deduplicated on the pool; the survivors are closed up.
Clustering MembershipBuilder::finish(runtime::WorkerPool* pool) && {
    sort_by_cluster(runs_, pool);
    // Cluster k has the runs [first_run[k], first_run[k + 1]) and, until
    // closed up, the stretch [stretch[k], stretch[k + 1]) of the members.
    std::vector<std::uint64_t> first_run;
    for (std::size_t r = 0; r < runs_.size(); ++r) {
        if (r == 0 || runs_[r].cluster != runs_[r - 1].cluster) first_run.push_back(r);
    }
    first_run.push_back(runs_.size());
    const std::size_t clusters = first_run.size() - 1;
    std::vector<std::uint64_t> stretch(clusters + 1, 0);
    for (std::size_t k = 0; k < clusters; ++k) {
        stretch[k + 1] = stretch[k];
        for (std::uint64_t r = first_run[k]; r < first_run[k + 1]; ++r) {
            stretch[k + 1] += runs_[r].end - runs_[r].begin;
        }
    }

    Clustering result;
    result.ids.resize(clusters);
    result.members.resize(stretch.back());
    // Members kept by each cluster: none when fewer than two.
    std::vector<std::uint64_t> kept(clusters);
    // A cluster's members lie anywhere in the input, and most clusters are
    // small: the members of the clusters a little ahead are fetched meanwhile.
    runtime::parallel_for_ranges(
        pool, clusters, [&](std::size_t begin, std::size_t end, std::size_t) {
            constexpr std::size_t kAhead = 8;
            for (std::size_t k = begin; k < end; ++k) {
                if (k + kAhead < end) {
                    runtime::prefetch(&members_[runs_[first_run[k + kAhead]].begin]);
                }
                result.ids[k] = runs_[first_run[k]].cluster;
                utils::NodeId* const out = result.members.data() + stretch[k];
                utils::NodeId* at = out;
                for (std::uint64_t r = first_run[k]; r < first_run[k + 1]; ++r) {
                    at = std::copy(members_.begin() + runs_[r].begin,
                                   members_.begin() + runs_[r].end, at);
                }
                std::sort(out, at);
                const std::uint64_t distinct = std::unique(out, at) - out;
                // Every cluster here has a known member: fewer than two is one.
                kept[k] = distinct < 2 ? 0 : distinct;
            }
        });
    members_ = {};
    runs_ = {};

    // Closing up moves the survivors down in order; a stretch never moves
    // past the start of its own.
    std::uint64_t write = 0;
    std::size_t kept_clusters = 0;
    result.starts.assign(1, 0);
    result.starts.reserve(clusters + 1);
    for (std::size_t k = 0; k < clusters; ++k) {
        if (kept[k] == 0) {
            ++result.dropped_singletons;
            continue;
        }
        if (write != stretch[k]) {
            std::memmove(result.members.data() + write, result.members.data() + stretch[k],
                         kept[k] * sizeof(utils::NodeId));
        }
        write += kept[k];
        result.ids[kept_clusters++] = result.ids[k];
        result.starts.push_back(write);
    }
    result.ids.resize(kept_clusters);
    result.members.resize(write);
    // Room left by repeated members and dropped clusters goes back when it
    // is worth a copy.
    if (write < result.members.capacity() / 8 * 7) result.members.shrink_to_fit();
    result.unknown_memberships = unresolved_.size();
    return result;
}

}  // namespace quelmar::base
