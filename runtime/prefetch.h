#pragma once
// A hint that the cache line at `address` will be read soon. The compiler's
// own hint counts as having no effect, so a small function made only of it
// (a lookahead's prefetch step, say) can be judged free of effects and its
// calls dropped; the empty statement below marks it as having one. A read
// hint also serves lines about to be written: the write-hint instruction is
// not in the base x86-64 set, and a line this core alone holds is written
// without another trip.

#include <cstddef>
#include <cstdint>

namespace quelmar::runtime {

inline void prefetch(const void* address) {
    __builtin_prefetch(address);
    asm volatile("" : : "r"(address));
}

// How far ahead prefetch_ahead fetches. Measured on the loaders' loops:
// 512 bytes and 2 KiB did equally well (text lines read 18% faster, the
// graph's layout 10%, its bucket fill 7%, the name partition 7%).
inline constexpr std::size_t kReadAheadBytes = 2048;

// Hint that the bytes kReadAheadBytes past `address` will be read soon, for
// an array read in order: the hardware fetches ahead only within a page, and
// not at all for lines another core wrote last. The address may lie past
// the array's end.
inline void prefetch_ahead(const void* address) {
    prefetch(
        reinterpret_cast<const void*>(reinterpret_cast<std::uintptr_t>(address) + kReadAheadBytes));
}

}  // namespace quelmar::runtime
