#include "src/utils/name_table.h"

#include <algorithm>
#include <cstring>

#include "runtime/cache_line.h"
#include "runtime/parallel.h"

namespace quelmar::utils {
namespace {

// With its spare stretch, one 4 KiB page of slots: the least a table takes
// from the system anyway.
constexpr std::size_t kFirstCapacity = 272;

// 3/4 load for the expected names; growth past 4/5 by half again.
std::size_t capacity_for(std::size_t expected) {
    return std::max(kFirstCapacity, expected + (expected + 2) / 3);
}
std::size_t grow_at(std::size_t capacity) { return capacity * 4 / 5; }

// The spare stretch after the home slots. The run that covers the last home
// slot is rarely more than a few dozen slots long at 4/5 load; the chance
// that it passes this many falls off exponentially with the length.
std::size_t spare_for(std::size_t capacity) { return 64 + capacity / 64; }

}  // namespace

// Fresh pages are zero: every slot starts empty.
NameTable::NameTable(std::size_t expected) {
    if (expected == 0) return;
    capacity_ = capacity_for(expected);
    slots_ = PageArray<Slot>::table(capacity_ + spare_for(capacity_));
    grow_at_ = grow_at(capacity_);
}

NameTable::NameTable(NameTable&& other) noexcept
    : slots_(std::move(other.slots_)),
      key_(other.key_),
      capacity_(std::exchange(other.capacity_, 0)),
      slot_count_(std::exchange(other.slot_count_, 0)),
      grow_at_(std::exchange(other.grow_at_, 0)),
      has_key_name_(std::exchange(other.has_key_name_, false)),
      key_name_id_(std::exchange(other.key_name_id_, 0)) {}

NameTable& NameTable::operator=(NameTable&& other) noexcept {
    if (this != &other) {
        slots_ = std::move(other.slots_);
        key_ = other.key_;
        capacity_ = std::exchange(other.capacity_, 0);
        slot_count_ = std::exchange(other.slot_count_, 0);
        grow_at_ = std::exchange(other.grow_at_, 0);
        has_key_name_ = std::exchange(other.has_key_name_, false);
        key_name_id_ = std::exchange(other.key_name_id_, 0);
    }
    return *this;
}

std::pair<std::uint32_t, bool> NameTable::insert(std::uint64_t name, std::uint32_t id) {
    const std::uint64_t hash = hash_of(name);
    if (hash == 0) [[unlikely]] {
        if (has_key_name_) return {key_name_id_, false};
        has_key_name_ = true;
        key_name_id_ = id;
        return {id, true};
    }
    if (slot_count_ >= grow_at_) [[unlikely]]
        grow(capacity_ + capacity_ / 2);
    for (;;) {
        // The first slot that is empty or holds a larger hash; the last slot
        // is always empty.
        std::size_t at = home(hash);
        std::uint64_t held;
        while ((held = slots_[at].hash()) != 0 && held < hash) ++at;
        if (held == hash) return {slots_[at].id, false};
        // The larger hashes from there on move up by one, into the next
        // empty slot but the last.
        std::size_t empty = at;
        while (slots_[empty].hash() != 0) ++empty;
        if (empty + 1 == slots_.size()) [[unlikely]] {
            grow(capacity_ + capacity_ / 2);
            continue;
        }
        std::memmove(&slots_[at + 1], &slots_[at], (empty - at) * sizeof(Slot));
        slots_[at] = Slot::of(hash, id);
        ++slot_count_;
        return {id, true};
    }
}

NameTable::Placed NameTable::insert_below(std::uint64_t hash, std::uint32_t id, std::size_t limit) {
    std::size_t at = home(hash);
    std::uint64_t held = 0;
    while (at < limit && (held = slots_[at].hash()) != 0 && held < hash) ++at;
    if (at == limit) return Placed::kBlocked;
    if (held == hash) return Placed::kPresent;
    std::size_t empty = at;
    while (empty < limit && slots_[empty].hash() != 0) ++empty;
    if (empty == limit) return Placed::kBlocked;
    std::memmove(&slots_[at + 1], &slots_[at], (empty - at) * sizeof(Slot));
    slots_[at] = Slot::of(hash, id);
    return Placed::kInserted;
}

// Every worker reads all the names and keeps those of its stretch: hashing
// twice costs less than sorting the names by stretch first. Homes are
// random, so the home of the name kLookahead ahead is fetched meanwhile,
// and the names themselves further ahead (building the graph's names took
// 10% less processor time at 20M).
std::size_t NameTable::fill_stretch(std::span<const std::uint64_t> id_to_name, std::size_t stretch,
                                    std::size_t stretches, std::vector<std::uint32_t>& blocked,
                                    bool& repeated) {
    constexpr std::size_t kLookahead = 16;
    const std::size_t first_home = capacity_ * stretch / stretches;
    const std::size_t end_home = capacity_ * (stretch + 1) / stretches;
    // The last slot stays empty.
    const std::size_t limit = stretch + 1 < stretches ? end_home : slots_.size() - 1;
    std::uint64_t hashes[2 * kLookahead];
    auto ahead = [&](std::size_t id) {
        runtime::prefetch_ahead(&id_to_name[id]);
        const std::uint64_t hash = hash_of(id_to_name[id]);
        hashes[id % (2 * kLookahead)] = hash;
        const std::size_t at = home(hash);
        if (at >= first_home && at < end_home) prefetch_from(at);
    };
    const std::size_t count = id_to_name.size();
    for (std::size_t id = 0; id < std::min(count, kLookahead); ++id) ahead(id);
    std::size_t placed = 0;
    for (std::size_t id = 0; id < count; ++id) {
        if (id + kLookahead < count) ahead(id + kLookahead);
        const std::uint64_t hash = hashes[id % (2 * kLookahead)];
        const auto as_id = static_cast<std::uint32_t>(id);
        if (hash == 0) [[unlikely]] {
            if (stretch == 0) blocked.push_back(as_id);
            continue;
        }
        const std::size_t at = home(hash);
        if (at < first_home || at >= end_home) continue;
        switch (insert_below(hash, as_id, limit)) {
            case Placed::kInserted: ++placed; break;
            case Placed::kPresent: repeated = true; return placed;
            case Placed::kBlocked: blocked.push_back(as_id); break;
        }
    }
    return placed;
}

bool NameTable::insert_all(std::span<const std::uint64_t> id_to_name, runtime::WorkerPool* pool,
                           const std::function<void()>& on_caller) {
    auto call_caller = [&] {
        if (on_caller) on_caller();
    };
    if (id_to_name.empty()) {
        call_caller();
        return true;
    }
    if (capacity_ == 0) *this = NameTable(id_to_name.size());
    struct Share {
        std::vector<std::uint32_t> blocked;
        std::size_t placed = 0;
        bool repeated = false;
    };
    const std::size_t stretches = runtime::worker_count(pool);
    std::vector<runtime::OwnLine<Share>> shares(stretches);
    runtime::parallel_for_beside_caller(
        pool, stretches,
        [&](std::size_t s) {
            Share& share = shares[s].value;
            share.placed = fill_stretch(id_to_name, s, stretches, share.blocked, share.repeated);
        },
        call_caller);
    for (const auto& share : shares) {
        if (share.value.repeated) return false;
        slot_count_ += share.value.placed;
    }
    for (const auto& share : shares) {
        for (const std::uint32_t id : share.value.blocked) {
            if (!insert(id_to_name[id], id).second) return false;
        }
    }
    return true;
}

// The old slots are in ascending order of hash, and so are their new homes:
// each goes to its home or, when that is taken, just after the one placed
// before it. Should that run into the last slot, a larger table is tried.
void NameTable::grow(std::size_t capacity) {
    for (capacity = std::max(kFirstCapacity, capacity);; capacity += capacity / 2) {
        auto slots = PageArray<Slot>::table(capacity + spare_for(capacity));
        std::size_t next = 0;
        for (std::size_t i = 0; i < slots_.size() && next < slots.size(); ++i) {
            const std::uint64_t hash = slots_[i].hash();
            if (hash == 0) continue;
            next = std::max(next, home(hash, capacity));
            if (next + 1 < slots.size()) slots[next] = slots_[i];
            ++next;
        }
        if (next < slots.size()) {
            slots_ = std::move(slots);
            capacity_ = capacity;
            grow_at_ = grow_at(capacity);
            return;
        }
    }
}

}  // namespace quelmar::utils
