#pragma once
// Releasing the interpreter lock around native work. ScopedGilRelease lets
// other Python threads run until it goes out of scope, then takes the lock
// back. without_gil() runs a callable that way and carries its exception back
// out, so the lock is always re-acquired on the normal path, never while an
// exception unwinds: at interpreter shutdown re-acquiring may end the thread,
// which must not collide with an unwinding in progress.

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <exception>
#include <optional>
#include <type_traits>
#include <utility>

namespace quelmar::exposure {

class ScopedGilRelease {
public:
    ScopedGilRelease() noexcept : saved_(PyEval_SaveThread()) {}
    // noexcept(false): a thread ended by the interpreter's shutdown leaves
    // through here by forced unwinding, which must be allowed to pass.
    ~ScopedGilRelease() noexcept(false) { PyEval_RestoreThread(saved_); }

    ScopedGilRelease(const ScopedGilRelease&) = delete;
    ScopedGilRelease& operator=(const ScopedGilRelease&) = delete;

private:
    PyThreadState* saved_;
};

// Runs work() with the interpreter lock released and returns its result; an
// exception it throws is rethrown once the lock is held again. The callable
// must not touch any Python object.
template <class Work>
auto without_gil(Work&& work) -> std::invoke_result_t<Work&> {
    using Value = std::invoke_result_t<Work&>;
    std::optional<Value> value;
    std::exception_ptr failure;
    {
        ScopedGilRelease released;
        try {
            value.emplace(work());
        } catch (...) {
            failure = std::current_exception();
        }
    }
    if (failure) std::rethrow_exception(failure);
    return std::move(*value);
}

}  // namespace quelmar::exposure
