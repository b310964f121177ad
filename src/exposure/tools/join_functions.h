#pragma once
// The per-partition joins of quelmar_tools.dask (partition_joins.h), over
// contiguous uint64 arrays (tag: uint8), with the interpreter lock released.
// Outputs are bytearrays of uint64 (tag: uint8). Mismatched lengths raise
// ValueError; `selected` is None (every cluster) or sorted unique ids;
// `parts` is the partition count (at least 1). A routed output comes with
// its offsets: the rows bound for partition p are [offsets[p],
// offsets[p + 1]).
//
//   route(key, parts)  (offsets, order): the rows' order grouped by the
//       partition of their key.
//   lo_side(lo, hi, m_node, m_cluster, selected, parts, with_lo)
//       (node, deg, loop, hi, cluster, tag, offsets, lo): the lo nodes, then
//       the hi-side rows routed by hi (lo empty unless with_lo).
//   degrees(node, deg, loop, hi, tag)  (node, deg, loop): the lo nodes
//       merged with the hi-side rows keyed by hi.
//   node_side(node, deg, loop, m_node, m_cluster, m_pos, selected, hi_rows, parts)
//       (partials, offsets, (unknown_cluster, unknown_pos, unknown_offsets),
//       (node, clusters, loop), covered_links): partials the 7 columns
//       cluster, n, vol, mcd, minnode, loops, internal, routed by cluster;
//       hi_rows None or (hi, cluster, tag, lo), lo empty when each edge's
//       rows arrive together.
//   cluster_side(partials, unknown_cluster, unknown_pos, parts)
//       ((cluster, n, inside, c, mcd, vol), (singles, offsets),
//       (unresolved_cluster, unresolved_pos)).

#define PY_SSIZE_T_CLEAN
#include <Python.h>

namespace quelmar::exposure::tools {

PyObject* route(PyObject* module, PyObject* args, PyObject* kwargs);
PyObject* lo_side(PyObject* module, PyObject* args, PyObject* kwargs);
PyObject* degrees(PyObject* module, PyObject* args, PyObject* kwargs);
PyObject* node_side(PyObject* module, PyObject* args, PyObject* kwargs);
PyObject* cluster_side(PyObject* module, PyObject* args, PyObject* kwargs);

}  // namespace quelmar::exposure::tools
