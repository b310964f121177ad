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
    EXPECT_EQ(names.name_to_id().size(), 3u);
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

}  // namespace
}  // namespace quelmar::utils
