#pragma once
// The six classes of the module and how the binding code makes their
// instances. Each class object is built on first use and kept for the life of
// the process, so a module initialised twice shows the same classes.
//
//   Graph                  shared EnrichedGraph
//   Clustering             shared RichClustering
//   ClusteringSubset       ClusteringHandle (shares the two above)
//   ClusteringStats        GraphStats, a snapshot of the statistics
//   SummarizedDistribution one 21-entry summary
//   ClusterSkeleton        ClusterCounts, a copy of one packed cluster's counts

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include "src/quality/distribution_summary.h"
#include "src/quelmar/cluster_counts.h"
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

// The native values behind instances of Graph, Clustering and
// ClusteringSubset; the object must be of that class.
const SharedGraph& graph_of(PyObject* graph);
const SharedClustering& clustering_of(PyObject* clustering);
const ClusteringHandle& handle_of(PyObject* subset);

// Whether `object` is an instance of the class (false also when the class
// cannot be built, with the error set).
bool is_graph(PyObject* object);
bool is_clustering(PyObject* object);
bool is_subset(PyObject* object);

// New instances (null with the Python error set on failure). Graph and
// Clustering objects made here are the same as those the classes' own
// constructors make from a file.
PyObject* new_graph(SharedGraph graph);
PyObject* new_clustering(SharedClustering clustering);
PyObject* new_subset(ClusteringHandle handle);
PyObject* new_stats(GraphStats stats);
PyObject* new_summary(quality::SummarizedDistribution summary);
PyObject* new_skeleton(const ClusterCounts& counts);

}  // namespace quelmar::exposure
