#include "src/measures/internal/subgraph_shape.h"

#include <algorithm>

namespace quelmar::measures::internal {

ComponentSizes SubgraphShape::components(const LocalGraph& graph) {
    const std::uint32_t n = graph.node_count();
    ComponentSizes sizes;
    flags_.assign(n, 0);
    queue_.resize(n);
    for (std::uint32_t start = 0; start < n; ++start) {
        if (flags_[start]) continue;
        flags_[start] = 1;
        std::uint32_t head = 0, tail = 0;
        queue_[tail++] = start;
        while (head < tail) {
            const std::uint32_t u = queue_[head++];
            for (std::uint32_t v : graph.neighbours(u)) {
                if (!flags_[v]) {
                    flags_[v] = 1;
                    queue_[tail++] = v;
                }
            }
        }
        sizes.largest = std::max<std::uint64_t>(sizes.largest, tail);
        sizes.smallest = sizes.count == 0 ? tail : std::min<std::uint64_t>(sizes.smallest, tail);
        ++sizes.count;
    }
    return sizes;
}

std::optional<std::uint64_t> SubgraphShape::nodes_on_triangles(const LocalGraph& graph,
                                                               const std::stop_token& stop) {
    triangles_.orient(graph);
    flags_.assign(graph.node_count(), 0);
    const bool finished = triangles_.for_each(
        stop, [this](std::uint32_t u, std::uint32_t v, std::uint32_t x, std::uint64_t,
                     std::uint64_t, std::uint64_t) { flags_[u] = flags_[v] = flags_[x] = 1; });
    if (!finished) return std::nullopt;
    return static_cast<std::uint64_t>(std::count(flags_.begin(), flags_.end(), 1));
}

}  // namespace quelmar::measures::internal
