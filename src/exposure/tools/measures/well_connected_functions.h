#pragma once
// The well-connected refinement in quelmar_tools._native (METH_VARARGS |
// METH_KEYWORDS; failures as in analysis_functions.h), and the members of
// any clustering by name.
//
// Refinement (well_connected_functions.cpp); min_size is at least 2
// (ValueError), least a uint64 array (measures::ConnectivityRule),
// hand_over true to return the sides of every cut instead of refining them:
//   well_connected(source, ids, min_size, least, hand_over)  over the
//       selection as cluster_measures takes it: bytearrays of uint64 (keys,
//       kept_inputs, kept_starts, kept_names, side_inputs, side_starts,
//       side_names, side_edge_starts, side_edges, cuts); input i is keys[i],
//       kept set k has the names kept_names[kept_starts[k] ..
//       kept_starts[k + 1]) and came from input kept_inputs[k] (sides the
//       same), side k's edges are the name pairs side_edges[2 e], [2 e + 1]
//       for e in [side_edge_starts[k], side_edge_starts[k + 1]). Runs on the
//       pool; Ctrl-C stops it.
//   well_connected_pieces(source, names, starts, min_size, least, hand_over)
//       the same over node sets given as names laid end to end (set i:
//       names[starts[i] .. starts[i + 1])) of the graph of clustering
//       `source`, without keys. ValueError for a name the graph lacks.
//   clustering_of_pieces(source, names, starts)  a new Clustering of the
//       graph of `source` whose cluster k is set k (at least two members).
//   cluster_members(source, ids)  (keys, starts, names): bytearrays of
//       uint64; cluster keys[k] (ascending, those that exist) has the member
//       names names[starts[k] .. starts[k + 1]), ascending.

#define PY_SSIZE_T_CLEAN
#include <Python.h>

namespace quelmar::exposure::tools {

PyObject* well_connected(PyObject* module, PyObject* args, PyObject* kwargs);
PyObject* well_connected_pieces(PyObject* module, PyObject* args, PyObject* kwargs);
PyObject* clustering_of_pieces(PyObject* module, PyObject* args, PyObject* kwargs);
PyObject* cluster_members(PyObject* module, PyObject* args, PyObject* kwargs);

}  // namespace quelmar::exposure::tools
