// compare and match_table (functions.h).

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "src/exposure/arguments.h"
#include "src/exposure/buffer_view.h"
#include "src/exposure/errors.h"
#include "src/exposure/interruptible.h"
#include "src/exposure/py_ref.h"
#include "src/exposure/tools/arguments.h"
#include "src/exposure/tools/functions.h"
#include "src/quelmar/contingency.h"
#include "src/quelmar/match_table.h"
#include "src/quelmar/measures_by_name.h"
#include "src/terminal/progress_bar.h"

namespace quelmar::exposure::tools {
namespace {

constexpr ErrorPolicy kPlain = ErrorPolicy::kPlain;
const Signature compare_signature{
    "compare", {"a", "a_ids", "b", "b_ids", "names", "uncovered", "only_where_apt"}};
const Signature match_signature{"match_table",
                                {"a", "a_ids", "b", "b_ids", "uncovered", "reverse"}};

bool uncovered_argument(PyObject* object, Uncovered* uncovered) {
    std::string text;
    if (!text_argument("uncovered", object, &text)) return false;
    if (text == "singletons") {
        *uncovered = Uncovered::kSingletons;
    } else if (text == "drop") {
        *uncovered = Uncovered::kDrop;
    } else {
        PyErr_Format(PyExc_ValueError, "uncovered: expected 'singletons' or 'drop', got '%s'",
                     text.c_str());
        return false;
    }
    return true;
}

// Name and value of every measure computed, in the order asked.
using Values = std::vector<std::pair<std::string, double>>;

}  // namespace

PyObject* compare(PyObject*, PyObject* args, PyObject* kwargs) {
    return guarded<kPlain>([=]() -> PyObject* {
        PyObject* bound[7];
        if (!bind_arguments(compare_signature, args, kwargs, bound)) return nullptr;
        ClusteringHandle a, b;
        std::vector<std::string> names;
        Uncovered uncovered = Uncovered::kSingletons;
        if (!selection_argument(bound[0], bound[1], &a) ||
            !selection_argument(bound[2], bound[3], &b) ||
            !text_sequence_argument("measures", bound[4], &names) ||
            !uncovered_argument(bound[5], &uncovered)) {
            return nullptr;
        }
        const int only_where_apt = PyObject_IsTrue(bound[6]);
        if (only_where_apt < 0) return nullptr;
        const std::vector<std::string_view> wanted(names.begin(), names.end());

        runtime::Result<Values> values = run_interruptibly([&](std::stop_token stop) {
            return [&]() -> runtime::Result<Values> {
                terminal::ProgressBar bar;  // on standard error when it is a terminal
                runtime::Result<Contingency> table = Contingency::build(a, b, uncovered, stop, bar);
                if (!table) return std::move(table).error();
                return measures_by_name(table.value(), wanted, stop, bar, only_where_apt != 0);
            }();
        });
        if (!values) return raise_error(values.error(), kPlain);
        PyRef result = PyRef::steal(PyDict_New());
        if (!result) return nullptr;
        for (const auto& [name, value] : values.value()) {
            PyRef number = PyRef::steal(PyFloat_FromDouble(value));
            PyRef key = PyRef::steal(
                PyUnicode_FromStringAndSize(name.data(), static_cast<Py_ssize_t>(name.size())));
            if (!number || !key || PyDict_SetItem(result.get(), key.get(), number.get()) < 0) {
                return nullptr;
            }
        }
        return result.release();
    });
}

PyObject* match_table(PyObject*, PyObject* args, PyObject* kwargs) {
    return guarded<kPlain>([=]() -> PyObject* {
        PyObject* bound[6];
        if (!bind_arguments(match_signature, args, kwargs, bound)) return nullptr;
        ClusteringHandle a, b;
        Uncovered uncovered = Uncovered::kSingletons;
        if (!selection_argument(bound[0], bound[1], &a) ||
            !selection_argument(bound[2], bound[3], &b) ||
            !uncovered_argument(bound[4], &uncovered)) {
            return nullptr;
        }
        const int reverse = PyObject_IsTrue(bound[5]);
        if (reverse < 0) return nullptr;
        runtime::Result<MatchTable> made = run_interruptibly([&](std::stop_token stop) {
            return [&]() -> runtime::Result<MatchTable> {
                terminal::ProgressBar bar;  // on standard error when it is a terminal
                runtime::Result<Contingency> table = Contingency::build(a, b, uncovered, stop, bar);
                if (!table) return std::move(table).error();
                return quelmar::match_table(
                    table.value(), reverse ? MatchDirection::kBToA : MatchDirection::kAToB);
            }();
        });
        if (!made) return raise_error(made.error(), kPlain);
        const MatchTable& table = made.value();
        PyObject* columns[] = {
            byte_array(std::span<const base::ClusterId>(table.id)),
            byte_array(std::span<const std::uint8_t>(table.matched)),
            byte_array(std::span<const base::ClusterId>(table.match)),
            byte_array(std::span<const std::uint64_t>(table.intersection)),
            byte_array(std::span<const double>(table.jaccard)),
            byte_array(std::span<const double>(table.precision)),
            byte_array(std::span<const double>(table.recall)),
            byte_array(std::span<const double>(table.f1)),
        };
        PyRef result = PyRef::steal(PyTuple_New(std::size(columns)));
        bool complete = static_cast<bool>(result);
        for (std::size_t i = 0; i < std::size(columns); ++i) {
            if (!columns[i]) complete = false;
            if (result) {
                PyTuple_SET_ITEM(result.get(), static_cast<Py_ssize_t>(i), columns[i]);  // steals
            } else {
                Py_XDECREF(columns[i]);
            }
        }
        return complete ? result.release() : nullptr;
    });
}

}  // namespace quelmar::exposure::tools
