#include "src/base/line_block.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "src/base/graph_loader.h"
#include "src/utils/byte_source.h"

namespace quelmar::base {
namespace {

ParsedLines parse(const std::string& text, LineFormat format = LineFormat::kEdges) {
    const auto* bytes = reinterpret_cast<const unsigned char*>(text.data());
    return parse_line_block({bytes, text.size()}, format);
}

std::string loader_error(const std::string& text) {
    utils::MemorySource source(text);
    auto graph = parse_edgelist_from_reader(source);
    return graph.ok() ? "<loaded>" : graph.error().message();
}

TEST(LineBlock, ValuesInLineOrderWithTheLoadersGrammar) {
    auto parsed = parse("1 2\n\t+007   18446744073709551615 x\r\n5\xC2\xA0"
                        "5");
    ASSERT_FALSE(parsed.failure);
    EXPECT_EQ(parsed.first, (std::vector<std::uint64_t>{1, 7, 5}));
    EXPECT_EQ(parsed.second, (std::vector<std::uint64_t>{2, 18446744073709551615u, 5}));
    EXPECT_TRUE(parse("").first.empty());
}

// Every bad line fails where and as the edge-list loader fails.
TEST(LineBlock, FailsOnTheLoadersFirstBadLineWithItsMessage) {
    for (const std::string text : {"1 2\n\n", "1 2\n3\n", "1 2\nx 3\n", "1 2\n3 -4\n",
                                   "1 2\n99999999999999999999 1\n", "1 2\n3 \xFF\n4\n"}) {
        auto parsed = parse(text);
        ASSERT_TRUE(parsed.failure) << text;
        EXPECT_EQ(parsed.failure->line_index, 1u) << text;
        EXPECT_EQ(parsed.failure->message, loader_error(text)) << text;
    }
}

TEST(LineBlock, MembershipLinesJudgeTheClusterIdFirst) {
    auto parsed = parse("5 1\nx y\n", LineFormat::kMemberships);
    ASSERT_TRUE(parsed.failure);
    EXPECT_EQ(parsed.failure->message, "invalid cluster_id");
    EXPECT_EQ(parse("5\n", LineFormat::kMemberships).failure->message, "missing cluster_id");
}

TEST(LineBlock, FirstTokenAsWritten) {
    const std::string line = " +0042 7";
    EXPECT_EQ(
        first_token_as_written({reinterpret_cast<const unsigned char*>(line.data()), line.size()}),
        "+0042");
}

}  // namespace
}  // namespace quelmar::base
