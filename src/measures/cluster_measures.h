#pragma once
// Per-cluster quality measures beyond the statistics: one row each in
// kMeasures (the measure, its name as Python reads it, and the group that
// decides what computing it costs), and one pass that computes the columns a
// caller asks for.
//
// Notation: a member's degree d is its number of adjacency entries in the
// whole graph and its internal degree k the entries that lead to members, as
// in the counts (cluster_counts.h): a self-loop is one entry, and it leads to
// a member. So the members' k sum to 2m (+1 per self-loop) and their d - k to
// c. N is the graph's node count, M its m_cache. A quotient whose denominator
// is 0 is NaN (quiet), whatever its numerator. Integers come out as doubles.
//
// Counts (no walk; the counts are those of packing):
//   conductance              c / (2m + c)
//   normalized_cut           c / (2m + c) + c / (2(M - m) + c)
//   cut_ratio                c / (n (N - n))
//   expansion                c / n
//   average_internal_degree  2m / n
// Member pass (one walk over the members' lists, as packing does):
//   max_odf          the largest (d - k) / d over the members
//   average_odf      the sum of (d - k) / d over the members, / n
//   flake_odf        the members with k < d - k, / n
//   embeddedness     the sum of k / d over the members, / n
//   hub_dominance    the largest k / (n - 1)
//   fomd             the members with k > the median degree (median_degree()), / n
//   A member of degree 0 is a member as in the counts (it counts in n): both
//   of its fractions (d - k) / d and k / d are taken as 0, having no entries.
//   A cluster with no members gives NaN for all six.
// Induced subgraph (the members and the edges between two distinct members;
// self-loops are no edges here):
//   components              its connected components (0 for no members)
//   largest_component       the members of its largest component (0 for none)
//   triangle_participation  the members on a triangle of it, / n
//   mincut                  its edge connectivity: the fewest edges whose
//                           removal disconnects it; 0 when it is disconnected
//   mincut_side             the members on the smaller side of one minimum
//                           cut (internal/min_cut.h tells which); when it is
//                           disconnected, the size of its smallest component
//                           (the smallest side a cut of 0 edges can have)
//   Fewer than two members admit no cut: mincut and mincut_side are NaN.

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <stop_token>
#include <string>
#include <string_view>
#include <vector>

#include "runtime/progress.h"
#include "runtime/result.h"
#include "src/base/graph.h"
#include "src/quelmar/enriched_graph.h"
#include "src/quelmar/rich_cluster.h"

namespace quelmar::measures {

enum class ClusterMeasure : std::uint8_t {
    Conductance,
    NormalizedCut,
    CutRatio,
    Expansion,
    AverageInternalDegree,
    MaxOdf,
    AverageOdf,
    FlakeOdf,
    Embeddedness,
    HubDominance,
    Fomd,
    Components,
    LargestComponent,
    TriangleParticipation,
    Mincut,
    MincutSide,
};

// What a measure needs, cheapest first.
enum class MeasureGroup : std::uint8_t { Counts, MemberPass, InducedSubgraph };

struct MeasureDefinition {
    ClusterMeasure measure;
    std::string_view name;
    MeasureGroup group;
};

// In enum order, which is the order "all" lists them in.
inline constexpr std::array<MeasureDefinition, 16> kMeasures = {{
    {ClusterMeasure::Conductance, "conductance", MeasureGroup::Counts},
    {ClusterMeasure::NormalizedCut, "normalized_cut", MeasureGroup::Counts},
    {ClusterMeasure::CutRatio, "cut_ratio", MeasureGroup::Counts},
    {ClusterMeasure::Expansion, "expansion", MeasureGroup::Counts},
    {ClusterMeasure::AverageInternalDegree, "average_internal_degree", MeasureGroup::Counts},
    {ClusterMeasure::MaxOdf, "max_odf", MeasureGroup::MemberPass},
    {ClusterMeasure::AverageOdf, "average_odf", MeasureGroup::MemberPass},
    {ClusterMeasure::FlakeOdf, "flake_odf", MeasureGroup::MemberPass},
    {ClusterMeasure::Embeddedness, "embeddedness", MeasureGroup::MemberPass},
    {ClusterMeasure::HubDominance, "hub_dominance", MeasureGroup::MemberPass},
    {ClusterMeasure::Fomd, "fomd", MeasureGroup::MemberPass},
    {ClusterMeasure::Components, "components", MeasureGroup::InducedSubgraph},
    {ClusterMeasure::LargestComponent, "largest_component", MeasureGroup::InducedSubgraph},
    {ClusterMeasure::TriangleParticipation, "triangle_participation",
     MeasureGroup::InducedSubgraph},
    {ClusterMeasure::Mincut, "mincut", MeasureGroup::InducedSubgraph},
    {ClusterMeasure::MincutSide, "mincut_side", MeasureGroup::InducedSubgraph},
}};

const MeasureDefinition& measure_definition(ClusterMeasure measure) noexcept;
// The row named exactly `name`, or null.
const MeasureDefinition* find_measure(std::string_view name) noexcept;
// Every measure, in table order.
std::vector<ClusterMeasure> all_measures();
// The measures named, in the order given (repeats allowed). An unknown name
// fails with "unknown measure '<name>'; known measures: conductance, ...".
runtime::Result<std::vector<ClusterMeasure>> measures_from_names(
    std::span<const std::string_view> names);
// "conductance, normalized_cut, ...": the names in table order.
std::string known_measure_names();

// The median of all N node degrees (self-loops one entry, degree-0 nodes
// included): the middle one for odd N, the mean of the two middle ones for
// even N, as numpy's median; NaN for no nodes.
double median_degree(const base::Graph& graph);

// One column per entry of `measures`, in that order; row i belongs to
// clusters[i], which must have been packed against `graph`. Each cluster is
// computed whole by one worker of the process-wide pool with a deterministic
// algorithm, so the columns never depend on the pool size. Only the groups
// asked for are computed: counts alone walk nothing.
//
// Reports one pass to `progress` whose length weighs each cluster as 1 plus,
// when the members are walked, its volume. Fails with
// utils::TaskMonitor::kInterrupted when `stop` is requested before the pass
// ends: it is looked at before each cluster and inside long listings and
// minimum cuts, so the pass returns well within a second.
runtime::Result<std::vector<std::vector<double>>> compute_cluster_measures(
    const EnrichedGraph& graph, std::span<const RichCluster* const> clusters,
    std::span<const ClusterMeasure> measures,
    runtime::PassProgress& progress = runtime::PassProgress::unwatched(),
    std::stop_token stop = {});

}  // namespace quelmar::measures
