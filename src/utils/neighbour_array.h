#pragma once
// The flat neighbour array of a graph (see utils/mapped_vector.h for why it
// is not a std::vector).

#include "utils/mapped_vector.h"
#include "utils/node_id.h"

namespace quelmar {

using NeighbourArray = MappedVector<NodeId>;

}  // namespace quelmar
