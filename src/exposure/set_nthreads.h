#pragma once
// The module function set_nthreads, bound to its module.

#define PY_SSIZE_T_CLEAN
#include <Python.h>

namespace quelmar::exposure {

// A new built-in function object (no docstring); null with the error set.
PyObject* new_set_nthreads_function(PyObject* module);

}  // namespace quelmar::exposure
