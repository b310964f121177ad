#include "src/utils/mapped_vector.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "src/utils/page_memory.h"

namespace quelmar::utils {
namespace {

TEST(MappedVector, GrowingKeepsEveryElement) {
    MappedVector<std::uint64_t> values;
    for (std::uint64_t i = 0; i < 300000; ++i) values.push_back(i * 7);
    ASSERT_EQ(values.size(), 300000u);
    for (std::uint64_t i = 0; i < values.size(); ++i) ASSERT_EQ(values[i], i * 7);
    values.reserve(1'000'000);
    EXPECT_GE(values.capacity(), 1'000'000u);
    EXPECT_EQ(values[299999], 299999u * 7);
}

TEST(MappedVector, ResizeShrinksAndGrows) {
    MappedVector<std::uint32_t> values;
    values.resize(100000);
    for (std::uint32_t i = 0; i < 100000; ++i) values[i] = i;
    values.resize(10);
    EXPECT_EQ(values.size(), 10u);
    EXPECT_LT(values.capacity(), 100000u);
    EXPECT_EQ(std::vector<std::uint32_t>(values.begin(), values.end()),
              (std::vector<std::uint32_t>{0, 1, 2, 3, 4, 5, 6, 7, 8, 9}));
    values.resize(0);
    EXPECT_TRUE(values.empty());
    values.push_back(5);
    EXPECT_EQ(values[0], 5u);
}

TEST(MappedVector, MovesAndCopiesFromASpan) {
    const std::vector<std::uint32_t> source{3, 1, 4, 1, 5};
    MappedVector<std::uint32_t> copy{std::span<const std::uint32_t>(source)};
    MappedVector<std::uint32_t> moved = std::move(copy);
    EXPECT_TRUE(copy.empty());
    EXPECT_EQ(std::vector<std::uint32_t>(moved.begin(), moved.end()), source);
    MappedVector<std::uint32_t> assigned;
    assigned.push_back(9);
    assigned = std::move(moved);
    EXPECT_EQ(std::span<const std::uint32_t>(assigned).size(), 5u);
}

TEST(PageArray, StartsZeroedAndReleasedPagesReadAsZero) {
    PageArray<std::uint64_t> values(1 << 16);
    for (std::size_t i = 0; i < values.size(); ++i) ASSERT_EQ(values[i], 0u);
    for (std::size_t i = 0; i < values.size(); ++i) values[i] = i + 1;
    values.release(1000, 30000);
    // Only whole pages inside the range go; their neighbours keep their values.
    EXPECT_EQ(values[999], 1000u);
    EXPECT_EQ(values[31000], 31001u);
    EXPECT_EQ(values[20000], 0u);
}

}  // namespace
}  // namespace quelmar::utils
