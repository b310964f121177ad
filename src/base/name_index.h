#pragma once
// One shard of the graph builder's table from node name to id
// (src/base/name_shards.h). Open addressing with linear probing over 16-byte
// slots that hold the name's key, its id and a tally of the node's recorded
// edge ends: a lookup usually touches one cache line, and counting degrees costs
// nothing extra. The table grows by doubling past 80% load, from nothing:
// memory is taken at the first claim. The tables are the largest structure
// of reading a large edge list (a quarter of the peak at 100M lines): at 70%
// they held 0.35-0.7 of their slots, at 80% 0.4-0.8, for slightly longer
// probes. Used by one thread at a time.
//
// Names are handled as their keys (key_of), a keyed bijection of the name:
// readers take a name's key once, for its shard, and the table needs no hash
// of its own. name_of gives the name back.

#include <cstddef>
#include <cstdint>
#include <span>

#include "runtime/cache_line.h"
#include "runtime/prefetch.h"
#include "src/utils/keyed_hash.h"
#include "src/utils/name_set.h"
#include "src/utils/page_memory.h"

namespace quelmar::base {

// Shards side by side in an array are worked by different threads, so each
// index keeps its own cache line.
class alignas(runtime::kCacheLine) NameIndex {
public:
    using Key = std::uint64_t;
    struct Slot {
        Key key;
        std::uint32_t id;
        // 0 marks an empty slot; otherwise 1 + the tally, plus kNew while
        // the name waits for its id.
        std::uint32_t tag;
    };
    static constexpr std::uint32_t kNew = std::uint32_t{1} << 31;

    // Hint that `key` will be looked up soon: its slot is loaded meanwhile,
    // and so is the slot three on, whose line a probe that starts late in
    // its line runs into (claim took a tenth less time at 100M lines).
    void prefetch(Key key) const {
        if (slots_.size() != 0) {
            runtime::prefetch(&slots_[key & mask_]);
            runtime::prefetch(&slots_[(key + 3) & mask_]);
        }
    }

    // The slot of `key`; when absent, a new one claimed with `id` (and
    // `claimed` set). Valid until the next claim.
    Slot& find_or_claim(Key key, std::uint32_t id, bool& claimed) {
        if (size_ >= grow_at_) [[unlikely]]
            grow();
        return probe(key, id, claimed);
    }
    // The same, for a caller that keeps slot indices of this table: when
    // the claim grows the table, `followed` are pointed to where their
    // slots moved.
    Slot& find_or_claim(Key key, std::uint32_t id, bool& claimed,
                        std::span<std::uint32_t> followed) {
        if (size_ >= grow_at_) [[unlikely]]
            grow_following(followed);
        return probe(key, id, claimed);
    }
    std::uint32_t index_of(const Slot& slot) const {
        return static_cast<std::uint32_t>(&slot - slots_.data());
    }
    Slot& slot_at(std::uint32_t index) { return slots_[index]; }
    void prefetch_slot(std::uint32_t index) const { runtime::prefetch(&slots_[index]); }

    // Calls visit(slot) for every claimed slot, in table order.
    template <class Visit>
    void for_each(Visit&& visit) const {
        for (std::size_t i = 0; i < slots_.size(); ++i) {
            if (slots_[i].tag != 0) visit(slots_[i]);
        }
    }

    // Releases the table's memory; the index is empty afterwards.
    void clear();

    // A name's key, a keyed hash (src/utils/keyed_hash.h) that is a
    // bijection: its shard is taken from the high bits, its home slot from
    // the low ones. Ids and results never depend on the hash's key.
    static Key key_of(utils::NodeName name) { return utils::mix_bits(name ^ kHashKey); }
    static utils::NodeName name_of(Key key) { return utils::unmix_bits(key) ^ kHashKey; }

private:
    static const std::uint64_t kHashKey;
    Slot& probe(Key key, std::uint32_t id, bool& claimed) {
        for (std::size_t i = key & mask_;; i = (i + 1) & mask_) {
            Slot& slot = slots_[i];
            if (slot.tag == 0) {
                slot = {key, id, 1};
                ++size_;
                claimed = true;
                return slot;
            }
            if (slot.key == key) {
                claimed = false;
                return slot;
            }
        }
    }
    void allocate(std::size_t capacity);
    utils::PageArray<Slot> grow();
    void grow_following(std::span<std::uint32_t> followed);

    utils::PageArray<Slot> slots_;
    std::size_t mask_ = 0;
    std::size_t size_ = 0;
    std::size_t grow_at_ = 0;
};

}  // namespace quelmar::base
