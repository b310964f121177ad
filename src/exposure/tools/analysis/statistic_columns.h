#pragma once
// The per-cluster statistics for whole columns of counts: value i of a
// statistic is the one compute_statistics() summarises for a cluster with
// counts n[i], m[i], c[i], mcd[i], vol[i] in a graph of inputs.total_edges
// edges (the same function, so the doubles are bit-identical).

#include <cstdint>
#include <span>
#include <vector>

#include "src/quelmar/cluster_statistics.h"

namespace quelmar::exposure::tools {

struct CountColumns {
    std::span<const std::uint64_t> n, m, c, mcd, vol;  // one length
};

// The statistics the module computes, in its order; Cpm only `with_cpm`.
std::vector<StatisticsType> computed_statistics(bool with_cpm);
// The value columns of a per-cluster table: the computed statistics that no
// count column shows, in table column order.
std::vector<StatisticsType> value_column_statistics(bool with_cpm);

// out has the columns' length.
void fill_statistic(StatisticsType type, const CountColumns& counts, const StatisticInputs& inputs,
                    std::span<double> out);

}  // namespace quelmar::exposure::tools
