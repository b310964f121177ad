// compare and match_table (functions.h).

#include <cmath>
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
#include "src/quelmar/agreement.h"
#include "src/quelmar/contingency.h"
#include "src/quelmar/match_table.h"
#include "src/terminal/progress_bar.h"

namespace quelmar::exposure::tools {
namespace {

constexpr ErrorPolicy kPlain = ErrorPolicy::kPlain;
const Signature compare_signature{
    "compare", {"a", "a_ids", "b", "b_ids", "names", "uncovered", "partitions_only_when_apt"}};
const Signature match_signature{"match_table",
                                {"a", "a_ids", "b", "b_ids", "uncovered", "reverse"}};

enum class Measure { kNmi, kAri, kVi, kF1, kOnmi, kOmega };

struct NamedMeasure {
    std::string_view name;
    Measure measure;
    Normalisation normalisation = Normalisation::kArithmetic;
};

constexpr NamedMeasure kAgreementMeasures[] = {
    {"nmi", Measure::kNmi},
    {"nmi_arithmetic", Measure::kNmi},
    {"nmi_geometric", Measure::kNmi, Normalisation::kGeometric},
    {"nmi_min", Measure::kNmi, Normalisation::kMin},
    {"nmi_max", Measure::kNmi, Normalisation::kMax},
    {"ari", Measure::kAri},
    {"vi", Measure::kVi},
    {"f1", Measure::kF1},
    {"onmi", Measure::kOnmi},
    {"omega", Measure::kOmega},
};

bool needs_partition(Measure measure) {
    return measure == Measure::kNmi || measure == Measure::kAri || measure == Measure::kVi;
}

std::string known_names() {
    std::string known;
    for (const NamedMeasure& entry : kAgreementMeasures) {
        known += (known.empty() ? "" : ", ") + std::string(entry.name);
    }
    return known;
}

bool measures_argument(PyObject* object, std::vector<NamedMeasure>* measures) {
    std::vector<std::string> names;
    if (!text_sequence_argument("measures", object, &names)) return false;
    for (const std::string& name : names) {
        const NamedMeasure* found = nullptr;
        for (const NamedMeasure& entry : kAgreementMeasures) {
            if (entry.name == name) found = &entry;
        }
        if (!found) {
            PyErr_Format(PyExc_ValueError, "unknown agreement measure '%s'; known measures: %s",
                         name.c_str(), known_names().c_str());
            return false;
        }
        measures->push_back(*found);
    }
    return true;
}

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

runtime::Result<double> value_of(const NamedMeasure& entry, const Contingency& table,
                                 std::stop_token stop, runtime::PassProgress& progress) {
    switch (entry.measure) {
        case Measure::kNmi: return nmi(table, entry.normalisation);
        case Measure::kAri: return ari(table);
        case Measure::kVi: return vi(table);
        case Measure::kF1: return f1(table);
        case Measure::kOnmi: return onmi(table, stop, progress);
        case Measure::kOmega: return omega(table, stop, progress);
    }
    return std::nan("");
}

// Name and value of every measure computed, in the order asked.
using Values = std::vector<std::pair<std::string_view, double>>;

}  // namespace

PyObject* compare(PyObject*, PyObject* args, PyObject* kwargs) {
    return guarded<kPlain>([=]() -> PyObject* {
        PyObject* bound[7];
        if (!bind_arguments(compare_signature, args, kwargs, bound)) return nullptr;
        ClusteringHandle a, b;
        std::vector<NamedMeasure> measures;
        Uncovered uncovered = Uncovered::kSingletons;
        if (!selection_argument(bound[0], bound[1], &a) ||
            !selection_argument(bound[2], bound[3], &b) ||
            !measures_argument(bound[4], &measures) || !uncovered_argument(bound[5], &uncovered)) {
            return nullptr;
        }
        const int apt_only = PyObject_IsTrue(bound[6]);
        if (apt_only < 0) return nullptr;

        runtime::Result<Values> values = run_interruptibly([&](std::stop_token stop) {
            return [&]() -> runtime::Result<Values> {
                terminal::ProgressBar bar;  // on standard error when it is a terminal
                runtime::Result<Contingency> table = Contingency::build(a, b, uncovered, stop, bar);
                if (!table) return std::move(table).error();
                const bool partitions = !table->a.overlap && !table->b.overlap;
                Values out;
                for (const NamedMeasure& entry : measures) {
                    if (apt_only && needs_partition(entry.measure) && !partitions) continue;
                    runtime::Result<double> value = value_of(entry, table.value(), stop, bar);
                    if (!value) return std::move(value).error();
                    out.emplace_back(entry.name, value.value());
                }
                return out;
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
