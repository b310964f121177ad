#include "src/exposure/tools/agreement/agreement_results.h"

#include <span>

#include "src/exposure/buffer_view.h"
#include "src/exposure/py_ref.h"

namespace quelmar::exposure::tools {

PyObject* measure_dict(const MeasureValues& values) {
    PyRef result = PyRef::steal(PyDict_New());
    if (!result) return nullptr;
    for (const auto& [name, value] : values) {
        PyRef number = PyRef::steal(PyFloat_FromDouble(value));
        PyRef key = PyRef::steal(
            PyUnicode_FromStringAndSize(name.data(), static_cast<Py_ssize_t>(name.size())));
        if (!number || !key || PyDict_SetItem(result.get(), key.get(), number.get()) < 0) {
            return nullptr;
        }
    }
    return result.release();
}

PyObject* match_columns(const agreement::MatchTable& table) {
    PyRef columns[] = {
        PyRef::steal(byte_array(std::span<const base::ClusterId>(table.id))),
        PyRef::steal(byte_array(std::span<const std::uint8_t>(table.matched))),
        PyRef::steal(byte_array(std::span<const base::ClusterId>(table.match))),
        PyRef::steal(byte_array(std::span<const std::uint64_t>(table.intersection))),
        PyRef::steal(byte_array(std::span<const double>(table.jaccard))),
        PyRef::steal(byte_array(std::span<const double>(table.precision))),
        PyRef::steal(byte_array(std::span<const double>(table.recall))),
        PyRef::steal(byte_array(std::span<const double>(table.f1))),
    };
    PyRef result = PyRef::steal(PyTuple_New(std::size(columns)));
    if (!result) return nullptr;
    for (std::size_t i = 0; i < std::size(columns); ++i) {
        if (!columns[i]) return nullptr;
        PyTuple_SET_ITEM(result.get(), static_cast<Py_ssize_t>(i), columns[i].release());
    }
    return result.release();
}

}  // namespace quelmar::exposure::tools
