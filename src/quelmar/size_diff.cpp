#include <string>
#include <vector>

#include "src/quelmar/clustering_handle.h"
#include "src/quelmar/size_change.h"

namespace quelmar {

runtime::Result<SizeDiff> ClusteringHandle::size_diff(const RichClustering& other) const {
    std::vector<double> changes;
    for (const auto* entry : selected()) {
        const RichCluster* counterpart = other.find(entry->first);
        if (!counterpart)
            return runtime::Error(runtime::ErrorKind::kNotFound, std::string(kNoEntryFoundForKey));
        changes.push_back(relative_size_change(entry->second.n, counterpart->n));
    }
    SizeDiff diff;
    for (double change : changes) diff.grown += change > 0.0 ? 1 : 0;
    diff.changes = quality::DistributionSummary::from_values(std::move(changes));
    return diff;
}

}  // namespace quelmar
