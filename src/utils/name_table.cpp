#include "src/utils/name_table.h"

#include <algorithm>

namespace quelmar::utils {
namespace {

// One 4 KiB page of slots: the least a table takes from the system anyway.
constexpr std::size_t kFirstCapacity = 4096 / 12;

// 3/4 load for the expected names; growth past 4/5 by half again.
std::size_t capacity_for(std::size_t expected) {
    return std::max(kFirstCapacity, expected + (expected + 2) / 3);
}
std::size_t grow_at(std::size_t capacity) { return capacity * 4 / 5; }

}  // namespace

const std::uint64_t NameTable::kKey = process_key();

// Fresh pages are zero: every slot starts empty.
NameTable::NameTable(std::size_t expected) {
    if (expected == 0) return;
    const std::size_t capacity = capacity_for(expected);
    slots_ = PageArray<Slot>::with_huge_pages(capacity);
    grow_at_ = grow_at(capacity);
}

NameTable::NameTable(NameTable&& other) noexcept
    : slots_(std::move(other.slots_)),
      slot_count_(std::exchange(other.slot_count_, 0)),
      grow_at_(std::exchange(other.grow_at_, 0)),
      has_zero_(std::exchange(other.has_zero_, false)),
      zero_id_(std::exchange(other.zero_id_, 0)) {}

NameTable& NameTable::operator=(NameTable&& other) noexcept {
    if (this != &other) {
        slots_ = std::move(other.slots_);
        slot_count_ = std::exchange(other.slot_count_, 0);
        grow_at_ = std::exchange(other.grow_at_, 0);
        has_zero_ = std::exchange(other.has_zero_, false);
        zero_id_ = std::exchange(other.zero_id_, 0);
    }
    return *this;
}

std::pair<std::uint32_t, bool> NameTable::insert_zero(std::uint32_t id) {
    if (has_zero_) return {zero_id_, false};
    has_zero_ = true;
    zero_id_ = id;
    return {id, true};
}

void NameTable::grow() {
    const PageArray<Slot> old = std::move(slots_);
    const std::size_t capacity = std::max(kFirstCapacity, old.size() + old.size() / 2);
    slots_ = PageArray<Slot>::with_huge_pages(capacity);
    grow_at_ = grow_at(capacity);
    for (std::size_t i = 0; i < old.size(); ++i) {
        if (!old[i].empty()) place(old[i]);
    }
}

void NameTable::place(const Slot& slot) {
    std::size_t i = home(slot.name());
    while (!slots_[i].empty()) i = next(i);
    slots_[i] = slot;
}

}  // namespace quelmar::utils
