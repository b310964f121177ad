#pragma once
// CountRecorder: a predicate for quelmar.Clustering.select that keeps every
// cluster (returns True) and records the five counts of each skeleton it is
// shown, in call order. select calls its predicate in ascending cluster id
// order, so the records line up with the subset's keys.
//
// take() hands the records over as one bytearray of native-endian uint64
// values, five per cluster (n, m, c, mcd, vol), and starts afresh.

#define PY_SSIZE_T_CLEAN
#include <Python.h>

namespace quelmar::exposure::tools {

// Borrowed; null with the Python error set if building the class failed.
PyTypeObject* count_recorder_type();

}  // namespace quelmar::exposure::tools
