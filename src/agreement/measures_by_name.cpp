#include "src/agreement/measures_by_name.h"

#include <algorithm>

#include "src/agreement/agreement.h"

namespace quelmar::agreement {

bool needs_partition(std::string_view name) noexcept {
    return name.starts_with("nmi") || name == "ari" || name == "vi";
}

runtime::Result<std::vector<std::pair<std::string, double>>> measures_by_name(
    const Contingency& table, std::span<const std::string_view> names, std::stop_token stop,
    runtime::PassProgress& progress, bool only_where_apt) {
    const bool partitions = !table.a.overlap && !table.b.overlap;
    std::vector<std::string_view> wanted;
    for (std::string_view name : names) {
        if (std::find(kMeasureNames.begin(), kMeasureNames.end(), name) == kMeasureNames.end()) {
            std::string known;
            for (std::string_view entry : kMeasureNames) {
                known += (known.empty() ? "" : ", ") + std::string(entry);
            }
            return runtime::Error("unknown agreement measure '" + std::string(name) +
                                  "'; known measures: " + known);
        }
        if (only_where_apt && !partitions && needs_partition(name)) continue;
        if (std::find(wanted.begin(), wanted.end(), name) == wanted.end()) wanted.push_back(name);
    }
    std::vector<std::pair<std::string, double>> values;
    for (std::string_view name : wanted) {
        runtime::Result<double> value = [&]() -> runtime::Result<double> {
            if (name == "nmi") return nmi(table);
            if (name == "nmi_geometric") return nmi(table, Normalisation::kGeometric);
            if (name == "nmi_min") return nmi(table, Normalisation::kMin);
            if (name == "nmi_max") return nmi(table, Normalisation::kMax);
            if (name == "ari") return ari(table);
            if (name == "vi") return vi(table);
            if (name == "f1") return f1(table);
            if (name == "onmi") return onmi(table, stop, progress);
            return omega(table, stop, progress);
        }();
        if (!value.ok()) return std::move(value).error();
        values.emplace_back(std::string(name), *value);
    }
    return values;
}

}  // namespace quelmar::agreement
