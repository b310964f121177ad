#include "src/utils/name_set.h"

#include <algorithm>

namespace quelmar::utils {
namespace {

// With random names every insertion misses the cache, so the home slot of
// the name this far ahead is loaded meanwhile.
constexpr std::size_t kLookahead = 16;

}  // namespace

std::optional<NameSet> NameSet::from_id_order(std::vector<NodeName> id_to_name, std::size_t more) {
    NameSet names;
    names.name_to_id_ = NameTable(id_to_name.size() + more);
    const std::size_t n = id_to_name.size();
    for (std::size_t id = 0; id < std::min(n, kLookahead); ++id) {
        names.name_to_id_.prefetch(id_to_name[id]);
    }
    for (std::size_t id = 0; id < n; ++id) {
        if (id + kLookahead < n) names.name_to_id_.prefetch(id_to_name[id + kLookahead]);
        if (!names.name_to_id_.insert(id_to_name[id], static_cast<std::uint32_t>(id)).second) {
            return std::nullopt;
        }
    }
    names.id_to_name_ = std::move(id_to_name);
    return names;
}

}  // namespace quelmar::utils
