#include "src/base/text_load.h"

#include <algorithm>
#include <utility>

#include "runtime/pool_size.h"

namespace quelmar::base {

std::size_t round_target(std::size_t largest, std::uint64_t resolved, unsigned share) {
    return static_cast<std::size_t>(
        std::min<std::uint64_t>(largest, std::max<std::uint64_t>(largest / 4, resolved / share)));
}

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
