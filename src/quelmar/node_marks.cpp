#include "src/quelmar/node_marks.h"

#include <algorithm>

namespace quelmar {

std::uint64_t* NodeMarks::words() {
    if (!bits_.data()) bits_ = utils::PageArray<std::uint64_t>(std::max<std::uint64_t>(words_, 1));
    return bits_.data();
}

void NodeMarks::mark(std::span<const utils::NodeId> ids) {
    std::uint64_t* bits = words();
    for (utils::NodeId v : ids) bits[v >> 6] |= std::uint64_t{1} << (v & 63);
}

void NodeMarks::mark(const Roaring& ids) {
    std::uint64_t* bits = words();
    for (utils::NodeId v : ids) bits[v >> 6] |= std::uint64_t{1} << (v & 63);
}

std::uint64_t NodeMarks::mark_counting_new(std::span<const utils::NodeId> ids) {
    std::uint64_t* bits = words();
    std::uint64_t added = 0;
    for (const utils::NodeId v : ids) {
        const std::uint64_t bit = std::uint64_t{1} << (v & 63);
        added += (bits[v >> 6] & bit) ? 0 : 1;
        bits[v >> 6] |= bit;
    }
    return added;
}

void NodeMarks::unmark(std::span<const utils::NodeId> ids) noexcept {
    std::uint64_t* bits = bits_.data();
    if (!bits) return;
    // Whole words: cheaper than clearing bit by bit and just as exact, since
    // only members were marked.
    for (utils::NodeId v : ids) bits[v >> 6] = 0;
}

}  // namespace quelmar
