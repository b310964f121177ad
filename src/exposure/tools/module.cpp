// quelmar_tools._native: entry point. Initialisation is a chain of steps that
// each leave the Python error set when they fail.

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include "src/exposure/tools/block_functions.h"
#include "src/exposure/tools/count_recorder.h"
#include "src/exposure/tools/functions.h"

namespace quelmar::exposure::tools {
namespace {

using KeywordFunction = PyObject* (*)(PyObject*, PyObject*, PyObject*);

PyMethodDef keyword_function(const char* name, KeywordFunction function) {
    return {name, reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(function)),
            METH_VARARGS | METH_KEYWORDS, nullptr};
}

PyMethodDef functions[] = {
    keyword_function("load_graph_through_pipe", load_graph_through_pipe),
    keyword_function("write_memberships", write_memberships),
    keyword_function("cluster_values", cluster_values),
    keyword_function("summarize", summarize),
    keyword_function("parse_lines", parse_lines),
    keyword_function("unresolved_message", unresolved_message),
    keyword_function("size_changes", size_changes),
    {nullptr, nullptr, 0, nullptr},
};

PyModuleDef definition = {
    PyModuleDef_HEAD_INIT,
    "quelmar_tools._native",
    "Native helpers of quelmar_tools, built on the quelmar libraries.",
    0,
    functions,
    nullptr,
    nullptr,
    nullptr,
    nullptr,
};

bool add_type(PyObject* module, const char* name, PyTypeObject* type) {
    return type && PyModule_AddObjectRef(module, name, reinterpret_cast<PyObject*>(type)) == 0;
}

PyObject* create_module() {
    PyObject* module = PyModule_Create(&definition);
    if (!module) return nullptr;
    if (!add_type(module, "CountRecorder", count_recorder_type())) {
        Py_DECREF(module);
        return nullptr;
    }
    return module;
}

}  // namespace
}  // namespace quelmar::exposure::tools

PyMODINIT_FUNC PyInit__native() { return quelmar::exposure::tools::create_module(); }
