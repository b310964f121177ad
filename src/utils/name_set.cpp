#include "src/utils/name_set.h"

#include <utility>

namespace quelmar::utils {

std::optional<NameSet> NameSet::from_id_order(std::vector<NodeName> id_to_name, std::size_t more,
                                              runtime::WorkerPool* pool,
                                              const std::function<void()>& on_caller) {
    NameSet names;
    names.name_to_id_ = NameTable(id_to_name.size() + more);
    if (!names.name_to_id_.insert_all(id_to_name, pool, on_caller)) return std::nullopt;
    names.id_to_name_ = std::move(id_to_name);
    return names;
}

}  // namespace quelmar::utils
