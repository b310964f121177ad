#include "src/agreement/match_table.h"

#include <limits>

#include "runtime/parallel.h"
#include "src/agreement/agreement.h"
#include "src/agreement/internal/compensated_sum.h"

namespace quelmar::agreement {
namespace {

// Visits the cells of effective cluster k of the row side as
// (other side's index, count), ascending by the other side's index.
template <class Visit>
void for_row(const Contingency& table, MatchDirection direction, std::size_t k, Visit&& visit) {
    if (direction == MatchDirection::kAToB) {
        for (const ContingencyCell& cell : table.row_a(k)) visit(cell.b, cell.count);
    } else {
        for (std::uint64_t c : table.row_b(k)) visit(table.cells[c].a, table.cells[c].count);
    }
}

// The mean over nonempty clusters of the row side of their best F1.
double mean_best_f1(const Contingency& table, MatchDirection direction) {
    const bool a_rows = direction == MatchDirection::kAToB;
    const Contingency::Side& rows = a_rows ? table.a : table.b;
    const Contingency::Side& other = a_rows ? table.b : table.a;
    const std::vector<double> best = runtime::parallel_map(rows.effective(), [&](std::size_t k) {
        double top = 0.0;
        const double size = static_cast<double>(rows.sizes[k]);
        for_row(table, direction, k, [&](std::uint64_t j, std::uint64_t count) {
            const double f =
                2.0 * static_cast<double>(count) / (size + static_cast<double>(other.sizes[j]));
            top = std::max(top, f);
        });
        return top;
    });
    internal::CompensatedSum sum;
    std::uint64_t count = 0;
    for (std::size_t k = 0; k < best.size(); ++k) {
        if (rows.sizes[k] == 0) continue;
        sum.add(best[k]);
        ++count;
    }
    if (count == 0) return std::numeric_limits<double>::quiet_NaN();
    return sum.value() / static_cast<double>(count);
}

}  // namespace

double f1(const Contingency& table) {
    return (mean_best_f1(table, MatchDirection::kAToB) +
            mean_best_f1(table, MatchDirection::kBToA)) /
           2.0;
}

MatchTable match_table(const Contingency& table, MatchDirection direction) {
    const bool a_rows = direction == MatchDirection::kAToB;
    const Contingency::Side& rows = a_rows ? table.a : table.b;
    const Contingency::Side& other = a_rows ? table.b : table.a;
    const std::size_t count = rows.real();
    const double nan = std::numeric_limits<double>::quiet_NaN();
    MatchTable out;
    out.id = rows.ids;
    out.matched.assign(count, 0);
    out.match.assign(count, 0);
    out.intersection.assign(count, 0);
    out.jaccard.assign(count, nan);
    out.precision.assign(count, nan);
    out.recall.assign(count, nan);
    out.f1.assign(count, nan);
    runtime::parallel_for(count, [&](std::size_t k) {
        const std::uint64_t size = rows.sizes[k];
        double best = -1.0;
        std::uint64_t best_j = 0, best_count = 0;
        for_row(table, direction, k, [&](std::uint64_t j, std::uint64_t shared) {
            if (j >= other.real()) return;
            const double jaccard =
                static_cast<double>(shared) / static_cast<double>(size + other.sizes[j] - shared);
            // Candidates come by ascending id: strict > keeps the smallest.
            if (jaccard > best) {
                best = jaccard;
                best_j = j;
                best_count = shared;
            }
        });
        if (best < 0.0) return;
        const double shared = static_cast<double>(best_count);
        const double match_size = static_cast<double>(other.sizes[best_j]);
        out.matched[k] = 1;
        out.match[k] = other.ids[best_j];
        out.intersection[k] = best_count;
        out.jaccard[k] = best;
        out.precision[k] = shared / match_size;
        out.recall[k] = shared / static_cast<double>(size);
        out.f1[k] = 2.0 * shared / (static_cast<double>(size) + match_size);
    });
    return out;
}

}  // namespace quelmar::agreement
