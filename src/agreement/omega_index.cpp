// The omega index without all pairs of nodes.
//
// Omega compares, over all N(N - 1)/2 pairs of universe nodes, how many
// clusters each pair shares on side A (kA) and on side B (kB):
//   observed = #pairs with kA == kB, over the number of pairs;
//   expected = Σ_k #pairs(kA == k) · #pairs(kB == k), over its square;
//   omega = (observed - expected) / (1 - expected).
// So it needs the histograms of kA, of kB, and the number of pairs with kA
// == kB; the pairs are never listed one by one.
//
// Sums over clusters give the weighted totals: Σ_pairs kA = Σ_i C(|A_i|, 2),
// and Σ_pairs kA·kB = Σ_cells C(n_ij, 2). Only pairs that share two clusters
// or more of a side need to be seen, and both their nodes then belong to two
// clusters or more of that side: the overlap, usually a small part. Those
// nodes are grouped into classes by their (A clusters, B clusters); a class
// of w nodes holds w(w - 1)/2 pairs with its own counts, and two classes are
// counted together under the first two clusters they share, so that each
// pair is seen once. The pairs sharing exactly one cluster then follow from
// the totals, and the pairs sharing none from the number of all pairs.
// Counts are integers, so per-worker histograms add up to the same totals on
// any pool.

#include <algorithm>
#include <cmath>
#include <limits>
#include <memory>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "runtime/parallel.h"
#include "src/agreement/agreement.h"
#include "src/agreement/internal/member_index.h"
#include "src/quelmar/node_marks.h"

namespace quelmar::agreement {
namespace {

using Lists = std::pair<std::span<const std::uint64_t>, std::span<const std::uint64_t>>;

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

// The size of the intersection of two ascending lists and its first two
// elements (max when missing).
struct Shared {
    std::uint64_t count = 0;
    std::uint64_t first = std::numeric_limits<std::uint64_t>::max();
    std::uint64_t second = std::numeric_limits<std::uint64_t>::max();
};

Shared shared(std::span<const std::uint64_t> x, std::span<const std::uint64_t> y) {
    Shared s;
    auto i = x.begin();
    auto j = y.begin();
    while (i != x.end() && j != y.end()) {
        if (*i < *j) {
            ++i;
        } else if (*j < *i) {
            ++j;
        } else {
            if (s.count == 0) s.first = *i;
            if (s.count == 1) s.second = *i;
            ++s.count;
            ++i;
            ++j;
        }
    }
    return s;
}

// Pairs of nodes sharing at least two clusters of side X, by (shared on X,
// shared on Y): histogram[kx * width + ky]. `classes` group nodes by their
// lists (X, Y), each X list at least two long; lists_of gives them. A pair
// of classes is counted under the first two clusters of X they share.
// False when stopped.
template <class ListsOf>
bool multi_pairs(const std::vector<NodeClass>& classes, const ListsOf& lists_of,
                 std::stop_token stop, runtime::ReportedPass& pass,
                 std::vector<std::uint64_t>& histogram, std::size_t& width) {
    std::size_t longest_x = 0, longest_y = 0;
    std::uint64_t entries = 0;
    for (const NodeClass& c : classes) {
        const Lists lists = lists_of(c.node);
        longest_x = std::max(longest_x, lists.first.size());
        longest_y = std::max(longest_y, lists.second.size());
        entries += lists.first.size() * (lists.first.size() - 1) / 2;
    }
    width = longest_y + 1;
    histogram.assign((longest_x + 1) * width, 0);
    for (const NodeClass& c : classes) {
        const Lists lists = lists_of(c.node);
        histogram[lists.first.size() * width + lists.second.size()] +=
            c.weight * (c.weight - 1) / 2;
    }
    struct Entry {
        std::uint64_t first, second, cls;
        bool operator<(const Entry& o) const {
            return first != o.first     ? first < o.first
                   : second != o.second ? second < o.second
                                        : cls < o.cls;
        }
    };
    std::vector<Entry> listed;
    listed.reserve(entries);
    for (std::uint64_t c = 0; c < classes.size(); ++c) {
        const auto x = lists_of(classes[c].node).first;
        for (std::size_t p = 0; p < x.size(); ++p) {
            for (std::size_t q = p + 1; q < x.size(); ++q) listed.push_back({x[p], x[q], c});
        }
    }
    std::sort(listed.begin(), listed.end());
    if (stop.stop_requested()) return false;
    pass.advance();
    std::vector<std::uint64_t> runs;
    for (std::size_t i = 0; i < listed.size(); ++i) {
        if (i == 0 || listed[i].first != listed[i - 1].first ||
            listed[i].second != listed[i - 1].second) {
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
                const Entry& key = listed[runs[r]];
                for (std::uint64_t i = runs[r]; i < runs[r + 1]; ++i) {
                    if ((i & 63) == 0 && stop.stop_requested()) return;
                    const NodeClass& ci = classes[listed[i].cls];
                    const Lists li = lists_of(ci.node);
                    for (std::uint64_t j = i + 1; j < runs[r + 1]; ++j) {
                        const NodeClass& cj = classes[listed[j].cls];
                        const Lists lj = lists_of(cj.node);
                        const Shared sx = shared(li.first, lj.first);
                        if (sx.first != key.first || sx.second != key.second) continue;
                        const Shared sy = shared(li.second, lj.second);
                        counts[sx.count * width + sy.count] += ci.weight * cj.weight;
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
    if (!table.b_index) return runtime::Error(std::string(kOmegaNeedsMembers));
    if (table.universe < 2) return std::numeric_limits<double>::quiet_NaN();
    // Two steps (list the classes by key, count their pairs) per side.
    runtime::ReportedPass pass(progress, 4);
    std::unique_ptr<NodeMarks> in_universe;
    if (table.uncovered == Uncovered::kDrop) {
        in_universe = std::make_unique<NodeMarks>(table.node_count);
        in_universe->mark(table.universe_nodes);
    }
    // B's index comes with the contingency (its singletons, listed once
    // each, are never shared); A's is made here.
    internal::MemberIndex index_a;
    if (!internal::MemberIndex::build(index_a, table.node_count, table.a.sources, in_universe.get(),
                                      nullptr, 0, !table.a.overlap.has_value(), stop)) {
        return runtime::Error::interrupted();
    }
    const internal::MemberIndex& index_b = *table.b_index;
    // Nodes in two clusters or more of a side, grouped by (that side's list,
    // the other side's list).
    std::vector<std::uint64_t> multi_a, multi_b;
    for (std::uint64_t v = 0; v < table.node_count; ++v) {
        if (index_a.of(v).size() >= 2) multi_a.push_back(v);
        if (index_b.of(v).size() >= 2) multi_b.push_back(v);
    }
    auto a_first = [&](std::uint64_t v) { return Lists{index_a.of(v), index_b.of(v)}; };
    auto b_first = [&](std::uint64_t v) { return Lists{index_b.of(v), index_a.of(v)}; };
    std::vector<std::uint64_t> by_a, by_b;  // [kx * width + ky], kx >= 2
    std::size_t width_a = 0, width_b = 0;
    if (!multi_pairs(classes_of(std::move(multi_a), a_first), a_first, stop, pass, by_a, width_a) ||
        !multi_pairs(classes_of(std::move(multi_b), b_first), b_first, stop, pass, by_b, width_b)) {
        return runtime::Error::interrupted();
    }

    using Wide = __int128;
    auto pairs_in = [](std::uint64_t size) { return static_cast<Wide>(size) * (size - 1) / 2; };
    auto pairs_within = [&](const std::vector<std::uint64_t>& sizes, std::size_t real) {
        Wide sum = 0;
        for (std::size_t k = 0; k < real; ++k) sum += sizes[k] ? pairs_in(sizes[k]) : 0;
        return sum;
    };
    const Wide pairs = pairs_in(table.universe);
    // Σ over pairs of kA (of kB, of kA·kB): pairs inside clusters (cells).
    const Wide total_a = pairs_within(table.a.sizes, table.a.real());
    const Wide total_b = pairs_within(table.b.sizes, table.b.real());
    Wide total_joint = 0;
    for (const ContingencyCell& cell : table.cells) {
        if (cell.a < table.a.real() && cell.b < table.b.real()) total_joint += pairs_in(cell.count);
    }

    // Pairs by shared count on one side: k >= 2 counted, 1 from the total, 0
    // from all pairs.
    auto by_count = [&](const std::vector<std::uint64_t>& hist, std::size_t width, Wide total) {
        std::vector<Wide> counts(
            std::max<std::size_t>(2, hist.size() / std::max<std::size_t>(width, 1)), 0);
        Wide weighted = 0;
        for (std::size_t k = 2; k < counts.size(); ++k) {
            for (std::size_t y = 0; y < width; ++y) counts[k] += hist[k * width + y];
            weighted += counts[k] * static_cast<Wide>(k);
        }
        counts[1] = total - weighted;
        Wide sharing = 0;
        for (std::size_t k = 1; k < counts.size(); ++k) sharing += counts[k];
        counts[0] = pairs - sharing;
        return counts;
    };
    const std::vector<Wide> count_a = by_count(by_a, width_a, total_a);
    const std::vector<Wide> count_b = by_count(by_b, width_b, total_b);

    // Pairs sharing at least one cluster on both sides, other than (1, 1):
    // from the A enumeration (kA >= 2), then the B one where kA is 1.
    Wide joint_other = 0, joint_weighted = 0, agree_other = 0;
    auto note = [&](std::uint64_t ka, std::uint64_t kb, std::uint64_t count) {
        joint_other += count;
        joint_weighted += static_cast<Wide>(count) * ka * kb;
        if (ka == kb) agree_other += count;
    };
    for (std::size_t i = 0; i < by_a.size(); ++i) {
        if (i % width_a >= 1 && by_a[i]) note(i / width_a, i % width_a, by_a[i]);
    }
    for (std::size_t i = 0; i < by_b.size(); ++i) {
        if (i % width_b == 1 && by_b[i]) note(1, i / width_b, by_b[i]);
    }
    const Wide joint_one = total_joint - joint_weighted;  // kA == kB == 1
    const Wide sharing_both = joint_one + joint_other;
    const Wide sharing_none = pairs - (pairs - count_a[0]) - (pairs - count_b[0]) + sharing_both;
    const Wide agree = sharing_none + joint_one + agree_other;
    Wide expected = 0;
    for (std::size_t k = 0; k < std::min(count_a.size(), count_b.size()); ++k) {
        expected += count_a[k] * count_b[k];
    }
    const Wide square = pairs * pairs;
    if (agree == pairs && expected == square) return 1.0;
    return static_cast<double>(agree * pairs - expected) / static_cast<double>(square - expected);
}

}  // namespace quelmar::agreement
