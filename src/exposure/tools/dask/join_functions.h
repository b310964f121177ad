#pragma once
// The per-partition joins of quelmar_tools.dask (partition_joins.h), with
// the interpreter lock released. Rows come in pieces (pieces.h): sequences
// of tuples of uint64 arrays (tag: uint8), read in order without being
// joined; a routed output is a list of one such piece per partition, each
// column a bytearray of its own. Other outputs are bytearrays. Mismatched
// lengths raise ValueError; `selected` is None (every cluster) or sorted
// unique ids; `parts` is the partition count (at least 1).
//
//   route(key, parts)  (offsets, order): the rows' order grouped by the
//       partition of their key (rows bound for p: [offsets[p], offsets[p + 1])).
//   lo_side(edges, members, selected, parts, with_lo)  ((node, deg, loop),
//       hi_rows): edges pieces (lo, hi, ...), members pieces (node, cluster,
//       ...); the lo nodes, then the hi-side rows routed by hi, pieces
//       (hi, cluster, tag), with lo as a fourth column when with_lo.
//   degrees(node, deg, loop, hi_rows)  (node, deg, loop): the lo nodes
//       merged with the hi-side rows keyed by hi.
//   node_side(node, deg, loop, members, selected, hi_rows, parts)
//       (partials, (node, clusters, loop), covered_links): members pieces
//       (node, cluster, pos); hi_rows None or pieces as lo_side made them
//       (lo only when they may have been reordered); partials routed by
//       cluster, pieces of the 7 columns cluster, n, vol, mcd, minnode,
//       loops, internal, then the unknown-node lines' cluster and pos.
//   cluster_side(partials, parts)  ((cluster, n, inside, c, mcd, vol),
//       singles, (unresolved_cluster, unresolved_pos)): partials pieces as
//       node_side made them; singles routed by node, pieces (node,).

#define PY_SSIZE_T_CLEAN
#include <Python.h>

namespace quelmar::exposure::tools {

PyObject* route(PyObject* module, PyObject* args, PyObject* kwargs);
PyObject* lo_side(PyObject* module, PyObject* args, PyObject* kwargs);
PyObject* degrees(PyObject* module, PyObject* args, PyObject* kwargs);
PyObject* node_side(PyObject* module, PyObject* args, PyObject* kwargs);
PyObject* cluster_side(PyObject* module, PyObject* args, PyObject* kwargs);

}  // namespace quelmar::exposure::tools
