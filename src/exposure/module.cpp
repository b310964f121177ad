#define PY_SSIZE_T_CLEAN
#include <Python.h>

static PyModuleDef quelmar_module = {
    PyModuleDef_HEAD_INIT, "quelmar", "A natively implemented Python module.", 0,
    nullptr, nullptr, nullptr, nullptr, nullptr};

PyMODINIT_FUNC PyInit_quelmar() { return PyModule_Create(&quelmar_module); }
