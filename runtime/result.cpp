#include "runtime/result.h"

#include <cstring>

namespace quelmar::runtime {

std::string Error::report() const {
    std::string out = message_;
    if (causes_.empty()) return out;
    out += "\n\nCaused by:";
    if (causes_.size() == 1) {
        out += "\n    " + causes_.front();
        return out;
    }
    for (std::size_t i = 0; i < causes_.size(); ++i) {
        out += "\n    " + std::to_string(i) + ": " + causes_[i];
    }
    return out;
}

std::string os_error_text(int code) {
    char buffer[256];
    // GNU strerror_r may return a static string instead of filling the buffer.
    const char* text = strerror_r(code, buffer, sizeof buffer);
    return std::string(text) + " (os error " + std::to_string(code) + ")";
}

}  // namespace quelmar::runtime
