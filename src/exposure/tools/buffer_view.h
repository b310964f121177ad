#pragma once
// BufferView: a C-contiguous, one-dimensional view of a Python object's
// buffer (a numpy array, bytearray, ...) of uint64 or float64 items, held
// for the view's lifetime. Other item types, or a buffer that is not
// contiguous, raise TypeError naming the argument.

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <cstdint>
#include <span>

namespace quelmar::exposure::tools {

class BufferView {
public:
    enum class Item { kUInt64, kFloat64 };

    BufferView() = default;
    ~BufferView() {
        if (held_) PyBuffer_Release(&buffer_);
    }
    BufferView(const BufferView&) = delete;
    BufferView& operator=(const BufferView&) = delete;

    // False with the Python error set.
    bool acquire(PyObject* object, const char* name, Item item, bool writable = false);

    std::span<const std::uint64_t> uint64s() const noexcept {
        return {static_cast<const std::uint64_t*>(buffer_.buf), length()};
    }
    std::span<double> float64s() const noexcept {
        return {static_cast<double*>(buffer_.buf), length()};
    }
    std::size_t length() const noexcept {
        return held_ ? static_cast<std::size_t>(buffer_.len / 8) : 0;
    }

private:
    Py_buffer buffer_{};
    bool held_ = false;
};

}  // namespace quelmar::exposure::tools
