#pragma once
// Shared by the fuzz targets: a disagreement with the reference is a finding,
// so it stops the run the way a sanitizer report does (libFuzzer then saves
// the input as a crash artifact).

#include <cstdio>
#include <cstdlib>
#include <string_view>

namespace quelmar::fuzz {

[[noreturn]] inline void fail(std::string_view what, std::string_view detail = {}) {
    std::fprintf(stderr, "fuzz check failed: %.*s%s%.*s\n", static_cast<int>(what.size()),
                 what.data(), detail.empty() ? "" : ": ", static_cast<int>(detail.size()),
                 detail.data());
    std::abort();
}

inline void check(bool condition, std::string_view what, std::string_view detail = {}) {
    if (!condition) fail(what, detail);
}

}  // namespace quelmar::fuzz
