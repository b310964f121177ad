#include "src/utils/mapped_vector.h"

#include <sys/mman.h>
#include <unistd.h>

#include <new>

namespace quelmar::utils::mapped_memory {

std::size_t round_to_pages(std::size_t bytes) {
    static const auto page = static_cast<std::size_t>(::sysconf(_SC_PAGESIZE));
    return (bytes + page - 1) / page * page;
}

void* remap(void* data, std::size_t old_bytes, std::size_t new_bytes) {
    if (new_bytes == 0) {
        unmap(data, old_bytes);
        return nullptr;
    }
    void* moved = data == nullptr ? ::mmap(nullptr, new_bytes, PROT_READ | PROT_WRITE,
                                           MAP_PRIVATE | MAP_ANONYMOUS, -1, 0)
                                  : ::mremap(data, old_bytes, new_bytes, MREMAP_MAYMOVE);
    if (moved == MAP_FAILED) throw std::bad_alloc();
    return moved;
}

void unmap(void* data, std::size_t bytes) noexcept {
    if (data) ::munmap(data, bytes);
}

}  // namespace quelmar::utils::mapped_memory
