#include "src/utils/page_memory.h"

#include <sys/mman.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <new>

namespace quelmar::utils {

void release_pages(void* begin, std::size_t bytes) {
    static const auto page = static_cast<std::uintptr_t>(::sysconf(_SC_PAGESIZE));
    const auto start = reinterpret_cast<std::uintptr_t>(begin);
    const std::uintptr_t first = (start + page - 1) & ~(page - 1);
    const std::uintptr_t last = (start + bytes) & ~(page - 1);
    if (last > first) ::madvise(reinterpret_cast<void*>(first), last - first, MADV_DONTNEED);
}

void* map_pages(std::size_t bytes, bool huge, bool prefault) {
    void* data = ::mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (data == MAP_FAILED) throw std::bad_alloc();
    constexpr std::size_t kHugePage = std::size_t{2} << 20;
    if (huge && bytes >= 2 * kHugePage) ::madvise(data, bytes, MADV_HUGEPAGE);
    if (prefault && ::madvise(data, bytes, MADV_POPULATE_WRITE) != 0) {
        if (errno == ENOMEM) {
            ::munmap(data, bytes);
            throw std::bad_alloc();
        }
        // Older kernels: a write faults a page in writable at once.
        static const auto page = static_cast<std::size_t>(::sysconf(_SC_PAGESIZE));
        auto* bytes_at = static_cast<volatile unsigned char*>(data);
        for (std::size_t at = 0; at < bytes; at += page) bytes_at[at] = 0;
    }
    return data;
}

void unmap_pages(void* data, std::size_t bytes) noexcept { ::munmap(data, bytes); }

}  // namespace quelmar::utils
