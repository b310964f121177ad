// ClusteringStats: a snapshot of the statistics of one subset. It refers to
// neither the subset nor the clustering; `distributions` builds a new dict of
// new SummarizedDistribution objects on every read.

#include <string>

#include "src/exposure/classes.h"
#include "src/exposure/errors.h"
#include "src/exposure/native_object.h"
#include "src/exposure/panic.h"
#include "src/exposure/py_ref.h"

namespace quelmar::exposure {
namespace {

PyObject* get_distributions(PyObject* self, void*) {
    return guarded([self]() -> PyObject* {
        PyRef dict = PyRef::steal(PyDict_New());
        if (!dict) return nullptr;
        for (const auto& [type, summary] : native_value<GraphStats>(self).distributions) {
            PyRef value = PyRef::steal(new_summary(summary));
            if (!value) return nullptr;
            const std::string name = result_key(type);
            PyRef key = PyRef::steal(
                PyUnicode_FromStringAndSize(name.data(), static_cast<Py_ssize_t>(name.size())));
            if (!key || PyDict_SetItem(dict.get(), key.get(), value.get()) < 0) return nullptr;
        }
        return dict.release();
    });
}

// clang-format off
PyGetSetDef properties[] = {
    {"num_clusters",  get_count<&GraphStats::num_clusters>,  nullptr, nullptr, nullptr},
    {"covered_nodes", get_count<&GraphStats::covered_nodes>, nullptr, nullptr, nullptr},
    {"covered_edges", get_count<&GraphStats::covered_edges>, nullptr, nullptr, nullptr},
    {"total_nodes",   get_count<&GraphStats::total_nodes>,   nullptr, nullptr, nullptr},
    {"total_edges",   get_count<&GraphStats::total_edges>,   nullptr, nullptr, nullptr},
    {"distributions", get_distributions,                     nullptr, nullptr, nullptr},
    {nullptr,         nullptr,                               nullptr, nullptr, nullptr},
};
// clang-format on

// clang-format off
PyType_Slot slots[] = {
    {Py_tp_new,     reinterpret_cast<void*>(refuse_construction)},
    {Py_tp_dealloc, reinterpret_cast<void*>(destroy_instance<GraphStats>)},
    {Py_tp_getset,  properties},
    {0,             nullptr},
};
// clang-format on

PyType_Spec type_spec = {"builtins.ClusteringStats", sizeof(NativeObject<GraphStats>), 0,
                         kNativeTypeFlags, slots};

PyTypeObject* cached = nullptr;

}  // namespace

PyTypeObject* stats_type() { return cached_type(cached, type_spec); }

PyObject* new_stats(GraphStats stats) {
    PyTypeObject* type = stats_type();
    return type ? make_instance(type, std::move(stats)) : nullptr;
}

}  // namespace quelmar::exposure
