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

void NameIndex::grow() {
    const utils::PageArray<Slot> old = std::move(slots_);
    const std::size_t old_capacity = old.size();
    allocate(old_capacity == 0 ? kFirstCapacity : 2 * old_capacity);
    for (std::size_t i = 0; i < old_capacity; ++i) {
        const Slot& slot = old[i];
        if (slot.tag == 0) continue;
        std::size_t at = slot.key & mask_;
        while (slots_[at].tag != 0) at = (at + 1) & mask_;
        slots_[at] = slot;
        ++size_;
    }
}

void NameIndex::clear() { *this = NameIndex(); }

}  // namespace quelmar::base
