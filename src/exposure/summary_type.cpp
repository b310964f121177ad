// SummarizedDistribution: a 21-point summary of one distribution. Each object
// owns its own copy of the entries; every read of `percentiles` is a new list.

#include "src/exposure/classes.h"
#include "src/exposure/native_object.h"
#include "src/exposure/py_ref.h"

namespace quelmar::exposure {
namespace {

using Summary = quality::SummarizedDistribution;

PyObject* get_percentiles(PyObject* self, void*) {
    const auto entries = native_value<Summary>(self).percentiles();
    PyRef list = PyRef::steal(PyList_New(static_cast<Py_ssize_t>(entries.size())));
    if (!list) return nullptr;
    for (std::size_t i = 0; i < entries.size(); ++i) {
        PyObject* entry = PyFloat_FromDouble(entries[i]);
        if (!entry) return nullptr;
        PyList_SET_ITEM(list.get(), static_cast<Py_ssize_t>(i), entry);  // steals
    }
    return list.release();
}

PyObject* get_minimum(PyObject* self, void*) {
    return PyFloat_FromDouble(native_value<Summary>(self).minimum());
}
PyObject* get_median(PyObject* self, void*) {
    return PyFloat_FromDouble(native_value<Summary>(self).median());
}
PyObject* get_maximum(PyObject* self, void*) {
    return PyFloat_FromDouble(native_value<Summary>(self).maximum());
}

// clang-format off
PyGetSetDef properties[] = {
    {"percentiles", get_percentiles, nullptr, nullptr, nullptr},
    {"minimum",     get_minimum,     nullptr, nullptr, nullptr},
    {"median",      get_median,      nullptr, nullptr, nullptr},
    {"maximum",     get_maximum,     nullptr, nullptr, nullptr},
    {nullptr,       nullptr,         nullptr, nullptr, nullptr},
};
// clang-format on

// clang-format off
PyType_Slot slots[] = {
    {Py_tp_new,     reinterpret_cast<void*>(refuse_construction)},
    {Py_tp_dealloc, reinterpret_cast<void*>(destroy_instance<Summary>)},
    {Py_tp_getset,  properties},
    {0,             nullptr},
};
// clang-format on

PyType_Spec type_spec = {"builtins.SummarizedDistribution", sizeof(NativeObject<Summary>), 0,
                         kNativeTypeFlags, slots};

PyTypeObject* cached = nullptr;

}  // namespace

PyTypeObject* summary_type() { return cached_type(cached, type_spec); }

PyObject* new_summary(quality::SummarizedDistribution summary) {
    PyTypeObject* type = summary_type();
    return type ? make_instance(type, std::move(summary)) : nullptr;
}

}  // namespace quelmar::exposure
