#include "src/exposure/errors.h"

#include <new>
#include <stdexcept>
#include <string>

#include "src/exposure/panic.h"
#include "src/exposure/py_ref.h"

namespace quelmar::exposure {
namespace {

PyObject* raise_os_error(const runtime::Error& error, const char* path) {
    const std::string description = runtime::os_error_description(error.os_errno());
    PyRef details =
        PyRef::steal(path ? Py_BuildValue("(iss)", error.os_errno(), description.c_str(), path)
                          : Py_BuildValue("(is)", error.os_errno(), description.c_str()));
    if (details) PyErr_SetObject(PyExc_OSError, details.get());
    return nullptr;
}

// "<path>:<line>: <message> "<token>"" when the reader told where, as the
// Dask path and compilers write it; the token is left out when the message
// already shows it.
std::string plain_message(const runtime::Error& error, const char* path) {
    const auto& position = error.position();
    if (!path) return error.report();
    if (!position) return "cannot load " + std::string(path) + ": " + error.report();
    std::string text = std::string(path) + ":" + std::to_string(position->line) + ": ";
    text += error.report();
    if (!position->token.empty() && error.message().find(position->token) == std::string::npos) {
        text += " \"" + position->token + "\"";
    }
    return text;
}

PyObject* raise_plain(const runtime::Error& error, const char* path) {
    switch (error.kind()) {
        case runtime::ErrorKind::kOs: return raise_os_error(error, path);
        case runtime::ErrorKind::kInterrupted:
            PyErr_SetNone(PyExc_KeyboardInterrupt);
            return nullptr;
        case runtime::ErrorKind::kInvalidInput:
        case runtime::ErrorKind::kLimit:
        case runtime::ErrorKind::kNotFound: break;
    }
    PyErr_SetString(PyExc_ValueError, plain_message(error, path).c_str());
    return nullptr;
}

}  // namespace

PyObject* raise_error(const runtime::Error& error, ErrorPolicy policy, const char* path,
                      std::source_location where) {
    if (PyErr_Occurred()) return nullptr;
    if (policy == ErrorPolicy::kPanic) return raise_unwrapped(error, where);
    return raise_plain(error, path);
}

void raise_from_native_exception(ErrorPolicy policy, std::source_location where) noexcept {
    try {
        try {
            throw;
        } catch (const std::bad_alloc&) {
            PyErr_NoMemory();
        } catch (const std::exception& failure) {
            if (policy == ErrorPolicy::kPanic) {
                raise_panic(failure.what(), where);
            } else {
                PyErr_SetString(PyExc_RuntimeError, failure.what());
            }
        } catch (...) {
            if (policy == ErrorPolicy::kPanic) {
                raise_panic("unknown native exception", where);
            } else {
                PyErr_SetString(PyExc_RuntimeError, "unknown native exception");
            }
        }
    } catch (...) {
        // Building the report itself ran out of memory.
        PyErr_NoMemory();
    }
}

}  // namespace quelmar::exposure
