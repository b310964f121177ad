#include "src/utils/snapshot_reader.h"

#include <gtest/gtest.h>

#include <set>
#include <string>
#include <utility>
#include <vector>

#include "src/utils/tests/snapshot_test_writer.h"

namespace quelmar::utils {
namespace {

using testing::FrameOptions;
using testing::snapshot_frame;
using testing::snapshot_values;

// The graph with the single edge between names 10 and 20.
const std::vector<std::uint64_t> kSingleEdge{2, 2, 10, 0, 20, 1, 2, 10, 20, 2, 0, 1, 1, 1, 1, 0, 1};

runtime::Result<GraphParts> load(const std::string& bytes, std::size_t piece = SIZE_MAX) {
    MemorySource source(bytes, piece);
    return read_compressed_bincode(source);
}

void expect_error(const runtime::Result<GraphParts>& result, const std::string& cause) {
    ASSERT_FALSE(result.ok());
    EXPECT_EQ(result.error().message(), "io error: " + cause);
    EXPECT_EQ(result.error().causes(), std::vector<std::string>{cause});
}

// Checks the invariants independently of the reader, with ordered sets.
void expect_well_formed(const GraphParts& parts) {
    const std::uint64_t n = parts.name_set.next_id();
    ASSERT_EQ(parts.offsets.size(), n + 1);
    ASSERT_EQ(parts.offsets.front(), 0u);
    ASSERT_EQ(parts.offsets.back(), parts.neighbours.size());
    for (std::uint64_t id = 0; id < n; ++id) {
        ASSERT_EQ(parts.name_set.retrieve(parts.name_set.id_to_name()[id]), id);
    }
    std::set<std::pair<std::uint64_t, std::uint64_t>> entries;
    for (std::uint64_t u = 0; u < n; ++u) {
        ASSERT_LE(parts.offsets[u], parts.offsets[u + 1]);
        for (std::uint64_t k = parts.offsets[u]; k < parts.offsets[u + 1]; ++k) {
            ASSERT_LT(parts.neighbours[k], n);
            if (k > parts.offsets[u]) {
                ASSERT_LT(parts.neighbours[k - 1], parts.neighbours[k]);
            }
            entries.emplace(u, parts.neighbours[k]);
        }
    }
    for (const auto& [u, v] : entries) ASSERT_TRUE(entries.count({v, u}));
    ASSERT_EQ(parts.m_cache, parts.neighbours.size() / 2);
}

TEST(SnapshotReader, LoadsTheSingleEdgeGraph) {
    for (bool checksum : {false, true}) {
        auto parts = load(snapshot_frame(kSingleEdge, testing::with_checksum(checksum)));
        ASSERT_TRUE(parts.ok()) << parts.error().report();
        const GraphParts& graph = parts.value();
        EXPECT_EQ(graph.name_set.id_to_name(), (std::vector<NodeName>{10, 20}));
        EXPECT_EQ(graph.name_set.retrieve(20), std::optional<std::uint64_t>(1));
        EXPECT_EQ(graph.offsets, (std::vector<std::uint64_t>{0, 1, 2}));
        EXPECT_EQ(testing::ids(graph.neighbours), (std::vector<NodeId>{1, 0}));
        EXPECT_EQ(graph.m_cache, 1u);
    }
}

TEST(SnapshotReader, MapPairsMayComeInAnyOrder) {
    std::vector<std::uint64_t> swapped = kSingleEdge;
    std::swap(swapped[2], swapped[4]);
    std::swap(swapped[3], swapped[5]);
    auto parts = load(snapshot_frame(swapped));
    ASSERT_TRUE(parts.ok()) << parts.error().report();
    EXPECT_EQ(parts.value().name_set.retrieve(10), std::optional<std::uint64_t>(0));
}

TEST(SnapshotReader, LoadsTheEmptyGraph) {
    auto parts = load(snapshot_frame({0, 0, 0, 0, 0}));
    ASSERT_TRUE(parts.ok()) << parts.error().report();
    EXPECT_EQ(parts.value().name_set.next_id(), 0u);
    EXPECT_EQ(parts.value().offsets, std::vector<std::uint64_t>{0});
    EXPECT_TRUE(parts.value().neighbours.empty());
}

TEST(SnapshotReader, IgnoresBytesAfterTheValues) {
    const std::string garbage(100, '\x7f');
    for (bool checksum : {false, true}) {
        // Inside the frame: decoded and discarded, checksum still verified.
        FrameOptions options = testing::with_checksum(checksum);
        options.trailing_content = garbage;
        auto inside = load(snapshot_frame(kSingleEdge, options));
        ASSERT_TRUE(inside.ok()) << inside.error().report();
        // After the frame's end mark: never read.
        auto after = load(snapshot_frame(kSingleEdge, testing::with_checksum(checksum)) + garbage);
        ASSERT_TRUE(after.ok()) << after.error().report();
        EXPECT_EQ(after.value().m_cache, 1u);
    }
}

TEST(SnapshotReader, RawValuesAreNotAFrame) {
    expect_error(load(testing::values_as_bytes(kSingleEdge)), "LZ4 error: ERROR_frameType_unknown");
}

TEST(SnapshotReader, EmptyInputFailsToFill) {
    expect_error(load(""), "failed to fill whole buffer");
}

TEST(SnapshotReader, ContentEndingBeforeMCacheFailsToFill) {
    std::vector<std::uint64_t> short_values(kSingleEdge.begin(), kSingleEdge.end() - 1);
    expect_error(load(snapshot_frame(short_values)), "failed to fill whole buffer");
}

TEST(SnapshotReader, WrongContentChecksumFails) {
    std::string frame = snapshot_frame(kSingleEdge, testing::with_checksum(true));
    frame.back() ^= 0x01;  // the checksum is the frame's last four bytes
    expect_error(load(frame), "LZ4 error: ERROR_contentChecksum_invalid");
}

TEST(SnapshotReader, DamagedFrameWinsOverDamagedContent) {
    std::vector<std::uint64_t> bad = kSingleEdge;
    bad.back() = 7;  // wrong m_cache
    std::string frame = snapshot_frame(bad, testing::with_checksum(true));
    frame.back() ^= 0x01;
    expect_error(load(frame), "LZ4 error: ERROR_contentChecksum_invalid");
}

TEST(SnapshotReader, EveryTruncationFails) {
    for (bool checksum : {false, true}) {
        const std::string frame = snapshot_frame(kSingleEdge, testing::with_checksum(checksum));
        for (std::size_t size = 0; size < frame.size(); ++size) {
            auto parts = load(frame.substr(0, size));
            ASSERT_FALSE(parts.ok()) << "size " << size;
            EXPECT_EQ(parts.error().message().rfind("io error: ", 0), 0u)
                << parts.error().message();
        }
    }
}

// A graph big enough for several blocks and several staging buffers.
std::vector<std::uint64_t> ring_values(std::uint64_t n) {
    std::vector<std::uint64_t> names(n);
    std::vector<std::vector<std::uint64_t>> neighbours(n);
    for (std::uint64_t i = 0; i < n; ++i) {
        names[i] = i * 0x9E3779B97F4A7C15ULL;
        std::set<std::uint64_t> around{(i + 1) % n, (i + n - 1) % n, (i + 7) % n, (i + n - 7) % n};
        neighbours[i].assign(around.begin(), around.end());
    }
    return snapshot_values(names, neighbours);
}

TEST(SnapshotReader, StreamsLargeFramesInAnyPieces) {
    const std::vector<std::uint64_t> values = ring_values(30000);
    for (auto block : {LZ4F_max64KB, LZ4F_max4MB}) {
        for (bool declare_size : {false, true}) {
            FrameOptions options;
            options.block_checksum = true;
            options.declare_content_size = declare_size;
            options.block_size = block;
            const std::string frame = snapshot_frame(values, options);
            for (std::size_t piece : {std::size_t{1}, std::size_t{1000}, SIZE_MAX}) {
                if (piece == 1 && block == LZ4F_max4MB) continue;  // slow, adds nothing
                auto parts = load(frame, piece);
                ASSERT_TRUE(parts.ok()) << parts.error().report();
                EXPECT_EQ(parts.value().name_set.next_id(), 30000u);
                EXPECT_EQ(parts.value().neighbours.size(), 4u * 30000);
                EXPECT_EQ(parts.value().m_cache, 2u * 30000);
                expect_well_formed(parts.value());
            }
        }
    }
}

TEST(SnapshotReader, ByteFlipsFailWhenTheContentIsChecksummed) {
    const std::string frame = snapshot_frame(kSingleEdge, testing::with_checksum(true));
    for (std::size_t at = 0; at < frame.size(); ++at) {
        for (unsigned char mask : {0x01, 0x80, 0xFF}) {
            std::string flipped = frame;
            flipped[at] = static_cast<char>(flipped[at] ^ mask);
            auto parts = load(flipped);
            if (!parts.ok()) continue;
            // A changed match offset inside a run of equal bytes may decode
            // to the very same content; anything else must fail.
            EXPECT_EQ(parts.value().name_set.id_to_name(), (std::vector<NodeName>{10, 20}));
            EXPECT_EQ(testing::ids(parts.value().neighbours), (std::vector<NodeId>{1, 0}));
            EXPECT_EQ(parts.value().m_cache, 1u) << "byte " << at << " mask " << int{mask};
        }
    }
}

TEST(SnapshotReader, ByteFlipsWithoutChecksumNeverLoadABrokenGraph) {
    const std::string frame = snapshot_frame(ring_values(40), testing::with_checksum(false));
    std::size_t loaded = 0;
    for (std::size_t at = 0; at < frame.size(); ++at) {
        for (unsigned char mask : {0x01, 0x10, 0xFF}) {
            std::string flipped = frame;
            flipped[at] = static_cast<char>(flipped[at] ^ mask);
            auto parts = load(flipped);
            if (!parts.ok()) continue;
            ++loaded;
            expect_well_formed(parts.value());
        }
    }
    // Flips in the header checksum byte itself are caught; most others break
    // an invariant. The few that load must load a sound graph.
    EXPECT_LT(loaded, frame.size());
}

TEST(SnapshotReader, HugeCountsReserveOnlyWhatArrives) {
    const std::uint64_t huge = std::uint64_t{1} << 32;
    // Counts agree and stay within the node limit, but the elements are missing.
    expect_error(load(snapshot_frame({huge, huge, 1, 0})), "failed to fill whole buffer");
    expect_error(load(snapshot_frame({huge, huge})), "failed to fill whole buffer");
    // A node record claiming every node as neighbour, with no ids after it.
    std::vector<std::uint64_t> values = kSingleEdge;
    values.resize(9);
    values.push_back(2);
    values.push_back(0);
    values.push_back(2);
    expect_error(load(snapshot_frame(values)), "failed to fill whole buffer");
}

TEST(SnapshotReader, FileErrors) {
    auto missing = read_compressed_bincode("/nonexistent/graph.lz4");
    ASSERT_FALSE(missing.ok());
    EXPECT_EQ(missing.error().message(), "No such file or directory (os error 2)");
    EXPECT_TRUE(missing.error().causes().empty());

    auto directory = read_compressed_bincode(::testing::TempDir());
    expect_error(directory, "Is a directory (os error 21)");
}

TEST(SnapshotReader, GoldenFileWrittenByTheLz4Tool) {
    auto parts =
        read_compressed_bincode(std::string(QUELMAR_TEST_DATA_DIR) + "/single_edge.bin.lz4");
    ASSERT_TRUE(parts.ok()) << parts.error().report();
    EXPECT_EQ(parts.value().name_set.id_to_name(), (std::vector<NodeName>{10, 20}));
    EXPECT_EQ(testing::ids(parts.value().neighbours), (std::vector<NodeId>{1, 0}));
}

}  // namespace
}  // namespace quelmar::utils
