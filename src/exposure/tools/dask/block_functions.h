#pragma once
// The functions of quelmar_tools._native that quelmar_tools.dask runs on its
// workers (METH_VARARGS | METH_KEYWORDS):
//
//   parse_lines(data, memberships)  a block of whole lines (bytes-like) in the
//       edge-list format, or the clustering format when memberships is true:
//       (first, second, failure), first and second bytearrays of uint64
//       (one value per line), failure None or (line index, the loader's
//       message) for the block's first bad line.
//   route_lines(data, memberships, first_position, parts)  the same block as
//       partitioned::route_lines sends it on (routed_lines.h): (pieces,
//       failure), pieces a list of one tuple per partition (pieces.h) of
//       bytearrays of uint64 (lo, hi or node, cluster, pos), failure as
//       parse_lines gives it (and then no rows).
//   unresolved_message(line, cluster)  the clustering loader's failure for a
//       second line of `cluster` naming an unknown node, `line` being that
//       line's bytes.
//   size_changes(before, after)  the relative size changes that
//       compute_size_diff summarises, as a bytearray of float64.

#define PY_SSIZE_T_CLEAN
#include <Python.h>

namespace quelmar::exposure::tools {

PyObject* parse_lines(PyObject* module, PyObject* args, PyObject* kwargs);
PyObject* route_lines(PyObject* module, PyObject* args, PyObject* kwargs);
PyObject* unresolved_message(PyObject* module, PyObject* args, PyObject* kwargs);
PyObject* size_changes(PyObject* module, PyObject* args, PyObject* kwargs);

}  // namespace quelmar::exposure::tools
