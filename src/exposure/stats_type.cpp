// ClusteringStats: a snapshot of the statistics of one subset. It refers to
// neither the subset nor the clustering; `distributions` builds a new dict of
// new SummarizedDistribution objects on every read.

#include <string_view>

#include "src/exposure/classes.h"
#include "src/exposure/native_object.h"
#include "src/exposure/panic.h"
#include "src/exposure/py_ref.h"

namespace quelmar::exposure {
namespace {

template <std::uint64_t StatsRecord::*field>
PyObject* get_count(PyObject* self, void*) {
    return PyLong_FromUnsignedLongLong(native_value<StatsRecord>(self).*field);
}

PyObject* get_distributions(PyObject* self, void*) {
    return guarded([self]() -> PyObject* {
        PyRef dict = PyRef::steal(PyDict_New());
        if (!dict) return nullptr;
        for (const auto& [name, summary] : native_value<StatsRecord>(self).distributions) {
            PyRef value = PyRef::steal(new_summary(summary));
            if (!value) return nullptr;
            PyRef key = PyRef::steal(
                PyUnicode_FromStringAndSize(name.data(), static_cast<Py_ssize_t>(name.size())));
            if (!key || PyDict_SetItem(dict.get(), key.get(), value.get()) < 0) return nullptr;
        }
        return dict.release();
    });
}

// clang-format off
PyGetSetDef properties[] = {
    {"num_clusters",  get_count<&StatsRecord::num_clusters>,  nullptr, nullptr, nullptr},
    {"covered_nodes", get_count<&StatsRecord::covered_nodes>, nullptr, nullptr, nullptr},
    {"covered_edges", get_count<&StatsRecord::covered_edges>, nullptr, nullptr, nullptr},
    {"total_nodes",   get_count<&StatsRecord::total_nodes>,   nullptr, nullptr, nullptr},
    {"total_edges",   get_count<&StatsRecord::total_edges>,   nullptr, nullptr, nullptr},
    {"distributions", get_distributions,                      nullptr, nullptr, nullptr},
    {nullptr,         nullptr,                                nullptr, nullptr, nullptr},
};
// clang-format on

// clang-format off
PyType_Slot slots[] = {
    {Py_tp_new,     reinterpret_cast<void*>(refuse_construction)},
    {Py_tp_dealloc, reinterpret_cast<void*>(destroy_instance<StatsRecord>)},
    {Py_tp_getset,  properties},
    {0,             nullptr},
};
// clang-format on

PyType_Spec type_spec = {"builtins.ClusteringStats", sizeof(NativeObject<StatsRecord>), 0,
                         kNativeTypeFlags, slots};

PyTypeObject* cached = nullptr;

// ASCII only, whatever the process locale: the names are identifiers.
std::string lower_case(std::string_view text) {
    std::string out(text);
    for (char& c : out) {
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
    return out;
}

}  // namespace

StatsRecord StatsRecord::from_graph_stats(GraphStats stats) {
    StatsRecord record;
    record.num_clusters = stats.num_clusters;
    record.covered_nodes = stats.covered_nodes;
    record.covered_edges = stats.covered_edges;
    record.total_nodes = stats.total_nodes;
    record.total_edges = stats.total_edges;
    record.distributions.reserve(stats.distributions.size());
    for (auto& [type, summary] : stats.distributions) {
        record.distributions.emplace_back(lower_case(display_text(type)), std::move(summary));
    }
    return record;
}

PyTypeObject* stats_type() { return cached_type(cached, type_spec); }

PyObject* new_stats(StatsRecord record) {
    PyTypeObject* type = stats_type();
    return type ? make_instance(type, std::move(record)) : nullptr;
}

}  // namespace quelmar::exposure
