#include "runtime/result.h"

#include <cerrno>

#include <gtest/gtest.h>

namespace quelmar::runtime {
namespace {

TEST(ErrorReport, MessageAloneWithoutCauses) {
    EXPECT_EQ(Error("missing to").report(), "missing to");
}

TEST(ErrorReport, OneCauseIsIndentedWithoutNumber) {
    Error error("io error: failed to fill whole buffer", {"failed to fill whole buffer"});
    EXPECT_EQ(
        error.report(),
        "io error: failed to fill whole buffer\n\nCaused by:\n    failed to fill whole buffer");
}

TEST(ErrorReport, SeveralCausesAreNumberedFromZero) {
    Error error("outer", {"middle", "inner"});
    EXPECT_EQ(error.report(), "outer\n\nCaused by:\n    0: middle\n    1: inner");
}

TEST(OsErrorText, AppendsTheCode) {
    EXPECT_EQ(os_error_text(ENOENT), "No such file or directory (os error 2)");
}

TEST(ResultType, HoldsValueOrError) {
    Result<int> good(7);
    ASSERT_TRUE(good.ok());
    EXPECT_EQ(good.value(), 7);
    Result<int> bad(Error("nope"));
    ASSERT_FALSE(bad.ok());
    EXPECT_EQ(bad.error().message(), "nope");
    Result<void> fine;
    EXPECT_TRUE(fine.ok());
    Result<void> failed(Error("x"));
    EXPECT_EQ(failed.error().message(), "x");
}

}  // namespace
}  // namespace quelmar::runtime
