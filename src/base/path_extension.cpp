#include "src/base/path_extension.h"

namespace quelmar::base {
namespace {

// The last component that names something, skipping "." and empty ones.
std::optional<std::string_view> file_name(std::string_view path) {
    while (!path.empty()) {
        const auto slash = path.find_last_of('/');
        const std::string_view last =
            slash == std::string_view::npos ? path : path.substr(slash + 1);
        if (!last.empty() && last != ".") {
            if (last == "..") return std::nullopt;
            return last;
        }
        if (slash == std::string_view::npos) break;
        path = path.substr(0, slash);
    }
    return std::nullopt;
}

}  // namespace

std::optional<std::string_view> path_extension(std::string_view path) {
    const auto name = file_name(path);
    if (!name) return std::nullopt;
    const auto dot = name->find_last_of('.');
    if (dot == std::string_view::npos || dot == 0) return std::nullopt;
    return name->substr(dot + 1);
}

}  // namespace quelmar::base
