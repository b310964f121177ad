#include "src/measures/cluster_measures.h"

#include <algorithm>
#include <atomic>
#include <limits>
#include <memory>

#include "runtime/parallel.h"
#include "src/measures/internal/local_graph.h"
#include "src/measures/internal/measure_route.h"
#include "src/measures/internal/member_ranks.h"
#include "src/measures/internal/min_cut.h"
#include "src/measures/internal/subgraph_shape.h"
#include "src/quelmar/member_walk.h"
#include "src/quelmar/node_marks.h"
#include "src/utils/task_monitor.h"

namespace quelmar::measures {
namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr std::size_t kMeasureCount = kMeasures.size();

// measure_definition() finds a row by its enum value.
consteval bool rows_follow_enum_order() {
    for (std::size_t i = 0; i < kMeasures.size(); ++i) {
        if (static_cast<std::size_t>(kMeasures[i].measure) != i) return false;
    }
    return true;
}
static_assert(rows_follow_enum_order());

double to_double(std::uint64_t value) noexcept { return static_cast<double>(value); }

double divide(double numerator, double denominator) noexcept {
    return denominator == 0.0 ? kNaN : numerator / denominator;
}

// Every measure of one cluster, indexed by ClusterMeasure; only those of the
// groups asked for are filled in.
using MeasureRow = std::array<double, kMeasureCount>;

double& at(MeasureRow& row, ClusterMeasure measure) noexcept {
    return row[static_cast<std::size_t>(measure)];
}

struct Plan {
    bool member_pass = false;
    bool subgraph = false;
    bool triangles = false;
    bool min_cut = false;
    double median = kNaN;
    std::uint64_t node_count = 0;
    std::uint64_t total_edges = 0;
    bool use_ranks = false;
};

void fill_counts(const ClusterCounts& counts, const Plan& plan, MeasureRow& row) {
    const double n = to_double(counts.n);
    const double c = to_double(counts.c);
    const double inside = to_double(2 * counts.m);
    const double conductance = divide(c, to_double(2 * counts.m + counts.c));
    at(row, ClusterMeasure::Conductance) = conductance;
    at(row, ClusterMeasure::NormalizedCut) =
        conductance + divide(c, to_double(2 * (plan.total_edges - counts.m) + counts.c));
    at(row, ClusterMeasure::CutRatio) =
        divide(c, to_double(counts.n * (plan.node_count - counts.n)));
    at(row, ClusterMeasure::Expansion) = divide(c, n);
    at(row, ClusterMeasure::AverageInternalDegree) = divide(inside, n);
}

// One worker's scratch, kept across its clusters.
struct Scratch {
    explicit Scratch(std::uint64_t node_count) : marks(node_count), ranks(node_count) {}
    NodeMarks marks;
    internal::MemberRanks ranks;
    std::vector<utils::NodeId> members;
    internal::LocalGraph local;
    internal::SubgraphShape shape;
    internal::MinCutSolver min_cut;
};

struct MemberSums {
    double out_sum = 0.0;
    double out_max = 0.0;
    double in_sum = 0.0;
    std::uint64_t flake = 0;
    std::uint64_t over_median = 0;
    std::uint64_t largest_inside = 0;
    bool stopped = false;  // the walk gave up: the sums are partial
};

// Members walked between two looks at the stop token.
constexpr std::size_t kMembersPerStopCheck = std::size_t{1} << 14;

// Adds one member's degree and internal degree to the member-pass sums.
void add_member(std::uint64_t degree, std::uint64_t inside, double median, MemberSums& sums) {
    const std::uint64_t outside = degree - inside;
    if (degree != 0) {
        const double out_fraction = to_double(outside) / to_double(degree);
        sums.out_sum += out_fraction;
        sums.out_max = std::max(sums.out_max, out_fraction);
        sums.in_sum += to_double(inside) / to_double(degree);
    }
    sums.flake += inside < outside ? 1 : 0;
    sums.over_median += to_double(inside) > median ? 1 : 0;
    sums.largest_inside = std::max(sums.largest_inside, inside);
}

// The induced subgraph through the worker's rank array: one lookup per
// neighbour. Fetches the offsets, then the lists, of members a little ahead,
// as walk_members does.
void walk_with_ranks(const base::Graph& graph, std::span<const utils::NodeId> members,
                     const Plan& plan, Scratch& scratch, MemberSums& sums,
                     const std::stop_token& stop) {
    internal::MemberRanks& ranks = scratch.ranks;
    internal::LocalGraph& local = scratch.local;
    ranks.assign(members);
    for (std::size_t i = 0; i < members.size(); ++i) {
        if (i % kMembersPerStopCheck == kMembersPerStopCheck - 1 && stop.stop_requested()) {
            sums.stopped = true;
            break;
        }
        fetch_neighbours_ahead(graph, members, i);
        const utils::NodeId u = members[i];
        const auto neighbours = graph.neighbours(u);
        std::uint64_t inside = 0;
        for (utils::NodeId v : neighbours) {
            const std::uint32_t rank = ranks.rank_plus_one(v);
            if (rank == 0) continue;
            ++inside;
            if (v != u) local.targets.push_back(rank - 1);
        }
        local.close_node();
        if (plan.member_pass) add_member(neighbours.size(), inside, plan.median, sums);
    }
    ranks.clear(members);
}

// Walks the members once for the member pass and, when asked, lays out the
// induced subgraph in scratch.local. Members are numbered by rank: through
// the rank array when it pays off, else by searching the member list (a
// member's member neighbours come in ascending order, so each search starts
// at the previous find).
MemberSums walk(const base::Graph& graph, const RichCluster& cluster, const Plan& plan,
                Scratch& scratch, const std::stop_token& stop) {
    std::vector<utils::NodeId>& members = scratch.members;
    members.resize(cluster.members.cardinality());
    cluster.members.toUint32Array(members.data());
    internal::LocalGraph& local = scratch.local;
    local.clear();

    MemberSums sums;
    if (plan.subgraph) {
        local.offsets.reserve(members.size() + 1);
        local.targets.reserve(cluster.vol - cluster.c);
        if (plan.use_ranks) {
            walk_with_ranks(graph, members, plan, scratch, sums, stop);
            return sums;
        }
    }
    std::size_t walked = 0;
    walk_members(
        graph, members, cluster.members, &scratch.marks,
        [&](utils::NodeId u, std::span<const utils::NodeId> neighbours, auto is_member) {
            // The shared walk cannot be left early; once stopped it skips.
            if (++walked % kMembersPerStopCheck == 0 && stop.stop_requested()) {
                sums.stopped = true;
            }
            if (sums.stopped) return;
            std::uint64_t inside = 0;
            if (plan.subgraph) {
                auto cursor = members.begin();
                for (utils::NodeId v : neighbours) {
                    if (!is_member(v)) continue;
                    ++inside;
                    if (v == u) continue;
                    cursor = std::lower_bound(cursor, members.end(), v);
                    local.targets.push_back(static_cast<std::uint32_t>(cursor - members.begin()));
                }
                local.close_node();
            } else {
                for (utils::NodeId v : neighbours) inside += is_member(v) ? 1 : 0;
            }
            if (plan.member_pass) add_member(neighbours.size(), inside, plan.median, sums);
        });
    return sums;
}

void fill_member_pass(const MemberSums& sums, std::uint64_t member_count, MeasureRow& row) {
    const double n = to_double(member_count);
    const bool empty = member_count == 0;
    at(row, ClusterMeasure::MaxOdf) = empty ? kNaN : sums.out_max;
    at(row, ClusterMeasure::AverageOdf) = divide(sums.out_sum, n);
    at(row, ClusterMeasure::FlakeOdf) = divide(to_double(sums.flake), n);
    at(row, ClusterMeasure::Embeddedness) = divide(sums.in_sum, n);
    at(row, ClusterMeasure::HubDominance) =
        empty ? kNaN : divide(to_double(sums.largest_inside), n - 1.0);
    at(row, ClusterMeasure::Fomd) = divide(to_double(sums.over_median), n);
}

// False when stopped on the way.
bool fill_subgraph(const Plan& plan, Scratch& scratch, MeasureRow& row,
                   const std::stop_token& stop) {
    const internal::LocalGraph& local = scratch.local;
    const std::uint64_t n = local.node_count();
    const internal::ComponentSizes components = scratch.shape.components(local);
    at(row, ClusterMeasure::Components) = to_double(components.count);
    at(row, ClusterMeasure::LargestComponent) = to_double(components.largest);
    if (plan.triangles) {
        std::optional<std::uint64_t> on_triangles = scratch.shape.nodes_on_triangles(local, stop);
        if (!on_triangles) return false;
        at(row, ClusterMeasure::TriangleParticipation) =
            divide(to_double(*on_triangles), to_double(n));
    }
    if (plan.min_cut) {
        double value = kNaN, side = kNaN;
        if (n >= 2 && components.count > 1) {
            value = 0.0;
            side = to_double(components.smallest);
        } else if (n >= 2) {
            std::optional<internal::MinCut> cut = scratch.min_cut.solve(local, stop);
            if (!cut) return false;
            value = to_double(cut->value);
            side = to_double(cut->smaller_side);
        }
        at(row, ClusterMeasure::Mincut) = value;
        at(row, ClusterMeasure::MincutSide) = side;
    }
    return true;
}

}  // namespace

const MeasureDefinition& measure_definition(ClusterMeasure measure) noexcept {
    return kMeasures[static_cast<std::size_t>(measure)];
}

const MeasureDefinition* find_measure(std::string_view name) noexcept {
    for (const MeasureDefinition& row : kMeasures) {
        if (row.name == name) return &row;
    }
    return nullptr;
}

std::vector<ClusterMeasure> all_measures() {
    std::vector<ClusterMeasure> measures;
    for (const MeasureDefinition& row : kMeasures) measures.push_back(row.measure);
    return measures;
}

std::string known_measure_names() {
    std::string names;
    for (const MeasureDefinition& row : kMeasures) {
        if (!names.empty()) names += ", ";
        names += row.name;
    }
    return names;
}

runtime::Result<std::vector<ClusterMeasure>> measures_from_names(
    std::span<const std::string_view> names) {
    std::vector<ClusterMeasure> measures;
    for (std::string_view name : names) {
        const MeasureDefinition* row = find_measure(name);
        if (!row) {
            return runtime::Error("unknown measure '" + std::string(name) +
                                  "'; known measures: " + known_measure_names());
        }
        measures.push_back(row->measure);
    }
    return measures;
}

double median_degree(const base::Graph& graph) {
    const std::uint64_t n = graph.node_count();
    if (n == 0) return kNaN;
    // A histogram of degrees: no copy of N values, and exact.
    std::vector<std::uint64_t> histogram;
    for (std::uint64_t u = 0; u < n; ++u) {
        const std::uint64_t d = graph.degree(static_cast<utils::NodeId>(u));
        if (d >= histogram.size()) histogram.resize(d + 1, 0);
        ++histogram[d];
    }
    // The degrees at sorted positions (n - 1) / 2 and n / 2.
    auto degree_at = [&histogram](std::uint64_t position) {
        std::uint64_t seen = 0;
        for (std::uint64_t d = 0; d < histogram.size(); ++d) {
            seen += histogram[d];
            if (seen > position) return d;
        }
        return std::uint64_t{histogram.size() - 1};
    };
    const double low = to_double(degree_at((n - 1) / 2));
    const double high = to_double(degree_at(n / 2));
    return (low + high) / 2.0;
}

runtime::Result<std::vector<std::vector<double>>> compute_cluster_measures(
    const EnrichedGraph& graph, std::span<const RichCluster* const> clusters,
    std::span<const ClusterMeasure> measures, runtime::PassProgress& progress,
    std::stop_token stop) {
    return internal::compute_cluster_measures_routed(
        graph, clusters, measures, progress, std::move(stop), internal::RankRoute::Automatic);
}

runtime::Result<std::vector<std::vector<double>>> internal::compute_cluster_measures_routed(
    const EnrichedGraph& enriched, std::span<const RichCluster* const> clusters,
    std::span<const ClusterMeasure> measures, runtime::PassProgress& progress, std::stop_token stop,
    RankRoute route) {
    const base::Graph& graph = enriched.graph();
    Plan plan;
    plan.use_ranks = route == RankRoute::Automatic && MemberRanks::pays_off(graph.node_count());
    plan.node_count = graph.node_count();
    plan.total_edges = graph.m_cache();
    for (ClusterMeasure measure : measures) {
        switch (measure_definition(measure).group) {
            case MeasureGroup::Counts: break;
            case MeasureGroup::MemberPass: plan.member_pass = true; break;
            case MeasureGroup::InducedSubgraph: plan.subgraph = true; break;
        }
        plan.triangles |= measure == ClusterMeasure::TriangleParticipation;
        plan.min_cut |= measure == ClusterMeasure::Mincut || measure == ClusterMeasure::MincutSide;
    }
    if (std::find(measures.begin(), measures.end(), ClusterMeasure::Fomd) != measures.end()) {
        plan.median = median_degree(graph);
    }
    const bool walks = plan.member_pass || plan.subgraph;

    std::vector<std::vector<double>> columns(measures.size(),
                                             std::vector<double>(clusters.size(), kNaN));
    std::uint64_t length = 0;
    for (const RichCluster* cluster : clusters) length += 1 + (walks ? cluster->vol : 0);

    std::vector<std::unique_ptr<Scratch>> scratch(runtime::worker_count());
    std::atomic<bool> stopped{false};
    {
        runtime::ReportedPass pass(progress, length);
        runtime::parallel_for_worker(clusters.size(), [&](std::size_t i, std::size_t worker) {
            if (stopped.load(std::memory_order_relaxed) || stop.stop_requested()) {
                stopped.store(true, std::memory_order_relaxed);
                return;
            }
            const RichCluster& cluster = *clusters[i];
            MeasureRow row;
            row.fill(kNaN);
            fill_counts(cluster, plan, row);
            if (walks) {
                auto& mine = scratch[worker];
                if (!mine) mine = std::make_unique<Scratch>(plan.node_count);
                const MemberSums sums = walk(graph, cluster, plan, *mine, stop);
                if (sums.stopped) {
                    stopped.store(true, std::memory_order_relaxed);
                    return;
                }
                if (plan.member_pass) fill_member_pass(sums, cluster.n, row);
                if (plan.subgraph && !fill_subgraph(plan, *mine, row, stop)) {
                    stopped.store(true, std::memory_order_relaxed);
                    return;
                }
            }
            for (std::size_t j = 0; j < measures.size(); ++j) {
                columns[j][i] = at(row, measures[j]);
            }
            pass.advance(1 + (walks ? cluster.vol : 0));
        });
    }
    if (stopped.load()) return runtime::Error::interrupted();
    return columns;
}

}  // namespace quelmar::measures
