#pragma once
// Parallel loops over an index range on the global worker pool. The caller
// waits until every index has run. Outputs are written per index and read back
// in index order, so results never depend on the number of workers.

#include <algorithm>
#include <cstddef>
#include <memory>
#include <type_traits>
#include <vector>

#include "runtime/worker_pool.h"

namespace quelmar::runtime {

// Loops run on the global pool unless given one; a null pool means the
// calling thread alone.

// Number of workers a loop may use; per-worker scratch arrays are this long.
inline std::size_t worker_count(WorkerPool* pool) {
    return pool ? std::max<std::size_t>(pool->size(), 1) : 1;
}
inline std::size_t worker_count() { return worker_count(global_pool()); }

// Chunk size that keeps workers balanced on heavy-tailed items while paying
// the shared counter only once per chunk.
inline std::size_t default_grain(std::size_t count, std::size_t workers) {
    return std::clamp<std::size_t>(count / (workers * 256 + 1), 1, 1024);
}

namespace detail {

// Runs body(index, worker) over [0, count) on `pool`, and caller(context)
// on the calling thread meanwhile when it is given.
template <class Body>
void run_on_pool(WorkerPool& pool, std::size_t count, Body& body, void (*caller)(void*),
                 void* caller_context) {
    auto chunk = [](void* context, std::size_t begin, std::size_t end, std::size_t worker) {
        Body& run = *static_cast<Body*>(context);
        for (std::size_t i = begin; i < end; ++i) run(i, worker);
    };
    pool.run_beside_caller(count, default_grain(count, pool.size()), chunk,
                           const_cast<void*>(static_cast<const void*>(std::addressof(body))),
                           caller, caller_context);
}

}  // namespace detail

// Calls body(begin, end, worker) for consecutive ranges that together cover
// [0, count) once, as the pool hands them out: for passes that gain from
// seeing several neighbouring indices at once (fetching ahead across them).
// `worker` is as for parallel_for_worker.
template <class Body>
void parallel_for_ranges(WorkerPool* pool, std::size_t count, Body&& body) {
    if (count == 0) return;
    if (!pool || pool->size() == 0 || count == 1) {
        body(std::size_t{0}, count, std::size_t{0});
        return;
    }
    auto chunk = [](void* context, std::size_t begin, std::size_t end, std::size_t worker) {
        (*static_cast<std::remove_reference_t<Body>*>(context))(begin, end, worker);
    };
    pool->run_beside_caller(count, default_grain(count, pool->size()), chunk,
                            const_cast<void*>(static_cast<const void*>(std::addressof(body))),
                            nullptr, nullptr);
}

template <class Body>
void parallel_for_ranges(std::size_t count, Body&& body) {
    parallel_for_ranges(global_pool(), count, body);
}

// Calls body(index, worker) for every index in [0, count). `worker` is below
// worker_count() and identifies the thread, for per-worker scratch space.
template <class Body>
void parallel_for_worker(WorkerPool* pool, std::size_t count, Body&& body) {
    if (count == 0) return;
    if (!pool || pool->size() == 0 || count == 1) {
        for (std::size_t i = 0; i < count; ++i) body(i, std::size_t{0});
        return;
    }
    detail::run_on_pool(*pool, count, body, nullptr, nullptr);
}

template <class Body>
void parallel_for_worker(std::size_t count, Body&& body) {
    parallel_for_worker(global_pool(), count, body);
}

// Calls body(index) for every index in [0, count) on the pool's workers and
// on_caller() on the calling thread meanwhile: work that must stay on the
// caller's thread (reading a monitored input, say) overlaps the loop.
// Without a pool, the loop runs first.
template <class Body, class OnCaller>
void parallel_for_beside_caller(WorkerPool* pool, std::size_t count, Body&& body,
                                OnCaller&& on_caller) {
    if (!pool || pool->size() == 0) {
        for (std::size_t i = 0; i < count; ++i) body(i);
        on_caller();
        return;
    }
    auto indexed = [&body](std::size_t i, std::size_t) { body(i); };
    auto caller = [](void* context) {
        (*static_cast<std::remove_reference_t<OnCaller>*>(context))();
    };
    detail::run_on_pool(*pool, count, indexed, caller,
                        const_cast<void*>(static_cast<const void*>(std::addressof(on_caller))));
}

// Calls body(index) for every index in [0, count).
template <class Body>
void parallel_for(WorkerPool* pool, std::size_t count, Body&& body) {
    parallel_for_worker(pool, count, [&body](std::size_t i, std::size_t) { body(i); });
}
template <class Body>
void parallel_for(std::size_t count, Body&& body) {
    parallel_for(global_pool(), count, body);
}

// Returns {f(0), f(1), ..., f(count - 1)} computed in parallel, in index order.
template <class F>
auto parallel_map(WorkerPool* pool, std::size_t count, F&& f) {
    using T = std::decay_t<std::invoke_result_t<F&, std::size_t>>;
    std::vector<T> out(count);
    parallel_for(pool, count, [&](std::size_t i) { out[i] = f(i); });
    return out;
}
template <class F>
auto parallel_map(std::size_t count, F&& f) {
    return parallel_map(global_pool(), count, f);
}

}  // namespace quelmar::runtime
