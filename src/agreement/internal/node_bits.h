#pragma once
// A dense bitset over node ids, for membership tests in hot loops where a
// Roaring lookup would cost several times more.

#include <cstdint>
#include <vector>

#include <roaring/roaring.hh>

namespace quelmar::agreement::internal {

class NodeBits {
public:
    NodeBits(const Roaring& nodes, std::uint64_t node_count) : words_((node_count + 63) / 64) {
        for (std::uint32_t v : nodes) words_[v >> 6] |= std::uint64_t{1} << (v & 63);
    }
    bool contains(std::uint64_t v) const noexcept { return (words_[v >> 6] >> (v & 63)) & 1; }

private:
    std::vector<std::uint64_t> words_;
};

}  // namespace quelmar::agreement::internal
