#include "runtime/pool_size.h"

#include <gtest/gtest.h>

namespace quelmar::runtime {
namespace {

TEST(ParseUnsignedEnv, AcceptsDigitsWithOptionalPlus) {
    EXPECT_EQ(parse_unsigned_env("4"), 4u);
    EXPECT_EQ(parse_unsigned_env("+4"), 4u);
    EXPECT_EQ(parse_unsigned_env("007"), 7u);
    EXPECT_EQ(parse_unsigned_env("18446744073709551615"), UINT64_MAX);
}

TEST(ParseUnsignedEnv, RejectsEverythingElse) {
    for (const char* text :
         {"", "+", "++1", "-1", " 1", "1 ", "1.0", "abc", "0x10", "18446744073709551616"}) {
        EXPECT_FALSE(parse_unsigned_env(text).has_value()) << text;
    }
}

TEST(ResolvePoolSize, ExplicitRequestWins) { EXPECT_EQ(resolve_pool_size(3, "8", "9", 2), 3u); }

TEST(ResolvePoolSize, NumThreadsVariableComesNext) {
    EXPECT_EQ(resolve_pool_size(0, "8", "9", 2), 8u);
    EXPECT_EQ(resolve_pool_size(0, "0", "9", 2), 2u);  // 0 means one per processor
}

TEST(ResolvePoolSize, InvalidNumThreadsFallsThroughToNumCpus) {
    EXPECT_EQ(resolve_pool_size(0, "many", "9", 2), 9u);
    EXPECT_EQ(resolve_pool_size(0, "many", "0", 2), 2u);
    EXPECT_EQ(resolve_pool_size(0, nullptr, "x", 2), 2u);
    EXPECT_EQ(resolve_pool_size(0, nullptr, nullptr, 5), 5u);
}

TEST(AvailableParallelism, IsAtLeastOne) { EXPECT_GE(available_parallelism(), 1u); }

}  // namespace
}  // namespace quelmar::runtime
