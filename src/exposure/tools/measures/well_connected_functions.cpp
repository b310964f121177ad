// well_connected, well_connected_pieces, clustering_of_pieces and
// cluster_members (well_connected_functions.h): the well-connected refinement's native
// steps, the clustering of its outputs, and the members of any clustering
// by name, to write them out.

#include <algorithm>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "runtime/parallel.h"
#include "runtime/worker_pool.h"
#include "src/exposure/arguments.h"
#include "src/exposure/buffer_view.h"
#include "src/exposure/classes.h"
#include "src/exposure/errors.h"
#include "src/exposure/gil.h"
#include "src/exposure/interruptible.h"
#include "src/exposure/py_ref.h"
#include "src/exposure/tools/arguments.h"
#include "src/exposure/tools/measures/well_connected_functions.h"
#include "src/measures/well_connected.h"
#include "src/terminal/progress_bar.h"

namespace quelmar::exposure::tools {
namespace {

constexpr ErrorPolicy kPlain = ErrorPolicy::kPlain;
const Signature clusters_signature{"well_connected",
                                   {"source", "ids", "min_size", "least", "hand_over"}};
const Signature pieces_signature{"well_connected_pieces",
                                 {"source", "names", "starts", "min_size", "least", "hand_over"}};
const Signature clustering_signature{"clustering_of_pieces", {"source", "names", "starts"}};
const Signature members_signature{"cluster_members", {"source", "ids"}};

bool rule_argument(PyObject* min_size, PyObject* least, measures::ConnectivityRule* rule) {
    BufferView table;
    if (!u64_argument("min_size", min_size, &rule->min_size) ||
        !table.acquire(least, "least", BufferView::Item::kUInt64)) {
        return false;
    }
    if (rule->min_size < 2) {
        PyErr_Format(PyExc_ValueError, "min_size must be at least 2, got %llu",
                     static_cast<unsigned long long>(rule->min_size));
        return false;
    }
    rule->least.assign(table.uint64s().begin(), table.uint64s().end());
    return true;
}

bool flag_argument(PyObject* object, measures::SideHandling* handling) {
    const int set = PyObject_IsTrue(object);
    if (set < 0) return false;
    *handling = set ? measures::SideHandling::kHandOver : measures::SideHandling::kRefine;
    return true;
}

// Node sets given as names laid end to end (starts: k + 1 ascending offsets
// from 0), as ascending distinct ids of `graph`. ValueError for a name the
// graph lacks or offsets that do not fit.
bool pieces_argument(const base::Graph& graph, PyObject* names_object, PyObject* starts_object,
                     std::vector<std::uint64_t>* starts, std::vector<utils::NodeId>* members) {
    BufferView names, bounds;
    if (!names.acquire(names_object, "names", BufferView::Item::kUInt64) ||
        !bounds.acquire(starts_object, "starts", BufferView::Item::kUInt64)) {
        return false;
    }
    const std::span<const std::uint64_t> offsets = bounds.uint64s();
    if (offsets.empty() || offsets.front() != 0 || offsets.back() != names.length() ||
        !std::is_sorted(offsets.begin(), offsets.end())) {
        PyErr_SetString(PyExc_ValueError,
                        "starts: expected ascending offsets from 0 to len(names)");
        return false;
    }
    starts->assign(offsets.begin(), offsets.end());
    members->resize(names.length());
    const utils::NameSet& name_set = graph.name_set();
    for (std::size_t i = 0; i < names.length(); ++i) {
        const auto id = name_set.retrieve(names.uint64s()[i]);
        if (!id) {
            PyErr_Format(PyExc_ValueError, "node %llu is not in the graph",
                         static_cast<unsigned long long>(names.uint64s()[i]));
            return false;
        }
        (*members)[i] = static_cast<utils::NodeId>(*id);
    }
    // Each set ascending and distinct, closed up.
    std::uint64_t kept = 0;
    for (std::size_t k = 0; k + 1 < starts->size(); ++k) {
        const auto begin = members->begin() + static_cast<std::ptrdiff_t>((*starts)[k]);
        const auto end = members->begin() + static_cast<std::ptrdiff_t>((*starts)[k + 1]);
        std::sort(begin, end);
        const auto last = std::unique(begin, end);
        (*starts)[k] = kept;
        kept = static_cast<std::uint64_t>(std::copy(begin, last, members->begin() + kept) -
                                          members->begin());
    }
    starts->back() = kept;
    members->resize(kept);
    return true;
}

// The sets' names, laid end to end as they are.
std::vector<std::uint64_t> names_of(const base::Graph& graph, std::span<const utils::NodeId> ids) {
    const std::vector<utils::NodeName>& names = graph.name_set().id_to_name();
    std::vector<std::uint64_t> out(ids.size());
    for (std::size_t i = 0; i < ids.size(); ++i) out[i] = names[ids[i]];
    return out;
}

// (keys..., kept_inputs, kept_starts, kept_names, side_inputs, side_starts,
// side_names, side_edge_starts, side_edges, cuts), keys only when given.
PyObject* refined(const base::Graph& graph, const measures::WellConnectedPieces& pieces,
                  const std::vector<std::uint64_t>* keys) {
    std::vector<std::vector<std::uint64_t>> columns;
    if (keys) columns.push_back(*keys);
    columns.push_back(pieces.kept.inputs);
    columns.push_back(pieces.kept.starts);
    columns.push_back(names_of(graph, pieces.kept.members));
    columns.push_back(pieces.sides.inputs);
    columns.push_back(pieces.sides.starts);
    columns.push_back(names_of(graph, pieces.sides.members));
    std::vector<std::uint64_t> edge_starts{0}, edges;
    for (std::size_t k = 0; k < pieces.sides.size(); ++k) {
        for (const auto& [u, v] : measures::induced_edges(graph, pieces.sides.members_of(k))) {
            edges.push_back(u);
            edges.push_back(v);
        }
        edge_starts.push_back(edges.size() / 2);
    }
    columns.push_back(std::move(edge_starts));
    columns.push_back(names_of(graph, std::vector<utils::NodeId>(edges.begin(), edges.end())));
    columns.push_back(pieces.cuts);
    return byte_array_tuple(std::span<const std::vector<std::uint64_t>>(columns));
}

runtime::Result<measures::WellConnectedPieces> refine(
    const EnrichedGraph& graph, const std::vector<std::span<const utils::NodeId>>& inputs,
    const measures::ConnectivityRule& rule, measures::SideHandling handling) {
    return run_interruptibly([&](std::stop_token stop) {
        runtime::global_pool();     // settled as packing settles it
        terminal::ProgressBar bar;  // on standard error when it is a terminal
        return measures::refine_well_connected(graph, inputs, rule, handling, bar, stop);
    });
}

}  // namespace

PyObject* well_connected(PyObject*, PyObject* args, PyObject* kwargs) {
    return guarded<kPlain>([=]() -> PyObject* {
        PyObject* bound[5];
        if (!bind_arguments(clusters_signature, args, kwargs, bound)) return nullptr;
        ClusteringHandle selection;
        measures::ConnectivityRule rule;
        measures::SideHandling handling;
        if (!selection_argument(bound[0], bound[1], &selection) ||
            !rule_argument(bound[2], bound[3], &rule) || !flag_argument(bound[4], &handling)) {
            return nullptr;
        }
        const RichClustering& clustering = *selection.clustering;
        std::vector<std::uint64_t> keys;
        std::vector<std::span<const utils::NodeId>> inputs;
        // Clusters not made by packing have bitmaps only.
        std::vector<std::vector<utils::NodeId>> unpacked;
        for (const auto* entry : selection.selected()) {
            const std::size_t i = static_cast<std::size_t>(entry - clustering.clusters.data());
            keys.push_back(entry->first);
            std::span<const utils::NodeId> members = clustering.member_ids(i);
            if (members.size() != entry->second.n) {
                clustering.build_members();
                unpacked.emplace_back(entry->second.members.cardinality());
                entry->second.members.toUint32Array(unpacked.back().data());
                members = unpacked.back();
            }
            inputs.push_back(members);
        }
        auto pieces = refine(*selection.graph, inputs, rule, handling);
        if (!pieces) return raise_error(pieces.error(), kPlain);
        return refined(selection.graph->graph(), pieces.value(), &keys);
    });
}

PyObject* well_connected_pieces(PyObject*, PyObject* args, PyObject* kwargs) {
    return guarded<kPlain>([=]() -> PyObject* {
        PyObject* bound[6];
        if (!bind_arguments(pieces_signature, args, kwargs, bound)) return nullptr;
        SharedClustering clustering;
        measures::ConnectivityRule rule;
        measures::SideHandling handling;
        if (!clustering_argument(bound[0], &clustering) ||
            !rule_argument(bound[3], bound[4], &rule) || !flag_argument(bound[5], &handling)) {
            return nullptr;
        }
        const base::Graph& graph = clustering->graph->graph();
        std::vector<std::uint64_t> starts;
        std::vector<utils::NodeId> members;
        if (!pieces_argument(graph, bound[1], bound[2], &starts, &members)) return nullptr;
        std::vector<std::span<const utils::NodeId>> inputs;
        for (std::size_t k = 0; k + 1 < starts.size(); ++k) {
            inputs.push_back(std::span<const utils::NodeId>(members).subspan(
                starts[k], starts[k + 1] - starts[k]));
        }
        auto pieces = refine(*clustering->graph, inputs, rule, handling);
        if (!pieces) return raise_error(pieces.error(), kPlain);
        return refined(graph, pieces.value(), nullptr);
    });
}

PyObject* clustering_of_pieces(PyObject*, PyObject* args, PyObject* kwargs) {
    return guarded<kPlain>([=]() -> PyObject* {
        PyObject* bound[3];
        if (!bind_arguments(clustering_signature, args, kwargs, bound)) return nullptr;
        SharedClustering source;
        if (!clustering_argument(bound[0], &source)) return nullptr;
        const SharedGraph& graph = source->graph;
        base::Clustering clustering;
        if (!pieces_argument(graph->graph(), bound[1], bound[2], &clustering.starts,
                             &clustering.members)) {
            return nullptr;
        }
        // Set k is cluster k; one of fewer than two members would not be a
        // cluster of a file either.
        for (std::size_t k = 0; k + 1 < clustering.starts.size(); ++k) {
            if (clustering.starts[k + 1] - clustering.starts[k] < 2) {
                PyErr_Format(PyExc_ValueError, "set %zu has fewer than two members", k);
                return nullptr;
            }
            clustering.ids.push_back(k);
        }
        SharedClustering packed = without_gil([&] {
            runtime::global_pool();
            terminal::ProgressBar bar;  // on standard error when it is a terminal
            return std::make_shared<const RichClustering>(
                RichClustering::pack_from_clustering(graph, std::move(clustering), bar));
        });
        return new_clustering(std::move(packed));
    });
}

PyObject* cluster_members(PyObject*, PyObject* args, PyObject* kwargs) {
    return guarded<kPlain>([=]() -> PyObject* {
        PyObject* bound[2];
        if (!bind_arguments(members_signature, args, kwargs, bound)) return nullptr;
        ClusteringHandle selection;
        if (!selection_argument(bound[0], bound[1], &selection)) return nullptr;
        const RichClustering& clustering = *selection.clustering;
        const auto selected = selection.selected();
        std::vector<std::uint64_t> keys, starts{0};
        for (const auto* entry : selected) {
            keys.push_back(entry->first);
            starts.push_back(starts.back() + entry->second.n);
        }
        std::vector<std::uint64_t> names(starts.back());
        without_gil([&] {
            const std::vector<utils::NodeName>& id_to_name =
                selection.graph->graph().name_set().id_to_name();
            bool packed = true;
            for (const auto* entry : selected) {
                const std::size_t i = static_cast<std::size_t>(entry - clustering.clusters.data());
                packed &= clustering.member_ids(i).size() == entry->second.n;
            }
            if (!packed) clustering.build_members();
            // Each cluster's names in its own stretch, ascending.
            runtime::parallel_for(selected.size(), [&](std::size_t k) {
                const auto* entry = selected[k];
                const std::size_t i = static_cast<std::size_t>(entry - clustering.clusters.data());
                std::uint64_t* out = names.data() + starts[k];
                if (packed) {
                    for (utils::NodeId id : clustering.member_ids(i)) *out++ = id_to_name[id];
                } else {
                    std::vector<utils::NodeId> ids(entry->second.members.cardinality());
                    entry->second.members.toUint32Array(ids.data());
                    for (utils::NodeId id : ids) *out++ = id_to_name[id];
                }
                std::sort(names.data() + starts[k], names.data() + starts[k + 1]);
            });
            return true;
        });
        const std::vector<std::vector<std::uint64_t>> columns{keys, starts, names};
        return byte_array_tuple(std::span<const std::vector<std::uint64_t>>(columns));
    });
}

}  // namespace quelmar::exposure::tools
