#pragma once
// The flat neighbour array of a graph (see src/utils/mapped_vector.h for why it
// is not a std::vector).

#include "src/utils/mapped_vector.h"
#include "src/utils/node_id.h"

namespace quelmar::utils {

using NeighbourArray = MappedVector<NodeId>;

}  // namespace quelmar::utils
