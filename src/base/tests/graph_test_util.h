#pragma once
// Reading a finished graph back as plain containers, for comparisons.

#include <cstdint>
#include <vector>

#include "src/base/graph.h"

namespace quelmar::testing {

inline std::vector<std::vector<utils::NodeId>> adjacency(const base::Graph& graph) {
    std::vector<std::vector<utils::NodeId>> lists;
    for (std::uint64_t u = 0; u < graph.node_count(); ++u) {
        const auto span = graph.neighbours(static_cast<utils::NodeId>(u));
        lists.emplace_back(span.begin(), span.end());
    }
    return lists;
}

}  // namespace quelmar::testing
