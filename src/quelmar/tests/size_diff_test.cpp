#include <vector>

#include <gtest/gtest.h>

#include "src/quelmar/clustering_handle.h"
#include "src/quelmar/tests/stats_checks.h"
#include "src/quelmar/tests/test_graphs.h"

namespace quelmar {
namespace {

using testing::all_entries_are;

std::vector<utils::NodeId> first_nodes(utils::NodeId count) {
    std::vector<utils::NodeId> nodes;
    for (utils::NodeId v = 0; v < count; ++v) nodes.push_back(v);
    return nodes;
}

class SizeDiffTest : public ::testing::Test {
protected:
    SharedGraph graph = testing::shared_graph(10, {{0, 1}, {1, 2}, {2, 3}});
};

TEST_F(SizeDiffTest, AgainstItselfNothingChanges) {
    auto clustering = testing::packed(graph, {{1, first_nodes(2)}, {2, first_nodes(5)}});
    auto diff = ClusteringHandle::select_ids(clustering, {1, 2}).size_diff(*clustering);
    ASSERT_TRUE(diff.ok());
    EXPECT_EQ(diff.value().grown, 0u);
    EXPECT_TRUE(all_entries_are(diff.value().changes, 0.0));
}

TEST_F(SizeDiffTest, DoubledClustersAllGrew) {
    auto before = testing::packed(graph, {{1, first_nodes(2)}, {2, first_nodes(4)}});
    auto after = testing::packed(graph, {{1, first_nodes(4)}, {2, first_nodes(8)}});
    auto diff = ClusteringHandle::select_ids(before, {1, 2}).size_diff(*after);
    ASSERT_TRUE(diff.ok());
    EXPECT_EQ(diff.value().grown, 2u);
    EXPECT_TRUE(all_entries_are(diff.value().changes, 1.0));
}

TEST_F(SizeDiffTest, GrownAndShrunk) {
    auto before = testing::packed(graph, {{1, first_nodes(2)}, {2, first_nodes(4)}});
    auto after = testing::packed(graph, {{1, first_nodes(3)}, {2, first_nodes(2)}});
    auto diff = ClusteringHandle::select_ids(before, {1, 2}).size_diff(*after);
    ASSERT_TRUE(diff.ok());
    EXPECT_EQ(diff.value().grown, 1u);
    EXPECT_EQ(diff.value().changes.minimum(), -0.5);
    EXPECT_EQ(diff.value().changes.median(), 0.0);
    EXPECT_EQ(diff.value().changes.maximum(), 0.5);
}

TEST_F(SizeDiffTest, EmptySelectionNeverConsultsTheOther) {
    auto before = testing::packed(graph, {{1, first_nodes(2)}});
    auto empty_other = testing::packed(graph, {});
    auto diff = ClusteringHandle::select_ids(before, {}).size_diff(*empty_other);
    ASSERT_TRUE(diff.ok());
    EXPECT_EQ(diff.value().grown, 0u);
    EXPECT_TRUE(all_entries_are(diff.value().changes, 0.0));
}

TEST_F(SizeDiffTest, IdsWithoutOwnClusterAreNotLookedUp) {
    auto before = testing::packed(graph, {{1, first_nodes(2)}});
    auto after = testing::packed(graph, {{1, first_nodes(6)}});
    auto diff = ClusteringHandle::select_ids(before, {1, 42}).size_diff(*after);
    ASSERT_TRUE(diff.ok());
    EXPECT_EQ(diff.value().grown, 1u);
    EXPECT_TRUE(all_entries_are(diff.value().changes, 2.0));
}

TEST_F(SizeDiffTest, MissingCounterpartFails) {
    auto before = testing::packed(graph, {{1, first_nodes(2)}, {2, first_nodes(3)}});
    auto after = testing::packed(graph, {{1, first_nodes(2)}});
    auto diff = ClusteringHandle::select_ids(before, {1, 2}).size_diff(*after);
    ASSERT_FALSE(diff.ok());
    EXPECT_EQ(diff.error().message(), "no entry found for key");
    // Unselected, the missing cluster does not matter.
    EXPECT_TRUE(ClusteringHandle::select_ids(before, {1}).size_diff(*after).ok());
}

}  // namespace
}  // namespace quelmar
