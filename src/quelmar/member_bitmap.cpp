#include "src/quelmar/member_bitmap.h"

#include <cstdlib>
#include <new>
#include <vector>

namespace quelmar {
namespace {

// Serialised bitmaps must start on 32-byte boundaries.
constexpr std::size_t kAlignment = 32;

std::size_t aligned(std::size_t bytes) {
    return (bytes + kAlignment - 1) / kAlignment * kAlignment;
}

const roaring_bitmap_t* empty_bitmap() {
    static const roaring_bitmap_t* const empty = roaring_bitmap_create();
    return empty;
}

}  // namespace

MemberBitmap MemberBitmap::of(std::span<const std::uint32_t> ids) {
    roaring_bitmap_t* bitmap = roaring_bitmap_of_ptr(ids.size(), ids.data());
    if (!bitmap) throw std::bad_alloc();
    roaring_bitmap_run_optimize(bitmap);
    roaring_bitmap_shrink_to_fit(bitmap);
    return MemberBitmap(bitmap);
}

MemberBitmap& MemberBitmap::operator=(MemberBitmap&& other) noexcept {
    if (this != &other) {
        if (bitmap_) roaring_bitmap_free(bitmap_);
        bitmap_ = other.bitmap_;
        other.bitmap_ = nullptr;
    }
    return *this;
}

MemberBitmap::~MemberBitmap() {
    if (bitmap_) roaring_bitmap_free(bitmap_);
}

std::uint64_t MemberBitmap::cardinality() const noexcept {
    return roaring_bitmap_get_cardinality(raw());
}

bool MemberBitmap::contains(std::uint32_t id) const noexcept {
    return roaring_bitmap_contains(raw(), id);
}

void MemberBitmap::toUint32Array(std::uint32_t* out) const noexcept {
    roaring_bitmap_to_uint32_array(raw(), out);
}

const roaring_bitmap_t* MemberBitmap::raw() const noexcept {
    return bitmap_ ? bitmap_ : empty_bitmap();
}

bool operator==(const MemberBitmap& a, const MemberBitmap& b) noexcept {
    return roaring_bitmap_equals(a.raw(), b.raw());
}

bool operator==(const MemberBitmap& a, const Roaring& b) noexcept {
    return roaring_bitmap_equals(a.raw(), &b.roaring);
}

void MemberSlab::Free::operator()(std::byte* block) const noexcept {
    ::operator delete[](block, std::align_val_t{kAlignment});
}

std::vector<MemberBitmap> MemberSlab::freeze(std::span<const Roaring> bitmaps, MemberSlab& slab) {
    std::vector<std::size_t> size(bitmaps.size());
    std::vector<std::size_t> start(bitmaps.size() + 1, 0);
    for (std::size_t i = 0; i < bitmaps.size(); ++i) {
        size[i] = roaring_bitmap_frozen_size_in_bytes(&bitmaps[i].roaring);
        start[i + 1] = start[i] + aligned(size[i]);
    }
    slab.block_.reset(static_cast<std::byte*>(
        ::operator new[](std::max<std::size_t>(start.back(), 1), std::align_val_t{kAlignment})));
    std::vector<MemberBitmap> views;
    views.reserve(bitmaps.size());
    for (std::size_t i = 0; i < bitmaps.size(); ++i) {
        char* at = reinterpret_cast<char*>(slab.block_.get() + start[i]);
        roaring_bitmap_frozen_serialize(&bitmaps[i].roaring, at);
        const roaring_bitmap_t* view = roaring_bitmap_frozen_view(at, size[i]);
        if (!view) throw std::bad_alloc();
        // Views are read-only; the library frees them like any bitmap.
        views.push_back(MemberBitmap(const_cast<roaring_bitmap_t*>(view)));
    }
    return views;
}

Roaring union_of(std::span<const MemberBitmap* const> bitmaps) {
    if (bitmaps.empty()) return Roaring();
    std::vector<const roaring_bitmap_t*> raw;
    raw.reserve(bitmaps.size());
    for (const MemberBitmap* bitmap : bitmaps) raw.push_back(bitmap->raw());
    roaring_bitmap_t* result = roaring_bitmap_or_many(raw.size(), raw.data());
    if (!result) throw std::bad_alloc();
    return Roaring(result);
}

}  // namespace quelmar
