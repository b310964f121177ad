#pragma once
// A growable array of plain values in memory mapped straight from the
// system, for the arrays loaders fill by the hundreds of megabytes. It
// differs from a vector where that matters: growing remaps the pages instead
// of copying them into a new block (and faulting in both), new elements are
// left uninitialised instead of zeroed, and shrinking hands the tail's pages
// back at once.

#include <algorithm>
#include <cstddef>
#include <span>
#include <type_traits>
#include <utility>

namespace quelmar::utils {

namespace mapped_memory {
// Whole pages for `bytes`.
std::size_t round_to_pages(std::size_t bytes);
// Maps `new_bytes` of fresh pages, or moves [data, data + old_bytes) to a
// mapping of `new_bytes` keeping its contents; `data` may be null.
void* remap(void* data, std::size_t old_bytes, std::size_t new_bytes);
void unmap(void* data, std::size_t bytes) noexcept;
}  // namespace mapped_memory

template <class T>
class MappedVector {
    static_assert(std::is_trivially_copyable_v<T>);

public:
    MappedVector() = default;
    explicit MappedVector(std::span<const T> values) {
        resize(values.size());
        std::copy(values.begin(), values.end(), data_);
    }
    MappedVector(MappedVector&& other) noexcept
        : data_(std::exchange(other.data_, nullptr)),
          size_(std::exchange(other.size_, 0)),
          capacity_(std::exchange(other.capacity_, 0)) {}
    MappedVector& operator=(MappedVector&& other) noexcept {
        if (this != &other) {
            release();
            data_ = std::exchange(other.data_, nullptr);
            size_ = std::exchange(other.size_, 0);
            capacity_ = std::exchange(other.capacity_, 0);
        }
        return *this;
    }
    MappedVector(const MappedVector&) = delete;
    MappedVector& operator=(const MappedVector&) = delete;
    ~MappedVector() { release(); }

    std::size_t size() const noexcept { return size_; }
    std::size_t capacity() const noexcept { return capacity_; }
    bool empty() const noexcept { return size_ == 0; }
    T* data() noexcept { return data_; }
    const T* data() const noexcept { return data_; }
    T* begin() noexcept { return data_; }
    T* end() noexcept { return data_ + size_; }
    const T* begin() const noexcept { return data_; }
    const T* end() const noexcept { return data_ + size_; }
    T& operator[](std::size_t i) noexcept { return data_[i]; }
    const T& operator[](std::size_t i) const noexcept { return data_[i]; }
    operator std::span<const T>() const noexcept { return {data_, size_}; }

    void reserve(std::size_t capacity) {
        if (capacity > capacity_) remap(capacity);
    }
    void push_back(const T& value) {
        if (size_ == capacity_) [[unlikely]]
            remap(capacity_ < 1024 ? 1024 : 2 * capacity_);
        data_[size_++] = value;
    }
    // Empties the array but keeps its pages, for refilling.
    void clear() noexcept { size_ = 0; }
    // Grows or shrinks to `size` elements; new ones are uninitialised, and
    // the whole pages of a shrunk tail go back to the system.
    void resize(std::size_t size) {
        if (size > capacity_ || mapped_memory::round_to_pages(size * sizeof(T)) <
                                    mapped_memory::round_to_pages(capacity_ * sizeof(T))) {
            remap(size);
        }
        size_ = size;
    }

private:
    void remap(std::size_t capacity) {
        const std::size_t old_bytes = mapped_memory::round_to_pages(capacity_ * sizeof(T));
        const std::size_t new_bytes = mapped_memory::round_to_pages(capacity * sizeof(T));
        data_ = static_cast<T*>(mapped_memory::remap(data_, old_bytes, new_bytes));
        capacity_ = new_bytes / sizeof(T);
    }
    void release() noexcept {
        if (data_) {
            mapped_memory::unmap(data_, mapped_memory::round_to_pages(capacity_ * sizeof(T)));
        }
        data_ = nullptr;
        size_ = capacity_ = 0;
    }

    T* data_ = nullptr;
    std::size_t size_ = 0;
    std::size_t capacity_ = 0;
};

}  // namespace quelmar::utils
