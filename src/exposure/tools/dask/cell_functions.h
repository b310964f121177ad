#pragma once
// The agreement from a contingency counted on Dask workers, in
// quelmar_tools._native (METH_VARARGS | METH_KEYWORDS; failures as in
// analysis_functions.h).
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

#define PY_SSIZE_T_CLEAN
#include <Python.h>

namespace quelmar::exposure::tools {

PyObject* compare_cells(PyObject* module, PyObject* args, PyObject* kwargs);
PyObject* match_cells(PyObject* module, PyObject* args, PyObject* kwargs);

}  // namespace quelmar::exposure::tools
