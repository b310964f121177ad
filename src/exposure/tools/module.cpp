// quelmar_tools._native: entry point. Initialisation is a chain of steps that
// each leave the Python error set when they fail.

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include "src/exposure/tools/count_recorder.h"
#include "src/exposure/tools/functions.h"

namespace quelmar::exposure::tools {
namespace {

#define TOOLS_FUNCTION(name)                                                         \
    {                                                                                \
#name, reinterpret_cast < PyCFunction>(reinterpret_cast <void (*)()>(name)), \
            METH_VARARGS | METH_KEYWORDS, nullptr                                    \
    }

PyMethodDef functions[] = {
    TOOLS_FUNCTION(write_graph_snapshot), TOOLS_FUNCTION(write_memberships),
    TOOLS_FUNCTION(cluster_values),       TOOLS_FUNCTION(summarize),
    {nullptr, nullptr, 0, nullptr},
};

#undef TOOLS_FUNCTION

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
