#include "src/utils/lz4_error.h"

#include <lz4frame.h>

#include <string_view>

namespace quelmar::utils {

std::string lz4_error_text(std::size_t code) {
    std::string_view name = LZ4F_getErrorName(code);
    if (const auto at = name.find("ERROR_"); at != std::string_view::npos) name.remove_prefix(at);
    return std::string("LZ4 error: ").append(name);
}

}  // namespace quelmar::utils
