#include "src/quelmar/measures_by_name.h"

#include <algorithm>

#include "src/quelmar/agreement.h"

namespace quelmar {

runtime::Result<std::vector<std::pair<std::string, double>>> measures_by_name(
    const Contingency& table, std::span<const std::string_view> names, std::stop_token stop,
    runtime::PassProgress& progress) {
    std::vector<std::string_view> wanted;
    for (std::string_view name : names) {
        if (std::find(kMeasureNames.begin(), kMeasureNames.end(), name) == kMeasureNames.end()) {
            return runtime::Error("unknown measure: " + std::string(name));
        }
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

}  // namespace quelmar
