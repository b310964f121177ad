#pragma once
// What the binding uses of the C API of newer Pythons, for the oldest it
// supports (3.9 and 3.10). On 3.9 there are no immutable heap types, so
// there the classes' attributes can be rebound.

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#ifndef Py_TPFLAGS_IMMUTABLETYPE  // 3.10
#define Py_TPFLAGS_IMMUTABLETYPE 0
#endif

namespace quelmar::exposure::compat {

// PyModule_AddObjectRef (3.10): adds value to module without stealing it.
inline int module_add_object_ref(PyObject* module, const char* name, PyObject* value) {
#if PY_VERSION_HEX >= 0x030A0000
    return PyModule_AddObjectRef(module, name, value);
#else
    Py_XINCREF(value);
    if (PyModule_AddObject(module, name, value) < 0) {
        Py_XDECREF(value);
        return -1;
    }
    return 0;
#endif
}

// PyType_GetQualName (3.11): a new reference to the type's __qualname__.
inline PyObject* type_qualified_name(PyTypeObject* type) {
#if PY_VERSION_HEX >= 0x030B0000
    return PyType_GetQualName(type);
#else
    return PyObject_GetAttrString(reinterpret_cast<PyObject*>(type), "__qualname__");
#endif
}

}  // namespace quelmar::exposure::compat
