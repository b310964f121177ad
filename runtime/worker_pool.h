#pragma once
// The process-wide worker pool. It is created at most once: by
// build_global_pool (the Python set_nthreads) or, with the default size, by the
// first parallel operation; its size never changes afterwards. Callers hand it
// an index range and wait; workers claim small chunks of the range on demand,
// so a few huge items (one cluster of a million members among many of a
// handful) never leave a worker idle while another holds a long queue.
// Several callers may run jobs at once; jobs are served in arrival order.

#include <cstddef>
#include <memory>

#include "runtime/result.h"

namespace quelmar::runtime {

// Message texts of pool creation failures (the binding adds its own prefix).
inline constexpr const char* kPoolAlreadyInitialized =
    "ThreadPoolBuildError { kind: GlobalPoolAlreadyInitialized }";

class WorkerPool {
public:
    // A chunk of a job: items [begin, end) run on worker `worker`
    // (0 <= worker < size()). Never throws across the pool: exceptions are
    // carried back to the caller of run().
    using ChunkFn = void (*)(void* context, std::size_t begin, std::size_t end, std::size_t worker);

    // Starts `threads` workers and waits until every one is running. When the
    // operating system refuses a thread, the ones already started are stopped
    // and the error names the system's reason.
    static Result<std::unique_ptr<WorkerPool>> start(std::size_t threads);

    ~WorkerPool();
    WorkerPool(const WorkerPool&) = delete;
    WorkerPool& operator=(const WorkerPool&) = delete;

    std::size_t size() const noexcept { return size_; }

    // Runs chunk(context, b, e, w) over [0, count) in chunks of `grain` items
    // and returns when all have finished; rethrows the first exception a chunk
    // threw (the remaining chunks are then skipped).
    void run(std::size_t count, std::size_t grain, ChunkFn chunk, void* context);
    // The same, with caller(caller_context) run on the calling thread while
    // the workers run the chunks; returns when both are done. An exception
    // of the chunks wins over one of the caller's.
    void run_beside_caller(std::size_t count, std::size_t grain, ChunkFn chunk, void* context,
                           void (*caller)(void*), void* caller_context);

    struct State;

private:
    explicit WorkerPool(std::size_t size);
    std::size_t size_;
    std::unique_ptr<State> state_;
};

// Creates the global pool with `threads` workers (0: the default size rule)
// and waits until they run. Fails with kPoolAlreadyInitialized when a pool
// exists, or with "ThreadPoolBuildError { kind: IOError(<os error>) }" when a
// worker cannot be started (no pool is installed then; a later call may retry).
Result<void> build_global_pool(std::size_t threads);

// The global pool, created with the default size on first use. Null only when
// the operating system refused to start its threads; parallel loops then run
// on the calling thread, with identical results.
WorkerPool* global_pool();

// The global pool if it was created already; null otherwise (it is not
// created).
WorkerPool* existing_global_pool();

}  // namespace quelmar::runtime
