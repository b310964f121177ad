#include "percentiles/checked_step.h"

#include <gtest/gtest.h>

namespace quelmar::percentiles {
namespace {

TEST(CheckedStep, DoublesTheSmallestPowerOfTwoAboveTheCount) {
    EXPECT_EQ(checked_step(0), 2u);
    EXPECT_EQ(checked_step(1), 4u);
    EXPECT_EQ(checked_step(3), 8u);
    EXPECT_EQ(checked_step(7), 16u);
    EXPECT_EQ(checked_step(8), 32u);
    EXPECT_EQ(checked_step(21), 64u);
}

TEST(CheckedStep, AbsentFromTwoToTheSixtySecond) {
    const std::uint64_t limit = std::uint64_t{1} << 62;
    EXPECT_EQ(checked_step(limit - 1), std::uint64_t{1} << 63);
    EXPECT_EQ(checked_step(limit), std::nullopt);
    EXPECT_EQ(checked_step((std::uint64_t{1} << 63) - 1), std::nullopt);
    EXPECT_EQ(checked_step(std::uint64_t{1} << 63), std::nullopt);
    EXPECT_EQ(checked_step(~std::uint64_t{0}), std::nullopt);
}

}  // namespace
}  // namespace quelmar::percentiles
