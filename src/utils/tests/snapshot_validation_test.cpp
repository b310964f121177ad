// Snapshots whose content breaks a graph invariant are refused, each with its
// own message, through the same error path as damaged frames.
#include <gtest/gtest.h>

#include <string_view>
#include <vector>

#include "src/utils/snapshot_reader.h"
#include "src/utils/tests/snapshot_test_writer.h"

namespace quelmar::utils {
namespace {

using namespace snapshot_errors;
using testing::snapshot_frame;
using testing::snapshot_values;

// Names 100, 200, 300 (ids 0, 1, 2); edges 0-1, 1-2 and a self-loop on 2.
const std::vector<std::uint64_t> kNames{100, 200, 300};
const std::vector<std::vector<std::uint64_t>> kLists{{1}, {0, 2}, {1, 2}};

// Layout positions in snapshot_values(kNames, kLists).
constexpr std::size_t kNextId = 0, kMapCountAt = 1, kFirstPair = 2, kNameCountAt = 8,
                      kFirstName = 9, kNodeCountAt = 12, kFirstRecord = 13;

runtime::Result<GraphParts> load(const std::vector<std::uint64_t>& values) {
    const std::string frame = snapshot_frame(values);
    MemorySource source(frame);
    return read_compressed_bincode(source);
}

void expect_refused(const std::vector<std::uint64_t>& values, std::string_view message) {
    auto parts = load(values);
    ASSERT_FALSE(parts.ok());
    EXPECT_EQ(parts.error().message(), message);
}

TEST(SnapshotValidation, WellFormedGraphWithSelfLoopLoadsUnchanged) {
    auto parts = load(snapshot_values(kNames, kLists));
    ASSERT_TRUE(parts.ok()) << parts.error().report();
    EXPECT_EQ(parts.value().offsets, (std::vector<std::uint64_t>{0, 1, 3, 5}));
    EXPECT_EQ(testing::ids(parts.value().neighbours), (std::vector<NodeId>{1, 0, 2, 1, 2}));
    EXPECT_EQ(parts.value().m_cache, 2u);
}

TEST(SnapshotValidation, IsolatedNodesAreAccepted) {
    auto parts = load(snapshot_values({5, 6}, {{}, {}}));
    ASSERT_TRUE(parts.ok()) << parts.error().report();
    EXPECT_EQ(parts.value().offsets, (std::vector<std::uint64_t>{0, 0, 0}));
}

TEST(SnapshotValidation, CountsMustAgree) {
    auto values = snapshot_values(kNames, kLists);
    auto changed = [&](std::size_t at, std::uint64_t value) {
        auto copy = values;
        copy[at] = value;
        return copy;
    };
    expect_refused(changed(kNextId, (std::uint64_t{1} << 32) + 1), kTooManyNodes);
    expect_refused(changed(kNextId, 4), kMapCount);
    expect_refused(changed(kMapCountAt, 2), kMapCount);
    // One pair more than names: the name count and the first name are read
    // as a pair, whose id (a name) is out of range.
    expect_refused(changed(kMapCountAt, 4), kMapIdOutOfRange);
    expect_refused(changed(kNameCountAt, 2), kNameCount);
    expect_refused(changed(kNodeCountAt, 2), kNodeCount);
    expect_refused(changed(kNodeCountAt, std::uint64_t{1} << 40), kNodeCount);
}

TEST(SnapshotValidation, NameMapMustMatchTheNameArray) {
    auto values = snapshot_values(kNames, kLists);
    auto out_of_range = values;
    out_of_range[kFirstPair + 1] = 3;
    expect_refused(out_of_range, kMapIdOutOfRange);

    auto claims_other_id = values;
    claims_other_id[kFirstPair + 2] = 100;  // name 100 again, with id 1
    expect_refused(claims_other_id, kMapDisagrees);

    auto repeated_pair = values;  // (100, 0) twice, 200 missing
    repeated_pair[kFirstPair + 2] = 100;
    repeated_pair[kFirstPair + 3] = 0;
    expect_refused(repeated_pair, kMapDisagrees);

    auto repeated_name = values;  // 100 named by ids 0 and 1, both ways
    repeated_name[kFirstPair + 2] = 100;
    repeated_name[kFirstName + 1] = 100;
    expect_refused(repeated_name, kDuplicateName);

    auto swapped_ids = values;  // 100 -> 1 and 200 -> 0
    swapped_ids[kFirstPair + 1] = 1;
    swapped_ids[kFirstPair + 3] = 0;
    expect_refused(swapped_ids, kMapDisagrees);

    auto other_name = values;
    other_name[kFirstName + 2] = 301;
    expect_refused(other_name, kMapDisagrees);
}

// A map written entry by entry may repeat a name; its last entry counts.
TEST(SnapshotValidation, RepeatedNameTakesItsLastId) {
    auto values = snapshot_values(kNames, kLists);
    // Pairs (100, 1), (100, 0), (200, 1), (300, 2): four entries for three names.
    std::vector<std::uint64_t> pairs{100, 1, 100, 0, 200, 1, 300, 2};
    std::vector<std::uint64_t> rewritten{values[kNextId], 4};
    rewritten.insert(rewritten.end(), pairs.begin(), pairs.end());
    rewritten.insert(rewritten.end(), values.begin() + kNameCountAt, values.end());
    auto parts = load(rewritten);
    ASSERT_TRUE(parts.ok()) << parts.error().report();
    EXPECT_EQ(parts.value().name_set.retrieve(100), 0u);
    EXPECT_EQ(parts.value().name_set.next_id(), 3u);

    // The other order leaves 100 -> 1, which the name array contradicts.
    std::swap(rewritten[2 + 1], rewritten[2 + 3]);
    expect_refused(rewritten, kMapDisagrees);
}

TEST(SnapshotValidation, NodeRecordsMustBeInOrderAndInRange) {
    auto values = snapshot_values(kNames, kLists);
    auto wrong_id = values;
    wrong_id[kFirstRecord] = 1;
    expect_refused(wrong_id, kNodeIdMismatch);

    auto huge_degree = values;
    huge_degree[kFirstRecord + 1] = 4;
    expect_refused(huge_degree, kDegreeTooLarge);

    auto out_of_range = values;
    out_of_range[kFirstRecord + 2] = 3;
    expect_refused(out_of_range, kNeighbourOutOfRange);

    auto beyond_32_bits = values;
    beyond_32_bits[kFirstRecord + 2] = (std::uint64_t{1} << 32) + 1;  // would wrap to 1
    expect_refused(beyond_32_bits, kNeighbourOutOfRange);
}

TEST(SnapshotValidation, NeighbourListsMustBeStrictlyAscending) {
    expect_refused(snapshot_values(kNames, {{1}, {2, 0}, {1, 2}}), kNeighboursUnsorted);
    auto repeated = snapshot_values(kNames, {{1, 1}, {0, 0, 2}, {1, 2}});
    expect_refused(repeated, kNeighboursUnsorted);
}

TEST(SnapshotValidation, NeighbourListsMustBeSymmetric) {
    expect_refused(snapshot_values(kNames, {{1}, {0, 2}, {2}}), kAsymmetric);
    expect_refused(snapshot_values(kNames, {{1, 2}, {0, 2}, {1, 2}}), kAsymmetric);
    // Same entry count, wrong partner.
    expect_refused(snapshot_values(kNames, {{2}, {0, 2}, {1, 2}}), kAsymmetric);
}

TEST(SnapshotValidation, EdgeCountMustBeHalfTheEntries) {
    auto values = snapshot_values(kNames, kLists);
    values.back() = 3;
    expect_refused(values, kEdgeCount);
    // A lone self-loop counts for nothing.
    auto loop = snapshot_values({9}, {{0}});
    EXPECT_EQ(loop.back(), 0u);
    EXPECT_TRUE(load(loop).ok());
    loop.back() = 1;
    expect_refused(loop, kEdgeCount);
}

}  // namespace
}  // namespace quelmar::utils
