#include <string>
#include <vector>

#include "src/quelmar/clustering_handle.h"

namespace quelmar {

runtime::Result<SizeDiff> ClusteringHandle::size_diff(const RichClustering& other) const {
    std::vector<double> changes;
    for (const auto* entry : selected()) {
        const RichCluster* counterpart = other.find(entry->first);
        if (!counterpart) return runtime::Error(std::string(kNoEntryFoundForKey));
        const double before = static_cast<double>(entry->second.n);
        const double after = static_cast<double>(counterpart->n);
        changes.push_back((after - before) / before);
    }
    SizeDiff diff;
    for (double change : changes) diff.grown += change > 0.0 ? 1 : 0;
    diff.changes = quality::DistributionSummary::from_values(std::move(changes));
    return diff;
}

}  // namespace quelmar
