#pragma once
// A cluster's induced subgraph with its own node numbering: local node i is the
// cluster's i-th smallest member id, and node i's neighbours are
// targets[offsets[i] .. offsets[i + 1]), strictly ascending. Only edges between
// two distinct members are kept (a self-loop is no edge here), each stored at
// both ends, so the lists are symmetric and free of repeats. Scratch of one
// worker: rebuilt in place for every cluster, its capacity kept.

#include <cstdint>
#include <span>
#include <vector>

namespace quelmar::measures::internal {

struct LocalGraph {
    std::vector<std::uint64_t> offsets{0};
    std::vector<std::uint32_t> targets;

    std::uint32_t node_count() const noexcept {
        return static_cast<std::uint32_t>(offsets.size() - 1);
    }
    std::uint64_t degree(std::uint32_t u) const noexcept { return offsets[u + 1] - offsets[u]; }
    std::span<const std::uint32_t> neighbours(std::uint32_t u) const noexcept {
        return {targets.data() + offsets[u], targets.data() + offsets[u + 1]};
    }

    void clear() noexcept {
        offsets.assign(1, 0);
        targets.clear();
    }
    // Appends the next node, whose neighbours were pushed onto targets.
    void close_node() { offsets.push_back(targets.size()); }
};

}  // namespace quelmar::measures::internal
