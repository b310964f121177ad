#include "src/quelmar/node_marks.h"

#include <algorithm>

namespace quelmar {

void NodeMarks::mark(std::span<const utils::NodeId> ids) {
    if (!bits_.data()) bits_ = utils::PageArray<std::uint64_t>(std::max<std::uint64_t>(words_, 1));
    std::uint64_t* bits = bits_.data();
    for (utils::NodeId v : ids) bits[v >> 6] |= std::uint64_t{1} << (v & 63);
}

void NodeMarks::unmark(std::span<const utils::NodeId> ids) noexcept {
    std::uint64_t* bits = bits_.data();
    if (!bits) return;
    // Whole words: cheaper than clearing bit by bit and just as exact, since
    // only members were marked.
    for (utils::NodeId v : ids) bits[v >> 6] = 0;
}

}  // namespace quelmar
