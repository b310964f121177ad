#include "src/utils/keyed_hash.h"

#include <random>

namespace quelmar::utils {

std::uint64_t process_key() {
    static const std::uint64_t key = [] {
        std::random_device device;
        return (std::uint64_t{device()} << 32) ^ device();
    }();
    return key;
}

}  // namespace quelmar::utils
