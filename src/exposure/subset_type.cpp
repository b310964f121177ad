// ClusteringSubset: a selection of clusters (a ClusteringHandle). It shares,
// and keeps alive, the packed clustering and the graph. compute_statistics
// runs without the interpreter lock; compute_size_diff keeps it.

#include "src/exposure/arguments.h"
#include "src/exposure/classes.h"
#include "src/exposure/errors.h"
#include "src/exposure/gil.h"
#include "src/exposure/native_object.h"
#include "src/exposure/panic.h"
#include "src/exposure/py_ref.h"
#include "src/terminal/progress_bar.h"

namespace quelmar::exposure {
namespace {

PyObject* get_keys(PyObject* self, void*) {
    const std::vector<base::ClusterId>& keys = handle_of(self).keys;
    PyRef list = PyRef::steal(PyList_New(static_cast<Py_ssize_t>(keys.size())));
    if (!list) return nullptr;
    for (std::size_t i = 0; i < keys.size(); ++i) {
        PyObject* key = PyLong_FromUnsignedLongLong(keys[i]);
        if (!key) return nullptr;
        PyList_SET_ITEM(list.get(), static_cast<Py_ssize_t>(i), key);  // steals
    }
    return list.release();
}

PyObject* compute_statistics(PyObject* self, PyObject*) {
    return guarded([self]() -> PyObject* {
        const ClusteringHandle& handle = handle_of(self);
        GraphStats stats = without_gil([&handle] {
            terminal::ProgressBar bar;  // on standard error when it is a terminal
            return handle.stats(bar);
        });
        return new_stats(std::move(stats));
    });
}

const Signature size_diff_signature{"ClusteringSubset.compute_size_diff", {"rhs"}};

PyObject* compute_size_diff(PyObject* self, PyObject* args, PyObject* kwargs) {
    return guarded([=]() -> PyObject* {
        PyObject* rhs = nullptr;
        if (!bind_arguments(size_diff_signature, args, kwargs, {&rhs, 1})) return nullptr;
        PyTypeObject* clustering = clustering_type();
        if (!clustering) return nullptr;
        if (!Py_IS_TYPE(rhs, clustering)) {
            return raise_argument_type_error("rhs", rhs, "Clustering");
        }
        runtime::Result<SizeDiff> diff = handle_of(self).size_diff(*clustering_of(rhs));
        if (!diff) return raise_panic(diff.error().report());
        PyRef changes = PyRef::steal(new_summary(std::move(diff.value().changes)));
        if (!changes) return nullptr;
        PyRef grown = PyRef::steal(PyLong_FromUnsignedLongLong(diff.value().grown));
        if (!grown) return nullptr;
        return PyTuple_Pack(2, grown.get(), changes.get());
    });
}

// clang-format off
PyMethodDef methods[] = {
    {"compute_statistics", compute_statistics,               METH_NOARGS,                  nullptr},
    {"compute_size_diff",  with_keywords(compute_size_diff), METH_VARARGS | METH_KEYWORDS, nullptr},
    {nullptr,              nullptr,                          0,                            nullptr},
};
// clang-format on

// clang-format off
PyGetSetDef properties[] = {
    {"keys",  get_keys, nullptr, nullptr, nullptr},
    {nullptr, nullptr,  nullptr, nullptr, nullptr},
};
// clang-format on

// clang-format off
PyType_Slot slots[] = {
    {Py_tp_new,     reinterpret_cast<void*>(refuse_construction)},
    {Py_tp_dealloc, reinterpret_cast<void*>(destroy_instance<ClusteringHandle>)},
    {Py_tp_methods, methods},
    {Py_tp_getset,  properties},
    {0,             nullptr},
};
// clang-format on

PyType_Spec type_spec = {"builtins.ClusteringSubset", sizeof(NativeObject<ClusteringHandle>), 0,
                         kNativeTypeFlags, slots};

PyTypeObject* cached = nullptr;

}  // namespace

PyTypeObject* subset_type() { return cached_type(cached, type_spec); }

const ClusteringHandle& handle_of(PyObject* subset) {
    return native_value<ClusteringHandle>(subset);
}

bool is_subset(PyObject* object) { return is_instance_of(object, subset_type()); }

PyObject* new_subset(ClusteringHandle handle) {
    return make_instance_of(subset_type(), std::move(handle));
}

}  // namespace quelmar::exposure
