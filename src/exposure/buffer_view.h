#pragma once
// Views of Python buffers, held for the view's lifetime.
//
// BufferView: a C-contiguous view of uint64 or float64 items (a numpy
// array, bytearray, ...). Other item types, or a buffer that is not
// contiguous, raise TypeError naming the argument.
// ByteView: the raw bytes of any bytes-like object.

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <cstdint>
#include <span>
#include <vector>

namespace quelmar::exposure {

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

class ByteView {
public:
    ByteView() = default;
    ~ByteView() {
        if (held_) PyBuffer_Release(&buffer_);
    }
    ByteView(const ByteView&) = delete;
    ByteView& operator=(const ByteView&) = delete;

    // False with the Python error set.
    bool acquire(PyObject* object) {
        held_ = PyObject_GetBuffer(object, &buffer_, PyBUF_SIMPLE) == 0;
        return held_;
    }
    std::span<const unsigned char> bytes() const noexcept {
        return {static_cast<const unsigned char*>(buffer_.buf),
                static_cast<std::size_t>(buffer_.len)};
    }

private:
    Py_buffer buffer_{};
    bool held_ = false;
};

// A new bytearray holding the values' bytes; null with the error set.
template <class T>
PyObject* byte_array(std::span<const T> values) {
    return PyByteArray_FromStringAndSize(reinterpret_cast<const char*>(values.data()),
                                         static_cast<Py_ssize_t>(values.size_bytes()));
}

// A new tuple of one bytearray per column, in order; null with the error set.
template <class T>
PyObject* byte_array_tuple(std::span<const std::vector<T>> columns) {
    PyObject* tuple = PyTuple_New(static_cast<Py_ssize_t>(columns.size()));
    if (!tuple) return nullptr;
    for (std::size_t i = 0; i < columns.size(); ++i) {
        PyObject* column = byte_array(std::span<const T>(columns[i]));
        if (!column) {
            Py_DECREF(tuple);
            return nullptr;
        }
        PyTuple_SET_ITEM(tuple, static_cast<Py_ssize_t>(i), column);  // steals
    }
    return tuple;
}

}  // namespace quelmar::exposure
