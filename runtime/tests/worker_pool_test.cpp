#include "runtime/worker_pool.h"

#include <atomic>
#include <numeric>
#include <stdexcept>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "runtime/parallel.h"

namespace quelmar::runtime {
namespace {

TEST(GlobalPool, BuildsOnceThenRefuses) {
    ASSERT_TRUE(build_global_pool(3).ok());
    ASSERT_NE(global_pool(), nullptr);
    EXPECT_EQ(global_pool()->size(), 3u);
    auto again = build_global_pool(2);
    ASSERT_FALSE(again.ok());
    EXPECT_EQ(again.error().message(), kPoolAlreadyInitialized);
    EXPECT_EQ(global_pool()->size(), 3u);
}

TEST(GlobalPool, FirstUseCreatesTheDefaultPool) {
    WorkerPool* pool = global_pool();
    ASSERT_NE(pool, nullptr);
    EXPECT_GE(pool->size(), 1u);
    EXPECT_FALSE(build_global_pool(1).ok());
}

TEST(GlobalPool, ConcurrentCreationInstallsExactlyOnePool) {
    std::atomic<int> built{0};
    std::vector<std::thread> racers;
    for (int i = 0; i < 4; ++i) {
        racers.emplace_back([&, i] {
            if (i % 2 == 0) {
                global_pool();
            } else if (build_global_pool(2).ok()) {
                ++built;
            }
        });
    }
    for (auto& racer : racers) racer.join();
    EXPECT_LE(built.load(), 1);
    WorkerPool* pool = global_pool();
    EXPECT_EQ(pool, global_pool());
}

TEST(ParallelFor, VisitsEveryIndexExactlyOnce) {
    ASSERT_TRUE(build_global_pool(4).ok());
    for (std::size_t count : {0u, 1u, 7u, 1000u, 100003u}) {
        std::vector<std::atomic<int>> hits(count);
        parallel_for(count, [&](std::size_t i) { hits[i].fetch_add(1); });
        for (std::size_t i = 0; i < count; ++i) ASSERT_EQ(hits[i].load(), 1) << i;
    }
}

TEST(ParallelForRanges, RangesCoverEveryIndexOnceWithAndWithoutPool) {
    ASSERT_TRUE(build_global_pool(3).ok());
    for (WorkerPool* pool : {global_pool(), static_cast<WorkerPool*>(nullptr)}) {
        for (std::size_t count : {0u, 1u, 7u, 100003u}) {
            std::vector<std::atomic<int>> hits(count);
            std::atomic<bool> bad_range{false};
            parallel_for_ranges(pool, count,
                                [&](std::size_t begin, std::size_t end, std::size_t worker) {
                                    if (begin >= end || end > count || worker >= 3)
                                        bad_range = true;
                                    for (std::size_t i = begin; i < end; ++i) hits[i].fetch_add(1);
                                });
            EXPECT_FALSE(bad_range.load());
            for (std::size_t i = 0; i < count; ++i) ASSERT_EQ(hits[i].load(), 1) << i;
        }
    }
}

TEST(ParallelFor, WorkerIndexIsBelowWorkerCount) {
    ASSERT_TRUE(build_global_pool(3).ok());
    std::atomic<bool> out_of_range{false};
    parallel_for_worker(50000, [&](std::size_t, std::size_t worker) {
        if (worker >= worker_count()) out_of_range = true;
    });
    EXPECT_FALSE(out_of_range.load());
}

TEST(ParallelMap, GathersInIndexOrderForAnyThreadCount) {
    ASSERT_TRUE(build_global_pool(2).ok());
    auto squares = parallel_map(10000, [](std::size_t i) { return i * i; });
    ASSERT_EQ(squares.size(), 10000u);
    for (std::size_t i = 0; i < squares.size(); ++i) ASSERT_EQ(squares[i], i * i);
}

TEST(ParallelFor, SeveralCallersShareThePool) {
    ASSERT_TRUE(build_global_pool(2).ok());
    std::vector<std::thread> callers;
    std::vector<std::uint64_t> sums(4);
    for (int c = 0; c < 4; ++c) {
        callers.emplace_back([&, c] {
            for (int round = 0; round < 20; ++round) {
                auto values = parallel_map(5000, [](std::size_t i) { return std::uint64_t{i}; });
                sums[c] = std::accumulate(values.begin(), values.end(), std::uint64_t{0});
            }
        });
    }
    for (auto& caller : callers) caller.join();
    for (auto sum : sums) EXPECT_EQ(sum, 5000u * 4999u / 2);
}

TEST(ParallelFor, ExceptionReachesTheCallerAndPoolKeepsWorking) {
    ASSERT_TRUE(build_global_pool(2).ok());
    EXPECT_THROW(parallel_for(1000,
                              [](std::size_t i) {
                                  if (i == 500) throw std::runtime_error("boom");
                              }),
                 std::runtime_error);
    auto values = parallel_map(100, [](std::size_t i) { return i + 1; });
    EXPECT_EQ(values.back(), 100u);
}

// The caller's part runs on the calling thread while the workers loop, and
// the loop's exception wins over the caller's; the pool keeps working.
TEST(ParallelFor, CallerWorksBesideTheLoop) {
    auto pool = WorkerPool::start(2);
    ASSERT_TRUE(pool.ok());
    const std::thread::id caller = std::this_thread::get_id();
    std::atomic<std::size_t> visited{0};
    bool on_caller = false;
    parallel_for_beside_caller(
        pool.value().get(), 1000, [&](std::size_t) { visited.fetch_add(1); },
        [&] { on_caller = std::this_thread::get_id() == caller; });
    EXPECT_EQ(visited.load(), 1000u);
    EXPECT_TRUE(on_caller);
    EXPECT_THROW(parallel_for_beside_caller(
                     pool.value().get(), 10, [](std::size_t) { throw std::logic_error("loop"); },
                     [] { throw std::runtime_error("caller"); }),
                 std::logic_error);
    EXPECT_THROW(
        parallel_for_beside_caller(
            pool.value().get(), 10, [](std::size_t) {}, [] { throw std::runtime_error("caller"); }),
        std::runtime_error);
    visited = 0;
    parallel_for_beside_caller(
        pool.value().get(), 10, [&](std::size_t) { visited.fetch_add(1); }, [] {});
    EXPECT_EQ(visited.load(), 10u);
}

TEST(WorkerPoolStart, LocalPoolRunsAndStops) {
    auto pool = WorkerPool::start(2);
    ASSERT_TRUE(pool.ok());
    std::atomic<std::size_t> total{0};
    auto chunk = [](void* context, std::size_t begin, std::size_t end, std::size_t) {
        static_cast<std::atomic<std::size_t>*>(context)->fetch_add(end - begin);
    };
    pool.value()->run(999, 10, chunk, &total);
    EXPECT_EQ(total.load(), 999u);
}

}  // namespace
}  // namespace quelmar::runtime
