#pragma once
// A keyed 64-bit hash for tables and fingerprints that must not be steerable
// by input files: a bit mixer (every input bit flips each output bit with
// probability about one half) over the value combined with a key drawn once
// per process from the system's random source. Results built on it never
// depend on the key; only speed (a hash table's probing) or the odds of a
// fingerprint collision (about 2^-64) do.

#include <cstdint>

namespace quelmar::utils {

// Drawn on first use; the same for every caller in this process.
std::uint64_t process_key();

// Scrambles the bits of `x`; a bijection on 64-bit values.
inline std::uint64_t mix_bits(std::uint64_t x) noexcept {
    x = (x ^ (x >> 33)) * 0xFF51AFD7ED558CCDULL;
    x = (x ^ (x >> 33)) * 0xC4CEB9FE1A85EC53ULL;
    return x ^ (x >> 33);
}

namespace detail {
// The inverse of an odd number modulo 2^64 (Newton's iteration).
constexpr std::uint64_t odd_inverse(std::uint64_t odd) {
    std::uint64_t x = odd;
    for (int i = 0; i < 6; ++i) x *= 2 - odd * x;
    return x;
}
}  // namespace detail

// The inverse of mix_bits: unmix_bits(mix_bits(x)) == x.
inline std::uint64_t unmix_bits(std::uint64_t x) noexcept {
    x = (x ^ (x >> 33)) * detail::odd_inverse(0xC4CEB9FE1A85EC53ULL);
    x = (x ^ (x >> 33)) * detail::odd_inverse(0xFF51AFD7ED558CCDULL);
    return x ^ (x >> 33);
}

}  // namespace quelmar::utils
