#pragma once
// Long native passes that Ctrl-C can stop. Python runs signal handlers only
// on the main thread and only while it holds the interpreter lock, while the
// pass runs on the worker pool without it. So the pass runs on a thread of
// its own, and the calling thread waits without the lock, taking it back
// every kPollInterval to run the handlers. When one raises (KeyboardInterrupt
// from Ctrl-C), the pass is asked to stop through its std::stop_token and
// waited for; its result (normally an interrupted error) is returned with the
// handler's exception still set, which the error map then keeps.

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <chrono>
#include <condition_variable>
#include <exception>
#include <mutex>
#include <optional>
#include <stop_token>
#include <thread>
#include <type_traits>
#include <utility>

#include "src/exposure/gil.h"

namespace quelmar::exposure {

inline constexpr std::chrono::milliseconds kPollInterval{50};

// Runs work(stop_token) to its end and returns its result; an exception it
// throws is rethrown here, holding the lock. The work must not touch any
// Python object.
template <class Work>
auto run_interruptibly(Work&& work) -> std::invoke_result_t<Work&, std::stop_token> {
    using Value = std::invoke_result_t<Work&, std::stop_token>;
    std::stop_source stop;
    std::optional<Value> value;
    std::exception_ptr failure;
    std::mutex mutex;
    std::condition_variable finished;
    bool done = false;
    std::thread runner([&] {
        try {
            value.emplace(work(stop.get_token()));
        } catch (...) {
            failure = std::current_exception();
        }
        std::lock_guard lock(mutex);
        done = true;
        finished.notify_one();
    });
    bool asked_to_stop = false;
    for (;;) {
        bool ended = false;
        {
            ScopedGilRelease released;
            std::unique_lock lock(mutex);
            ended = finished.wait_for(lock, kPollInterval, [&] { return done; });
        }
        if (ended) break;
        if (!asked_to_stop && PyErr_CheckSignals() != 0) {
            asked_to_stop = true;
            stop.request_stop();
        }
    }
    runner.join();
    if (failure) std::rethrow_exception(failure);
    return std::move(*value);
}

}  // namespace quelmar::exposure
