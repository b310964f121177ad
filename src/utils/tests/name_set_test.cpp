#include "src/utils/name_set.h"

#include <gtest/gtest.h>

#include <limits>

namespace quelmar::utils {
namespace {

TEST(NameSet, IdsFollowFirstRequest) {
    NameSet names;
    EXPECT_EQ(names.request(10), 0u);
    EXPECT_EQ(names.request(20), 1u);
    EXPECT_EQ(names.request(10), 0u);
    EXPECT_EQ(names.request(30), 2u);
    EXPECT_EQ(names.next_id(), 3u);
    EXPECT_EQ(names.id_to_name(), (std::vector<NodeName>{10, 20, 30}));
}

TEST(NameSet, RetrieveNeverRegisters) {
    NameSet names;
    const NodeName largest = std::numeric_limits<NodeName>::max();
    names.request(0);
    names.request(largest);
    EXPECT_EQ(names.retrieve(largest), std::optional<std::uint64_t>(1));
    EXPECT_EQ(names.retrieve(0), std::optional<std::uint64_t>(0));
    EXPECT_EQ(names.retrieve(5), std::nullopt);
    EXPECT_EQ(names.next_id(), 2u);
}

TEST(NameSet, FromIdOrderRefusesARepeatedName) {
    EXPECT_FALSE(NameSet::from_id_order({4, 0, 9, 0}));
    EXPECT_FALSE(NameSet::from_id_order({4, 5, 6, 4}));
    EXPECT_TRUE(NameSet::from_id_order({}));
}

TEST(NameSet, FromIdOrderThenRequestsContinueTheIds) {
    auto names = NameSet::from_id_order({7, 0, 3}, 2);
    ASSERT_TRUE(names);
    EXPECT_EQ(names->retrieve(0), std::optional<std::uint64_t>(1));
    EXPECT_EQ(names->retrieve(8), std::nullopt);
    EXPECT_EQ(names->request(3), 2u);
    EXPECT_EQ(names->request(8), 3u);
    EXPECT_EQ(names->id_to_name(), (std::vector<NodeName>{7, 0, 3, 8}));
}

}  // namespace
}  // namespace quelmar::utils
