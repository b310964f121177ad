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
#include "src/agreement/contingency.h"

namespace quelmar::agreement {

inline constexpr std::array<std::string_view, 9> kMeasureNames = {
    "nmi", "nmi_geometric", "nmi_min", "nmi_max", "ari", "vi", "f1", "onmi", "omega"};

// Whether the measure `name` needs both sides to be partitions.
bool needs_partition(std::string_view name) noexcept;

// Each named measure in the order given, duplicates once. Fails before any
// work with "unknown agreement measure '<name>'; known measures: nmi, ..."
// for a name not in kMeasureNames, else with the first failing measure's
// error (a partition measure on a cover, an interruption). With
// `only_where_apt`, the measures that need partitions are left out when a
// side overlaps, instead of failing. Long measures report their passes to
// `progress`.
runtime::Result<std::vector<std::pair<std::string, double>>> measures_by_name(
    const Contingency& table, std::span<const std::string_view> names, std::stop_token stop = {},
    runtime::PassProgress& progress = runtime::PassProgress::unwatched(),
    bool only_where_apt = false);

}  // namespace quelmar::agreement
