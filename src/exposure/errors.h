#pragma once
// The one map from native failures to Python exceptions, under the policy of
// the module that raises them.
//
//   kPanic (quelmar): a library error is PanicException carrying the unwrap
//     prefix and the error's report, after the failure report on standard
//     error (panic.h). These texts are the module's and never change.
//   kPlain (quelmar_tools): ordinary exceptions chosen by the error's kind,
//     with nothing written to standard error: kOs is OSError(errno,
//     description, path), kInterrupted KeyboardInterrupt, the other kinds
//     ValueError with the report. When a file was being loaded, the report
//     follows "<path>:<line>: " where the reader told the line (and the
//     offending token follows in quotes, unless the message shows it), else
//     "cannot load <path>: ".
//
// Under both, a Python error already set when the failure is reported (a
// signal handler's, which stopped the work) is the outcome and is kept.
//
// C++ exceptions never cross into the interpreter: guarded() runs a body and
// turns std::bad_alloc into MemoryError, anything else into PanicException
// (kPanic) or RuntimeError (kPlain). Work done without the interpreter lock
// goes through without_gil() (gil.h), which takes the lock back before an
// exception leaves it, so guarded() always converts holding the lock.

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <cxxabi.h>

#include <source_location>
#include <type_traits>

#include "runtime/result.h"

namespace quelmar::exposure {

enum class ErrorPolicy { kPanic, kPlain };

// Raises `error` under `policy`; `path` names the file being loaded, or is
// null. Returns null so that callers can `return raise_error(...)`.
PyObject* raise_error(const runtime::Error& error, ErrorPolicy policy, const char* path = nullptr,
                      std::source_location where = std::source_location::current());

// Sets the Python error for the C++ exception being handled; call only inside
// a catch block.
void raise_from_native_exception(ErrorPolicy policy, std::source_location where) noexcept;

// Runs body() and converts any C++ exception into a Python error. Returns what
// body returns, or the C API's failure value (null pointer or -1). A forced
// unwind (a thread ended by interpreter shutdown) goes through: GNU's runtime
// names it and enters handlers, LLVM's (the wheels') enters none.
template <ErrorPolicy policy = ErrorPolicy::kPanic, class Body>
auto guarded(Body&& body, std::source_location where = std::source_location::current())
    -> std::invoke_result_t<Body&> {
    using Out = std::invoke_result_t<Body&>;
    try {
        return body();
#if defined(__GLIBCXX__)
    } catch (abi::__forced_unwind&) {
        throw;  // a thread ended by interpreter shutdown must finish unwinding
#endif
    } catch (...) {
        raise_from_native_exception(policy, where);
        if constexpr (std::is_pointer_v<Out>) {
            return nullptr;
        } else {
            return Out{-1};
        }
    }
}

}  // namespace quelmar::exposure
