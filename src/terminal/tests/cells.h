// Test helper shared by the bar and status-line tests: a run of identical
// cells, as the drawing code writes them.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace quelmar::terminal::test_support {

inline std::string repeat(std::string_view cell, std::size_t count) {
    std::string text;
    for (std::size_t i = 0; i < count; ++i) text += cell;
    return text;
}

}  // namespace quelmar::terminal::test_support
