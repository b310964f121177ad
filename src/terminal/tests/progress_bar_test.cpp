#include "src/terminal/progress_bar.h"
#include "src/terminal/tests/cells.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

namespace quelmar::terminal {
namespace {

using test_support::repeat;

// Captures what a bar writes through a pipe.
class Capture {
public:
    Capture() {
        EXPECT_EQ(::pipe(fds_), 0);
        ::fcntl(fds_[0], F_SETFL, O_NONBLOCK);
    }
    ~Capture() {
        ::close(fds_[0]);
        ::close(fds_[1]);
    }
    ProgressBar::Output output(bool visible, unsigned columns) const {
        ProgressBar::Output out;
        out.fd = fds_[1];
        out.visible = visible;
        out.columns = columns;
        return out;
    }
    std::string drain() {
        std::string text;
        char buffer[4096];
        for (ssize_t got; (got = ::read(fds_[0], buffer, sizeof buffer)) > 0;) {
            text.append(buffer, static_cast<std::size_t>(got));
        }
        return text;
    }

private:
    int fds_[2] = {-1, -1};
};

TEST(ProgressBarRender, FillsTheWidthWithDoneAndRestCells) {
    // " 5/10" takes 5 of 20 columns; 5/10 of the remaining 15 cells is 7.
    EXPECT_EQ(ProgressBar::render(5, 10, 20), repeat("█", 7) + repeat("░", 8) + " 5/10");
    EXPECT_EQ(ProgressBar::render(0, 4, 10), repeat("░", 6) + " 0/4");
    EXPECT_EQ(ProgressBar::render(4, 4, 10), repeat("█", 6) + " 4/4");
    // Length 0 is complete.
    EXPECT_EQ(ProgressBar::render(0, 0, 8), repeat("█", 4) + " 0/0");
    // Too narrow for a bar: only the counter.
    EXPECT_EQ(ProgressBar::render(3, 1000, 5), " 3/1000");
}

TEST(ProgressBarRender, HugeLengthsDoNotOverflow) {
    const std::uint64_t huge = ~std::uint64_t{0};
    // The counter takes 41 of 61 columns; just under half of 20 cells is 9.
    std::string counter = " " + std::to_string(huge / 2) + "/" + std::to_string(huge);
    ASSERT_EQ(counter.size(), 41u);
    EXPECT_EQ(ProgressBar::render(huge / 2, huge, 61), repeat("█", 9) + repeat("░", 11) + counter);
}

TEST(ProgressBar, DrawsStartAndFinalStateAndEndsTheLine) {
    Capture capture;
    {
        ProgressBar bar(capture.output(true, 12));
        bar.begin(3);
        bar.advance(1);
        bar.advance(1);
        bar.advance(1);
    }
    std::string text = capture.drain();
    EXPECT_EQ(text.rfind(std::string("\r") + repeat("░", 8) + " 0/3", 0), 0u) << text;
    std::string last = std::string("\r") + repeat("█", 8) + " 3/3\n";
    ASSERT_GE(text.size(), last.size());
    EXPECT_EQ(text.substr(text.size() - last.size()), last);
}

TEST(ProgressBar, DrawsEveryPassItIsToldAbout) {
    Capture capture;
    {
        ProgressBar bar(capture.output(true, 9));
        runtime::PassProgress& progress = bar;
        for (std::uint64_t length : {2, 1}) {
            runtime::ReportedPass pass(progress, length);
            for (std::uint64_t i = 0; i < length; ++i) pass.advance();
        }
    }
    std::string text = capture.drain();
    EXPECT_NE(text.find("\r" + repeat("█", 5) + " 2/2\n\r" + repeat("░", 5) + " 0/1"),
              std::string::npos)
        << text;
    EXPECT_TRUE(text.ends_with("\r" + repeat("█", 5) + " 1/1\n")) << text;
}

TEST(ProgressBar, EmptyPassStillDrawsZeroOfZero) {
    Capture capture;
    {
        ProgressBar bar(capture.output(true, 10));
        bar.begin(0);
        bar.end();
        bar.end();  // once only
    }
    std::string line = repeat("█", 6) + " 0/0";
    EXPECT_EQ(capture.drain(), "\r" + line + "\r" + line + "\n");
}

TEST(ProgressBar, WritesNothingWhenNotOnATerminal) {
    Capture capture;
    {
        ProgressBar bar(capture.output(false, 10));
        bar.begin(5);
        for (int i = 0; i < 5; ++i) bar.advance(1);
    }
    EXPECT_EQ(capture.drain(), "");
}

TEST(ProgressBar, ManyWorkersCountEveryAdvanceAndRedrawsAreRateLimited) {
    Capture capture;
    constexpr int kThreads = 4;
    constexpr int kPerThread = 50000;
    {
        ProgressBar bar(capture.output(true, 40));
        bar.begin(kThreads * kPerThread);
        std::vector<std::thread> workers;
        for (int t = 0; t < kThreads; ++t) {
            workers.emplace_back([&] {
                for (int i = 0; i < kPerThread; ++i) bar.advance(1);
            });
        }
        for (auto& worker : workers) worker.join();
    }
    std::string text = capture.drain();
    EXPECT_NE(text.find(" 200000/200000\n"), std::string::npos);
    EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 1);
    // 200000 advances in well under a few seconds: a handful of draws at most.
    EXPECT_LT(std::count(text.begin(), text.end(), '\r'), 50);
}

}  // namespace
}  // namespace quelmar::terminal
