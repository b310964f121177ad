// cluster_values and summarize (functions.h).

#include <algorithm>
#include <optional>
#include <string>
#include <vector>

#include "src/exposure/arguments.h"
#include "src/exposure/buffer_view.h"
#include "src/exposure/errors.h"
#include "src/exposure/gil.h"
#include "src/exposure/py_ref.h"
#include "src/exposure/tools/analysis/analysis_functions.h"
#include "src/exposure/tools/analysis/statistic_columns.h"
#include "src/exposure/tools/arguments.h"
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

constexpr ErrorPolicy kPlain = ErrorPolicy::kPlain;
const Signature values_signature{"cluster_values",
                                 {"n", "m", "c", "mcd", "vol", "total_edges", "cpm"}};
const Signature summarize_signature{"summarize", {"values"}};
const Signature columns_signature{"value_columns", {"cpm"}};

}  // namespace

PyObject* value_columns(PyObject*, PyObject* args, PyObject* kwargs) {
    return guarded<kPlain>([=]() -> PyObject* {
        PyObject* bound[1];
        if (!bind_arguments(columns_signature, args, kwargs, bound)) return nullptr;
        const int with_cpm = PyObject_IsTrue(bound[0]);
        if (with_cpm < 0) return nullptr;
        const std::vector<StatisticsType> types = value_column_statistics(with_cpm != 0);
        PyRef names = PyRef::steal(PyTuple_New(static_cast<Py_ssize_t>(types.size())));
        if (!names) return nullptr;
        for (std::size_t i = 0; i < types.size(); ++i) {
            const std::string key = result_key(types[i]);
            PyObject* text =
                PyUnicode_FromStringAndSize(key.data(), static_cast<Py_ssize_t>(key.size()));
            if (!text) return nullptr;
            PyTuple_SET_ITEM(names.get(), static_cast<Py_ssize_t>(i), text);  // steals
        }
        return names.release();
    });
}

PyObject* cluster_values(PyObject*, PyObject* args, PyObject* kwargs) {
    return guarded<kPlain>([=]() -> PyObject* {
        PyObject* bound[7];
        if (!bind_arguments(values_signature, args, kwargs, bound)) return nullptr;
        const auto names = values_signature.parameters.begin();
        std::uint64_t total_edges = 0;
        std::optional<double> cpm;
        if (!u64_argument("total_edges", bound[5], &total_edges) || !cpm_argument(bound[6], &cpm)) {
            return nullptr;
        }
        BufferView counts[5];
        for (int i = 0; i < 5; ++i) {
            if (!counts[i].acquire(bound[i], names[i], BufferView::Item::kUInt64)) {
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
        inputs.cpm_resolution = cpm.value_or(0.0);
        const CountColumns columns{counts[0].uint64s(), counts[1].uint64s(), counts[2].uint64s(),
                                   counts[3].uint64s(), counts[4].uint64s()};
        const std::size_t length = counts[0].length();

        PyRef result = PyRef::steal(PyDict_New());
        if (!result) return nullptr;
        std::vector<std::pair<StatisticsType, std::span<double>>> outputs;
        for (StatisticsType type : computed_statistics(cpm.has_value())) {
            std::span<double> column;
            if (!add_column(result.get(), result_key(type), length, &column)) return nullptr;
            outputs.emplace_back(type, column);
        }
        without_gil([&] {
            for (const auto& [type, column] : outputs)
                fill_statistic(type, columns, inputs, column);
            return true;
        });
        return result.release();
    });
}

PyObject* summarize(PyObject*, PyObject* args, PyObject* kwargs) {
    return guarded<kPlain>([=]() -> PyObject* {
        PyObject* values_object = nullptr;
        if (!bind_arguments(summarize_signature, args, kwargs, {&values_object, 1})) return nullptr;
        BufferView values;
        if (!values.acquire(values_object, "values", BufferView::Item::kFloat64)) return nullptr;
        std::span<const double> items = values.float64s();
        std::vector<double> copy(items.begin(), items.end());
        const quality::DistributionSummary summary =
            without_gil([&] { return quality::DistributionSummary::from_values(std::move(copy)); });
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
