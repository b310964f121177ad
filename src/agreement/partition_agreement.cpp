// nmi, ari and vi on a partition contingency, arranged as scikit-learn
// arranges them so that the two agree to the last few bits.

#include <algorithm>
#include <cmath>
#include <limits>
#include <optional>
#include <string>

#include "src/agreement/agreement.h"
#include "src/agreement/internal/compensated_sum.h"

namespace quelmar::agreement {
namespace {

// Whether `table` is a partition on both sides; else the refusal.
std::optional<runtime::Error> refusal(std::string_view measure, const Contingency& table) {
    if (table.a.overlap || table.b.overlap) return not_a_partition(measure, table);
    return std::nullopt;
}

std::size_t nonempty(const Contingency::Side& side) {
    std::size_t count = 0;
    for (std::uint64_t size : side.sizes) count += size > 0 ? 1 : 0;
    return count;
}

double entropy(const Contingency::Side& side, std::uint64_t universe) {
    if (nonempty(side) == 1) return 0.0;
    const double log_total = std::log(static_cast<double>(universe));
    const double total = static_cast<double>(universe);
    internal::CompensatedSum sum;
    for (std::uint64_t size : side.sizes) {
        if (size == 0) continue;
        const double x = static_cast<double>(size);
        sum.add((x / total) * (std::log(x) - log_total));
    }
    return -sum.value();
}

double mutual_information(const Contingency& table) {
    if (nonempty(table.a) == 1 || nonempty(table.b) == 1) return 0.0;
    const double total = static_cast<double>(table.universe);
    const double log_total = std::log(total);
    internal::CompensatedSum sum;
    for (const ContingencyCell& cell : table.cells) {
        const double n = static_cast<double>(cell.count);
        const double outer =
            static_cast<double>(table.a.sizes[cell.a]) * static_cast<double>(table.b.sizes[cell.b]);
        const double p = n / total;
        const double term =
            p * (std::log(n) - log_total) + p * (-std::log(outer) + log_total + log_total);
        if (std::fabs(term) >= std::numeric_limits<double>::epsilon()) sum.add(term);
    }
    return std::max(sum.value(), 0.0);
}

}  // namespace

runtime::Error not_a_partition(std::string_view measure, const Contingency& table) {
    const bool first = table.a.overlap.has_value();
    const OverlapWitness& witness = first ? *table.a.overlap : *table.b.overlap;
    return runtime::Error(std::string(measure) + " needs a partition, but node " +
                          std::to_string(witness.node) + " is in clusters " +
                          std::to_string(witness.first) + " and " + std::to_string(witness.second) +
                          " of the " + (first ? "first" : "second") + " clustering");
}

runtime::Result<double> nmi(const Contingency& table, Normalisation normalisation) {
    if (auto error = refusal("nmi", table)) return std::move(*error);
    const std::size_t classes = nonempty(table.a), clusters = nonempty(table.b);
    if (classes == clusters && classes <= 1) return 1.0;
    const double mi = mutual_information(table);
    if (mi == 0.0) return 0.0;
    const double h_a = entropy(table.a, table.universe);
    const double h_b = entropy(table.b, table.universe);
    double normaliser = 0.0;
    switch (normalisation) {
        case Normalisation::kArithmetic: normaliser = (h_a + h_b) / 2.0; break;
        case Normalisation::kGeometric: normaliser = std::sqrt(h_a * h_b); break;
        case Normalisation::kMin: normaliser = std::min(h_a, h_b); break;
        case Normalisation::kMax: normaliser = std::max(h_a, h_b); break;
    }
    return mi / normaliser;
}

runtime::Result<double> ari(const Contingency& table) {
    if (auto error = refusal("ari", table)) return std::move(*error);
    // Ordered pair counts; exact up to 2^31 nodes.
    using Wide = __int128;
    auto squares = [](const std::vector<std::uint64_t>& sizes) {
        Wide sum = 0;
        for (std::uint64_t size : sizes) sum += static_cast<Wide>(size) * size;
        return sum;
    };
    Wide cell_squares = 0;
    for (const ContingencyCell& cell : table.cells) {
        cell_squares += static_cast<Wide>(cell.count) * cell.count;
    }
    const Wide n = table.universe;
    const Wide tp = cell_squares - n;
    const Wide fp = squares(table.b.sizes) - cell_squares;
    const Wide fn = squares(table.a.sizes) - cell_squares;
    const Wide tn = n * n - fp - fn - cell_squares;
    if (fn == 0 && fp == 0) return 1.0;
    if (table.universe >= (std::uint64_t{1} << 31)) {
        // Products of pair counts would overflow; long double keeps 64 bits.
        using Long = long double;
        const Long numerator = 2 * (Long(tp) * Long(tn) - Long(fn) * Long(fp));
        const Long denominator = Long(tp + fn) * Long(fn + tn) + Long(tp + fp) * Long(fp + tn);
        return static_cast<double>(numerator / denominator);
    }
    const Wide numerator = 2 * (tp * tn - fn * fp);
    const Wide denominator = (tp + fn) * (fn + tn) + (tp + fp) * (fp + tn);
    return static_cast<double>(numerator) / static_cast<double>(denominator);
}

runtime::Result<double> vi(const Contingency& table) {
    if (auto error = refusal("vi", table)) return std::move(*error);
    const double total = static_cast<double>(table.universe);
    internal::CompensatedSum sum;
    for (const ContingencyCell& cell : table.cells) {
        const double log_n = std::log(static_cast<double>(cell.count));
        const double log_a = std::log(static_cast<double>(table.a.sizes[cell.a]));
        const double log_b = std::log(static_cast<double>(table.b.sizes[cell.b]));
        sum.add(static_cast<double>(cell.count) / total * ((log_a - log_n) + (log_b - log_n)));
    }
    return sum.value();
}

}  // namespace quelmar::agreement
