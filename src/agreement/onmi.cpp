// The overlapping NMI (max normalisation) without all pairs of clusters.
//
// H(X|Y) needs, for every cluster X of one side, the least conditional
// entropy H(X|Y_j) over all clusters Y_j of the other side that pass the
// method's test, or H(X) when none does. Clusters that intersect X are its
// cells in the contingency. A disjoint Y_j enters only through its size y:
// with d = 0, H(X|Y) = H(a, b, c) - H(b) falls as y grows (its derivative in
// 1 - b is log((1 - b) / (1 - b - c)) > 0), so the best disjoint partner is
// the largest size that passes the test and that some cluster disjoint from
// X still has. The sizes that pass are listed once per distinct size of X,
// largest first, cut off once they hold more clusters than any cluster has
// cells (beyond that, a disjoint one surely exists).
//
// The test and the entropies follow the toolkit the field uses as reference:
// the test h(a) + h(d) > h(b) + h(c) in bits, logarithms as it takes them.

#include <algorithm>
#include <cmath>
#include <functional>
#include <limits>
#include <utility>
#include <vector>

#include "runtime/parallel.h"
#include "src/agreement/agreement.h"
#include "src/agreement/internal/compensated_sum.h"

namespace quelmar::agreement {
namespace {

// -p log2(p), as the reference computes it for its test.
double h_bits(double p) { return p == 0.0 ? 0.0 : -p * (std::log(p) / std::log(2.0)); }

double h_nats(double p) { return p <= 0.0 ? 0.0 : -p * std::log(p); }

// Entropy (nats) of a cluster of `size` members out of `total`: in or out.
double binary_entropy(std::uint64_t size, double total) {
    const double p = static_cast<double>(size) / total;
    return h_nats(p) + h_nats(1.0 - p);
}

struct PairCounts {
    double a, b, c, d;  // out of both, in Y only, in X only, in both
};

PairCounts pair_counts(std::uint64_t x, std::uint64_t y, std::uint64_t shared, double total) {
    const double n = total;
    return {(n - static_cast<double>(x + y - shared)) / n, static_cast<double>(y - shared) / n,
            static_cast<double>(x - shared) / n, static_cast<double>(shared) / n};
}

bool passes(const PairCounts& p) { return h_bits(p.a) + h_bits(p.d) > h_bits(p.b) + h_bits(p.c); }

// H(X|Y) for a pair that passes the test.
double conditional(const PairCounts& p, std::uint64_t y, double total) {
    return h_nats(p.a) + h_nats(p.b) + h_nats(p.c) + h_nats(p.d) - binary_entropy(y, total);
}

struct Side {
    const Contingency::Side& rows;
    const Contingency::Side& columns;
    bool a_rows;
};

// Σ over the nonempty clusters of the row side of their least conditional
// entropy against the column side. False when stopped.
bool conditional_entropy(const Contingency& table, const Side& side, std::stop_token stop,
                         runtime::ReportedPass& pass, double& result) {
    const double total = static_cast<double>(table.universe);
    // Column sizes, largest first, with how many clusters have each.
    std::vector<std::uint64_t> column_list;
    for (std::uint64_t y : side.columns.sizes) {
        if (y > 0) column_list.push_back(y);
    }
    std::sort(column_list.begin(), column_list.end(), std::greater<>());
    std::vector<std::pair<std::uint64_t, std::uint64_t>> column_sizes;  // (size, clusters)
    for (std::uint64_t y : column_list) {
        if (column_sizes.empty() || column_sizes.back().first != y) column_sizes.push_back({y, 0});
        ++column_sizes.back().second;
    }
    std::uint64_t widest_row = 0;
    std::vector<std::uint64_t> row_sizes;
    for (std::size_t k = 0; k < side.rows.effective(); ++k) {
        const std::uint64_t x = side.rows.sizes[k];
        if (x == 0) continue;
        row_sizes.push_back(x);
        const std::uint64_t cells = side.a_rows ? table.row_a(k).size() : table.row_b(k).size();
        widest_row = std::max(widest_row, cells);
    }
    std::sort(row_sizes.begin(), row_sizes.end());
    row_sizes.erase(std::unique(row_sizes.begin(), row_sizes.end()), row_sizes.end());

    // Per distinct row size, the column sizes a disjoint partner may have,
    // with their cluster counts. With d = 0 the test needs h(a) > h(b) + h(c)
    // >= h(b + c) = h(1 - a), so a < 1/2: sizes with x + y below half the
    // universe (less one node, against rounding) cannot pass.
    using Candidates = std::vector<std::pair<std::uint64_t, std::uint64_t>>;
    std::vector<Candidates> candidates =
        runtime::parallel_map(row_sizes.size(), [&](std::size_t i) {
            Candidates list;
            if (stop.stop_requested()) return list;
            const std::uint64_t x = row_sizes[i];
            std::uint64_t clusters = 0;
            for (const auto& [y, count] : column_sizes) {
                if (2 * (x + y) + 2 < table.universe) break;
                if (x + y > table.universe) continue;
                if (!passes(pair_counts(x, y, 0, total))) continue;
                list.push_back({y, count});
                clusters += count;
                if (clusters > widest_row) break;
            }
            return list;
        });
    if (stop.stop_requested()) return false;

    std::vector<std::vector<std::uint64_t>> scratch(runtime::worker_count());
    std::vector<double> best(side.rows.effective(), 0.0);
    runtime::parallel_for_worker(side.rows.effective(), [&](std::size_t k, std::size_t worker) {
        if (stop.stop_requested()) return;
        pass.advance();
        const std::uint64_t x = side.rows.sizes[k];
        if (x == 0) return;
        double least = binary_entropy(x, total);
        std::vector<std::uint64_t>& met = scratch[worker];
        met.clear();
        auto visit = [&](std::uint64_t j, std::uint64_t shared) {
            const std::uint64_t y = side.columns.sizes[j];
            met.push_back(y);
            const PairCounts p = pair_counts(x, y, shared, total);
            if (passes(p)) least = std::min(least, conditional(p, y, total));
        };
        if (side.a_rows) {
            for (const ContingencyCell& cell : table.row_a(k)) visit(cell.b, cell.count);
        } else {
            for (std::uint64_t c : table.row_b(k)) visit(table.cells[c].a, table.cells[c].count);
        }
        const auto& list =
            candidates[std::lower_bound(row_sizes.begin(), row_sizes.end(), x) - row_sizes.begin()];
        if (!list.empty()) {
            std::sort(met.begin(), met.end());
            for (const auto& [y, count] : list) {
                const auto [from, to] = std::equal_range(met.begin(), met.end(), y);
                if (count > static_cast<std::uint64_t>(to - from)) {
                    least = std::min(least, conditional(pair_counts(x, y, 0, total), y, total));
                    break;
                }
            }
        }
        best[k] = least;
    });
    if (stop.stop_requested()) return false;
    internal::CompensatedSum sum;
    for (double value : best) sum.add(value);
    result = sum.value();
    return true;
}

double cover_entropy(const Contingency::Side& side, double total) {
    internal::CompensatedSum sum;
    for (std::uint64_t size : side.sizes) {
        if (size > 0) sum.add(binary_entropy(size, total));
    }
    return sum.value();
}

bool has_clusters(const Contingency::Side& side) {
    return std::any_of(side.sizes.begin(), side.sizes.end(), [](auto size) { return size > 0; });
}

}  // namespace

runtime::Result<double> onmi(const Contingency& table, std::stop_token stop,
                             runtime::PassProgress& progress) {
    const bool any_a = has_clusters(table.a), any_b = has_clusters(table.b);
    if (!any_a && !any_b) return 1.0;
    if (!any_a || !any_b) return 0.0;
    runtime::ReportedPass pass(progress, table.a.effective() + table.b.effective());
    double h_a_given_b = 0.0, h_b_given_a = 0.0;
    if (!conditional_entropy(table, {table.a, table.b, true}, stop, pass, h_a_given_b) ||
        !conditional_entropy(table, {table.b, table.a, false}, stop, pass, h_b_given_a)) {
        return runtime::Error::interrupted();
    }
    const double total = static_cast<double>(table.universe);
    const double h_a = cover_entropy(table.a, total), h_b = cover_entropy(table.b, total);
    const double normaliser = std::max(h_a, h_b);
    if (normaliser == 0.0) return std::numeric_limits<double>::quiet_NaN();
    return 0.5 * (h_a - h_a_given_b + h_b - h_b_given_a) / normaliser;
}

}  // namespace quelmar::agreement
