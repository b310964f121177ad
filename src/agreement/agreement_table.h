#pragma once
// The agreement measures as one table, as the statistics and the quality
// measures have theirs: each row names a measure as the bindings take it and
// says what computing it needs, so callers pick and group measures by the
// rows, never by their names. The measures themselves are in agreement.h.

#include <array>
#include <cstdint>
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

enum class AgreementMeasure : std::uint8_t {
    Nmi,
    NmiGeometric,
    NmiMin,
    NmiMax,
    Ari,
    Vi,
    F1,
    Onmi,
    Omega,
};

struct AgreementDefinition {
    AgreementMeasure measure;
    std::string_view name;
    // Both sides must be partitions; refused on a cover (or left out when
    // the caller asks for the measures that apply).
    bool needs_partition;
    // Needs the clusters' members, not only their intersection sizes: not
    // available from a contingency made of counted cells.
    bool needs_members;
    // A pass of its own over the nodes, reported to the progress.
    bool long_pass;
    // The measure this row normalises another way, or empty.
    std::string_view variant_of;
};

// The order callers list them in.
inline constexpr std::array<AgreementDefinition, 9> kAgreementMeasures = {{
    {AgreementMeasure::Nmi, "nmi", true, false, false, ""},
    {AgreementMeasure::NmiGeometric, "nmi_geometric", true, false, false, "nmi"},
    {AgreementMeasure::NmiMin, "nmi_min", true, false, false, "nmi"},
    {AgreementMeasure::NmiMax, "nmi_max", true, false, false, "nmi"},
    {AgreementMeasure::Ari, "ari", true, false, false, ""},
    {AgreementMeasure::Vi, "vi", true, false, false, ""},
    {AgreementMeasure::F1, "f1", false, false, false, ""},
    {AgreementMeasure::Onmi, "onmi", false, false, true, ""},
    {AgreementMeasure::Omega, "omega", false, true, true, ""},
}};

// The row named exactly `name`, or null.
const AgreementDefinition* find_agreement_measure(std::string_view name) noexcept;

// The rows named, in the order given, each once. An unknown name fails with
// "unknown agreement measure '<name>'; known measures: nmi, ...".
runtime::Result<std::vector<const AgreementDefinition*>> agreement_measures_from_names(
    std::span<const std::string_view> names);

// Each named measure in the order given, duplicates once. Fails before any
// work for an unknown name (as agreement_measures_from_names), else with the
// first failing measure's error (a partition measure on a cover, an
// interruption). With `only_where_apt`, the measures that need partitions
// are left out when a side overlaps, instead of failing. Long measures
// report their passes to `progress`.
runtime::Result<std::vector<std::pair<std::string, double>>> measures_by_name(
    const Contingency& table, std::span<const std::string_view> names, std::stop_token stop = {},
    runtime::PassProgress& progress = runtime::PassProgress::unwatched(),
    bool only_where_apt = false);

}  // namespace quelmar::agreement
