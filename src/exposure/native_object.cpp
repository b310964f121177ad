#include "src/exposure/native_object.h"

#include "src/exposure/py_ref.h"

namespace quelmar::exposure {

PyObject* refuse_construction(PyTypeObject*, PyObject*, PyObject*) {
    PyErr_SetString(PyExc_TypeError, "No constructor defined");
    return nullptr;
}

PyTypeObject* build_type(PyType_Spec& type_spec) {
    PyRef type = PyRef::steal(PyType_FromSpec(&type_spec));
    if (!type) return nullptr;
    auto* made = reinterpret_cast<PyTypeObject*>(type.get());
    // Written into the class dictionary directly, as the class is immutable
    // from Python. An explicit None keeps instances from inheriting the
    // docstring of `object`.
    if (PyDict_SetItemString(made->tp_dict, "__doc__", Py_None) < 0) return nullptr;
    PyType_Modified(made);
    return reinterpret_cast<PyTypeObject*>(type.release());
}

PyTypeObject* cached_type(PyTypeObject*& slot, PyType_Spec& type_spec) {
    if (slot) return slot;
    PyTypeObject* made = build_type(type_spec);
    if (!made) return nullptr;
    // Building a class may run arbitrary code (garbage collection) and let
    // another thread build it too; the first one stays.
    if (slot) {
        Py_DECREF(made);
    } else {
        slot = made;
    }
    return slot;
}

}  // namespace quelmar::exposure
