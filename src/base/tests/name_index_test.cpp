#include "src/base/name_index.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

namespace quelmar::base {
namespace {

// Claims `count` distinct keys, noting the slot of each new one, as the
// builder's claim step does; the table grows many times on the way.
struct Claimed {
    NameIndex index;
    std::vector<NameIndex::Key> keys;
    std::vector<std::uint32_t> slots;

    explicit Claimed(std::uint32_t count, bool follow) {
        for (std::uint32_t i = 0; i < count; ++i) {
            const NameIndex::Key key = NameIndex::key_of(i * 7919u + 3);
            bool claimed = false;
            NameIndex::Slot& slot = follow ? index.find_or_claim(key, i, claimed, slots)
                                           : index.find_or_claim(key, i, claimed);
            EXPECT_TRUE(claimed);
            keys.push_back(key);
            slots.push_back(index.index_of(slot));
        }
    }
};

TEST(NameIndex, FollowedSlotsMoveWithTheirKeysWhenTheTableGrows) {
    Claimed followed(5000, true);
    for (std::size_t k = 0; k < followed.keys.size(); ++k) {
        const NameIndex::Slot& slot = followed.index.slot_at(followed.slots[k]);
        ASSERT_EQ(slot.key, followed.keys[k]) << "key " << k;
        EXPECT_EQ(slot.id, k);
    }
    // Growth did move slots: unfollowed, the first ones noted go stale.
    Claimed unfollowed(5000, false);
    std::size_t stale = 0;
    for (std::size_t k = 0; k < unfollowed.keys.size(); ++k) {
        stale += unfollowed.index.slot_at(unfollowed.slots[k]).key != unfollowed.keys[k];
    }
    EXPECT_GT(stale, 0u);
}

}  // namespace
}  // namespace quelmar::base
