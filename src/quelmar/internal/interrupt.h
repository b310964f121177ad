#pragma once
// The one failure of a comparison pass whose stop token was requested.

#include <string>

#include "runtime/result.h"
#include "src/utils/task_monitor.h"

namespace quelmar::internal {

inline runtime::Error interrupted() { return runtime::Error::interrupted(); }

}  // namespace quelmar::internal
