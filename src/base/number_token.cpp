#include "src/base/number_token.h"

namespace quelmar::base {

std::string_view NumberToken::error_message() const {
    if (status == Status::kTooLarge) return "number too large to fit in target type";
    return "invalid digit found in string";
}

std::string NumberToken::as_written() const {
    const std::string significant = std::to_string(value);
    std::string text = plus ? "+" : "";
    // A zero value is written with all its digits as zeros.
    text.append(digits - significant.size(), '0');
    text += significant;
    return text;
}

}  // namespace quelmar::base
