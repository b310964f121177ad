#pragma once
// PyRef: owns one strong reference to a Python object (or none) and drops it
// when it goes out of scope. steal() adopts a new reference returned by the C
// API; borrow() takes one more reference to an object owned elsewhere;
// release() hands the reference to a call that steals it.

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <utility>

namespace quelmar::exposure {

class PyRef {
public:
    PyRef() noexcept = default;
    static PyRef steal(PyObject* object) noexcept { return PyRef(object); }
    static PyRef borrow(PyObject* object) noexcept {
        Py_XINCREF(object);
        return PyRef(object);
    }

    PyRef(const PyRef& other) noexcept : object_(other.object_) { Py_XINCREF(object_); }
    PyRef(PyRef&& other) noexcept : object_(std::exchange(other.object_, nullptr)) {}
    PyRef& operator=(PyRef other) noexcept {
        std::swap(object_, other.object_);
        return *this;
    }
    static bool holds_thread_state() noexcept {
#if PY_VERSION_HEX >= 0x030D0000
        return PyThreadState_GetUnchecked() != nullptr;
#else
        return _PyThreadState_UncheckedGet() != nullptr;
#endif
    }
    // A thread ended by the interpreter's shutdown as it takes the lock back
    // unwinds without the lock: its references are left to the dying
    // interpreter rather than released unlocked.
    ~PyRef() {
        if (object_ && holds_thread_state()) Py_DECREF(object_);
    }

    PyObject* get() const noexcept { return object_; }
    PyObject* release() noexcept { return std::exchange(object_, nullptr); }
    explicit operator bool() const noexcept { return object_ != nullptr; }

private:
    explicit PyRef(PyObject* object) noexcept : object_(object) {}
    PyObject* object_ = nullptr;
};

}  // namespace quelmar::exposure
