#pragma once
// liblz4's failures as message texts, shared by the snapshot reader and
// writer.

#include <cstddef>
#include <string>

namespace quelmar::utils {

// "LZ4 error: ERROR_<name>" for a liblz4 error code.
std::string lz4_error_text(std::size_t code);

}  // namespace quelmar::utils
