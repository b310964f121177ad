#pragma once
// The analysis functions of quelmar_tools._native (METH_VARARGS |
// METH_KEYWORDS): loads, counts and values.
// They work on the native values behind quelmar's objects, in process, and
// make new quelmar.Graph and quelmar.Clustering objects from values built
// here. Python's own wrappers normalise the arguments first; these check
// them again. Failures follow the companion's policy (errors.h): OSError,
// ValueError, MemoryError, KeyboardInterrupt, and TypeError for arguments.
//
// Loads (load_functions.cpp):
//   load_graph(path, name)               Graph from an edge list (as
//       published: gzip, headers, commas; src/base/published_text.h) or a
//       snapshot; `name` (or None: the path) names the file in messages
//   graph_from_pairs(pairs, extra_names) Graph from uint64 names, from, to,
//       from, to, ... exactly as from the edge list with one line per pair;
//       names of extra_names (or None) that no pair mentions become nodes
//       without edges, after the others. Both keep the interpreter lock and
//       run signal handlers at the loader's checkpoints, so Ctrl-C stops them.
//   load_clustering(graph, path, cpm, strict, layout, name)  Clustering from
//       a clustering file as published, of layout "memberships" (None) or
//       "communities" (src/base/community_loader.h)
//   clustering_from_memberships(graph, nodes, clusters, cpm, strict,
//       unassigned)  Clustering from parallel uint64 arrays, line i being
//       "nodes[i] clusters[i]" of the equivalent file, under its rules;
//       `unassigned` (or None: 0) nodes were in no cluster.
//   clustering_from_rows(graph, rows, cpm, strict)  The same from one uint64
//       array of node, cluster, node, cluster, ... (a (k, 2) array).
//   cpm is the resolution of the "cpm" statistic, a float or None; with
//   strict true, any membership naming a node the graph lacks fails.
//
// Counts (count_functions.cpp); `source` is a Clustering, with `ids` None
// (every cluster) or uint64 ids, or a ClusteringSubset with `ids` None:
//   cluster_counts(source, ids)  (keys, n, m, c, mcd, vol): bytearrays of
//       uint64, one entry per selected cluster that exists, ascending by id.
//   coverage(source, ids)        (num_clusters, covered_nodes, covered_edges,
//       total_nodes, total_edges) as compute_statistics() reports them.
//   load_counts(clustering)      (unknown_memberships, dropped_singletons,
//       clusters, members, unassigned_nodes): what loading the clustering
//       skipped, what it kept (members summed over clusters), and the nodes
//       its source left in no cluster.
//
// Values (value_functions.cpp):
//   value_columns(cpm)  the value columns of a per-cluster table, in order:
//       the keys of cluster_values that no count column shows (cpm true when
//       a resolution is given).
//   cluster_values(n, m, c, mcd, vol, total_edges, cpm)
//       dict from lower-case statistic name to a bytearray of float64, for
//       the statistics compute_statistics() computes (cpm: float or None).
//   summarize(values)  the 21-point summary of float64 values, as a list.

#define PY_SSIZE_T_CLEAN
#include <Python.h>

namespace quelmar::exposure::tools {

PyObject* load_graph(PyObject* module, PyObject* args, PyObject* kwargs);
PyObject* graph_from_pairs(PyObject* module, PyObject* args, PyObject* kwargs);
PyObject* load_clustering(PyObject* module, PyObject* args, PyObject* kwargs);
PyObject* clustering_from_memberships(PyObject* module, PyObject* args, PyObject* kwargs);
PyObject* clustering_from_rows(PyObject* module, PyObject* args, PyObject* kwargs);
PyObject* cluster_counts(PyObject* module, PyObject* args, PyObject* kwargs);
PyObject* coverage(PyObject* module, PyObject* args, PyObject* kwargs);
PyObject* load_counts(PyObject* module, PyObject* args, PyObject* kwargs);
PyObject* value_columns(PyObject* module, PyObject* args, PyObject* kwargs);
PyObject* cluster_values(PyObject* module, PyObject* args, PyObject* kwargs);
PyObject* summarize(PyObject* module, PyObject* args, PyObject* kwargs);

}  // namespace quelmar::exposure::tools
