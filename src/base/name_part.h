#pragma once
// A part of a round of names for the graph builder's name table
// (src/base/name_shards.h): the names of consecutive whole lines (from and to
// alternately), each with its shard, and how many entries each shard takes
// from the part. A line naming one node twice gives its second end no entry.
//
// Readers note keys and shards while the names are in their hands
// (MarkedNames), so that the table needs no pass of its own to hash and count
// a round, and no hash of its own to look a name up.

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

#include "src/base/name_index.h"
#include "src/utils/mapped_vector.h"
#include "src/utils/node_id.h"

namespace quelmar::base {

inline constexpr int kShardBits = 8;
inline constexpr std::size_t kShardCount = std::size_t{1} << kShardBits;
using ShardCounts = std::array<std::uint32_t, kShardCount>;

inline std::uint8_t shard_of_key(NameIndex::Key key) {
    return static_cast<std::uint8_t>(key >> (64 - kShardBits));
}

// A view; what it shows must outlive the resolve it is given to.
struct NamePart {
    // The names as written, or their keys (NameIndex::key_of) when `keyed`.
    std::span<const std::uint64_t> names;
    bool keyed;
    const std::uint8_t* shards;  // one per name
    const ShardCounts* counts;
};

// Names noted line by line as their keys, with their shards and counts.
// Readers keep theirs from round to round; the arrays are mapped so that their pages go back to
// the system when the readers go, rather than staying resident in the heap
// of the thread that filled them while the graph is built.
class MarkedNames {
public:
    void clear() {
        keys_.clear();
        shards_.clear();
        counts_.fill(0);
    }
    void add_line(utils::NodeName from, utils::NodeName to) {
        const NameIndex::Key from_key = NameIndex::key_of(from);
        const NameIndex::Key to_key = to == from ? from_key : NameIndex::key_of(to);
        const std::uint8_t from_shard = shard_of_key(from_key);
        const std::uint8_t to_shard = shard_of_key(to_key);
        keys_.push_back(from_key);
        keys_.push_back(to_key);
        shards_.push_back(from_shard);
        shards_.push_back(to_shard);
        ++counts_[from_shard];
        counts_[to_shard] += to != from;
    }
    // Room for `names` without growing. Readers that fill side by side take
    // their room on the caller's thread first: arrays moved by one worker's
    // growth must not be mapped again under another's (which a race
    // detector reads as a race, as it cannot see the system order them).
    void reserve(std::size_t names) {
        keys_.reserve(names);
        shards_.reserve(names);
    }
    std::size_t size() const { return keys_.size(); }
    NamePart part() const { return {keys_, true, shards_.data(), &counts_}; }

private:
    utils::MappedVector<NameIndex::Key> keys_;
    utils::MappedVector<std::uint8_t> shards_;
    ShardCounts counts_{};
};

}  // namespace quelmar::base
