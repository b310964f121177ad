#pragma once
// Connected components and triangle participation of a LocalGraph. Worker
// scratch: reuse one across clusters.

#include <cstdint>
#include <optional>
#include <stop_token>
#include <vector>

#include "src/measures/internal/local_graph.h"
#include "src/measures/internal/triangles.h"

namespace quelmar::measures::internal {

struct ComponentSizes {
    std::uint64_t count = 0;
    std::uint64_t largest = 0;   // 0 for no nodes
    std::uint64_t smallest = 0;  // 0 for no nodes
};

class SubgraphShape {
public:
    // Breadth-first from every node not yet reached, in node order.
    ComponentSizes components(const LocalGraph& graph);

    // Nodes that lie on at least one triangle; nullopt when `stop` was
    // requested before the listing ended.
    std::optional<std::uint64_t> nodes_on_triangles(const LocalGraph& graph,
                                                    const std::stop_token& stop);

private:
    std::vector<std::uint8_t> flags_;
    std::vector<std::uint32_t> queue_;
    TriangleLister triangles_;
};

}  // namespace quelmar::measures::internal
