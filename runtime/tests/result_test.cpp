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

TEST(ErrorKinds, CarryTheirKindAndErrnoAsData) {
    EXPECT_EQ(Error("missing to").kind(), ErrorKind::kInvalidInput);
    EXPECT_EQ(Error("missing to").os_errno(), 0);
    const Error refused = Error::os(EACCES);
    EXPECT_EQ(refused.kind(), ErrorKind::kOs);
    EXPECT_EQ(refused.os_errno(), EACCES);
    EXPECT_EQ(refused.message(), os_error_text(EACCES));
    EXPECT_EQ(os_error_description(ENOENT), "No such file or directory");
    EXPECT_EQ(Error::interrupted().kind(), ErrorKind::kInterrupted);
    EXPECT_EQ(Error::interrupted().message(), kInterrupted);
}

TEST(ResultType, HoldsValueOrError) {
    Result<int> good(7);
    ASSERT_TRUE(good.ok());
    EXPECT_EQ(good.value(), 7);
    EXPECT_EQ(*good, 7);
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
