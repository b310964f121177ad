#pragma once
// How the text readers (the edge list and the clustering file) spread their
// work: the input is streamed through a buffer of whole lines
// (src/base/line_chunks.h), each buffer is cut into blocks (src/base/line_blocks.h),
// and the blocks are read side by side on a worker pool. Results never depend
// on the pool, the buffer or the block size; tests and fuzz targets shrink
// the sizes to cut lines everywhere.
//
// By default a load runs on the process-wide pool when it exists, and
// otherwise on a pool of the default size made for that load alone, so that
// loading a file never settles the size of the process-wide pool.

#include <cstddef>
#include <cstdint>
#include <memory>

#include "runtime/worker_pool.h"
#include "src/base/line_chunks.h"

namespace quelmar::base {

struct TextLoadOptions {
    // The pool to run on; null for the default rule above.
    runtime::WorkerPool* pool = nullptr;
    std::size_t buffer_bytes = LineChunkReader::kDefaultBufferSize;
    std::size_t block_bytes = std::size_t{256} << 10;
    // The most edge ends whose names are resolved together. Large rounds
    // let each shard of the name table be loaded into cache once per round
    // rather than missed on every lookup; they cost 17 bytes per end while
    // they last, and start at a quarter of this.
    std::size_t round_names = std::size_t{1} << 23;
};

// Names gathered before they are resolved: a `share` of those resolved so
// far (1/share), between a quarter of the largest round and the largest. A
// round pays when it is larger than the name table (which grows with the
// names). The text load's scratch, at an eighth, stays within what the build
// after the reading needs anyway, so that large rounds of large loads do not
// raise the peak.
std::size_t round_target(std::size_t largest, std::uint64_t resolved, unsigned share = 8);

// The pool of one load, chosen by the rule above.
class LoadPool {
public:
    explicit LoadPool(runtime::WorkerPool* chosen);
    // Null when no thread could be started: the load runs on the caller's
    // thread alone.
    runtime::WorkerPool* get() const noexcept { return pool_; }

private:
    std::unique_ptr<runtime::WorkerPool> own_;
    runtime::WorkerPool* pool_;
};

}  // namespace quelmar::base
