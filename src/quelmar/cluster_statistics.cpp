#include "src/quelmar/cluster_statistics.h"

namespace quelmar {
namespace {

// Node pairs n (n - 1) / 2; the product fits 64 bits for n <= 2^32.
std::uint64_t node_pairs(std::uint64_t n) noexcept { return n == 0 ? 0 : n * (n - 1) / 2; }

double to_double(std::uint64_t value) noexcept { return static_cast<double>(value); }

}  // namespace

double statistic_value(StatisticsType type, const RichCluster& cluster,
                       const StatisticInputs& inputs) noexcept {
    switch (type) {
        case StatisticsType::Mcd: return to_double(cluster.mcd);
        case StatisticsType::Size: return to_double(cluster.n);
        case StatisticsType::Cpm: {
            double penalty = to_double(node_pairs(cluster.n)) * inputs.cpm_resolution;
            return to_double(cluster.m) - penalty;
        }
        case StatisticsType::Modularity: {
            constexpr double kResolution = 1.0;
            double total = to_double(inputs.total_edges);
            double twice_total = total + total;
            double internal_share = to_double(cluster.m) / total;
            double degree_share = to_double(2 * cluster.m + cluster.c) / twice_total;
            double expected = degree_share * degree_share;
            return internal_share - expected * kResolution;
        }
        case StatisticsType::DeviationTreeness: {
            auto excess =
                static_cast<std::int64_t>(cluster.m) + 1 - static_cast<std::int64_t>(cluster.n);
            return static_cast<double>(excess) / to_double(cluster.n);
        }
        case StatisticsType::Density:
            return to_double(cluster.m) / to_double(node_pairs(cluster.n));
    }
    return 0.0;
}

}  // namespace quelmar
