#pragma once
// Argument conversions shared by the companion's functions, on top of the
// toolkit's binding (src/exposure/arguments.h). Each returns false with the
// Python error set.

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <optional>
#include <string>
#include <vector>

#include "src/exposure/buffer_view.h"
#include "src/quelmar/clustering_handle.h"

namespace quelmar::exposure::tools {

// A uint64 array, or nothing for None.
bool optional_uint64s(PyObject* object, const char* name, BufferView* view);

// The resolution of the "cpm" statistic: None or a number.
bool cpm_argument(PyObject* object, std::optional<double>* cpm);

// A list or tuple of str.
bool text_sequence_argument(const char* name, PyObject* object, std::vector<std::string>* texts);

// A quelmar.Graph (TypeError otherwise).
bool graph_argument(PyObject* object, const char* name, SharedGraph* graph);

// A quelmar.Clustering, or the clustering of a quelmar.ClusteringSubset.
bool clustering_argument(PyObject* source, SharedClustering* clustering);

// A quelmar.Clustering with `ids` None or a uint64 array, or a
// quelmar.ClusteringSubset with `ids` None: the selection it names.
bool selection_argument(PyObject* source, PyObject* ids, ClusteringHandle* selection);

}  // namespace quelmar::exposure::tools
