#include "src/base/name_shards.h"

#include <algorithm>
#include <utility>

#include "runtime/parallel.h"
#include "src/base/lookahead.h"

namespace quelmar::base {
namespace {

constexpr std::size_t kShards = std::size_t{1} << NameShards::kShardBits;
// What a position holds while its name waits for its id.
constexpr std::uint64_t kPendingId = std::uint64_t{1} << 63;
// Entry::position's flag for an edge end that counts for the tally.
constexpr std::uint32_t kTallied = std::uint32_t{1} << 31;
// Names partitioned by one task.
constexpr std::size_t kPartPositions = std::size_t{1} << 16;

std::size_t shard_of(utils::NodeName name) {
    return static_cast<std::size_t>(NameIndex::hash(name) >> (64 - NameShards::kShardBits));
}

}  // namespace

NameShards::NameShards(std::uint32_t max_tally)
    : max_tally_(std::min(max_tally, NameIndex::kNew - 2)),
      shards_(kShards),
      overflowed_(kShards, 0) {}

bool NameShards::resolve(std::span<std::uint64_t> names, std::uint64_t max_nodes,
                         std::vector<utils::NodeName>& names_by_id, runtime::WorkerPool* pool) {
    if (!pool) return resolve_in_order(names, max_nodes, names_by_id);
    partition(names, pool);
    first_.assign(names.size(), 0);
    runtime::parallel_for(pool, kShards, [&](std::size_t s) { claim(s, names); });
    // New names by first position: one pass over the round's positions.
    new_id_.resize(names.size());
    std::uint64_t next = names_by_id.size();
    for (std::size_t position = 0; position < names.size(); ++position) {
        if (first_[position]) new_id_[position] = static_cast<std::uint32_t>(next++);
    }
    if (next > max_nodes) return false;
    names_by_id.resize(next);
    runtime::parallel_for(pool, kShards, [&](std::size_t s) { assign(s, names, names_by_id); });
    return true;
}

// On one thread, names met in order get their ids at once.
bool NameShards::resolve_in_order(std::span<std::uint64_t> names, std::uint64_t max_nodes,
                                  std::vector<utils::NodeName>& names_by_id) {
    utils::NodeName from = 0;
    for (std::size_t i = 0; i < names.size(); ++i) {
        const utils::NodeName name = names[i];
        // The second end of a line naming one node twice adds nothing.
        const bool tallied = i % 2 == 0 || from != name;
        from = name;
        const std::size_t s = shard_of(name);
        bool claimed;
        NameIndex::Slot& slot =
            shards_[s].find_or_claim(name, static_cast<utils::NodeId>(names_by_id.size()), claimed);
        if (claimed) {
            if (names_by_id.size() >= max_nodes) return false;
            names_by_id.push_back(name);
        }
        tally(s, slot, tallied);
        names[i] = slot.id;
    }
    return true;
}

// Sorts the round's names by shard, keeping their order within each: parts
// of the round are counted per shard, each part gets its own stretch of
// every shard, and the parts are laid out side by side.
void NameShards::partition(std::span<const std::uint64_t> names, runtime::WorkerPool* pool) {
    const std::size_t parts = (names.size() + kPartPositions - 1) / kPartPositions;
    auto part = [&](std::size_t p) {
        const std::size_t begin = p * kPartPositions;
        return std::pair(begin, std::min(names.size(), begin + kPartPositions));
    };
    std::vector<std::uint64_t> cursor(parts * kShards, 0);
    runtime::parallel_for(pool, parts, [&](std::size_t p) {
        const auto [begin, end] = part(p);
        for (std::size_t i = begin; i < end; ++i) ++cursor[p * kShards + shard_of(names[i])];
    });
    shard_start_.assign(kShards + 1, 0);
    std::uint64_t at = 0;
    for (std::size_t s = 0; s < kShards; ++s) {
        shard_start_[s] = at;
        for (std::size_t p = 0; p < parts; ++p) at += std::exchange(cursor[p * kShards + s], at);
    }
    shard_start_[kShards] = at;
    entries_.resize(names.size());
    runtime::parallel_for(pool, parts, [&](std::size_t p) {
        const auto [begin, end] = part(p);
        std::uint64_t* const write = cursor.data() + p * kShards;
        for (std::size_t i = begin; i < end; ++i) {
            const utils::NodeName name = names[i];
            // The second end of a line naming one node twice adds nothing.
            const bool tallied = i % 2 == 0 || names[i - 1] != name;
            entries_[write[shard_of(name)]++] = {
                name, static_cast<std::uint32_t>(i) | (tallied ? kTallied : 0)};
        }
    });
}

// Looks the shard's names up in order, claiming new ones and tallying; a
// position gets its name's id, or kPendingId when the name is new in this
// round (its first position is marked).
void NameShards::claim(std::size_t s, std::span<std::uint64_t> names) {
    NameIndex& shard = shards_[s];
    const Entry* const entries = entries_.data() + shard_start_[s];
    // A shard's table is cold again by the next round: its slots are fetched
    // ahead.
    visit_with_lookahead(
        shard_start_[s + 1] - shard_start_[s],
        [&](std::size_t k) { shard.prefetch(entries[k].name); },
        [&](std::size_t k) {
            const Entry entry = entries[k];
            const std::uint32_t position = entry.position & ~kTallied;
            const bool tallied = (entry.position & kTallied) != 0;
            bool claimed;
            NameIndex::Slot& slot = shard.find_or_claim(entry.name, 0, claimed);
            if (claimed) {
                slot.tag = NameIndex::kNew | 1;
                first_[position] = 1;
            }
            tally(s, slot, tallied);
            names[position] = (slot.tag & NameIndex::kNew) ? kPendingId : slot.id;
        });
}

// Gives the shard's new names their ids: the first of a name's positions met
// here is its first position in the round.
void NameShards::assign(std::size_t s, std::span<std::uint64_t> names,
                        std::vector<utils::NodeName>& names_by_id) {
    NameIndex& shard = shards_[s];
    for (std::uint64_t k = shard_start_[s]; k < shard_start_[s + 1]; ++k) {
        const Entry entry = entries_[k];
        const std::uint32_t position = entry.position & ~kTallied;
        if (names[position] != kPendingId) continue;
        bool claimed;
        NameIndex::Slot& slot = shard.find_or_claim(entry.name, 0, claimed);
        if (slot.tag & NameIndex::kNew) {
            slot.id = new_id_[position];
            slot.tag &= ~NameIndex::kNew;
            names_by_id[slot.id] = entry.name;
        }
        names[position] = slot.id;
    }
}

void NameShards::tally(std::size_t s, NameIndex::Slot& slot, bool tallied) {
    if (!tallied) return;
    if ((slot.tag & ~NameIndex::kNew) - 1 < max_tally_) {
        ++slot.tag;
    } else {
        overflowed_[s] = 1;
    }
}

bool NameShards::tally_overflowed() const {
    return std::any_of(overflowed_.begin(), overflowed_.end(), [](auto o) { return o != 0; });
}

void NameShards::clear() {
    for (NameIndex& shard : shards_) shard.clear();
    entries_ = {};
    shard_start_ = {};
    first_ = {};
    new_id_ = {};
}

}  // namespace quelmar::base
