#include "src/base/path_extension.h"

#include <gtest/gtest.h>

namespace quelmar::base {
namespace {

using Ext = std::optional<std::string_view>;

TEST(PathExtension, LastComponentAfterTheLastDot) {
    EXPECT_EQ(path_extension("graph.lz4"), Ext("lz4"));
    EXPECT_EQ(path_extension("/data/graph.bincode.lz4"), Ext("lz4"));
    EXPECT_EQ(path_extension("dir.lz4/graph"), std::nullopt);
    EXPECT_EQ(path_extension("graph.LZ4"), Ext("LZ4"));
    EXPECT_EQ(path_extension("graph.lz4.txt"), Ext("txt"));
    EXPECT_EQ(path_extension("graph."), Ext(""));
}

TEST(PathExtension, SeparatorsAndDots) {
    EXPECT_EQ(path_extension("graph.lz4/"), Ext("lz4"));
    EXPECT_EQ(path_extension("graph.lz4//"), Ext("lz4"));
    EXPECT_EQ(path_extension("a/graph.lz4/./."), Ext("lz4"));
    EXPECT_EQ(path_extension(".lz4"), std::nullopt);
    EXPECT_EQ(path_extension("dir/.lz4"), std::nullopt);
    EXPECT_EQ(path_extension("..lz4"), Ext("lz4"));
    EXPECT_EQ(path_extension(".."), std::nullopt);
    EXPECT_EQ(path_extension("a/.."), std::nullopt);
    EXPECT_EQ(path_extension("."), std::nullopt);
    EXPECT_EQ(path_extension("/"), std::nullopt);
    EXPECT_EQ(path_extension(""), std::nullopt);
    EXPECT_EQ(path_extension("graph"), std::nullopt);
}

}  // namespace
}  // namespace quelmar::base
