#include "src/base/text_load.h"

#include <utility>

#include "runtime/pool_size.h"

namespace quelmar::base {

LoadPool::LoadPool(runtime::WorkerPool* chosen) : pool_(chosen) {
    if (pool_) return;
    pool_ = runtime::existing_global_pool();
    if (pool_) return;
    if (auto started = runtime::WorkerPool::start(runtime::pool_size_for(0))) {
        own_ = std::move(started).value();
        pool_ = own_.get();
    }
}

}  // namespace quelmar::base
