#pragma once
// The pieces of a finished graph as the snapshot reader produces them, before
// the graph model (which lives above this library) adopts them: the name set,
// the running degree sums (n + 1 entries, starting at 0), the flat neighbour
// array and the edge count. See src/base/graph.h for what they mean.

#include <cstdint>
#include <vector>

#include "src/utils/name_set.h"
#include "src/utils/neighbour_array.h"
#include "src/utils/node_id.h"

namespace quelmar::utils {

struct GraphParts {
    NameSet name_set;
    std::vector<std::uint64_t> offsets{0};
    NeighbourArray neighbours;
    std::uint64_t m_cache = 0;
};

}  // namespace quelmar::utils
