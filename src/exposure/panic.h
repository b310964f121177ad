#pragma once
// How native failures reach Python. A failure of the native code (a library
// error, an internal fault) abandons the operation: a report naming the thread,
// the source location and the message goes to standard error, and the caller
// receives PanicException, a direct subclass of BaseException (so that
// `except Exception:` does not swallow it) whose single argument is the
// message. The class is created on first use, is not a module attribute, and
// stays the same object for the life of the process.
//
// This is the module's policy for failures; errors.h holds the map of both
// policies and guarded(), which keeps C++ exceptions out of the interpreter.

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <source_location>
#include <string>
#include <string_view>

#include "runtime/result.h"

namespace quelmar::exposure {

// Borrowed; null with the Python error set if the class cannot be created.
PyObject* panic_exception_type();

// Null until some failure created the class: before that no Python code can
// hold a PanicException.
PyObject* panic_exception_type_if_created() noexcept;

// Writes the failure report and raises PanicException(message). Returns null
// so that callers can `return raise_panic(...)`.
PyObject* raise_panic(std::string_view message,
                      std::source_location where = std::source_location::current());

// A library error as seen by Python: the unwrap prefix and the error's report.
PyObject* raise_unwrapped(const runtime::Error& error,
                          std::source_location where = std::source_location::current());

// The message "called `Result::unwrap()` on an `Err` value: " + description.
std::string unwrap_failure_message(std::string_view description);

}  // namespace quelmar::exposure
