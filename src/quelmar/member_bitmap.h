#pragma once
// The member bitmap of a packed cluster: a Roaring bitmap of 32-bit node ids,
// owned, immutable, and read through the few operations the passes need.
// Either a bitmap of its own, or a read-only view of a bitmap serialised into
// memory its clustering owns (MemberSlab): a view takes one allocation
// instead of two per container, which halves the memory of clusters whose
// members are scattered over the node ids. Reads are the same either way.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <vector>

#include <roaring/roaring.hh>

namespace quelmar {

class MemberBitmap {
public:
    MemberBitmap() = default;
    // The bitmap of `ids` (ascending, distinct), compressed as far as runs
    // allow and without spare capacity.
    static MemberBitmap of(std::span<const std::uint32_t> ids);

    MemberBitmap(MemberBitmap&& other) noexcept : bitmap_(other.bitmap_) {
        other.bitmap_ = nullptr;
    }
    MemberBitmap& operator=(MemberBitmap&& other) noexcept;
    MemberBitmap(const MemberBitmap&) = delete;
    MemberBitmap& operator=(const MemberBitmap&) = delete;
    ~MemberBitmap();

    std::uint64_t cardinality() const noexcept;
    bool contains(std::uint32_t id) const noexcept;
    // Writes the members, ascending, to `out` (cardinality() of them).
    void toUint32Array(std::uint32_t* out) const noexcept;
    // Calls visit(id) for every member, ascending.
    template <class Visit>
    void for_each(Visit&& visit) const {
        roaring_iterate(
            raw(),
            [](std::uint32_t id, void* state) {
                (*static_cast<Visit*>(state))(id);
                return true;
            },
            &visit);
    }
    // Never null: an empty bitmap reads as the shared empty one.
    const roaring_bitmap_t* raw() const noexcept;

    friend bool operator==(const MemberBitmap& a, const MemberBitmap& b) noexcept;
    friend bool operator==(const MemberBitmap& a, const Roaring& b) noexcept;

private:
    friend class MemberSlab;
    explicit MemberBitmap(roaring_bitmap_t* bitmap) : bitmap_(bitmap) {}

    roaring_bitmap_t* bitmap_ = nullptr;
};

// Memory for the serialised bitmaps of a run of clusters, sized once: views
// made from it stay valid as long as the slab.
class MemberSlab {
public:
    // Serialises `bitmaps` into one block and returns views of them, in order.
    static std::vector<MemberBitmap> freeze(std::span<const Roaring> bitmaps, MemberSlab& slab);

private:
    struct Free {
        void operator()(std::byte* block) const noexcept;
    };
    std::unique_ptr<std::byte[], Free> block_;
};

// The union of many member bitmaps.
Roaring union_of(std::span<const MemberBitmap* const> bitmaps);

}  // namespace quelmar
