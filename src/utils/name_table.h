#pragma once
// NameTable: the map from node name to node id inside NameSet, kept small
// because a loaded graph holds it for its whole life. Open addressing with
// linear probing over 12-byte slots (the name in two 32-bit words, then the
// id), so a lookup usually touches one cache line and the table takes about
// 16 bytes per name at its 3/4 load. Names are never removed.
//
// The home slot of a name is its keyed hash (src/utils/keyed_hash.h) scaled
// onto the capacity by a multiply-shift, so the capacity need not be a power
// of two and input files cannot steer the probing. Which slot a name lands in
// depends on the key; what the table answers never does.
//
// Empty slots hold the name 0: fresh pages read as zeros, so a new table
// needs no filling. The name 0 itself therefore never goes into a slot; its
// id is kept beside the slots. Every id from 0 to 2^32 - 1 can be stored.
//
// The slots' memory comes straight from the system (PageArray, with huge
// pages once large, since lookups land at random), so a dropped table gives
// it back; the smallest table fills one page.
// Lookups are safe from several threads at once; insertions are not.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <utility>

#include "runtime/prefetch.h"
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

    std::size_t size() const noexcept { return slot_count_ + (has_zero_ ? 1 : 0); }
    std::size_t capacity() const noexcept { return slots_.size(); }
    // Memory held by the slots.
    std::size_t bytes() const noexcept { return slots_.size() * sizeof(Slot); }

    // The id of `name` and false when present; otherwise stores `id` for it
    // and returns that and true. Grows the table when the name would fill it
    // past 4/5.
    std::pair<std::uint32_t, bool> insert(std::uint64_t name, std::uint32_t id) {
        if (name == 0) [[unlikely]]
            return insert_zero(id);
        if (slot_count_ >= grow_at_) [[unlikely]]
            grow();
        const Slot wanted = Slot::of(name, id);
        for (std::size_t i = home(name);; i = next(i)) {
            Slot& slot = slots_[i];
            if (slot.empty()) {
                slot = wanted;
                ++slot_count_;
                return {id, true};
            }
            if (slot.same_name(wanted)) return {slot.id, false};
        }
    }

    // The id of `name` if present.
    std::optional<std::uint32_t> find(std::uint64_t name) const {
        if (name == 0) [[unlikely]]
            return has_zero_ ? std::optional<std::uint32_t>(zero_id_) : std::nullopt;
        if (slots_.size() == 0) return std::nullopt;
        const Slot wanted = Slot::of(name, 0);
        for (std::size_t i = home(name);; i = next(i)) {
            const Slot& slot = slots_[i];
            if (slot.same_name(wanted)) return slot.id;
            if (slot.empty()) return std::nullopt;
        }
    }

    // Hint that `name` will be looked up soon: its home slot is loaded
    // meanwhile, both lines of it when it straddles two.
    void prefetch(std::uint64_t name) const {
        if (slots_.size() == 0) return;
        const Slot* slot = &slots_[home(name)];
        runtime::prefetch(slot);
        runtime::prefetch(reinterpret_cast<const char*>(slot) + sizeof(Slot) - 1);
    }

private:
    struct Slot {
        std::uint32_t low;   // the name's low half
        std::uint32_t high;  // the name's high half
        std::uint32_t id;

        static Slot of(std::uint64_t name, std::uint32_t id) {
            return {static_cast<std::uint32_t>(name), static_cast<std::uint32_t>(name >> 32), id};
        }
        std::uint64_t name() const { return std::uint64_t{high} << 32 | low; }
        bool empty() const { return (low | high) == 0; }
        bool same_name(const Slot& other) const { return name() == other.name(); }
    };
    static_assert(sizeof(Slot) == 12);

    static const std::uint64_t kKey;

    std::size_t home(std::uint64_t name) const {
        const std::uint64_t hash = mix_bits(name ^ kKey);
        return static_cast<std::size_t>((static_cast<unsigned __int128>(hash) * slots_.size()) >>
                                        64);
    }
    std::size_t next(std::size_t i) const { return i + 1 == slots_.size() ? 0 : i + 1; }

    std::pair<std::uint32_t, bool> insert_zero(std::uint32_t id);
    void grow();
    // Places a name known to be absent; the slots have room.
    void place(const Slot& slot);

    PageArray<Slot> slots_;
    std::size_t slot_count_ = 0;  // names in slots: all but the name 0
    std::size_t grow_at_ = 0;
    bool has_zero_ = false;
    std::uint32_t zero_id_ = 0;
};

}  // namespace quelmar::utils
