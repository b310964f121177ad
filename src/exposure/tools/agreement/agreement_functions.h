#pragma once
// The agreement of two clusterings in quelmar_tools._native (METH_VARARGS |
// METH_KEYWORDS; failures as in analysis_functions.h).
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

#define PY_SSIZE_T_CLEAN
#include <Python.h>

namespace quelmar::exposure::tools {

PyObject* agreement_measures(PyObject* module, PyObject* args, PyObject* kwargs);
PyObject* check_uncovered(PyObject* module, PyObject* args, PyObject* kwargs);
PyObject* compare(PyObject* module, PyObject* args, PyObject* kwargs);
PyObject* match_table(PyObject* module, PyObject* args, PyObject* kwargs);

}  // namespace quelmar::exposure::tools
