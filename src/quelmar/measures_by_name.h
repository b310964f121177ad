#pragma once
// The agreement measures by name, for bindings that take a list of names
// and hand back a mapping: "nmi" (arithmetic normalisation), "nmi_geometric",
// "nmi_min", "nmi_max", "ari", "vi", "f1", "onmi", "omega".

#include <array>
#include <span>
#include <stop_token>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "runtime/progress.h"
#include "runtime/result.h"
#include "src/quelmar/contingency.h"

namespace quelmar {

inline constexpr std::array<std::string_view, 9> kMeasureNames = {
    "nmi", "nmi_geometric", "nmi_min", "nmi_max", "ari", "vi", "f1", "onmi", "omega"};

// Each named measure in the order given, duplicates once. Fails before any
// work with "unknown measure: <name>" for a name not in kMeasureNames, else
// with the first failing measure's error (a partition measure on a cover, an
// interruption). Long measures report their passes to `progress`.
runtime::Result<std::vector<std::pair<std::string, double>>> measures_by_name(
    const Contingency& table, std::span<const std::string_view> names, std::stop_token stop = {},
    runtime::PassProgress& progress = runtime::PassProgress::unwatched());

}  // namespace quelmar
