#pragma once
// The per-partition joins of quelmar_tools.dask (partition_joins.h), over
// contiguous uint64 arrays (tag: uint8), with the interpreter lock released.
// Outputs are bytearrays of uint64 (tag: uint8). Mismatched lengths raise
// ValueError; `selected` is None (every cluster) or sorted unique ids.
//
//   lo_side(lo, hi, m_node, m_cluster, selected)
//       (node, deg, loop, hi, lo, cluster, tag): the lo nodes, then the
//       hi-side rows.
//   degrees(node, deg, loop, hi, tag)  (node, deg, loop): the lo nodes
//       merged with the hi-side rows keyed by hi.
//   node_side(node, deg, loop, m_node, m_cluster, m_pos, selected, hi_rows)
//       (partials, coverage, covered_links): partials the 9 columns cluster,
//       n, vol, mcd, minnode, loops, internal, unknown, pos; coverage the
//       columns node, clusters, loop; hi_rows None or (hi, lo, cluster, tag).

#define PY_SSIZE_T_CLEAN
#include <Python.h>

namespace quelmar::exposure::tools {

PyObject* lo_side(PyObject* module, PyObject* args, PyObject* kwargs);
PyObject* degrees(PyObject* module, PyObject* args, PyObject* kwargs);
PyObject* node_side(PyObject* module, PyObject* args, PyObject* kwargs);

}  // namespace quelmar::exposure::tools
