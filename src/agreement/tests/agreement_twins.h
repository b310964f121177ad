#pragma once
// Plain twins of the agreement measures for tests: the clusterings as sets,
// every pair of nodes and every pair of clusters, the formulas as printed.
// Slow by design; only for a few dozen nodes.

#include <cmath>
#include <cstdint>
#include <map>
#include <set>
#include <vector>

#include "src/agreement/contingency.h"
#include "src/quelmar/tests/test_graphs.h"

namespace quelmar::testing {

using agreement::Uncovered;

using NodeSet = std::set<utils::NodeId>;

// One side as the measures see it: the given clusters cut to the universe
// (empty ones kept, so indices match), then the singletons.
struct EffectiveSides {
    std::vector<NodeSet> a, b;
    NodeSet universe;
};

inline EffectiveSides effective_sides(std::uint64_t node_count, const ClusterList& a,
                                      const ClusterList& b, Uncovered uncovered) {
    NodeSet cover_a, cover_b;
    for (const auto& [id, members] : a) cover_a.insert(members.begin(), members.end());
    for (const auto& [id, members] : b) cover_b.insert(members.begin(), members.end());
    EffectiveSides sides;
    for (utils::NodeId v = 0; v < node_count; ++v) {
        if (uncovered == Uncovered::kSingletons || (cover_a.count(v) && cover_b.count(v))) {
            sides.universe.insert(v);
        }
    }
    auto side = [&](const ClusterList& list, const NodeSet& cover) {
        ClusterList sorted = list;
        std::sort(sorted.begin(), sorted.end());
        std::vector<NodeSet> out;
        for (const auto& [id, members] : sorted) {
            NodeSet kept;
            for (auto v : members) {
                if (sides.universe.count(v)) kept.insert(v);
            }
            out.push_back(kept);
        }
        for (auto v : sides.universe) {
            if (!cover.count(v)) out.push_back({v});
        }
        return out;
    };
    sides.a = side(a, cover_a);
    sides.b = side(b, cover_b);
    return sides;
}

inline std::vector<NodeSet> nonempty(const std::vector<NodeSet>& side) {
    std::vector<NodeSet> out;
    for (const auto& s : side) {
        if (!s.empty()) out.push_back(s);
    }
    return out;
}

inline std::uint64_t shared_count(const NodeSet& x, const NodeSet& y) {
    std::uint64_t n = 0;
    for (auto v : x) n += y.count(v);
    return n;
}

// Mutual information and entropies of two partitions (nats), long double.
struct PartitionTwin {
    long double mi = 0, h_a = 0, h_b = 0;
    std::size_t clusters_a = 0, clusters_b = 0;
    long double ari = 0;
};

inline PartitionTwin partition_twin(const EffectiveSides& sides) {
    auto a = nonempty(sides.a), b = nonempty(sides.b);
    const long double n = sides.universe.size();
    PartitionTwin twin;
    twin.clusters_a = a.size();
    twin.clusters_b = b.size();
    for (const auto& x : a) twin.h_a -= (x.size() / n) * std::log(x.size() / n);
    for (const auto& y : b) twin.h_b -= (y.size() / n) * std::log(y.size() / n);
    for (const auto& x : a) {
        for (const auto& y : b) {
            const long double shared = shared_count(x, y);
            if (shared == 0) continue;
            twin.mi += shared / n * std::log(n * shared / (x.size() * (long double)y.size()));
        }
    }
    // Pair counts over every pair of nodes.
    std::map<utils::NodeId, std::size_t> label_a, label_b;
    for (std::size_t i = 0; i < a.size(); ++i) {
        for (auto v : a[i]) label_a[v] = i;
    }
    for (std::size_t i = 0; i < b.size(); ++i) {
        for (auto v : b[i]) label_b[v] = i;
    }
    std::vector<utils::NodeId> nodes(sides.universe.begin(), sides.universe.end());
    long double both = 0, in_a = 0, in_b = 0, pairs = 0;
    for (std::size_t i = 0; i < nodes.size(); ++i) {
        for (std::size_t j = i + 1; j < nodes.size(); ++j) {
            const bool sa = label_a[nodes[i]] == label_a[nodes[j]];
            const bool sb = label_b[nodes[i]] == label_b[nodes[j]];
            both += sa && sb;
            in_a += sa;
            in_b += sb;
            pairs += 1;
        }
    }
    const long double expected = pairs == 0 ? 0 : in_a * in_b / pairs;
    const long double top = (in_a + in_b) / 2;
    twin.ari = top == expected ? 1.0L : (both - expected) / (top - expected);
    return twin;
}

inline double f1_twin(const EffectiveSides& sides) {
    auto a = nonempty(sides.a), b = nonempty(sides.b);
    auto mean_best = [](const std::vector<NodeSet>& rows, const std::vector<NodeSet>& columns) {
        long double sum = 0;
        for (const auto& x : rows) {
            long double best = 0;
            for (const auto& y : columns) {
                best = std::max(best, 2.0L * shared_count(x, y) / (x.size() + y.size()));
            }
            sum += best;
        }
        return sum / rows.size();
    };
    return static_cast<double>((mean_best(a, b) + mean_best(b, a)) / 2);
}

// The overlapping NMI as the reference toolkit writes it (bits, its test).
inline double onmi_twin(const EffectiveSides& sides) {
    auto a = nonempty(sides.a), b = nonempty(sides.b);
    if (a.empty() && b.empty()) return 1.0;
    if (a.empty() || b.empty()) return 0.0;
    const double n = static_cast<double>(sides.universe.size());
    auto h = [](double p) { return p == 0 ? 0.0 : -p * (std::log(p) / std::log(2.0)); };
    auto h2 = [&](double p) { return h(p) + h(1 - p); };
    auto conditional = [&](const std::vector<NodeSet>& cover, const std::vector<NodeSet>& ref) {
        double sum = 0;
        for (const auto& x : cover) {
            double best = std::numeric_limits<double>::infinity();
            for (const auto& y : ref) {
                const double d = shared_count(x, y) / n;
                const double c = (x.size() - shared_count(x, y)) / n;
                const double bb = (y.size() - shared_count(x, y)) / n;
                const double aa = 1 - (x.size() + y.size() - shared_count(x, y)) / n;
                const double value = h(aa) + h(d) > h(bb) + h(c)
                                         ? h(aa) + h(bb) + h(c) + h(d) - h2(y.size() / n)
                                         : h2(x.size() / n);
                best = std::min(best, value);
            }
            sum += best;
        }
        return sum;
    };
    double h_a = 0, h_b = 0;
    for (const auto& x : a) h_a += h2(x.size() / n);
    for (const auto& y : b) h_b += h2(y.size() / n);
    return 0.5 * (h_a - conditional(a, b) + h_b - conditional(b, a)) / std::max(h_a, h_b);
}

// The omega index over every pair of universe nodes.
inline double omega_twin(const EffectiveSides& sides) {
    std::vector<utils::NodeId> nodes(sides.universe.begin(), sides.universe.end());
    auto shared = [](const std::vector<NodeSet>& side, utils::NodeId u, utils::NodeId v) {
        std::size_t k = 0;
        for (const auto& s : side) k += s.count(u) && s.count(v);
        return k;
    };
    std::map<std::size_t, long double> count_a, count_b;
    long double agree = 0, pairs = 0;
    for (std::size_t i = 0; i < nodes.size(); ++i) {
        for (std::size_t j = i + 1; j < nodes.size(); ++j) {
            const std::size_t ka = shared(sides.a, nodes[i], nodes[j]);
            const std::size_t kb = shared(sides.b, nodes[i], nodes[j]);
            count_a[ka] += 1;
            count_b[kb] += 1;
            agree += ka == kb;
            pairs += 1;
        }
    }
    long double expected = 0;
    for (const auto& [k, count] : count_a) {
        if (count_b.count(k)) expected += count * count_b[k];
    }
    const long double observed = agree / pairs;
    expected /= pairs * pairs;
    if (observed == 1 && expected == 1) return 1.0;
    return static_cast<double>((observed - expected) / (1 - expected));
}

}  // namespace quelmar::testing
