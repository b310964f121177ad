#pragma once
// The per-cluster statistics, one row each in kStatistics: the type, its
// display text and the function that gives its value for one cluster. The
// statistics computation walks this table, and everything else derives from
// it: display_text(), which statistics ClusteringHandle::stats computes and in
// which order, the names Python reads them under (result_key()) and the value
// columns of the companion's per-cluster tables, in table_column order. A new
// statistic is a new StatisticsType member, its function and its row here.
//
// Every function is a plain function of a cluster's counts (cluster_counts.h)
// and two graph-wide terms, for any caller that holds counts (a per-cluster
// table, say): it returns exactly the value the statistics summarise, bit for
// bit. Every integer is converted to the nearest double and every operation
// rounds on its own: the definitions live in the .cpp, compiled once with
// fused multiply-add forbidden, so every caller runs the same instructions.
// Zero denominators are not guarded: Modularity over an edgeless graph is
// NaN, which the summaries leave out. The functions never fail, allocate or
// touch shared state; call them from any thread.

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

#include "src/quelmar/cluster_counts.h"

namespace quelmar {

enum class StatisticsType { Mcd, Cpm, Size, Modularity, DeviationTreeness, Density };

// The graph-wide terms of the formulas.
struct StatisticInputs {
    std::uint64_t total_edges = 0;  // the graph's m_cache (M)
    double cpm_resolution = 0.0;    // r; read by Cpm only
};

using PerClusterValue = double (*)(const ClusterCounts&, const StatisticInputs&) noexcept;

// With P(n) = n (n - 1) / 2, the number of node pairs (0 for n = 0):
double mcd_value(const ClusterCounts& counts, const StatisticInputs&) noexcept;   // mcd
double size_value(const ClusterCounts& counts, const StatisticInputs&) noexcept;  // n
// m / M - ((2m + c) / 2M)^2: the cluster's modularity contribution at
// resolution 1 (2m + c summed in integers).
double modularity_value(const ClusterCounts& counts, const StatisticInputs& inputs) noexcept;
// (m + 1 - n) / n, the excess over a tree per node (m + 1 - n signed).
double deviation_treeness_value(const ClusterCounts& counts, const StatisticInputs&) noexcept;
// m / P(n).
double density_value(const ClusterCounts& counts, const StatisticInputs&) noexcept;
// m - P(n) r.
double cpm_value(const ClusterCounts& counts, const StatisticInputs& inputs) noexcept;

// The table column of a statistic that is one of the counts itself.
inline constexpr int kCountColumn = -1;

struct StatisticDefinition {
    StatisticsType type;
    std::string_view display_text;
    PerClusterValue value;
    // Computed only for a clustering that carries a CPM resolution.
    bool needs_resolution = false;
    // Its place among the value columns of per-cluster tables (0 first), or
    // kCountColumn for one that a count column already shows.
    int table_column = kCountColumn;
};

// In computation order, which is also the order of GraphStats::distributions.
inline constexpr std::array<StatisticDefinition, 6> kStatistics = {{
    {StatisticsType::Mcd, "Mcd", mcd_value, false, kCountColumn},
    {StatisticsType::Size, "Size", size_value, false, 0},
    {StatisticsType::Modularity, "Modularity", modularity_value, false, 2},
    {StatisticsType::DeviationTreeness, "DeviationTreeness", deviation_treeness_value, false, 3},
    {StatisticsType::Density, "Density", density_value, false, 1},
    {StatisticsType::Cpm, "Cpm", cpm_value, true, 4},
}};

// Whether `statistic` is computed for a clustering with, or without, a CPM
// resolution.
constexpr bool is_computed(const StatisticDefinition& statistic, bool has_resolution) noexcept {
    return has_resolution || !statistic.needs_resolution;
}

// The value of `type` for one cluster: the function of its row.
double statistic_value(StatisticsType type, const ClusterCounts& counts,
                       const StatisticInputs& inputs) noexcept;

// "Mcd", "Cpm", "Size", "Modularity", "DeviationTreeness", "Density".
std::string_view display_text(StatisticsType type) noexcept;

// The display text in lower case ("mcd", "deviationtreeness", ...): the key of
// the statistic in results that Python reads.
std::string result_key(StatisticsType type);

}  // namespace quelmar
