#pragma once
// How the agreement's results reach Python, whether the contingency was
// built from clusterings in process or from cells counted on Dask.

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <string>
#include <utility>
#include <vector>

#include "src/agreement/match_table.h"

namespace quelmar::exposure::tools {

// Name and value of every measure computed, in the order asked.
using MeasureValues = std::vector<std::pair<std::string, double>>;

// A new dict from measure name to float, in order; null with the error set.
PyObject* measure_dict(const MeasureValues& values);

// A new tuple (id, matched, match, intersection, jaccard, precision, recall,
// f1) of bytearrays (uint64, uint8 for matched, float64 for the ratios);
// null with the error set.
PyObject* match_columns(const agreement::MatchTable& table);

}  // namespace quelmar::exposure::tools
