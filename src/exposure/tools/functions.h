#pragma once
// The functions of quelmar_tools._native (METH_VARARGS | METH_KEYWORDS).
// Arguments are checked here; Python's own wrappers normalise them first.
//
//   load_graph_through_pipe(path, pairs, extra_names, load)
//       builds the graph of pair_graph.h (extra_names may be None), then
//       returns load(path) while a thread feeds its snapshot into the named
//       pipe at `path` (snapshot_pipe.h). The build keeps the interpreter
//       lock and runs signal handlers at its checkpoints, so Ctrl-C stops it.
//   write_memberships(path, nodes, clusters)        membership_file.h
//   cluster_values(n, m, c, mcd, vol, total_edges, cpm)
//       dict from lower-case statistic name to a bytearray of float64, for
//       the statistics compute_statistics() computes (cpm: float or None).
//   summarize(values)  the 21-point summary of float64 values, as a list.
//
// Failures: OSError for the operating system's errors, ValueError for the
// library's other errors, MemoryError, and TypeError for wrong arguments.

#define PY_SSIZE_T_CLEAN
#include <Python.h>

namespace quelmar::exposure::tools {

PyObject* load_graph_through_pipe(PyObject* module, PyObject* args, PyObject* kwargs);
PyObject* write_memberships(PyObject* module, PyObject* args, PyObject* kwargs);
PyObject* cluster_values(PyObject* module, PyObject* args, PyObject* kwargs);
PyObject* summarize(PyObject* module, PyObject* args, PyObject* kwargs);

}  // namespace quelmar::exposure::tools
