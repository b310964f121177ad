#include "src/base/name_index.h"

namespace quelmar::base {
namespace {

constexpr std::size_t kFirstCapacity = 256;

}  // namespace

const std::uint64_t NameIndex::kHashKey = utils::process_key();

// Fresh pages are zero: every slot starts empty. Lookups land on random
// slots, so huge pages spare a page-table walk on nearly every one.
void NameIndex::allocate(std::size_t capacity) {
    slots_ = utils::PageArray<Slot>::with_huge_pages(capacity);
    mask_ = capacity - 1;
    grow_at_ = capacity / 5 * 4;
    size_ = 0;
}

// The old table comes back with each claimed slot's id replaced by the
// index the slot moved to.
utils::PageArray<NameIndex::Slot> NameIndex::grow() {
    utils::PageArray<Slot> old = std::move(slots_);
    const std::size_t old_capacity = old.size();
    allocate(old_capacity == 0 ? kFirstCapacity : 2 * old_capacity);
    for (std::size_t i = 0; i < old_capacity; ++i) {
        Slot& slot = old[i];
        if (slot.tag == 0) continue;
        std::size_t at = slot.key & mask_;
        while (slots_[at].tag != 0) at = (at + 1) & mask_;
        slots_[at] = slot;
        slot.id = static_cast<std::uint32_t>(at);
        ++size_;
    }
    return old;
}

void NameIndex::grow_following(std::span<std::uint32_t> followed) {
    const utils::PageArray<Slot> old = grow();
    for (std::uint32_t& index : followed) index = old[index].id;
}

void NameIndex::clear() { *this = NameIndex(); }

}  // namespace quelmar::base
