// The omega index without all pairs of nodes.
//
// Omega compares, over all N(N - 1)/2 pairs of universe nodes, how many
// clusters each pair shares on side A (kA) and on side B (kB):
//   observed = #pairs with kA == kB, over the number of pairs;
//   expected = Σ_k #pairs(kA == k) · #pairs(kB == k), over its square;
//   omega = (observed - expected) / (1 - expected).
// So it needs three histograms: of kA, of kB, and of (kA, kB) where both are
// at least 1; the pairs that share nothing follow by subtraction.
//
// Nodes with the same clusters (their "signature") are one class: a class of
// w nodes holds w(w - 1)/2 pairs with the signature's counts. Two classes
// count together only when they share a cluster (for the joint histogram: a
// cluster of A and one of B), so classes are listed under every (cluster of
// A, cluster of B) they hold, and a pair of classes is counted at the first
// such key they share. With little overlap, a key holds one class or a few,
// and the work is close to the number of contingency cells. Counts are
// integers, so per-worker histograms add up to the same totals on any pool.

#include <algorithm>
#include <cmath>
#include <limits>
#include <memory>
#include <span>
#include <utility>
#include <vector>

#include "runtime/parallel.h"
#include "src/quelmar/agreement.h"
#include "src/quelmar/internal/interrupt.h"
#include "src/quelmar/internal/member_index.h"
#include "src/quelmar/internal/node_bits.h"

namespace quelmar {
namespace {

using Lists = std::pair<std::span<const std::uint64_t>, std::span<const std::uint64_t>>;

// The second list of a one-sided histogram: every class holds the same key.
constexpr std::uint64_t kOneKey[] = {0};

struct NodeClass {
    std::uint64_t node;  // a representative
    std::uint64_t weight;
};

std::uint64_t mix(std::uint64_t h, std::uint64_t x) {
    h ^= x + 0x9e3779b97f4a7c15ULL + (h << 6) + (h >> 2);
    return h * 0xff51afd7ed558ccdULL;
}

std::uint64_t hash_of(const Lists& lists) {
    std::uint64_t h = lists.first.size();
    for (std::uint64_t x : lists.first) h = mix(h, x);
    h = mix(h, lists.second.size());
    for (std::uint64_t x : lists.second) h = mix(h, x);
    return h;
}

bool less(const Lists& x, const Lists& y) {
    auto lex = [](auto p, auto q) {
        return std::lexicographical_compare(p.begin(), p.end(), q.begin(), q.end());
    };
    if (lex(x.first, y.first)) return true;
    if (lex(y.first, x.first)) return false;
    return lex(x.second, y.second);
}

bool same(const Lists& x, const Lists& y) {
    return std::equal(x.first.begin(), x.first.end(), y.first.begin(), y.first.end()) &&
           std::equal(x.second.begin(), x.second.end(), y.second.begin(), y.second.end());
}

// Groups `nodes` by their lists (hash first, then exact comparison).
template <class ListsOf>
std::vector<NodeClass> classes_of(std::vector<std::uint64_t> nodes, const ListsOf& lists_of) {
    std::vector<std::pair<std::uint64_t, std::uint64_t>> keyed(nodes.size());
    runtime::parallel_for(nodes.size(), [&](std::size_t i) {
        keyed[i] = {hash_of(lists_of(nodes[i])), nodes[i]};
    });
    std::sort(keyed.begin(), keyed.end());
    std::vector<NodeClass> classes;
    for (std::size_t begin = 0; begin < keyed.size();) {
        std::size_t end = begin + 1;
        while (end < keyed.size() && keyed[end].first == keyed[begin].first) ++end;
        const Lists first = lists_of(keyed[begin].second);
        bool uniform = true;
        for (std::size_t i = begin + 1; i < end && uniform; ++i) {
            uniform = same(first, lists_of(keyed[i].second));
        }
        if (uniform) {
            classes.push_back({keyed[begin].second, end - begin});
        } else {
            // A hash collision: order the run exactly.
            std::sort(keyed.begin() + begin, keyed.begin() + end, [&](auto& x, auto& y) {
                return less(lists_of(x.second), lists_of(y.second));
            });
            for (std::size_t i = begin; i < end;) {
                std::size_t j = i + 1;
                while (j < end && same(lists_of(keyed[i].second), lists_of(keyed[j].second))) ++j;
                classes.push_back({keyed[i].second, j - i});
                i = j;
            }
        }
        begin = end;
    }
    return classes;
}

// Size of the intersection of two ascending lists and its first element.
std::pair<std::uint64_t, std::uint64_t> shared(std::span<const std::uint64_t> x,
                                               std::span<const std::uint64_t> y) {
    std::uint64_t count = 0, first = std::numeric_limits<std::uint64_t>::max();
    auto i = x.begin();
    auto j = y.begin();
    while (i != x.end() && j != y.end()) {
        if (*i < *j) {
            ++i;
        } else if (*j < *i) {
            ++j;
        } else {
            if (count++ == 0) first = *i;
            ++i;
            ++j;
        }
    }
    return {count, first};
}

// Pairs of nodes by (shared first keys, shared second keys), both at least 1:
// histogram[s1 * width + s2]. False when stopped.
template <class ListsOf>
bool pair_histogram(const std::vector<NodeClass>& classes, const ListsOf& lists_of,
                    std::stop_token stop, runtime::ReportedPass& pass,
                    std::vector<std::uint64_t>& histogram, std::size_t& width) {
    std::size_t longest1 = 0, longest2 = 0;
    std::uint64_t entries = 0;
    for (const NodeClass& c : classes) {
        const Lists lists = lists_of(c.node);
        longest1 = std::max(longest1, lists.first.size());
        longest2 = std::max(longest2, lists.second.size());
        entries += lists.first.size() * lists.second.size();
    }
    width = longest2 + 1;
    histogram.assign((longest1 + 1) * width, 0);
    for (const NodeClass& c : classes) {
        const Lists lists = lists_of(c.node);
        histogram[lists.first.size() * width + lists.second.size()] +=
            c.weight * (c.weight - 1) / 2;
    }
    struct Entry {
        std::uint64_t key1, key2, cls;
        bool operator<(const Entry& o) const {
            return key1 != o.key1 ? key1 < o.key1 : key2 != o.key2 ? key2 < o.key2 : cls < o.cls;
        }
    };
    std::vector<Entry> listed;
    listed.reserve(entries);
    for (std::uint64_t c = 0; c < classes.size(); ++c) {
        const Lists lists = lists_of(classes[c].node);
        for (std::uint64_t k1 : lists.first) {
            for (std::uint64_t k2 : lists.second) listed.push_back({k1, k2, c});
        }
    }
    std::sort(listed.begin(), listed.end());
    if (stop.stop_requested()) return false;
    pass.advance();
    std::vector<std::uint64_t> runs;
    for (std::size_t i = 0; i < listed.size(); ++i) {
        if (i == 0 || listed[i].key1 != listed[i - 1].key1 ||
            listed[i].key2 != listed[i - 1].key2) {
            runs.push_back(i);
        }
    }
    runs.push_back(listed.size());
    const std::size_t run_count = runs.size() - 1;
    std::vector<std::vector<std::uint64_t>> partial(runtime::worker_count(),
                                                    std::vector<std::uint64_t>(histogram.size()));
    constexpr std::size_t kRunBlock = 1024;
    runtime::parallel_for_worker(
        (run_count + kRunBlock - 1) / kRunBlock, [&](std::size_t block, std::size_t worker) {
            if (stop.stop_requested()) return;
            std::vector<std::uint64_t>& counts = partial[worker];
            const std::size_t end = std::min(run_count, (block + 1) * kRunBlock);
            for (std::size_t r = block * kRunBlock; r < end; ++r) {
                const std::uint64_t key1 = listed[runs[r]].key1, key2 = listed[runs[r]].key2;
                for (std::uint64_t x = runs[r]; x < runs[r + 1]; ++x) {
                    const NodeClass& cx = classes[listed[x].cls];
                    const Lists lx = lists_of(cx.node);
                    for (std::uint64_t y = x + 1; y < runs[r + 1]; ++y) {
                        const NodeClass& cy = classes[listed[y].cls];
                        const Lists ly = lists_of(cy.node);
                        const auto [s1, first1] = shared(lx.first, ly.first);
                        if (first1 != key1) continue;
                        const auto [s2, first2] = shared(lx.second, ly.second);
                        if (first2 != key2) continue;
                        counts[s1 * width + s2] += cx.weight * cy.weight;
                    }
                }
            }
        });
    if (stop.stop_requested()) return false;
    pass.advance();
    for (const auto& counts : partial) {
        for (std::size_t i = 0; i < counts.size(); ++i) histogram[i] += counts[i];
    }
    return true;
}

}  // namespace

runtime::Result<double> omega(const Contingency& table, std::stop_token stop,
                              runtime::PassProgress& progress) {
    if (table.universe < 2) return std::numeric_limits<double>::quiet_NaN();
    // Two steps (list the classes by key, count their pairs) per histogram.
    runtime::ReportedPass pass(progress, 6);
    std::unique_ptr<internal::NodeBits> in_universe;
    if (table.uncovered == Uncovered::kDrop) {
        in_universe = std::make_unique<internal::NodeBits>(table.universe_nodes, table.node_count);
    }
    internal::MemberIndex index_a, index_b;
    if (!internal::MemberIndex::build(index_a, table.node_count, table.a.sources, in_universe.get(),
                                      nullptr, 0, stop) ||
        !internal::MemberIndex::build(index_b, table.node_count, table.b.sources, in_universe.get(),
                                      nullptr, 0, stop)) {
        return internal::interrupted();
    }
    std::vector<std::uint64_t> in_a, in_b, in_both;
    for (std::uint64_t v = 0; v < table.node_count; ++v) {
        const bool a = !index_a.of(v).empty(), b = !index_b.of(v).empty();
        if (a) in_a.push_back(v);
        if (b) in_b.push_back(v);
        if (a && b) in_both.push_back(v);
    }
    auto only_a = [&](std::uint64_t v) { return Lists{index_a.of(v), kOneKey}; };
    auto only_b = [&](std::uint64_t v) { return Lists{index_b.of(v), kOneKey}; };
    auto both = [&](std::uint64_t v) { return Lists{index_a.of(v), index_b.of(v)}; };

    std::vector<std::uint64_t> hist_a, hist_b, hist_joint;
    std::size_t width_a = 0, width_b = 0, width = 0;
    if (!pair_histogram(classes_of(std::move(in_a), only_a), only_a, stop, pass, hist_a, width_a) ||
        !pair_histogram(classes_of(std::move(in_b), only_b), only_b, stop, pass, hist_b, width_b) ||
        !pair_histogram(classes_of(std::move(in_both), both), both, stop, pass, hist_joint,
                        width)) {
        return internal::interrupted();
    }

    using Wide = __int128;
    const std::uint64_t n = table.universe;
    const Wide pairs = static_cast<Wide>(n) * (n - 1) / 2;
    // Pairs by shared count on one side; entry 0 by subtraction.
    auto by_count = [&](const std::vector<std::uint64_t>& hist, std::size_t w) {
        std::vector<Wide> counts(hist.size() / w, 0);
        Wide sharing = 0;
        for (std::size_t k = 1; k < counts.size(); ++k) {
            counts[k] = hist[k * w + 1];
            sharing += counts[k];
        }
        counts[0] = pairs - sharing;
        return std::make_pair(counts, sharing);
    };
    const auto [count_a, sharing_a] = by_count(hist_a, width_a);
    const auto [count_b, sharing_b] = by_count(hist_b, width_b);
    Wide sharing_both = 0, agree = 0;
    for (std::size_t i = 0; i < hist_joint.size(); ++i) {
        sharing_both += hist_joint[i];
        if (i / width == i % width) agree += hist_joint[i];
    }
    agree += pairs - sharing_a - sharing_b + sharing_both;
    Wide expected = 0;
    for (std::size_t k = 0; k < std::min(count_a.size(), count_b.size()); ++k) {
        expected += count_a[k] * count_b[k];
    }
    const Wide square = pairs * pairs;
    if (agree == pairs && expected == square) return 1.0;
    return static_cast<double>(agree * pairs - expected) / static_cast<double>(square - expected);
}

}  // namespace quelmar
