#pragma once
// The six classes of the module and how the binding code makes their
// instances. Each class object is built on first use and kept for the life of
// the process, so a module initialised twice shows the same classes.
//
//   Graph                  shared EnrichedGraph
//   Clustering             shared RichClustering
//   ClusteringSubset       ClusteringHandle (shares the two above)
//   ClusteringStats        StatsRecord, a snapshot of the statistics
//   SummarizedDistribution one 21-entry summary
//   ClusterSkeleton        the five counts of one packed cluster

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "src/quality/distribution_summary.h"
#include "src/quelmar/clustering_handle.h"
#include "src/quelmar/enriched_graph.h"
#include "src/quelmar/rich_clustering.h"

namespace quelmar::exposure {

// Class objects: borrowed, null with the Python error set if building failed.
PyTypeObject* graph_type();
PyTypeObject* clustering_type();
PyTypeObject* subset_type();
PyTypeObject* stats_type();
PyTypeObject* summary_type();
PyTypeObject* skeleton_type();

// The native values behind instances of Graph and Clustering.
const SharedGraph& graph_of(PyObject* graph);
const SharedClustering& clustering_of(PyObject* clustering);

struct ClusterCounts {
    std::uint64_t n = 0;
    std::uint64_t m = 0;
    std::uint64_t c = 0;
    std::uint64_t mcd = 0;
    std::uint64_t vol = 0;
};

// The statistics as Python reads them: summaries keyed by the lower-case name
// of their statistic, in the order they were computed. The counts are held at
// full width, whatever width the library reports them in.
struct StatsRecord {
    std::uint64_t num_clusters = 0;
    std::uint64_t covered_nodes = 0;
    std::uint64_t covered_edges = 0;
    std::uint64_t total_nodes = 0;
    std::uint64_t total_edges = 0;
    std::vector<std::pair<std::string, quality::SummarizedDistribution>> distributions;

    static StatsRecord from_graph_stats(GraphStats stats);
};

// New instances (null with the Python error set on failure).
PyObject* new_subset(ClusteringHandle handle);
PyObject* new_stats(StatsRecord record);
PyObject* new_summary(quality::SummarizedDistribution summary);
PyObject* new_skeleton(const ClusterCounts& counts);

}  // namespace quelmar::exposure
