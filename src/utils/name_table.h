#pragma once
// NameTable: the map from node name to node id inside NameSet, kept small
// because a loaded graph holds it for its whole life. Open addressing with
// linear probing over 12-byte slots (the name's keyed hash in two 32-bit
// words, then the id), so a lookup usually touches one cache line and the
// table takes about 16 bytes per name at its 3/4 load. Names are never
// removed.
//
// A slot holds mix_bits(name ^ key) (src/utils/keyed_hash.h) in place of the
// name: a bijection, so equal hashes mean equal names, and the name itself is
// never needed (NameSet keeps the names in id order). The home slot of a hash
// is the hash scaled onto the capacity by a multiply-shift, so the capacity
// need not be a power of two and input files cannot steer the probing. Which
// slot a name lands in depends on the key; what the table answers never does.
//
// The slots are kept in ascending order of hash, a run past its home running
// on into the slots after it rather than wrapping round to the start (a spare
// stretch at the end takes the overflow; a run that would leave even that
// makes the table grow). Since homes rise with hashes, a lookup stops at the
// first slot holding a larger hash: an absent name costs about as few probes
// as a present one, where unordered probing at 3/4 load would read on through
// about 8 slots to the run's end. Growth reads the old slots in order and
// writes the new ones in order, never at random.
//
// Empty slots hold the hash 0: fresh pages read as zeros, so a new table
// needs no filling. The one name whose hash is 0, process_key() itself, so
// never goes into a slot; its id is kept beside the slots. Every id from 0 to
// 2^32 - 1 can be stored.
//
// The slots' memory comes straight from the system (PageArray), so a dropped
// table gives it back; the smallest table fills one page. Ordinary pages,
// not huge ones: where the system compacts memory to serve a huge-page fault,
// the first table built in a process took three to four times as long (150
// to 200 ns a name at 2.5M names, against 45), while lookups that prefetch
// ahead, as the loaders do, gain almost nothing from huge pages. Lookups are
// safe from several threads at once; insertions are not.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <utility>
#include <vector>

#include "runtime/prefetch.h"
#include "runtime/worker_pool.h"
#include "src/utils/keyed_hash.h"
#include "src/utils/page_memory.h"

namespace quelmar::utils {

class NameTable {
public:
    // Room for `expected` names at 3/4 load: no growth until then.
    explicit NameTable(std::size_t expected = 0);

    // Large: moved, never copied.
    NameTable(const NameTable&) = delete;
    NameTable& operator=(const NameTable&) = delete;
    NameTable(NameTable&& other) noexcept;
    NameTable& operator=(NameTable&& other) noexcept;

    std::size_t size() const noexcept { return slot_count_ + (has_key_name_ ? 1 : 0); }
    // Home slots: the table grows once names would fill more than 4/5 of them.
    std::size_t capacity() const noexcept { return capacity_; }
    // Memory held by the slots, the spare stretch included.
    std::size_t bytes() const noexcept { return slots_.size() * sizeof(Slot); }

    // The id of `name` and false when present; otherwise stores `id` for it
    // and returns that and true.
    std::pair<std::uint32_t, bool> insert(std::uint64_t name, std::uint32_t id);

    // Inserts id_to_name[i] with id i for every i into this empty table
    // (sized for them when it has no slots yet), side by side on `pool` (null: this thread), while
    // on_caller() runs on the calling thread. The home slots are cut into
    // one stretch per worker, each filled by one worker from the names whose
    // homes fall in it; a name whose run would reach past its stretch is
    // inserted afterwards. The slots come out as any order of insertion
    // leaves them. False when a name occurs twice.
    bool insert_all(std::span<const std::uint64_t> id_to_name, runtime::WorkerPool* pool,
                    const std::function<void()>& on_caller);

    // The id of `name` if present.
    std::optional<std::uint32_t> find(std::uint64_t name) const {
        const std::uint64_t hash = hash_of(name);
        if (hash == 0) [[unlikely]]
            return has_key_name_ ? std::optional<std::uint32_t>(key_name_id_) : std::nullopt;
        if (capacity_ == 0) return std::nullopt;
        for (const Slot* slot = &slots_[home(hash)];; ++slot) {
            const std::uint64_t held = slot->hash();
            if (held == hash) return slot->id;
            // Empty (0, which wraps round to the largest) or past the hash.
            if (held - 1 >= hash) return std::nullopt;
        }
    }

    // Hint that `name` will be looked up soon: its home slot is loaded
    // meanwhile, with the next line when the home slot or the two after it
    // reach into it, as a lookup often reads on that far (the clustering
    // load took 3-5% less processor time than fetching the home slot alone).
    void prefetch(std::uint64_t name) const {
        if (capacity_ != 0) prefetch_from(home(hash_of(name)));
    }

private:
    struct Slot {
        std::uint32_t low;   // the hash's low half
        std::uint32_t high;  // the hash's high half
        std::uint32_t id;

        static Slot of(std::uint64_t hash, std::uint32_t id) {
            return {static_cast<std::uint32_t>(hash), static_cast<std::uint32_t>(hash >> 32), id};
        }
        std::uint64_t hash() const { return std::uint64_t{high} << 32 | low; }
    };
    static_assert(sizeof(Slot) == 12);

    std::uint64_t hash_of(std::uint64_t name) const { return mix_bits(name ^ key_); }
    static std::size_t home(std::uint64_t hash, std::size_t capacity) {
        return static_cast<std::size_t>((static_cast<unsigned __int128>(hash) * capacity) >> 64);
    }
    std::size_t home(std::uint64_t hash) const { return home(hash, capacity_); }

    enum class Placed { kInserted, kPresent, kBlocked };
    // insert() of a name whose home lies below `limit`, without growing and
    // without touching any slot at or past `limit` (kBlocked instead).
    Placed insert_below(std::uint64_t hash, std::uint32_t id, std::size_t limit);
    // insert_all's share of one worker: the names whose homes fall in
    // stretch `stretch` of `stretches`. Returns the names placed; the ids of
    // those blocked (and of the name whose hash is 0) go to `blocked`.
    std::size_t fill_stretch(std::span<const std::uint64_t> id_to_name, std::size_t stretch,
                             std::size_t stretches, std::vector<std::uint32_t>& blocked,
                             bool& repeated);

    void prefetch_from(std::size_t at) const {
        runtime::prefetch(&slots_[at]);
        runtime::prefetch(reinterpret_cast<const char*>(&slots_[at]) + 3 * sizeof(Slot) - 1);
    }

    // Into a table of at least `capacity` home slots.
    void grow(std::size_t capacity);

    // capacity_ home slots, then the spare stretch, whose last slot stays
    // empty so that every run ends inside the array.
    PageArray<Slot> slots_;
    // The process's key, held here so that no table depends on the order in
    // which statics start.
    std::uint64_t key_ = process_key();
    std::size_t capacity_ = 0;
    std::size_t slot_count_ = 0;  // names in slots: all but the key name
    std::size_t grow_at_ = 0;
    bool has_key_name_ = false;
    std::uint32_t key_name_id_ = 0;
};

}  // namespace quelmar::utils
