#include "src/agreement/contingency.h"

#include <algorithm>
#include <memory>
#include <string>

#include "runtime/parallel.h"
#include "src/agreement/internal/member_index.h"
#include "src/quelmar/member_walk.h"
#include "src/quelmar/node_marks.h"

namespace quelmar::agreement {

runtime::Result<Uncovered> uncovered_from_name(std::string_view name) {
    if (name == "singletons") return Uncovered::kSingletons;
    if (name == "drop") return Uncovered::kDrop;
    return runtime::Error("uncovered: expected 'singletons' or 'drop', got '" + std::string(name) +
                          "'");
}

namespace {

// Clusters of A per block: a block's cells come out in one vector, so the
// cells of all blocks join in cluster order whatever worker made them.
constexpr std::size_t kBlock = 256;

// The union of the clusters' members, in a fixed number of parts on the pool
// (a union is exact, so the parts never change the result).
Roaring cover_of(std::span<const RichCluster* const> clusters) {
    constexpr std::size_t kParts = 16;
    std::vector<Roaring> parts = runtime::parallel_map(kParts, [&](std::size_t part) {
        const std::size_t begin = clusters.size() * part / kParts;
        const std::size_t end = clusters.size() * (part + 1) / kParts;
        std::vector<const MemberBitmap*> bitmaps;
        for (std::size_t i = begin; i < end; ++i) bitmaps.push_back(&clusters[i]->members);
        return union_of(bitmaps);
    });
    std::vector<const Roaring*> bitmaps;
    for (const Roaring& part : parts) bitmaps.push_back(&part);
    return Roaring::fastunion(bitmaps.size(), bitmaps.data());
}

// Whether no node is in two of the clusters: their sizes add up to the union.
bool disjoint(std::span<const RichCluster* const> clusters, const Roaring& cover) {
    std::uint64_t total = 0;
    for (const RichCluster* cluster : clusters) total += cluster->members.cardinality();
    return total == cover.cardinality();
}

// Per worker: intersection counts by effective cluster of B, and the ones
// touched by the cluster at hand.
struct CountScratch {
    std::vector<std::uint32_t> counts;
    std::vector<std::uint64_t> touched;
    std::vector<std::uint32_t> members;
};

// The witness of overlap on one side, or none when every universe node lies
// in one cluster at most. Walks the side again: only failing comparisons pay.
std::optional<OverlapWitness> find_overlap(const base::Graph& graph, ComparedSide side,
                                           const NodeMarks* universe) {
    std::vector<std::uint8_t> seen(graph.node_count(), 0);
    std::uint64_t node = graph.node_count();
    for (const RichCluster* cluster : side.clusters) {
        cluster->members.for_each([&](std::uint32_t v) {
            if (seen[v]++ && (!universe || universe->marked(v)))
                node = std::min<std::uint64_t>(node, v);
            seen[v] = 1;
        });
    }
    if (node == graph.node_count()) return std::nullopt;
    OverlapWitness witness;
    witness.node = graph.name_set().id_to_name()[node];
    int found = 0;
    for (std::size_t i = 0; i < side.clusters.size() && found < 2; ++i) {
        if (!side.clusters[i]->members.contains(static_cast<std::uint32_t>(node))) continue;
        (found++ == 0 ? witness.first : witness.second) = side.ids[i];
    }
    return witness;
}

void fill_side(Contingency::Side& side, ComparedSide from) {
    side.ids.assign(from.ids.begin(), from.ids.end());
    side.sources.assign(from.clusters.begin(), from.clusters.end());
}

// Rows of A, then the cells ordered by B (a counting sort keeps A's order
// within each B).
void index_rows(Contingency& table) {
    const std::size_t a_count = table.a.effective(), b_count = table.b.effective();
    table.a.row.assign(a_count + 1, 0);
    table.b.row.assign(b_count + 1, 0);
    for (const ContingencyCell& cell : table.cells) {
        ++table.a.row[cell.a + 1];
        ++table.b.row[cell.b + 1];
    }
    for (std::size_t k = 0; k < a_count; ++k) table.a.row[k + 1] += table.a.row[k];
    for (std::size_t k = 0; k < b_count; ++k) table.b.row[k + 1] += table.b.row[k];
    table.cells_by_b.resize(table.cells.size());
    std::vector<std::uint64_t> next(table.b.row.begin(), table.b.row.end() - 1);
    for (std::uint64_t c = 0; c < table.cells.size(); ++c) {
        table.cells_by_b[next[table.cells[c].b]++] = c;
    }
}

}  // namespace

runtime::Result<Contingency> Contingency::build(const EnrichedGraph& graph, ComparedSide a,
                                                ComparedSide b, Uncovered uncovered,
                                                std::stop_token stop,
                                                runtime::PassProgress& progress) {
    runtime::ReportedPass pass(progress, a.clusters.size());
    const std::uint64_t node_count = graph.graph().node_count();
    Contingency table;
    table.uncovered = uncovered;
    table.node_count = node_count;
    fill_side(table.a, a);
    fill_side(table.b, b);

    const Roaring cover_a = cover_of(a.clusters);
    const Roaring cover_b = cover_of(b.clusters);
    std::unique_ptr<NodeMarks> in_universe;
    Roaring lone_a, lone_b;
    if (uncovered == Uncovered::kDrop) {
        table.universe_nodes = cover_a & cover_b;
        table.universe = table.universe_nodes.cardinality();
        in_universe = std::make_unique<NodeMarks>(node_count);
        in_universe->mark(table.universe_nodes);
    } else {
        table.universe = node_count;
        Roaring all;
        all.addRange(0, node_count);
        lone_a = all - cover_a;
        lone_b = all - cover_b;
    }
    if (stop.stop_requested()) return runtime::Error::interrupted();

    auto shared_index = std::make_shared<internal::MemberIndex>();
    internal::MemberIndex& index = *shared_index;
    if (!internal::MemberIndex::build(index, node_count, b.clusters, in_universe.get(),
                                      uncovered == Uncovered::kSingletons ? &lone_b : nullptr,
                                      b.clusters.size(), disjoint(b.clusters, cover_b), stop)) {
        return runtime::Error::interrupted();
    }
    table.b.sizes = index.sizes;
    table.b_index = shared_index;
    table.b.sizes.resize(b.clusters.size() + lone_b.cardinality(), 1);
    const std::size_t b_count = table.b.sizes.size();

    // Cells of the real clusters of A, block by block.
    const std::size_t a_real = a.clusters.size();
    const std::size_t blocks = (a_real + kBlock - 1) / kBlock;
    std::vector<std::vector<ContingencyCell>> block_cells(blocks);
    table.a.sizes.assign(a_real + lone_a.cardinality(), 1);
    std::vector<CountScratch> scratch(runtime::worker_count());
    runtime::parallel_for_worker(blocks, [&](std::size_t block, std::size_t worker) {
        if (stop.stop_requested()) return;
        CountScratch& s = scratch[worker];
        if (s.counts.size() != b_count) s.counts.assign(b_count, 0);
        const std::size_t end = std::min(a_real, (block + 1) * kBlock);
        for (std::size_t i = block * kBlock; i < end; ++i) {
            const MemberBitmap& members = a.clusters[i]->members;
            s.members.resize(members.cardinality());
            members.toUint32Array(s.members.data());
            std::uint64_t size = 0;
            const std::span<const std::uint32_t> upcoming(s.members);
            for (std::size_t m = 0; m < s.members.size(); ++m) {
                fetch_members_ahead(
                    upcoming, m, [&](std::uint32_t v) { index.prefetch_start(v); },
                    [&](std::uint32_t v) { index.prefetch_list(v); });
                const std::uint32_t v = s.members[m];
                if (in_universe && !in_universe->marked(v)) continue;
                ++size;
                for (std::uint64_t k : index.of(v)) {
                    if (s.counts[k]++ == 0) s.touched.push_back(k);
                }
            }
            table.a.sizes[i] = size;
            std::sort(s.touched.begin(), s.touched.end());
            for (std::uint64_t k : s.touched) {
                block_cells[block].push_back({i, k, s.counts[k]});
                s.counts[k] = 0;
            }
            s.touched.clear();
            pass.advance();
        }
    });
    if (stop.stop_requested()) return runtime::Error::interrupted();

    std::size_t cell_count = 0;
    for (const auto& cells : block_cells) cell_count += cells.size();
    cell_count += lone_a.cardinality();  // at least one cell each
    table.cells.reserve(cell_count);
    for (auto& cells : block_cells) {
        table.cells.insert(table.cells.end(), cells.begin(), cells.end());
        std::vector<ContingencyCell>().swap(cells);
    }
    std::uint64_t singleton = a_real;
    for (std::uint32_t v : lone_a) {
        for (std::uint64_t k : index.of(v)) table.cells.push_back({singleton, k, 1});
        ++singleton;
    }

    index_rows(table);

    // A side is a partition of the universe when its sizes add up to it.
    auto total = [](const std::vector<std::uint64_t>& sizes) {
        std::uint64_t sum = 0;
        for (std::uint64_t size : sizes) sum += size;
        return sum;
    };
    if (total(table.a.sizes) != table.universe) {
        table.a.overlap = find_overlap(graph.graph(), a, in_universe.get());
    }
    if (total(table.b.sizes) != table.universe) {
        table.b.overlap = find_overlap(graph.graph(), b, in_universe.get());
    }
    return table;
}

runtime::Result<Contingency> Contingency::from_cells(std::uint64_t universe, Side a, Side b,
                                                     std::vector<ContingencyCell> cells) {
    auto fail = [](const char* why) {
        return runtime::Error(std::string("invalid contingency: ") + why);
    };
    if (a.ids.size() > a.sizes.size() || b.ids.size() > b.sizes.size()) {
        return fail("more ids than clusters");
    }
    for (std::size_t c = 0; c < cells.size(); ++c) {
        const ContingencyCell& cell = cells[c];
        if (cell.a >= a.sizes.size() || cell.b >= b.sizes.size()) return fail("cell out of range");
        if (cell.count == 0) return fail("empty cell");
        if (c > 0 &&
            (cells[c - 1].a > cell.a || (cells[c - 1].a == cell.a && cells[c - 1].b >= cell.b))) {
            return fail("cells not ascending by (a, b)");
        }
    }
    Contingency table;
    table.uncovered = Uncovered::kDrop;
    table.universe = universe;
    table.a = std::move(a);
    table.b = std::move(b);
    table.a.sources.clear();
    table.b.sources.clear();
    table.cells = std::move(cells);
    index_rows(table);
    return table;
}

runtime::Result<Contingency> Contingency::build(const ClusteringHandle& a,
                                                const ClusteringHandle& b, Uncovered uncovered,
                                                std::stop_token stop,
                                                runtime::PassProgress& progress) {
    if (a.graph != b.graph) return runtime::Error(std::string(kDifferentGraphs));
    a.clustering->build_members();
    b.clustering->build_members();
    struct Selected {
        std::vector<const RichCluster*> clusters;
        std::vector<base::ClusterId> ids;
    };
    auto gather = [](const ClusteringHandle& handle) {
        Selected selected;
        for (const auto* entry : handle.selected()) {
            selected.ids.push_back(entry->first);
            selected.clusters.push_back(&entry->second);
        }
        return selected;
    };
    const Selected left = gather(a), right = gather(b);
    auto table = build(*a.graph, {left.clusters, left.ids}, {right.clusters, right.ids}, uncovered,
                       std::move(stop), progress);
    if (table.ok()) {
        table->a.owner = a.clustering;
        table->b.owner = b.clustering;
    }
    return table;
}

}  // namespace quelmar::agreement
