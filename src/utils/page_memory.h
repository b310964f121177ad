#pragma once
// Memory for big scratch arrays of plain values, taken straight from the
// system: it is zero-filled and costs nothing until touched, it goes back to
// the system the moment it is released (a general-purpose allocator may keep
// freed blocks for reuse, and did, holding on to memory a load had already
// consumed), and stretches of it can be handed back early.

#include <cstddef>
#include <type_traits>
#include <utility>

namespace quelmar::utils {

// Hands back the whole pages inside [begin, begin + bytes); they read as
// zeros if touched again. The surrounding allocation stays valid.
void release_pages(void* begin, std::size_t bytes);

// Fresh zero-filled pages; with `huge`, transparent huge pages are asked for
// when the range is large enough to hold some. With `prefault`, every page is
// made present and writable at once: a table read before it is written would
// otherwise map the shared zero page on the read, and the write that follows
// must flush that mapping from every core running the process, an
// interrupt to each of them per page (this cost a tenth of a 100M-line load,
// in a virtual machine).
void* map_pages(std::size_t bytes, bool huge = false, bool prefault = false);
void unmap_pages(void* data, std::size_t bytes) noexcept;

template <class T>
class PageArray {
    static_assert(std::is_trivially_copyable_v<T>);

public:
    PageArray() = default;
    explicit PageArray(std::size_t size) : PageArray(size, false, false) {}

    // For arrays read and written at random, where page-table walks would
    // cost more than the misses themselves. Only worth it for those: huge
    // pages take longer to fault in.
    // Prefaulted, as table() is.
    static PageArray with_huge_pages(std::size_t size) { return PageArray(size, true, true); }
    // For tables whose slots are read before they are written (map_pages).
    static PageArray table(std::size_t size) { return PageArray(size, false, true); }
    PageArray(PageArray&& other) noexcept
        : data_(std::exchange(other.data_, nullptr)), size_(std::exchange(other.size_, 0)) {}
    PageArray& operator=(PageArray&& other) noexcept {
        if (this != &other) {
            reset();
            data_ = std::exchange(other.data_, nullptr);
            size_ = std::exchange(other.size_, 0);
        }
        return *this;
    }
    PageArray(const PageArray&) = delete;
    PageArray& operator=(const PageArray&) = delete;
    ~PageArray() { reset(); }

    T* data() noexcept { return data_; }
    const T* data() const noexcept { return data_; }
    std::size_t size() const noexcept { return size_; }
    T& operator[](std::size_t i) noexcept { return data_[i]; }
    const T& operator[](std::size_t i) const noexcept { return data_[i]; }

    // Hands back the pages of elements [first, first + count) that hold
    // nothing of value any more.
    void release(std::size_t first, std::size_t count) {
        release_pages(data_ + first, count * sizeof(T));
    }

    void reset() noexcept {
        if (data_) unmap_pages(data_, size_ * sizeof(T));
        data_ = nullptr;
        size_ = 0;
    }

private:
    PageArray(std::size_t size, bool huge, bool prefault)
        : data_(size ? static_cast<T*>(map_pages(size * sizeof(T), huge, prefault)) : nullptr),
          size_(size) {}

    T* data_ = nullptr;
    std::size_t size_ = 0;
};

}  // namespace quelmar::utils
