#include "src/terminal/status_line.h"
#include "src/terminal/tests/cells.h"

#include <string>

#include <gtest/gtest.h>

namespace quelmar::terminal {
namespace {

using test_support::repeat;

TEST(StatusLineRender, LabelBarPercentAndAmounts) {
    // "reading   " and "  75%  3/4 MiB" take 24 of 40 columns; 3/4 of 16 cells is 12.
    EXPECT_EQ(StatusLine::render("reading", 3 << 20, 4 << 20, true, 40),
              "reading   " + repeat("█", 12) + repeat("░", 4) + "  75%  3/4 MiB");
    // The bar is 50 cells at most.
    EXPECT_EQ(StatusLine::render("writing", 1, 2, false, 200),
              "writing   " + repeat("█", 25) + repeat("░", 25) + "  50%  1/2");
    // Unknown total: only the amount.
    EXPECT_EQ(StatusLine::render("building", 7, 0, false, 40), "building    7");
}

}  // namespace
}  // namespace quelmar::terminal
