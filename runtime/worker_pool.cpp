#include "runtime/worker_pool.h"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <deque>
#include <exception>
#include <mutex>
#include <system_error>
#include <thread>
#include <vector>

#include "runtime/pool_size.h"

namespace quelmar::runtime {
namespace {

struct Job {
    std::size_t count = 0;
    std::size_t grain = 1;
    WorkerPool::ChunkFn chunk = nullptr;
    void* context = nullptr;
    std::atomic<std::size_t> next{0};
    std::size_t attached = 0;  // workers inside work(); guarded by the pool mutex
    std::exception_ptr failure;

    bool exhausted() const { return next.load(std::memory_order_relaxed) >= count; }

    // Claims chunks until none is left. Returns the exception of a failed chunk.
    std::exception_ptr work(std::size_t worker) {
        for (;;) {
            std::size_t begin = next.fetch_add(grain, std::memory_order_relaxed);
            if (begin >= count) return nullptr;
            std::size_t end = std::min(count, begin + grain);
            try {
                chunk(context, begin, end, worker);
            } catch (...) {
                next.store(count, std::memory_order_relaxed);
                return std::current_exception();
            }
        }
    }
};

}  // namespace

struct WorkerPool::State {
    std::mutex mutex;
    std::condition_variable work_ready;   // workers wait for jobs or stop
    std::condition_variable job_settled;  // callers wait for their job
    std::deque<Job*> queue;               // jobs with chunks left to claim
    std::vector<std::thread> threads;
    std::size_t running = 0;
    bool stopping = false;

    void detach(Job* job, std::exception_ptr failure) {
        // Caller holds the mutex.
        --job->attached;
        if (failure && !job->failure) job->failure = failure;
        if (job->exhausted()) {
            auto it = std::find(queue.begin(), queue.end(), job);
            if (it != queue.end()) queue.erase(it);
        }
        if (job->attached == 0 && job->exhausted()) job_settled.notify_all();
    }

    void worker_loop(std::size_t worker) {
        std::unique_lock lock(mutex);
        ++running;
        job_settled.notify_all();
        for (;;) {
            work_ready.wait(lock, [&] { return stopping || !queue.empty(); });
            if (stopping) return;
            Job* job = queue.front();
            ++job->attached;
            lock.unlock();
            std::exception_ptr failure = job->work(worker);
            lock.lock();
            detach(job, failure);
        }
    }
};

WorkerPool::WorkerPool(std::size_t size) : size_(size), state_(std::make_unique<State>()) {}

WorkerPool::~WorkerPool() {
    {
        std::lock_guard lock(state_->mutex);
        state_->stopping = true;
    }
    state_->work_ready.notify_all();
    for (auto& thread : state_->threads) thread.join();
}

Result<std::unique_ptr<WorkerPool>> WorkerPool::start(std::size_t threads) {
    std::unique_ptr<WorkerPool> pool(new WorkerPool(threads));
    State& state = *pool->state_;
    state.threads.reserve(std::min<std::size_t>(threads, 1024));
    for (std::size_t worker = 0; worker < threads; ++worker) {
        try {
            state.threads.emplace_back([&state, worker] { state.worker_loop(worker); });
        } catch (const std::system_error& failure) {
            // The destructor stops and joins the workers already started.
            pool->size_ = state.threads.size();
            const int code = failure.code().value();
            return Error::os(code,
                             "ThreadPoolBuildError { kind: IOError(" + os_error_text(code) + ") }");
        }
    }
    std::unique_lock lock(state.mutex);
    state.job_settled.wait(lock, [&] { return state.running == threads; });
    return pool;
}

void WorkerPool::run(std::size_t count, std::size_t grain, ChunkFn chunk, void* context) {
    run_beside_caller(count, grain, chunk, context, nullptr, nullptr);
}

void WorkerPool::run_beside_caller(std::size_t count, std::size_t grain, ChunkFn chunk,
                                   void* context, void (*caller)(void*), void* caller_context) {
    std::exception_ptr caller_failure;
    if (count == 0) {
        if (caller) caller(caller_context);
        return;
    }
    Job job;
    job.count = count;
    job.grain = std::max<std::size_t>(grain, 1);
    job.chunk = chunk;
    job.context = context;
    std::unique_lock lock(state_->mutex);
    state_->queue.push_back(&job);
    state_->work_ready.notify_all();
    if (caller) {
        // The job lives on this stack: it is waited for however the caller's
        // part ends.
        lock.unlock();
        try {
            caller(caller_context);
        } catch (...) {
            caller_failure = std::current_exception();
        }
        lock.lock();
    }
    state_->job_settled.wait(lock, [&] { return job.attached == 0 && job.exhausted(); });
    // A job can be exhausted by a failure before any worker saw it.
    auto it = std::find(state_->queue.begin(), state_->queue.end(), &job);
    if (it != state_->queue.end()) state_->queue.erase(it);
    lock.unlock();
    if (job.failure) std::rethrow_exception(job.failure);
    if (caller_failure) std::rethrow_exception(caller_failure);
}

namespace {

struct GlobalSlot {
    std::mutex mutex;
    std::atomic<WorkerPool*> pool{nullptr};
};

GlobalSlot& global_slot() {
    // Never destroyed: workers may still be parked when the interpreter exits.
    static GlobalSlot* slot = new GlobalSlot();
    return *slot;
}

}  // namespace

Result<void> build_global_pool(std::size_t threads) {
    GlobalSlot& slot = global_slot();
    std::lock_guard lock(slot.mutex);
    if (slot.pool.load(std::memory_order_acquire)) return Error(kPoolAlreadyInitialized);
    auto started = WorkerPool::start(pool_size_for(threads));
    if (!started) return std::move(started).error();
    slot.pool.store(std::move(started).value().release(), std::memory_order_release);
    return {};
}

WorkerPool* global_pool() {
    GlobalSlot& slot = global_slot();
    if (WorkerPool* pool = slot.pool.load(std::memory_order_acquire)) return pool;
    std::lock_guard lock(slot.mutex);
    if (WorkerPool* pool = slot.pool.load(std::memory_order_acquire)) return pool;
    auto started = WorkerPool::start(pool_size_for(0));
    if (!started) return nullptr;
    slot.pool.store(std::move(started).value().release(), std::memory_order_release);
    return slot.pool.load(std::memory_order_relaxed);
}

WorkerPool* existing_global_pool() { return global_slot().pool.load(std::memory_order_acquire); }

}  // namespace quelmar::runtime
