// cluster_counts and coverage (functions.h).

#include <array>
#include <cstdint>
#include <span>
#include <vector>

#include "src/exposure/arguments.h"
#include "src/exposure/buffer_view.h"
#include "src/exposure/errors.h"
#include "src/exposure/gil.h"
#include "src/exposure/py_ref.h"
#include "src/exposure/tools/analysis/analysis_functions.h"
#include "src/exposure/tools/arguments.h"
#include "src/terminal/progress_bar.h"

namespace quelmar::exposure::tools {
namespace {

constexpr ErrorPolicy kPlain = ErrorPolicy::kPlain;

const Signature counts_signature{"cluster_counts", {"clustering", "ids"}};
const Signature coverage_signature{"coverage", {"clustering", "ids"}};
const Signature load_counts_signature{"load_counts", {"clustering"}};

// Keys and the five counts, one column each.
struct CountTable {
    std::array<std::vector<std::uint64_t>, 6> columns;

    explicit CountTable(const ClusteringHandle& selection) {
        for (const auto* entry : selection.selected()) {
            const RichCluster& cluster = entry->second;
            const std::uint64_t row[] = {entry->first, cluster.n,   cluster.m,
                                         cluster.c,    cluster.mcd, cluster.vol};
            for (std::size_t i = 0; i < columns.size(); ++i) columns[i].push_back(row[i]);
        }
    }
};

}  // namespace

PyObject* cluster_counts(PyObject*, PyObject* args, PyObject* kwargs) {
    return guarded<kPlain>([=]() -> PyObject* {
        PyObject* bound[2];
        if (!bind_arguments(counts_signature, args, kwargs, bound)) return nullptr;
        ClusteringHandle selection;
        if (!selection_argument(bound[0], bound[1], &selection)) return nullptr;
        const CountTable table = without_gil([&] { return CountTable(selection); });
        return byte_array_tuple(std::span<const std::vector<std::uint64_t>>(table.columns));
    });
}

PyObject* coverage(PyObject*, PyObject* args, PyObject* kwargs) {
    return guarded<kPlain>([=]() -> PyObject* {
        PyObject* bound[2];
        if (!bind_arguments(coverage_signature, args, kwargs, bound)) return nullptr;
        ClusteringHandle selection;
        if (!selection_argument(bound[0], bound[1], &selection)) return nullptr;
        const GraphStats stats = without_gil([&] {
            terminal::ProgressBar bar;  // on standard error when it is a terminal
            return selection.coverage(bar);
        });
        return Py_BuildValue("(KKKKK)", stats.num_clusters, stats.covered_nodes,
                             stats.covered_edges, stats.total_nodes, stats.total_edges);
    });
}

PyObject* load_counts(PyObject*, PyObject* args, PyObject* kwargs) {
    return guarded<kPlain>([=]() -> PyObject* {
        PyObject* source = nullptr;
        if (!bind_arguments(load_counts_signature, args, kwargs, {&source, 1})) return nullptr;
        SharedClustering shared;
        if (!clustering_argument(source, &shared)) return nullptr;
        const RichClustering& clustering = *shared;
        return Py_BuildValue("(KKKKK)", clustering.unknown_memberships,
                             clustering.dropped_singletons,
                             static_cast<unsigned long long>(clustering.clusters.size()),
                             static_cast<unsigned long long>(clustering.member_count()),
                             clustering.unassigned_nodes);
    });
}

}  // namespace quelmar::exposure::tools
