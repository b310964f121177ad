#pragma once
// Load options that spread a small input over many buffers and blocks, on
// pools of one and of three workers in turn, in small rounds, so that tests load each input
// at more than one pool size.

#include <cstddef>

#include "runtime/worker_pool.h"
#include "src/base/text_load.h"

namespace quelmar::testing {

inline base::TextLoadOptions cut_load(std::size_t round, std::size_t buffer_bytes,
                                      std::size_t block_bytes, std::size_t round_names = 1) {
    static runtime::WorkerPool* const one = runtime::WorkerPool::start(1).value().release();
    static runtime::WorkerPool* const three = runtime::WorkerPool::start(3).value().release();
    return {.pool = round % 2 ? one : three,
            .buffer_bytes = buffer_bytes,
            .block_bytes = block_bytes,
            .round_names = round_names};
}

}  // namespace quelmar::testing
