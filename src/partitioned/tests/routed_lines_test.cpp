// route_lines against the steps it fuses: parse_line_block, then scramble,
// (lo, hi) order and positions, then route.

#include "src/partitioned/routed_lines.h"

#include <gtest/gtest.h>

#include <string>

namespace quelmar::partitioned {
namespace {

std::span<const unsigned char> bytes_of(const std::string& text) {
    return {reinterpret_cast<const unsigned char*>(text.data()), text.size()};
}

TEST(RoutedLinesTest, ScrambleIsTheSplitMixFinaliser) {
    // Values from the package's Python scramble (quelmar_tools.dask._scramble).
    EXPECT_EQ(scramble(0), 0u);
    EXPECT_EQ(scramble(1), 0x5692161d100b05e5u);
    EXPECT_EQ(scramble(UINT64_MAX), 0xb4d055fcf2cbbd7bu);
    EXPECT_EQ(scramble(12345678901234567890u), 0xcb2060a1236747b7u);
}

TEST(RoutedLinesTest, MatchTheStepsItFuses) {
    const std::string text = "5 3\n18446744073709551615 0\n7 7\n3 5\n1 2\n9 4";
    for (const auto format : {base::LineFormat::kEdges, base::LineFormat::kMemberships}) {
        const bool memberships = format == base::LineFormat::kMemberships;
        for (const std::uint64_t parts : {1u, 2u, 5u}) {
            const base::ParsedLines parsed = base::parse_line_block(bytes_of(text), format);
            ASSERT_FALSE(parsed.failure);
            Column a, b, pos;
            const Column starts = {0, 4, 27, 31, 35, 39};
            for (std::size_t i = 0; i < parsed.first.size(); ++i) {
                a.push_back(scramble(parsed.first[i]));
                b.push_back(scramble(parsed.second[i]));
                if (!memberships && b.back() < a.back()) std::swap(a.back(), b.back());
                pos.push_back((3ull << 44) + 100 + starts[i]);
            }
            const Routing routing = route(a, parts);
            const RoutedLines got = route_lines(bytes_of(text), format, (3ull << 44) + 100, parts);
            ASSERT_FALSE(got.failure);
            EXPECT_EQ(got.offsets, routing.offsets);
            ASSERT_EQ(got.columns.size(), memberships ? 3u : 2u);
            for (std::size_t i = 0; i < routing.order.size(); ++i) {
                EXPECT_EQ(got.columns[0][i], a[routing.order[i]]);
                EXPECT_EQ(got.columns[1][i], b[routing.order[i]]);
                if (memberships) {
                    EXPECT_EQ(got.columns[2][i], pos[routing.order[i]]);
                }
            }
        }
    }
}

TEST(RoutedLinesTest, ABadLineGivesItsFailureAndNoRows) {
    const RoutedLines got = route_lines(bytes_of("1 2\n3\n"), base::LineFormat::kEdges, 0, 4);
    ASSERT_TRUE(got.failure);
    EXPECT_EQ(got.failure->line_index, 1u);
    EXPECT_EQ(got.offsets, Column(5, 0));
    EXPECT_TRUE(got.columns[0].empty() && got.columns[1].empty());
    const RoutedLines empty = route_lines(bytes_of(""), base::LineFormat::kMemberships, 0, 2);
    EXPECT_FALSE(empty.failure);
    EXPECT_EQ(empty.offsets, Column(3, 0));
    EXPECT_EQ(empty.columns.size(), 3u);
}

}  // namespace
}  // namespace quelmar::partitioned
