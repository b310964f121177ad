#pragma once
// The extension of a path's file name: what follows the last dot of the last
// component. Trailing separators and "." components are ignored. There is no
// extension when the last component is "..", has no dot, or has its only dot
// first (".lz4" has none, "..lz4" has "lz4"); "graph." has the empty one.

#include <optional>
#include <string_view>

namespace quelmar::base {

std::optional<std::string_view> path_extension(std::string_view path);

}  // namespace quelmar::base
