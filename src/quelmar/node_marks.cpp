#include "src/quelmar/node_marks.h"

#include <new>

namespace quelmar {

void NodeMarks::mark(std::span<const utils::NodeId> ids) {
    if (!bits_) {
        void* zeroed = std::calloc(words_ == 0 ? 1 : words_, sizeof(std::uint64_t));
        if (!zeroed) throw std::bad_alloc();
        bits_.reset(static_cast<std::uint64_t*>(zeroed));
    }
    std::uint64_t* bits = bits_.get();
    for (utils::NodeId v : ids) bits[v >> 6] |= std::uint64_t{1} << (v & 63);
}

void NodeMarks::unmark(std::span<const utils::NodeId> ids) noexcept {
    if (!bits_) return;
    std::uint64_t* bits = bits_.get();
    // Whole words: cheaper than clearing bit by bit and just as exact, since
    // only members were marked.
    for (utils::NodeId v : ids) bits[v >> 6] = 0;
}

}  // namespace quelmar
