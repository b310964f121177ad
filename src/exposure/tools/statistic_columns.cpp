#include "src/exposure/tools/statistic_columns.h"

namespace quelmar::exposure::tools {

std::vector<StatisticsType> computed_statistics(bool with_cpm) {
    std::vector<StatisticsType> types = {
        StatisticsType::Mcd, StatisticsType::Size, StatisticsType::Modularity,
        StatisticsType::DeviationTreeness, StatisticsType::Density};
    if (with_cpm) types.push_back(StatisticsType::Cpm);
    return types;
}

void fill_statistic(StatisticsType type, const CountColumns& counts, const StatisticInputs& inputs,
                    std::span<double> out) {
    RichCluster cluster;  // the counts only; statistics never read members
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
