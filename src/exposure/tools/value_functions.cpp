// cluster_values and summarize (functions.h).

#include <algorithm>
#include <string>
#include <vector>

#include "src/exposure/tools/buffer_view.h"
#include "src/exposure/tools/errors.h"
#include "src/exposure/tools/functions.h"
#include "src/exposure/tools/statistic_columns.h"
#include "src/quality/distribution_summary.h"

namespace quelmar::exposure::tools {
namespace {

// Adds name -> a new bytearray of `length` float64 to `dict`; the span
// points into it (kept alive by the dict).
bool add_column(PyObject* dict, const std::string& name, std::size_t length,
                std::span<double>* column) {
    PyObject* bytes =
        PyByteArray_FromStringAndSize(nullptr, static_cast<Py_ssize_t>(length * sizeof(double)));
    if (!bytes) return false;
    int added = PyDict_SetItemString(dict, name.c_str(), bytes);
    *column = {reinterpret_cast<double*>(PyByteArray_AS_STRING(bytes)), length};
    Py_DECREF(bytes);
    return added == 0;
}

}  // namespace

PyObject* cluster_values(PyObject*, PyObject* args, PyObject* kwargs) {
    return guarded([=]() -> PyObject* {
        static const char* names[] = {"n", "m", "c", "mcd", "vol", "total_edges", "cpm", nullptr};
        PyObject* count_objects[5];
        unsigned long long total_edges;
        PyObject* cpm_object;
        if (!PyArg_ParseTupleAndKeywords(args, kwargs, "OOOOOKO:cluster_values",
                                         const_cast<char**>(names), &count_objects[0],
                                         &count_objects[1], &count_objects[2], &count_objects[3],
                                         &count_objects[4], &total_edges, &cpm_object)) {
            return nullptr;
        }
        BufferView counts[5];
        for (int i = 0; i < 5; ++i) {
            if (!counts[i].acquire(count_objects[i], names[i], BufferView::Item::kUInt64)) {
                return nullptr;
            }
            if (counts[i].length() != counts[0].length()) {
                PyErr_Format(PyExc_ValueError, "%s: expected %zu counts, got %zu", names[i],
                             counts[0].length(), counts[i].length());
                return nullptr;
            }
        }
        StatisticInputs inputs;
        inputs.total_edges = total_edges;
        if (cpm_object != Py_None) {
            inputs.cpm_resolution = PyFloat_AsDouble(cpm_object);
            if (inputs.cpm_resolution == -1.0 && PyErr_Occurred()) return nullptr;
        }
        const CountColumns columns{counts[0].uint64s(), counts[1].uint64s(), counts[2].uint64s(),
                                   counts[3].uint64s(), counts[4].uint64s()};
        const std::size_t length = counts[0].length();

        PyObject* result = PyDict_New();
        if (!result) return nullptr;
        std::vector<std::pair<StatisticsType, std::span<double>>> outputs;
        for (StatisticsType type : computed_statistics(cpm_object != Py_None)) {
            std::span<double> column;
            if (!add_column(result, result_key(type), length, &column)) {
                Py_DECREF(result);
                return nullptr;
            }
            outputs.emplace_back(type, column);
        }
        Py_BEGIN_ALLOW_THREADS for (const auto& [type, column] : outputs)
            fill_statistic(type, columns, inputs, column);
        Py_END_ALLOW_THREADS return result;
    });
}

PyObject* summarize(PyObject*, PyObject* args, PyObject* kwargs) {
    return guarded([=]() -> PyObject* {
        static const char* names[] = {"values", nullptr};
        PyObject* values_object;
        if (!PyArg_ParseTupleAndKeywords(args, kwargs, "O:summarize", const_cast<char**>(names),
                                         &values_object)) {
            return nullptr;
        }
        BufferView values;
        if (!values.acquire(values_object, "values", BufferView::Item::kFloat64)) return nullptr;
        std::span<const double> items = values.float64s();
        std::vector<double> copy(items.begin(), items.end());
        quality::DistributionSummary summary =
            quality::DistributionSummary::from_values(std::move(copy));
        PyObject* list = PyList_New(quality::DistributionSummary::kEntries);
        if (!list) return nullptr;
        for (std::size_t i = 0; i < quality::DistributionSummary::kEntries; ++i) {
            PyObject* entry = PyFloat_FromDouble(summary.percentiles()[i]);
            if (!entry) {
                Py_DECREF(list);
                return nullptr;
            }
            PyList_SET_ITEM(list, static_cast<Py_ssize_t>(i), entry);
        }
        return list;
    });
}

}  // namespace quelmar::exposure::tools
