#include "src/exposure/core_identity.h"

namespace quelmar::exposure {

const char* core_build_id() noexcept { return QUELMAR_BUILD_ID; }

}  // namespace quelmar::exposure
