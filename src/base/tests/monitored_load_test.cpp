// Loading under a TaskMonitor: progress through reading and building, a stop
// at any checkpoint, and the edge list -> snapshot -> graph round trip.

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "src/base/graph_loader.h"
#include "src/base/tests/graph_test_util.h"
#include "src/utils/snapshot_writer.h"
#include "src/utils/tests/snapshot_test_writer.h"

namespace quelmar::base {
namespace {

using Stage = utils::TaskProgress::Stage;

// A file name of this test's own: CTest runs test cases side by side.
std::string own_file(const std::string& suffix) {
    const auto* test = ::testing::UnitTest::GetInstance()->current_test_info();
    return ::testing::TempDir() + "/monitored_" + test->name() + suffix;
}

// About 13 MB of edge list: a path over 600000 nodes with scattered names
// (so that its snapshot does not compress below a few MiB), plus chords.
const std::string& large_edge_list() {
    static const std::string path = [] {
        std::string text;
        auto name = [](std::uint64_t i) { return (i * 0x9E3779B97F4A7C15ULL) >> 4; };
        for (std::uint64_t i = 0; i + 1 < 600'000; ++i) {
            text += std::to_string(name(i)) + " " + std::to_string(name(i + 1)) + "\n";
            if (i % 5 == 0) {
                text += std::to_string(name(i)) + "\t" + std::to_string(name(i / 3)) + "\n";
            }
        }
        const std::string file = own_file(".txt");
        testing::write_file(file, text);
        return file;
    }();
    return path;
}

utils::SnapshotContent content_of(const Graph& graph) {
    return {graph.name_set(), graph.offsets(), graph.all_neighbours(), graph.m_cache()};
}

struct Seen {
    std::vector<utils::TaskProgress> checkpoints;
    std::size_t count(Stage stage) const {
        return std::count_if(checkpoints.begin(), checkpoints.end(),
                             [&](const utils::TaskProgress& p) { return p.stage == stage; });
    }
};

// A monitor that records every checkpoint and says stop at the n-th one of
// `stage` (never when n is 0).
utils::TaskMonitor recording(Seen& seen, Stage stage = Stage::kReading, std::size_t stop_at = 0) {
    return utils::TaskMonitor([&seen, stage, stop_at](const utils::TaskProgress& progress) {
        seen.checkpoints.push_back(progress);
        return stop_at == 0 || seen.count(stage) < stop_at;
    });
}

TEST(MonitoredLoad, EdgeListReportsReadingThenBuilding) {
    Seen seen;
    utils::TaskMonitor monitor = recording(seen);
    auto graph = parse_from_file(large_edge_list(), monitor);
    ASSERT_TRUE(graph.ok()) << graph.error().report();
    EXPECT_EQ(graph.value().node_count(), 600'000u);

    const std::uint64_t size = std::filesystem::file_size(large_edge_list());
    ASSERT_GE(seen.count(Stage::kReading), 2u);
    ASSERT_GE(seen.count(Stage::kBuilding), 2u);
    std::uint64_t last_read = 0;
    bool building = false;
    for (const utils::TaskProgress& p : seen.checkpoints) {
        if (p.stage == Stage::kReading) {
            EXPECT_FALSE(building) << "reading after building began";
            EXPECT_EQ(p.total, size);
            EXPECT_GT(p.done, last_read);
            EXPECT_LE(p.done, size);
            last_read = p.done;
        } else {
            ASSERT_EQ(p.stage, Stage::kBuilding);
            building = true;
            EXPECT_LE(p.done, p.total);
        }
    }
    EXPECT_EQ(seen.checkpoints.back().done, seen.checkpoints.back().total);
}

TEST(MonitoredLoad, EdgeListStopsWhileReadingOrBuilding) {
    for (Stage stage : {Stage::kReading, Stage::kBuilding}) {
        Seen seen;
        utils::TaskMonitor monitor = recording(seen, stage, 1);
        auto graph = parse_from_file(large_edge_list(), monitor);
        ASSERT_FALSE(graph.ok());
        EXPECT_EQ(graph.error().message(), utils::TaskMonitor::kInterrupted);
        EXPECT_TRUE(monitor.stopped());
        // Nothing is asked after the stop.
        EXPECT_EQ(seen.checkpoints.back().stage, stage);
        EXPECT_EQ(seen.count(stage), 1u);
    }
}

TEST(MonitoredLoad, EdgeListThroughSnapshotGivesTheSameGraph) {
    auto graph = parse_from_file(large_edge_list());
    ASSERT_TRUE(graph.ok());
    const std::string snapshot = own_file(".lz4");
    ASSERT_TRUE(utils::write_compressed_bincode(snapshot, content_of(graph.value())).ok());
    ASSERT_GT(std::filesystem::file_size(snapshot), 2 * utils::TaskMonitor::kCheckpointBytes);

    Seen seen;
    utils::TaskMonitor monitor = recording(seen);
    auto reloaded = parse_from_file(snapshot, monitor);
    ASSERT_TRUE(reloaded.ok()) << reloaded.error().report();
    EXPECT_EQ(reloaded.value().name_set().id_to_name(), graph.value().name_set().id_to_name());
    EXPECT_EQ(testing::adjacency(reloaded.value()), testing::adjacency(graph.value()));
    EXPECT_EQ(reloaded.value().m_cache(), graph.value().m_cache());
    EXPECT_GE(seen.count(Stage::kReading), 2u);

    Seen stopped_seen;
    utils::TaskMonitor stopping = recording(stopped_seen, Stage::kReading, 2);
    auto stopped = parse_from_file(snapshot, stopping);
    ASSERT_FALSE(stopped.ok());
    EXPECT_EQ(stopped.error().report(), utils::TaskMonitor::kInterrupted);
}

TEST(MonitoredLoad, UnwatchedLoadsNeverStop) {
    utils::TaskMonitor& unwatched = utils::TaskMonitor::unwatched();
    EXPECT_TRUE(unwatched.checkpoint({Stage::kReading, 1, 2}));
    EXPECT_FALSE(unwatched.stopped());
}

}  // namespace
}  // namespace quelmar::base
