#pragma once
// Turning library errors and C++ exceptions into Python exceptions.

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <string>

#include "runtime/result.h"

namespace quelmar::exposure::tools {

// OSError(errno, text, path) for "<text> (os error N)", else ValueError with
// the report. Keeps an exception already set (a signal handler's). Null.
PyObject* raise_error(const runtime::Error& error, const std::string& path);

// Runs `body`; a C++ exception escaping it becomes MemoryError or
// RuntimeError instead of crossing into the interpreter.
template <class Body>
PyObject* guarded(Body body) noexcept {
    try {
        return body();
    } catch (const std::bad_alloc&) {
        return PyErr_NoMemory();
    } catch (const std::exception& error) {
        PyErr_SetString(PyExc_RuntimeError, error.what());
        return nullptr;
    }
}

}  // namespace quelmar::exposure::tools
