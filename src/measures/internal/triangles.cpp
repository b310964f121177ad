#include "src/measures/internal/triangles.h"

namespace quelmar::measures::internal {

void TriangleLister::orient(const LocalGraph& graph) {
    const std::uint32_t n = graph.node_count();
    auto below = [&graph](std::uint32_t a, std::uint32_t b) {
        const std::uint64_t da = graph.degree(a), db = graph.degree(b);
        return da < db || (da == db && a < b);
    };
    out_offsets_.assign(n + 1, 0);
    heads_.clear();
    tails_.clear();
    heads_.reserve(graph.targets.size() / 2);
    tails_.reserve(graph.targets.size() / 2);
    for (std::uint32_t u = 0; u < n; ++u) {
        for (std::uint32_t v : graph.neighbours(u)) {
            if (below(u, v)) {
                heads_.push_back(v);
                tails_.push_back(u);
            }
        }
        out_offsets_[u + 1] = heads_.size();
    }
}

}  // namespace quelmar::measures::internal
