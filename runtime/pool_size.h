#pragma once
// How many worker threads the process-wide pool gets. The rule, decided once
// when the pool is created:
//   1. an explicit request greater than 0;
//   2. else "RAYON_NUM_THREADS" when it is an unsigned decimal integer (0 means
//      one worker per available processor);
//   3. else "RAYON_RS_NUM_CPUS" when it is an unsigned decimal integer above 0;
//   4. else the number of processors available to the process.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>

namespace quelmar::runtime {

// Digits only, optionally after one "+", no blanks, at most 2^64 - 1.
std::optional<std::uint64_t> parse_unsigned_env(std::string_view text) noexcept;

// The size rule on given inputs; null environment values mean "unset".
std::size_t resolve_pool_size(std::size_t requested, const char* num_threads_env,
                              const char* num_cpus_env, std::size_t available) noexcept;

// Processors this process may use: the control-group CPU quota when one is set,
// bounded by the affinity mask (first 1024 processors); the online count when
// the mask cannot be read; never less than 1.
std::size_t available_parallelism() noexcept;

// resolve_pool_size on the live environment and processor count.
std::size_t pool_size_for(std::size_t requested) noexcept;

}  // namespace quelmar::runtime
