#include "src/exposure/tools/analysis/statistic_columns.h"

#include <algorithm>

namespace quelmar::exposure::tools {

std::vector<StatisticsType> computed_statistics(bool with_cpm) {
    std::vector<StatisticsType> types;
    for (const StatisticDefinition& statistic : kStatistics) {
        if (is_computed(statistic, with_cpm)) types.push_back(statistic.type);
    }
    return types;
}

std::vector<StatisticsType> value_column_statistics(bool with_cpm) {
    std::vector<const StatisticDefinition*> shown;
    for (const StatisticDefinition& statistic : kStatistics) {
        if (is_computed(statistic, with_cpm) && statistic.table_column != kCountColumn) {
            shown.push_back(&statistic);
        }
    }
    std::sort(shown.begin(), shown.end(),
              [](const auto* x, const auto* y) { return x->table_column < y->table_column; });
    std::vector<StatisticsType> types;
    for (const StatisticDefinition* statistic : shown) types.push_back(statistic->type);
    return types;
}

void fill_statistic(StatisticsType type, const CountColumns& counts, const StatisticInputs& inputs,
                    std::span<double> out) {
    ClusterCounts cluster;
    for (std::size_t i = 0; i < out.size(); ++i) {
        cluster.n = counts.n[i];
        cluster.m = counts.m[i];
        cluster.c = counts.c[i];
        cluster.mcd = counts.mcd[i];
        cluster.vol = counts.vol[i];
        out[i] = statistic_value(type, cluster, inputs);
    }
}

}  // namespace quelmar::exposure::tools
