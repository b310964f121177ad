#include "src/quelmar/cluster_statistics.h"

namespace quelmar {
namespace {

// Node pairs n (n - 1) / 2; the product fits 64 bits for n <= 2^32.
std::uint64_t node_pairs(std::uint64_t n) noexcept { return n == 0 ? 0 : n * (n - 1) / 2; }

double to_double(std::uint64_t value) noexcept { return static_cast<double>(value); }

// Every type has exactly one row.
consteval bool rows_are_distinct() {
    for (std::size_t i = 0; i < kStatistics.size(); ++i) {
        for (std::size_t j = i + 1; j < kStatistics.size(); ++j) {
            if (kStatistics[i].type == kStatistics[j].type) return false;
        }
    }
    return true;
}
static_assert(rows_are_distinct());

}  // namespace

double mcd_value(const ClusterCounts& counts, const StatisticInputs&) noexcept {
    return to_double(counts.mcd);
}

double size_value(const ClusterCounts& counts, const StatisticInputs&) noexcept {
    return to_double(counts.n);
}

double modularity_value(const ClusterCounts& counts, const StatisticInputs& inputs) noexcept {
    constexpr double kResolution = 1.0;
    double total = to_double(inputs.total_edges);
    double twice_total = total + total;
    double internal_share = to_double(counts.m) / total;
    double degree_share = to_double(2 * counts.m + counts.c) / twice_total;
    double expected = degree_share * degree_share;
    return internal_share - expected * kResolution;
}

double deviation_treeness_value(const ClusterCounts& counts, const StatisticInputs&) noexcept {
    auto excess = static_cast<std::int64_t>(counts.m) + 1 - static_cast<std::int64_t>(counts.n);
    return static_cast<double>(excess) / to_double(counts.n);
}

double density_value(const ClusterCounts& counts, const StatisticInputs&) noexcept {
    return to_double(counts.m) / to_double(node_pairs(counts.n));
}

double cpm_value(const ClusterCounts& counts, const StatisticInputs& inputs) noexcept {
    double penalty = to_double(node_pairs(counts.n)) * inputs.cpm_resolution;
    return to_double(counts.m) - penalty;
}

namespace {

const StatisticDefinition* find_row(StatisticsType type) noexcept {
    for (const StatisticDefinition& definition : kStatistics) {
        if (definition.type == type) return &definition;
    }
    return nullptr;
}

}  // namespace

double statistic_value(StatisticsType type, const ClusterCounts& counts,
                       const StatisticInputs& inputs) noexcept {
    const StatisticDefinition* row = find_row(type);
    return row ? row->value(counts, inputs) : 0.0;
}

std::string_view display_text(StatisticsType type) noexcept {
    const StatisticDefinition* row = find_row(type);
    return row ? row->display_text : std::string_view();
}

std::string result_key(StatisticsType type) {
    // ASCII only, whatever the process locale: the names are identifiers.
    std::string key(display_text(type));
    for (char& c : key) {
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
    return key;
}

}  // namespace quelmar
