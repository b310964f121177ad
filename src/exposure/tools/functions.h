#pragma once
// The functions of quelmar_tools._native (METH_VARARGS | METH_KEYWORDS).
// They work on the native values behind quelmar's objects, in process, and
// make new quelmar.Graph and quelmar.Clustering objects from values built
// here. Python's own wrappers normalise the arguments first; these check
// them again. Failures follow the companion's policy (errors.h): OSError,
// ValueError, MemoryError, KeyboardInterrupt, and TypeError for arguments.
//
// Loads (load_functions.cpp):
//   load_graph(path)                     Graph from an edge list or snapshot
//   graph_from_pairs(pairs, extra_names) Graph from uint64 names, from, to,
//       from, to, ... exactly as from the edge list with one line per pair;
//       names of extra_names (or None) that no pair mentions become nodes
//       without edges, after the others. Both keep the interpreter lock and
//       run signal handlers at the loader's checkpoints, so Ctrl-C stops them.
//   load_clustering(graph, path, cpm, strict)  Clustering from a clustering file
//   clustering_from_memberships(graph, nodes, clusters, cpm, strict)
//       Clustering from parallel uint64 arrays, line i being
//       "nodes[i] clusters[i]" of the equivalent file, under its rules.
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
//       clusters, members): what loading the clustering skipped, and what
//       it kept (members summed over clusters).
//
// Measures (measure_functions.cpp):
//   measure_names()                     the names of the per-cluster measures,
//       in their table's order.
//   check_measures(names)               None, or ValueError for a name that is
//       not a measure, listing the known ones (before any work is done).
//   cluster_measures(source, ids, names)  one bytearray of float64 per name,
//       in order, one value per selected cluster that exists (ascending by
//       id, as cluster_counts). ValueError for an unknown name, listing the
//       known ones. Runs on the pool; Ctrl-C stops it.
//
// Agreement (agreement_functions.cpp); a and b are selections as above, of
// clusterings of one graph (ValueError otherwise), uncovered is "singletons"
// or "drop" (contingency.h):
//   agreement_measures()  the rows of kAgreementMeasures (agreement_table.h)
//       in order: (name, needs_partition, needs_members, long_pass,
//       variant_of), the last "" for none.
//   check_uncovered(uncovered)  None, or ValueError for another policy.
//   compare(a, a_ids, b, b_ids, names, uncovered, only_where_apt)
//       dict from measure name (kAgreementMeasures of agreement_table.h) to its
//       value, in the order asked.
//       A partition measure of a cover fails with ValueError naming an
//       overlapping node, or is left out when only_where_apt.
//   match_table(a, a_ids, b, b_ids, uncovered, reverse)
//       (id, matched, match, intersection, jaccard, precision, recall, f1):
//       bytearrays of uint64 (uint8 for matched, float64 for the ratios), one
//       row per real cluster of a (of b when reverse), ascending by id.
//   Both run on the pool; Ctrl-C stops them.
//
// Counted cells (cell_functions.cpp): the same from a contingency counted
// elsewhere (Contingency::from_cells; omega is refused there):
//   compare_cells(universe, a_ids, a_sizes, a_overlap, b_ids, b_sizes,
//                 b_overlap, cell_a, cell_b, cell_count, names, only_where_apt)
//   match_cells(<the same ten>, reverse)
//       ids: uint64 ids of the real clusters, ascending; sizes: uint64 per
//       effective cluster (real first, then singletons); overlap: None or
//       (node, first id, second id); cells: three uint64 arrays, nonzero
//       counts ascending by (a, b). ValueError for an invalid contingency.
//
// Values (value_functions.cpp):
//   value_columns(cpm)  the keys cluster_values returns, in table order; cpm
//       true when a resolution is given.
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

PyObject* measure_names(PyObject* module, PyObject* args, PyObject* kwargs);
PyObject* check_measures(PyObject* module, PyObject* args, PyObject* kwargs);
PyObject* cluster_measures(PyObject* module, PyObject* args, PyObject* kwargs);

PyObject* agreement_measures(PyObject* module, PyObject* args, PyObject* kwargs);
PyObject* check_uncovered(PyObject* module, PyObject* args, PyObject* kwargs);
PyObject* compare(PyObject* module, PyObject* args, PyObject* kwargs);
PyObject* match_table(PyObject* module, PyObject* args, PyObject* kwargs);
PyObject* compare_cells(PyObject* module, PyObject* args, PyObject* kwargs);
PyObject* match_cells(PyObject* module, PyObject* args, PyObject* kwargs);

PyObject* value_columns(PyObject* module, PyObject* args, PyObject* kwargs);
PyObject* cluster_values(PyObject* module, PyObject* args, PyObject* kwargs);
PyObject* summarize(PyObject* module, PyObject* args, PyObject* kwargs);

}  // namespace quelmar::exposure::tools
