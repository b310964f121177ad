#pragma once
// Comparisons of statistics records in tests.

#include <cstring>

#include <gtest/gtest.h>

#include "src/quelmar/clustering_handle.h"

namespace quelmar::testing {

inline const quality::SummarizedDistribution* find_summary(const GraphStats& stats,
                                                           StatisticsType type) {
    for (const auto& [kind, summary] : stats.distributions) {
        if (kind == type) return &summary;
    }
    return nullptr;
}

// Bit-for-bit equal entries (so -0.0 and 0.0 differ, as they would in Python).
inline bool same_entries(const quality::SummarizedDistribution& a,
                         const quality::SummarizedDistribution& b) {
    return std::memcmp(a.percentiles().data(), b.percentiles().data(),
                       sizeof(double) * quality::DistributionSummary::kEntries) == 0;
}

inline void expect_same_stats(const GraphStats& a, const GraphStats& b) {
    EXPECT_EQ(a.num_clusters, b.num_clusters);
    EXPECT_EQ(a.covered_nodes, b.covered_nodes);
    EXPECT_EQ(a.covered_edges, b.covered_edges);
    EXPECT_EQ(a.total_nodes, b.total_nodes);
    EXPECT_EQ(a.total_edges, b.total_edges);
    ASSERT_EQ(a.distributions.size(), b.distributions.size());
    for (std::size_t i = 0; i < a.distributions.size(); ++i) {
        EXPECT_EQ(a.distributions[i].first, b.distributions[i].first);
        EXPECT_TRUE(same_entries(a.distributions[i].second, b.distributions[i].second))
            << display_text(a.distributions[i].first);
    }
}

inline bool all_entries_are(const quality::SummarizedDistribution& summary, double value) {
    for (double entry : summary.percentiles()) {
        if (entry != value) return false;
    }
    return true;
}

}  // namespace quelmar::testing
