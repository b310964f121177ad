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

std::string os_error_description(int code) {
    char buffer[256];
    // GNU strerror_r may return a static string instead of filling the buffer.
    return strerror_r(code, buffer, sizeof buffer);
}

std::string os_error_text(int code) {
    return os_error_description(code) + " (os error " + std::to_string(code) + ")";
}

Error Error::interrupted() { return Error(ErrorKind::kInterrupted, std::string(kInterrupted)); }

Error Error::os(int code) { return os(code, os_error_text(code)); }

Error Error::os(int code, std::string message) {
    Error error(ErrorKind::kOs, std::move(message));
    error.os_errno_ = code;
    return error;
}

}  // namespace quelmar::runtime
