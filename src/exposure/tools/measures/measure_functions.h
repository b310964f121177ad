#pragma once
// The per-cluster quality measures in quelmar_tools._native (METH_VARARGS |
// METH_KEYWORDS; failures as in analysis_functions.h).
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

#define PY_SSIZE_T_CLEAN
#include <Python.h>

namespace quelmar::exposure::tools {

PyObject* measure_names(PyObject* module, PyObject* args, PyObject* kwargs);
PyObject* check_measures(PyObject* module, PyObject* args, PyObject* kwargs);
PyObject* cluster_measures(PyObject* module, PyObject* args, PyObject* kwargs);

}  // namespace quelmar::exposure::tools
