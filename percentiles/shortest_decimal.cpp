#include "percentiles/shortest_decimal.h"

#include <charconv>
#include <cmath>
#include <cstdlib>
#include <string_view>

namespace quelmar::percentiles {

std::string shortest_decimal(double value) {
    if (std::isnan(value)) return "NaN";
    if (std::isinf(value)) return value < 0 ? "-inf" : "inf";

    // Scientific form gives the shortest round-trip digits and where the point
    // goes, e.g. "-1.25e-07"; the positional form is laid out from those.
    char buffer[64];
    const auto written =
        std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::scientific);
    std::string_view text(buffer, static_cast<std::size_t>(written.ptr - buffer));

    std::string out;
    if (text.front() == '-') {
        out.push_back('-');
        text.remove_prefix(1);
    }
    const std::size_t exponent_mark = text.find('e');
    const std::string_view mantissa = text.substr(0, exponent_mark);
    const int exponent = std::atoi(std::string(text.substr(exponent_mark + 1)).c_str());

    std::string digits;
    for (const char c : mantissa) {
        if (c != '.') digits.push_back(c);
    }
    // Number of digits before the decimal point in positional form.
    const long point = static_cast<long>(exponent) + 1;
    const long digit_count = static_cast<long>(digits.size());
    if (point <= 0) {
        out += "0.";
        out.append(static_cast<std::size_t>(-point), '0');
        out += digits;
    } else if (point >= digit_count) {
        out += digits;
        out.append(static_cast<std::size_t>(point - digit_count), '0');
    } else {
        out.append(digits, 0, static_cast<std::size_t>(point));
        out.push_back('.');
        out.append(digits, static_cast<std::size_t>(point));
    }
    return out;
}

}  // namespace quelmar::percentiles
