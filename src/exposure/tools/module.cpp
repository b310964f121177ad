// quelmar_tools._native: entry point. Initialisation is a chain of steps that
// each leave the Python error set when they fail.

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <cstring>

#include "src/exposure/classes.h"
#include "src/exposure/core_identity.h"
#include "src/exposure/py_ref.h"
#include "src/exposure/tools/agreement/agreement_functions.h"
#include "src/exposure/tools/analysis/analysis_functions.h"
#include "src/exposure/tools/dask/block_functions.h"
#include "src/exposure/tools/dask/cell_functions.h"
#include "src/exposure/tools/dask/join_functions.h"
#include "src/exposure/tools/measures/measure_functions.h"
#include "src/exposure/tools/measures/well_connected_functions.h"

namespace quelmar::exposure::tools {
namespace {

using KeywordFunction = PyObject* (*)(PyObject*, PyObject*, PyObject*);

PyMethodDef keyword_function(const char* name, KeywordFunction function) {
    return {name, reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(function)),
            METH_VARARGS | METH_KEYWORDS, nullptr};
}

PyMethodDef functions[] = {
    keyword_function("load_graph", load_graph),
    keyword_function("graph_from_pairs", graph_from_pairs),
    keyword_function("load_clustering", load_clustering),
    keyword_function("clustering_from_memberships", clustering_from_memberships),
    keyword_function("clustering_from_rows", clustering_from_rows),
    keyword_function("cluster_counts", cluster_counts),
    keyword_function("coverage", coverage),
    keyword_function("load_counts", load_counts),
    keyword_function("measure_names", measure_names),
    keyword_function("check_measures", check_measures),
    keyword_function("cluster_measures", cluster_measures),
    keyword_function("agreement_measures", agreement_measures),
    keyword_function("check_uncovered", check_uncovered),
    keyword_function("compare", compare),
    keyword_function("match_table", match_table),
    keyword_function("compare_cells", compare_cells),
    keyword_function("match_cells", match_cells),
    keyword_function("value_columns", value_columns),
    keyword_function("well_connected", well_connected),
    keyword_function("well_connected_pieces", well_connected_pieces),
    keyword_function("clustering_of_pieces", clustering_of_pieces),
    keyword_function("cluster_members", cluster_members),
    keyword_function("cluster_values", cluster_values),
    keyword_function("summarize", summarize),
    keyword_function("parse_lines", parse_lines),
    keyword_function("route_lines", route_lines),
    keyword_function("unresolved_message", unresolved_message),
    keyword_function("size_changes", size_changes),
    keyword_function("route", route),
    keyword_function("lo_side", lo_side),
    keyword_function("degrees", degrees),
    keyword_function("node_side", node_side),
    keyword_function("cluster_side", cluster_side),
    {nullptr, nullptr, 0, nullptr},
};

PyModuleDef definition = {
    PyModuleDef_HEAD_INIT,
    "quelmar_tools._native",
    "Native helpers of quelmar_tools, on the native core of quelmar.",
    0,
    functions,
    nullptr,
    nullptr,
    nullptr,
    nullptr,
};

// This module reads and makes quelmar's objects through the core it was
// linked with; that must be the core the loaded quelmar runs on, from the
// same build, or the objects would be misread.
bool same_core_as_quelmar() {
    PyRef quelmar = PyRef::steal(PyImport_ImportModule("quelmar"));
    if (!quelmar) return false;
    PyRef graph_class = PyRef::steal(PyObject_GetAttrString(quelmar.get(), "Graph"));
    if (!graph_class) return false;
    PyTypeObject* ours = graph_type();
    if (!ours) return false;
    const bool same_classes = graph_class.get() == reinterpret_cast<PyObject*>(ours);
    if (same_classes && std::strcmp(core_build_id(), QUELMAR_BUILD_ID) == 0) return true;
    PyErr_Format(PyExc_ImportError,
                 "quelmar_tools._native was built from other sources than the loaded quelmar "
                 "(built for core %s, found core %s%s); reinstall both from one source with "
                 "`pip install .`",
                 QUELMAR_BUILD_ID, core_build_id(),
                 same_classes ? "" : " with classes other than quelmar's");
    return false;
}

PyObject* create_module() {
    if (!same_core_as_quelmar()) return nullptr;
    return PyModule_Create(&definition);
}

}  // namespace
}  // namespace quelmar::exposure::tools

PyMODINIT_FUNC PyInit__native() { return quelmar::exposure::tools::create_module(); }
