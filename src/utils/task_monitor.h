#pragma once
// How a long load or write reports where it is and learns that it should
// stop. The caller hands in a callback; the task calls it at checkpoints a
// few MiB of input or output apart (and between the steps of building a
// graph), with the stage and how far it got. The callback returns false to
// stop the task, which then releases everything it built and fails with
// kInterrupted. Once stopped, a monitor stays stopped without asking again.
//
// The callback runs on the task's thread. A default-made monitor never stops
// and costs one branch per checkpoint.

#include <cstdint>
#include <functional>
#include <string_view>
#include <utility>

#include "runtime/result.h"

namespace quelmar::utils {

struct TaskProgress {
    enum class Stage { kReading, kBuilding, kWriting };
    Stage stage;
    std::uint64_t done;
    // 0 when unknown (a pipe has no size).
    std::uint64_t total;
};

class TaskMonitor {
public:
    static constexpr std::string_view kInterrupted = runtime::kInterrupted;
    // Input or output bytes between two checkpoints of a stream.
    static constexpr std::uint64_t kCheckpointBytes = std::uint64_t{4} << 20;

    using Callback = std::function<bool(const TaskProgress&)>;

    TaskMonitor() = default;
    explicit TaskMonitor(Callback proceed) : proceed_(std::move(proceed)) {}

    TaskMonitor(const TaskMonitor&) = delete;
    TaskMonitor& operator=(const TaskMonitor&) = delete;

    // False when the task must stop.
    bool checkpoint(const TaskProgress& progress) {
        if (!stopped_ && proceed_ && !proceed_(progress)) stopped_ = true;
        return !stopped_;
    }
    bool stopped() const noexcept { return stopped_; }

    // The monitor of callers that do not watch. Shared by all threads: with
    // no callback it is never written to.
    static TaskMonitor& unwatched() {
        static TaskMonitor none;
        return none;
    }

private:
    Callback proceed_;
    bool stopped_ = false;
};

}  // namespace quelmar::utils
