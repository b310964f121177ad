#include "src/utils/snapshot_writer.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <lz4frame.h>
#include <sys/resource.h>
#include <unistd.h>

#include <csignal>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "src/utils/snapshot_reader.h"
#include "src/utils/tests/snapshot_test_writer.h"

namespace quelmar::utils {
namespace {

namespace fs = std::filesystem;

// A fresh, empty directory per test.
class SnapshotWriter : public ::testing::Test {
protected:
    void SetUp() override {
        const auto* test = ::testing::UnitTest::GetInstance()->current_test_info();
        directory_ = fs::path(::testing::TempDir()) / "snapshot_writer" / test->name();
        fs::remove_all(directory_);
        fs::create_directories(directory_);
    }
    std::string path(const std::string& name) const { return (directory_ / name).string(); }
    std::vector<std::string> listing() const {
        std::vector<std::string> names;
        for (const auto& entry : fs::directory_iterator(directory_)) {
            names.push_back(entry.path().filename().string());
        }
        std::sort(names.begin(), names.end());
        return names;
    }

    fs::path directory_;
};

// Graph parts from a name list and neighbour lists, through the reader.
GraphParts parts_of(const std::vector<std::uint64_t>& names,
                    const std::vector<std::vector<std::uint64_t>>& neighbours) {
    const std::string frame = testing::snapshot_frame(testing::snapshot_values(names, neighbours));
    MemorySource source(frame);
    auto parts = read_compressed_bincode(source);
    if (!parts) throw std::runtime_error(parts.error().report());
    return std::move(parts).value();
}

// A ring of `n` nodes with chords to the node 7 ahead: degree 4, all symmetric.
GraphParts ring(std::uint64_t n) {
    GraphParts parts;
    std::vector<NodeName> names(n);
    for (std::uint64_t id = 0; id < n; ++id) names[id] = id * 0x9E3779B97F4A7C15ULL;
    parts.name_set = std::move(*NameSet::from_id_order(std::move(names)));
    for (std::uint64_t u = 0; u < n; ++u) {
        std::vector<NodeId> list{NodeId((u + 1) % n), NodeId((u + n - 1) % n), NodeId((u + 7) % n),
                                 NodeId((u + n - 7) % n)};
        std::sort(list.begin(), list.end());
        for (NodeId v : list) parts.neighbours.push_back(v);
        parts.offsets.push_back(parts.neighbours.size());
    }
    parts.m_cache = parts.neighbours.size() / 2;
    return parts;
}

SnapshotContent content_of(const GraphParts& parts) {
    return {parts.name_set,
            parts.offsets,
            {parts.neighbours.data(), parts.neighbours.size()},
            parts.m_cache};
}

std::string file_bytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// The whole decompressed content of a one-frame file.
std::string decompressed(const std::string& frame) {
    LZ4F_dctx* context;
    LZ4F_createDecompressionContext(&context, LZ4F_VERSION);
    std::string out;
    std::vector<char> buffer(1 << 16);
    std::size_t position = 0;
    std::size_t hint = 1;
    while (position < frame.size() && hint != 0) {
        std::size_t produced = buffer.size();
        std::size_t consumed = frame.size() - position;
        hint = LZ4F_decompress(context, buffer.data(), &produced, frame.data() + position,
                               &consumed, nullptr);
        if (LZ4F_isError(hint)) throw std::runtime_error(LZ4F_getErrorName(hint));
        position += consumed;
        out.append(buffer.data(), produced);
    }
    LZ4F_freeDecompressionContext(context);
    return out;
}

void expect_same_graph(const GraphParts& a, const GraphParts& b) {
    EXPECT_EQ(a.name_set.id_to_name(), b.name_set.id_to_name());
    for (std::uint64_t id = 0; id < b.name_set.next_id(); ++id) {
        EXPECT_EQ(b.name_set.retrieve(b.name_set.id_to_name()[id]), id);
    }
    EXPECT_EQ(a.offsets, b.offsets);
    EXPECT_TRUE(std::equal(a.neighbours.begin(), a.neighbours.end(), b.neighbours.begin(),
                           b.neighbours.end()));
    EXPECT_EQ(a.m_cache, b.m_cache);
}

TEST_F(SnapshotWriter, WritesExactlyTheReadLayoutWithChecksumAndSize) {
    // Names 30, 10, 20 with ids in that order; a self-loop on 20.
    const std::vector<std::uint64_t> names{30, 10, 20};
    const std::vector<std::vector<std::uint64_t>> neighbours{{1, 2}, {0}, {0, 2}};
    const GraphParts parts = parts_of(names, neighbours);
    ASSERT_TRUE(write_compressed_bincode(path("g.lz4"), content_of(parts)).ok());

    const std::string frame = file_bytes(path("g.lz4"));
    const std::string expected =
        testing::values_as_bytes(testing::snapshot_values(names, neighbours));
    EXPECT_EQ(decompressed(frame), expected);
    EXPECT_EQ(snapshot_content_size(content_of(parts)), expected.size());
    // Frame descriptor flags: content size (bit 3) and content checksum (bit 2).
    ASSERT_GT(frame.size(), 5u);
    EXPECT_EQ(frame.substr(0, 4), std::string("\x04\x22\x4D\x18", 4));
    EXPECT_EQ(static_cast<unsigned char>(frame[4]) & 0x0C, 0x0C);
    EXPECT_EQ(listing(), std::vector<std::string>{"g.lz4"});
}

TEST_F(SnapshotWriter, EmptyGraphIsFiveZeros) {
    const GraphParts parts;
    ASSERT_TRUE(write_compressed_bincode(path("empty.lz4"), content_of(parts)).ok());
    EXPECT_EQ(decompressed(file_bytes(path("empty.lz4"))),
              testing::values_as_bytes({0, 0, 0, 0, 0}));
}

TEST_F(SnapshotWriter, LargeGraphRoundTripsAndReportsProgress) {
    const GraphParts parts = ring(400'000);  // about 22 MB of content
    const std::uint64_t total = snapshot_content_size(content_of(parts));
    std::vector<std::uint64_t> seen;
    TaskMonitor monitor([&](const TaskProgress& progress) {
        EXPECT_EQ(progress.stage, TaskProgress::Stage::kWriting);
        EXPECT_EQ(progress.total, total);
        seen.push_back(progress.done);
        return true;
    });
    ASSERT_TRUE(write_compressed_bincode(path("ring.lz4"), content_of(parts), monitor).ok());
    ASSERT_GE(seen.size(), 4u);
    EXPECT_TRUE(std::is_sorted(seen.begin(), seen.end()));
    EXPECT_LE(seen.back(), total);

    auto back = read_compressed_bincode(path("ring.lz4"));
    ASSERT_TRUE(back.ok()) << back.error().report();
    expect_same_graph(back.value(), parts);
}

TEST_F(SnapshotWriter, FrameOnAnOpenDescriptorReadsBackAtEitherCompression) {
    const GraphParts parts = ring(100'000);
    for (SnapshotCompression compression :
         {SnapshotCompression::kCompact, SnapshotCompression::kFastest}) {
        const std::string target = path("fd.lz4");
        const int fd = ::open(target.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        ASSERT_GE(fd, 0);
        ASSERT_TRUE(write_bincode_frame(fd, content_of(parts), compression).ok());
        // The descriptor stays open for the caller.
        EXPECT_EQ(::write(fd, "", 0), 0);
        ::close(fd);
        auto back = read_compressed_bincode(target);
        ASSERT_TRUE(back.ok()) << back.error().report();
        expect_same_graph(back.value(), parts);
    }
}

TEST_F(SnapshotWriter, OverwritesAnExistingTargetInOneStep) {
    testing::write_file(path("g.lz4"), "old");
    const GraphParts parts = ring(50);
    ASSERT_TRUE(write_compressed_bincode(path("g.lz4"), content_of(parts)).ok());
    auto back = read_compressed_bincode(path("g.lz4"));
    ASSERT_TRUE(back.ok());
    expect_same_graph(back.value(), parts);
    EXPECT_EQ(listing(), std::vector<std::string>{"g.lz4"});
}

TEST_F(SnapshotWriter, StoppedWriteLeavesTheOldTargetAndNoTemporaryFile) {
    testing::write_file(path("g.lz4"), "old");
    const GraphParts parts = ring(400'000);
    int checkpoints = 0;
    TaskMonitor monitor([&](const TaskProgress&) { return ++checkpoints < 2; });
    auto written = write_compressed_bincode(path("g.lz4"), content_of(parts), monitor);
    ASSERT_FALSE(written.ok());
    EXPECT_EQ(written.error().message(), TaskMonitor::kInterrupted);
    EXPECT_EQ(checkpoints, 2);
    EXPECT_EQ(file_bytes(path("g.lz4")), "old");
    EXPECT_EQ(listing(), std::vector<std::string>{"g.lz4"});
}

TEST_F(SnapshotWriter, FailedWriteRemovesItsTemporaryFile) {
    const GraphParts parts = ring(100'000);
    // Writes past 64 KiB fail with EFBIG instead of raising SIGXFSZ.
    std::signal(SIGXFSZ, SIG_IGN);
    rlimit saved;
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
    rlimit small = saved;
    small.rlim_cur = 64 * 1024;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    auto written = write_compressed_bincode(path("g.lz4"), content_of(parts));
    setrlimit(RLIMIT_FSIZE, &saved);
    ASSERT_FALSE(written.ok());
    EXPECT_EQ(written.error().message(), "File too large (os error 27)");
    EXPECT_TRUE(listing().empty());
}

TEST_F(SnapshotWriter, MissingDirectoryGivesTheOsError) {
    auto written = write_compressed_bincode(path("no/such/dir/g.lz4"), content_of(ring(10)));
    ASSERT_FALSE(written.ok());
    EXPECT_EQ(written.error().message(), "No such file or directory (os error 2)");
    EXPECT_TRUE(listing().empty());
}

TEST_F(SnapshotWriter, RenameOntoADirectoryFailsCleanly) {
    fs::create_directory(path("taken.lz4"));
    fs::create_directory(path("taken.lz4/inside"));
    auto written = write_compressed_bincode(path("taken.lz4"), content_of(ring(10)));
    ASSERT_FALSE(written.ok());
    EXPECT_EQ(written.error().message(), "Is a directory (os error 21)");
    EXPECT_EQ(listing(), std::vector<std::string>{"taken.lz4"});
}

TEST_F(SnapshotWriter, RefusesPartsThatDoNotFit) {
    GraphParts parts = ring(10);
    parts.offsets.pop_back();
    auto written = write_compressed_bincode(path("g.lz4"), content_of(parts));
    ASSERT_FALSE(written.ok());
    EXPECT_EQ(written.error().message(), kInconsistent);
    EXPECT_TRUE(listing().empty());
}

}  // namespace
}  // namespace quelmar::utils
