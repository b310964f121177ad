#include "src/utils/name_table.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <random>
#include <unordered_map>
#include <vector>

#include "runtime/worker_pool.h"

namespace quelmar::utils {
namespace {

constexpr std::uint64_t kLargest = std::numeric_limits<std::uint64_t>::max();
constexpr std::uint32_t kLargestId = std::numeric_limits<std::uint32_t>::max();

// Names that stress the slot layout and the empty marker: 0 and its
// neighbours, halves that are zero on one side, names equal in one half.
std::vector<std::uint64_t> awkward_names() {
    std::vector<std::uint64_t> names{
        0, 1, kLargest, kLargest - 1, std::uint64_t{1} << 32, std::uint64_t{1} << 63, 0xFFFFFFFF};
    for (std::uint64_t i = 1; i <= 1000; ++i) {
        names.push_back(i << 32);             // low half zero
        names.push_back(i << 40 | 7);         // same low half
        names.push_back(0xABCD00000000 | i);  // same high half
    }
    return names;
}

// Inserts the names in order, repeats included, with ids counting down from
// the largest, against a plain map; checks every answer on the way, and
// lookups of present and absent names at the end.
void expect_like_a_map(NameTable& table, const std::vector<std::uint64_t>& names) {
    std::unordered_map<std::uint64_t, std::uint32_t> model;
    std::uint32_t next = kLargestId;
    for (std::uint64_t name : names) {
        const auto [it, inserted] = model.try_emplace(name, next);
        ASSERT_EQ(table.insert(name, next), std::make_pair(it->second, inserted)) << name;
        if (inserted) --next;
        ASSERT_LE(table.size(), table.capacity() * 4 / 5 + 1);  // + 1: the name 0, held apart
    }
    ASSERT_EQ(table.size(), model.size());
    for (const auto& [name, id] : model) ASSERT_EQ(table.find(name), id) << name;
    std::mt19937_64 random(7);
    for (int i = 0; i < 10000; ++i) {
        const std::uint64_t name = random();
        EXPECT_EQ(table.find(name).has_value(), model.contains(name)) << name;
    }
}

TEST(NameTable, AgreesWithAMapWhileGrowing) {
    std::mt19937_64 random(1);
    std::vector<std::uint64_t> names = awkward_names();
    for (int i = 0; i < 50000; ++i) names.push_back(random() >> (i % 64));
    for (int i = 0; i < 20000; ++i) names.push_back(names[random() % names.size()]);
    NameTable table;
    EXPECT_EQ(table.find(0), std::nullopt);
    EXPECT_EQ(table.find(5), std::nullopt);
    expect_like_a_map(table, names);
    EXPECT_GT(table.capacity(), 100 * 4096 / 12);  // several growths from one page
}

// The one name whose hash is the empty marker is held apart from the slots.
TEST(NameTable, TheKeyNameAndTheLargestId) {
    NameTable table;
    EXPECT_EQ(table.find(process_key()), std::nullopt);
    EXPECT_EQ(table.insert(process_key(), kLargestId), std::make_pair(kLargestId, true));
    EXPECT_EQ(table.insert(0, kLargestId - 1), std::make_pair(kLargestId - 1, true));
    EXPECT_EQ(table.insert(process_key(), 3), std::make_pair(kLargestId, false));
    EXPECT_EQ(table.find(process_key()), kLargestId);
    EXPECT_EQ(table.find(0), kLargestId - 1);
    EXPECT_EQ(table.size(), 2u);
}

// The inverse of mix_bits: names whose hashes are chosen.
std::uint64_t unmix(std::uint64_t hash) { return unmix_bits(hash) ^ process_key(); }

// Names that all hash into the last home slot pile up past the end of the
// home slots, more of them than the spare room there holds.
TEST(NameTable, RunsPastTheLastHomeSlot) {
    std::vector<std::uint64_t> names;
    for (std::uint64_t i = 0; i < 1000; ++i) names.push_back(unmix(kLargest - 3 * i));
    ASSERT_EQ(mix_bits(names[5] ^ process_key()), kLargest - 15);
    for (std::uint64_t i = 0; i < 1000; ++i) names.push_back(unmix(kLargest - 3 * i - 1));
    NameTable table;
    expect_like_a_map(table, names);
}

// Filled side by side, runs that pile up at the edges of the workers'
// stretches and past the last home slot are placed afterwards; the table
// answers as one filled name by name.
TEST(NameTable, InsertAllAgreesOnAnyPool) {
    std::mt19937_64 random(3);
    std::vector<std::uint64_t> names = awkward_names();
    for (std::uint64_t k = 1; k <= 3; ++k) {  // just below a third, a half, two thirds
        const std::uint64_t edge = kLargest / 6 * (k + 1);
        for (std::uint64_t i = 0; i < 300; ++i) names.push_back(unmix(edge - 7 * i));
    }
    for (std::uint64_t i = 0; i < 300; ++i) names.push_back(unmix(kLargest - 5 * i));
    names.push_back(process_key());
    for (int i = 0; i < 30000; ++i) names.push_back(random());
    // Distinct names, in their first order.
    std::unordered_map<std::uint64_t, std::uint32_t> model;
    std::erase_if(names, [&](std::uint64_t name) {
        return !model.emplace(name, static_cast<std::uint32_t>(model.size())).second;
    });

    const auto two = runtime::WorkerPool::start(2).value();
    const auto three = runtime::WorkerPool::start(3).value();
    for (runtime::WorkerPool* pool :
         {static_cast<runtime::WorkerPool*>(nullptr), two.get(), three.get()}) {
        NameTable table(names.size());
        bool called = false;
        ASSERT_TRUE(table.insert_all(names, pool, [&] { called = true; }));
        EXPECT_TRUE(called);
        EXPECT_EQ(table.size(), names.size());
        for (const auto& [name, id] : model) ASSERT_EQ(table.find(name), id) << name;
        for (int i = 0; i < 10000; ++i) {
            const std::uint64_t name = random();
            EXPECT_EQ(table.find(name).has_value(), model.contains(name)) << name;
        }
        // A repeat is found whether its first copy was placed at once or
        // afterwards: in a pile, at the end, the key name.
        for (const std::size_t first : {names.size() - 1, names.size() - 30002, std::size_t{9}}) {
            std::vector<std::uint64_t> repeated = names;
            repeated.push_back(names[first]);
            NameTable again(repeated.size());
            EXPECT_FALSE(again.insert_all(repeated, pool, {})) << first;
        }
    }
}

TEST(NameTable, SizedTableHoldsItsNamesAtThreeQuartersLoad) {
    const std::size_t n = 100000;
    NameTable table(n);
    const std::size_t capacity = table.capacity();
    // 12 bytes / 0.75, and the spare room past the home slots.
    EXPECT_NEAR(static_cast<double>(table.bytes()) / n, 16 * 65 / 64.0, 0.01);
    std::mt19937_64 random(2);
    for (std::size_t i = 0; i < n; ++i) table.insert(random(), static_cast<std::uint32_t>(i));
    EXPECT_EQ(table.capacity(), capacity);  // no growth
}

TEST(NameTable, MovedFromTableIsEmptyAndUsable) {
    NameTable table;
    table.insert(0, 1);
    table.insert(9, 2);
    NameTable moved = std::move(table);
    EXPECT_EQ(moved.find(9), 2u);
    EXPECT_EQ(table.size(), 0u);  // NOLINT(bugprone-use-after-move)
    EXPECT_EQ(table.find(0), std::nullopt);
    EXPECT_EQ(table.insert(9, 4), std::make_pair(std::uint32_t{4}, true));
}

}  // namespace
}  // namespace quelmar::utils
