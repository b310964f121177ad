#pragma once
// How native failures reach Python. A failure of the native code (a library
// error, an internal fault) abandons the operation: a report naming the thread,
// the source location and the message goes to standard error, and the caller
// receives PanicException, a direct subclass of BaseException (so that
// `except Exception:` does not swallow it) whose single argument is the
// message. The class is created on first use, is not a module attribute, and
// stays the same object for the life of the process.
//
// C++ exceptions never cross into the interpreter: guarded() turns
// std::bad_alloc into MemoryError and anything else into PanicException.

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <cxxabi.h>

#include <source_location>
#include <string>
#include <string_view>
#include <type_traits>

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

// Sets the Python error for the C++ exception being handled; call only inside
// a catch block.
void raise_from_native_exception(std::source_location where) noexcept;

// Runs body() and converts any C++ exception into a Python error. Returns what
// body returns, or the C API's failure value (null pointer or -1).
template <class Body>
auto guarded(Body&& body, std::source_location where = std::source_location::current())
    -> std::invoke_result_t<Body&> {
    using Out = std::invoke_result_t<Body&>;
    try {
        return body();
    } catch (abi::__forced_unwind&) {
        throw;  // a thread ended by interpreter shutdown must finish unwinding
    } catch (...) {
        raise_from_native_exception(where);
        if constexpr (std::is_pointer_v<Out>) {
            return nullptr;
        } else {
            return Out{-1};
        }
    }
}

}  // namespace quelmar::exposure
