#pragma once
// A hint that the cache line at `address` will be read soon. The compiler's
// own hint counts as having no effect, so a small function made only of it
// (a lookahead's prefetch step, say) can be judged free of effects and its
// calls dropped; the empty statement below marks it as having one. A read
// hint also serves lines about to be written: the write-hint instruction is
// not in the base x86-64 set, and a line this core alone holds is written
// without another trip.

namespace quelmar::runtime {

inline void prefetch(const void* address) {
    __builtin_prefetch(address);
    asm volatile("" : : "r"(address));
}

}  // namespace quelmar::runtime
