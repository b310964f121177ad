#include "src/base/name_shards.h"

#include <algorithm>
#include <utility>

#include "runtime/parallel.h"
#include "runtime/prefetch.h"
#include "src/base/lookahead.h"

namespace quelmar::base {
namespace {

constexpr std::size_t kShards = kShardCount;
// Claim::kind.
enum Kind : std::uint32_t { kKnown = 0, kFirst = 1, kRepeat = 2 };
// Positions of one part of a round given whole.
constexpr std::size_t kPartPositions = std::size_t{1} << 16;

// Whether name i of a part is the second end of a line naming one node
// twice. That end adds nothing: it takes no entry nor tally, and its id is
// that of the first end. Parts start at a line.
bool is_loop_end(std::span<const utils::NodeName> names, std::size_t i) {
    return i % 2 == 1 && names[i] == names[i - 1];
}

}  // namespace

NameShards::NameShards(std::uint32_t max_tally)
    : max_tally_(std::min(max_tally, NameIndex::kNew - 2)),
      shards_(kShards),
      overflowed_(kShards, 0),
      new_slots_(kShards) {}

// Every lookup tallies: kept inline.
inline void NameShards::tally(std::size_t s, NameIndex::Slot& slot) {
    if ((slot.tag & ~NameIndex::kNew) - 1 < max_tally_) [[likely]] {
        ++slot.tag;
    } else {
        overflowed_[s] = 1;
    }
}

// A round given whole is cut into parts, marked side by side.
bool NameShards::resolve(std::span<const utils::NodeName> names, std::span<utils::NodeId> ids,
                         std::uint64_t max_nodes, std::vector<utils::NodeName>& names_by_id,
                         runtime::WorkerPool* pool) {
    const std::size_t part_count = (names.size() + kPartPositions - 1) / kPartPositions;
    shard_of_position_.resize(names.size());
    part_counts_.assign(part_count, ShardCounts{});
    std::vector<NamePart> parts(part_count);
    runtime::parallel_for(pool, part_count, [&](std::size_t p) {
        const std::size_t begin = p * kPartPositions;
        const auto part = names.subspan(begin, std::min(kPartPositions, names.size() - begin));
        ShardCounts& counts = part_counts_[p];
        for (std::size_t i = 0; i < part.size(); ++i) {
            runtime::prefetch_ahead(&part[i]);
            const std::uint8_t shard = shard_of_key(NameIndex::key_of(part[i]));
            shard_of_position_[begin + i] = shard;
            counts[shard] += !is_loop_end(part, i);
        }
        parts[p] = {part, false, shard_of_position_.data() + begin, &counts};
    });
    return resolve(std::span<const NamePart>(parts), ids, max_nodes, names_by_id, pool);
}

bool NameShards::resolve(std::span<const NamePart> parts, std::span<utils::NodeId> ids,
                         std::uint64_t max_nodes, std::vector<utils::NodeName>& names_by_id,
                         runtime::WorkerPool* pool) {
    if (!pool) return resolve_in_order(parts, ids, max_nodes, names_by_id);
    partition(parts, pool);
    new_names_.assign(parts.size() * kShards, 0);
    runtime::parallel_for(pool, kShards, [&](std::size_t s) { claim(s); });
    const std::uint64_t next = rank_new_names(parts.size(), names_by_id.size());
    if (next > max_nodes) return false;
    names_by_id.resize(next);
    pending_.resize(std::max(pending_.size(), parts.size()));
    runtime::parallel_for(pool, parts.size(),
                          [&](std::size_t p) { gather(p, parts[p], ids, names_by_id); });
    // Repeats read their first entries' ids; the tables take the new ids.
    runtime::parallel_for(pool, parts.size() + kShards, [&](std::size_t i) {
        if (i < parts.size()) {
            point_repeats(i, ids);
        } else {
            settle_new_names(i - parts.size());
        }
    });
    return true;
}

// On one thread, names met in order get their ids at once.
bool NameShards::resolve_in_order(std::span<const NamePart> parts, std::span<utils::NodeId> ids,
                                  std::uint64_t max_nodes,
                                  std::vector<utils::NodeName>& names_by_id) {
    std::size_t at = 0;
    for (const NamePart& part : parts) {
        const auto names = part.names;
        for (std::size_t i = 0; i < names.size(); ++i, ++at) {
            if (is_loop_end(names, i)) {
                ids[at] = ids[at - 1];
                continue;
            }
            const std::size_t s = part.shards[i];
            bool claimed;
            NameIndex::Slot& slot =
                shards_[s].find_or_claim(part.keyed ? names[i] : NameIndex::key_of(names[i]),
                                         static_cast<utils::NodeId>(names_by_id.size()), claimed);
            if (claimed) {
                if (names_by_id.size() >= max_nodes) return false;
                names_by_id.push_back(part.keyed ? NameIndex::name_of(names[i]) : names[i]);
            }
            tally(s, slot);
            ids[at] = slot.id;
        }
    }
    return true;
}

// Sorts the round's names by shard, keeping their order within each: each
// part gets its own stretch of every shard, and the parts are laid out side
// by side.
void NameShards::partition(std::span<const NamePart> parts, runtime::WorkerPool* pool) {
    first_position_.resize(parts.size() + 1);
    first_position_[0] = 0;
    for (std::size_t p = 0; p < parts.size(); ++p) {
        first_position_[p + 1] = first_position_[p] + parts[p].names.size();
    }
    part_start_.resize(parts.size() * kShards);
    shard_start_.assign(kShards + 1, 0);
    std::uint64_t at = 0;
    for (std::size_t s = 0; s < kShards; ++s) {
        shard_start_[s] = at;
        for (std::size_t p = 0; p < parts.size(); ++p) {
            part_start_[p * kShards + s] = at;
            at += (*parts[p].counts)[s];
        }
    }
    shard_start_[kShards] = at;
    entries_.resize(at);
    runtime::parallel_for(pool, parts.size(), [&](std::size_t p) {
        std::uint64_t write[kShards];
        std::copy_n(part_start_.begin() + p * kShards, kShards, write);
        const auto names = parts[p].names;
        const std::uint8_t* const shards = parts[p].shards;
        // The part's names were written on another core.
        auto lay_out = [&](auto key_of) {
            for (std::size_t i = 0; i < names.size(); ++i) {
                runtime::prefetch_ahead(&names[i]);
                if (i % runtime::kCacheLine == 0) runtime::prefetch_ahead(&shards[i]);
                if (!is_loop_end(names, i)) {
                    const std::uint64_t at = write[shards[i]]++;
                    fetch_ahead(at);
                    entries_[at].key = key_of(names[i]);
                }
            }
        };
        if (parts[p].keyed) {
            lay_out([](NameIndex::Key key) { return key; });
        } else {
            lay_out(NameIndex::key_of);
        }
    });
}

// Looks the shard's names up in order, claiming new ones and tallying, and
// counts the new names of each part. A new name's slot holds the entry of
// its first position until the name is ranked.
void NameShards::claim(std::size_t s) {
    NameIndex& shard = shards_[s];
    const std::size_t parts = part_start_.size() / kShards;
    const std::uint64_t first = shard_start_[s];
    std::size_t part = 0;
    auto stretch_end = [&](std::size_t p) {
        return p + 1 < parts ? part_start_[(p + 1) * kShards + s] : shard_start_[s + 1];
    };
    std::uint64_t part_end = parts == 0 ? first : stretch_end(0);
    std::uint32_t new_in_part = 0;
    std::vector<std::uint32_t>& new_slots = new_slots_[s].value;
    new_slots.clear();
    // A shard's table is cold again by the next round: its slots are fetched
    // ahead.
    constexpr std::size_t kAhead = 64;
    visit_with_lookahead<kAhead>(
        shard_start_[s + 1] - first,
        [&](std::size_t k) { shard.prefetch(entries_[first + k].key); },
        [&](std::size_t k) {
            const std::uint64_t at = first + k;
            while (at >= part_end) {
                new_names_[part * kShards + s] = std::exchange(new_in_part, 0);
                part_end = stretch_end(++part);
            }
            bool claimed;
            NameIndex::Slot& slot = shard.find_or_claim(
                entries_[at].key, static_cast<std::uint32_t>(at), claimed, new_slots);
            std::uint32_t kind = kKnown;
            if (claimed) {
                slot.tag = NameIndex::kNew | 1;
                kind = kFirst;
                new_slots.push_back(shard.index_of(slot));
                ++new_in_part;
            } else if (slot.tag & NameIndex::kNew) {
                kind = kRepeat;
            }
            entries_[at].claim = {slot.id, kind};
            tally(s, slot);
        });
    for (; part < parts; ++part) new_names_[part * kShards + s] = std::exchange(new_in_part, 0);
}

// Partition and gather walk every shard's stretch of a part in order: a
// stream per shard, more than the hardware follows, so each stream's lines
// are fetched by hand a few ahead as it enters a new one.
inline void NameShards::fetch_ahead(std::uint64_t entry) const {
    constexpr std::uint64_t kPerLine = runtime::kCacheLine / sizeof(Entry);
    if (entry % kPerLine == 0) {
        runtime::prefetch(&entries_[std::min(entry + 3 * kPerLine, entries_.size() - 1)]);
    }
}

// The first id of each part's new names, in order of parts; returns the
// next free id.
std::uint64_t NameShards::rank_new_names(std::size_t parts, std::uint64_t first_id) {
    first_new_id_.resize(parts);
    std::uint64_t next = first_id;
    for (std::size_t p = 0; p < parts; ++p) {
        first_new_id_[p] = next;
        for (std::size_t s = 0; s < kShards; ++s) next += new_names_[p * kShards + s];
    }
    return next;
}

// Walks the part's positions in order, taking each one's entry from its
// shard's stretch: known names get their ids, first positions the next new
// id, and repeats of new names the entry to read their id from (and join the
// part's pending positions).
void NameShards::gather(std::size_t p, const NamePart& part, std::span<utils::NodeId> ids,
                        std::vector<utils::NodeName>& names_by_id) {
    std::uint64_t read[kShards];
    std::copy_n(part_start_.begin() + p * kShards, kShards, read);
    std::uint64_t next_id = first_new_id_[p];
    std::vector<std::uint32_t>& pending = pending_[p].value;
    pending.clear();
    const auto names = part.names;
    const std::size_t first = first_position_[p];
    utils::NodeId* const part_ids = ids.data() + first;
    for (std::size_t i = 0; i < names.size(); ++i) {
        if (is_loop_end(names, i)) {
            part_ids[i] = part_ids[i - 1];
            if (!pending.empty() && pending.back() == first + i - 1) {
                pending.push_back(static_cast<std::uint32_t>(first + i));
            }
            continue;
        }
        const std::uint64_t at = read[part.shards[i]]++;
        fetch_ahead(at);
        Claim& claim = entries_[at].claim;
        switch (claim.kind) {
            case kKnown: part_ids[i] = claim.value; break;
            case kFirst:
                claim.value = static_cast<std::uint32_t>(next_id);
                names_by_id[next_id] = part.keyed ? NameIndex::name_of(names[i]) : names[i];
                part_ids[i] = static_cast<utils::NodeId>(next_id++);
                break;
            default:
                part_ids[i] = claim.value;
                pending.push_back(static_cast<std::uint32_t>(first + i));
                break;
        }
    }
}

void NameShards::point_repeats(std::size_t p, std::span<utils::NodeId> ids) const {
    for (const std::uint32_t i : pending_[p].value) ids[i] = entries_[ids[i]].claim.value;
}

// The shard's new names take their ids: each one's slot, noted by claim,
// holds the entry whose claim gather turned into the id. The table has gone
// cold since, so the slots are fetched ahead.
void NameShards::settle_new_names(std::size_t s) {
    NameIndex& shard = shards_[s];
    const std::vector<std::uint32_t>& new_slots = new_slots_[s].value;
    visit_with_lookahead(
        new_slots.size(), [&](std::size_t i) { shard.prefetch_slot(new_slots[i]); },
        [&](std::size_t i) {
            NameIndex::Slot& slot = shard.slot_at(new_slots[i]);
            slot.id = entries_[slot.id].claim.value;
            slot.tag &= ~NameIndex::kNew;
        });
}

bool NameShards::tally_overflowed() const {
    return std::any_of(overflowed_.begin(), overflowed_.end(), [](auto o) { return o != 0; });
}

void NameShards::clear() {
    for (NameIndex& shard : shards_) shard.clear();
    entries_ = {};
    shard_start_ = {};
    part_start_ = {};
    first_position_ = {};
    shard_of_position_ = {};
    part_counts_ = {};
    new_slots_ = decltype(new_slots_)(kShards);
    new_names_ = {};
    first_new_id_ = {};
    pending_ = {};
}

}  // namespace quelmar::base
