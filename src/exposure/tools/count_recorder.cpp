#include "src/exposure/tools/count_recorder.h"

#include <cstdint>
#include <cstring>
#include <new>
#include <vector>

namespace quelmar::exposure::tools {
namespace {

constexpr const char* kFields[] = {"n", "m", "c", "mcd", "vol"};
constexpr std::size_t kFieldCount = 5;

struct Recorder {
    PyObject_HEAD
    std::vector<std::uint64_t> values;
};

// Interned attribute names, made once per process.
PyObject* field_names[kFieldCount] = {};

bool intern_field_names() {
    for (std::size_t i = 0; i < kFieldCount; ++i) {
        if (field_names[i]) continue;
        field_names[i] = PyUnicode_InternFromString(kFields[i]);
        if (!field_names[i]) return false;
    }
    return true;
}

PyObject* make(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
    if (!PyArg_ParseTuple(args, ":CountRecorder") || (kwargs && PyDict_GET_SIZE(kwargs) != 0)) {
        if (!PyErr_Occurred()) PyErr_SetString(PyExc_TypeError, "CountRecorder takes no arguments");
        return nullptr;
    }
    if (!intern_field_names()) return nullptr;
    auto* self = reinterpret_cast<Recorder*>(type->tp_alloc(type, 0));
    if (!self) return nullptr;
    new (&self->values) std::vector<std::uint64_t>();
    return reinterpret_cast<PyObject*>(self);
}

void destroy(PyObject* object) {
    auto* self = reinterpret_cast<Recorder*>(object);
    PyTypeObject* type = Py_TYPE(object);
    self->values.~vector();
    type->tp_free(object);
    Py_DECREF(type);
}

PyObject* record(PyObject* object, PyObject* args, PyObject* kwargs) {
    PyObject* skeleton;
    if (!PyArg_ParseTuple(args, "O:CountRecorder", &skeleton)) return nullptr;
    if (kwargs && PyDict_GET_SIZE(kwargs) != 0) {
        PyErr_SetString(PyExc_TypeError, "CountRecorder takes no keyword arguments");
        return nullptr;
    }
    std::uint64_t counts[kFieldCount];
    for (std::size_t i = 0; i < kFieldCount; ++i) {
        PyObject* value = PyObject_GetAttr(skeleton, field_names[i]);
        if (!value) return nullptr;
        counts[i] = PyLong_AsUnsignedLongLong(value);
        Py_DECREF(value);
        if (counts[i] == static_cast<std::uint64_t>(-1) && PyErr_Occurred()) return nullptr;
    }
    auto* self = reinterpret_cast<Recorder*>(object);
    try {
        self->values.insert(self->values.end(), counts, counts + kFieldCount);
    } catch (const std::bad_alloc&) {
        return PyErr_NoMemory();
    }
    Py_RETURN_TRUE;
}

PyObject* take(PyObject* object, PyObject*) {
    auto* self = reinterpret_cast<Recorder*>(object);
    const auto bytes = static_cast<Py_ssize_t>(self->values.size() * sizeof(std::uint64_t));
    PyObject* out = PyByteArray_FromStringAndSize(nullptr, bytes);
    if (!out) return nullptr;
    if (bytes > 0) std::memcpy(PyByteArray_AS_STRING(out), self->values.data(), bytes);
    std::vector<std::uint64_t>().swap(self->values);
    return out;
}

PyMethodDef methods[] = {
    {"take", take, METH_NOARGS, nullptr},
    {nullptr, nullptr, 0, nullptr},
};

PyType_Slot slots[] = {
    {Py_tp_new, reinterpret_cast<void*>(make)},
    {Py_tp_dealloc, reinterpret_cast<void*>(destroy)},
    {Py_tp_call, reinterpret_cast<void*>(record)},
    {Py_tp_methods, methods},
    {0, nullptr},
};

PyType_Spec type_spec = {"quelmar_tools._native.CountRecorder", sizeof(Recorder), 0,
                         Py_TPFLAGS_DEFAULT, slots};

PyTypeObject* cached = nullptr;

}  // namespace

PyTypeObject* count_recorder_type() {
    if (!cached) cached = reinterpret_cast<PyTypeObject*>(PyType_FromSpec(&type_spec));
    return cached;
}

}  // namespace quelmar::exposure::tools
