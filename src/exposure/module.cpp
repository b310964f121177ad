// The module's entry point. Initialisation is a chain of steps that each
// leave the Python error set when they fail; the classes are the same objects
// every time the module is initialised in a process. The first
// initialisation also installs the log sink that QUELMAR_LOG asks for.

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include "src/exposure/classes.h"
#include "src/exposure/log_sink.h"
#include "src/exposure/py_ref.h"
#include "src/exposure/python_compat.h"
#include "src/exposure/set_nthreads.h"

namespace quelmar::exposure {
namespace {

PyModuleDef definition = {
    PyModuleDef_HEAD_INIT,
    "quelmar",
    "A natively implemented Python module for statistics of clusterings of large graphs.",
    0,
    nullptr,
    nullptr,
    nullptr,
    nullptr,
    nullptr,
};

// The module's __all__, created by the first addition.
PyObject* index_of(PyObject* module) {
    PyObject* dict = PyModule_GetDict(module);  // borrowed
    PyObject* index = PyDict_GetItemString(dict, "__all__");
    if (index) return index;
    PyRef made = PyRef::steal(PyList_New(0));
    if (!made || PyDict_SetItemString(dict, "__all__", made.get()) < 0) return nullptr;
    return made.get();  // the module dict keeps it alive
}

// Lists `name` in __all__, then binds it; takes a new reference to `value`.
bool add(PyObject* module, const char* name, PyObject* value) {
    if (!value) return false;
    PyObject* index = index_of(module);
    if (!index) return false;
    PyRef text = PyRef::steal(PyUnicode_FromString(name));
    if (!text || PyList_Append(index, text.get()) < 0) return false;
    return compat::module_add_object_ref(module, name, value) == 0;
}

bool add_class(PyObject* module, const char* name, PyTypeObject* type) {
    return add(module, name, reinterpret_cast<PyObject*>(type));
}

bool add_set_nthreads(PyObject* module) {
    PyRef function = PyRef::steal(new_set_nthreads_function(module));
    return add(module, "set_nthreads", function.get());
}

PyObject* create_module() {
    install_log_sink_from_environment();
    PyRef module = PyRef::steal(PyModule_Create(&definition));
    if (!module) return nullptr;
    if (!add_class(module.get(), "Graph", graph_type()) ||
        !add_class(module.get(), "ClusterSkeleton", skeleton_type()) ||
        !add_class(module.get(), "Clustering", clustering_type()) ||
        !add_class(module.get(), "SummarizedDistribution", summary_type()) ||
        !add_set_nthreads(module.get())) {
        return nullptr;
    }
    return module.release();
}

}  // namespace
}  // namespace quelmar::exposure

PyMODINIT_FUNC PyInit_quelmar() { return quelmar::exposure::create_module(); }
