#pragma once
// Writing a clustering file: line i is "nodes[i] clusters[i]" in decimal,
// separated by one space and ended by a line feed, which is what the
// clustering loader reads. The file is created anew (never replacing an
// existing one) and closed on every path out.
//
// Errors: the operating system's text ("<description> (os error N)") when
// creating, writing or closing fails.

#include <cstdint>
#include <span>
#include <string>

#include "runtime/result.h"

namespace quelmar::exposure::tools {

// `nodes` and `clusters` have one length.
runtime::Result<void> write_memberships(const std::string& path,
                                        std::span<const std::uint64_t> nodes,
                                        std::span<const std::uint64_t> clusters);

}  // namespace quelmar::exposure::tools
