// compare and match_table (functions.h).

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "src/agreement/agreement_table.h"
#include "src/agreement/contingency.h"
#include "src/agreement/match_table.h"
#include "src/exposure/arguments.h"
#include "src/exposure/buffer_view.h"
#include "src/exposure/errors.h"
#include "src/exposure/interruptible.h"
#include "src/exposure/py_ref.h"
#include "src/exposure/tools/agreement/agreement_functions.h"
#include "src/exposure/tools/agreement/agreement_results.h"
#include "src/exposure/tools/arguments.h"
#include "src/terminal/progress_bar.h"

namespace quelmar::exposure::tools {
namespace {

constexpr ErrorPolicy kPlain = ErrorPolicy::kPlain;
const Signature compare_signature{
    "compare", {"a", "a_ids", "b", "b_ids", "names", "uncovered", "only_where_apt"}};
const Signature match_signature{"match_table",
                                {"a", "a_ids", "b", "b_ids", "uncovered", "reverse"}};
const Signature table_signature{"agreement_measures", {}};
const Signature check_uncovered_signature{"check_uncovered", {"uncovered"}};

bool uncovered_argument(PyObject* object, agreement::Uncovered* uncovered) {
    std::string text;
    if (!text_argument("uncovered", object, &text)) return false;
    runtime::Result<agreement::Uncovered> policy = agreement::uncovered_from_name(text);
    if (!policy) {
        raise_error(policy.error(), kPlain);
        return false;
    }
    *uncovered = policy.value();
    return true;
}

}  // namespace

PyObject* agreement_measures(PyObject*, PyObject* args, PyObject* kwargs) {
    return guarded<kPlain>([=]() -> PyObject* {
        if (!bind_arguments(table_signature, args, kwargs, {})) return nullptr;
        const auto& table = agreement::kAgreementMeasures;
        PyRef rows = PyRef::steal(PyTuple_New(static_cast<Py_ssize_t>(table.size())));
        if (!rows) return nullptr;
        for (std::size_t i = 0; i < table.size(); ++i) {
            const agreement::AgreementDefinition& row = table[i];
            PyObject* entry = Py_BuildValue(
                "(s#NNNs#)", row.name.data(), static_cast<Py_ssize_t>(row.name.size()),
                PyBool_FromLong(row.needs_partition), PyBool_FromLong(row.needs_members),
                PyBool_FromLong(row.long_pass), row.variant_of.data(),
                static_cast<Py_ssize_t>(row.variant_of.size()));
            if (!entry) return nullptr;
            PyTuple_SET_ITEM(rows.get(), static_cast<Py_ssize_t>(i), entry);  // steals
        }
        return rows.release();
    });
}

PyObject* check_uncovered(PyObject*, PyObject* args, PyObject* kwargs) {
    return guarded<kPlain>([=]() -> PyObject* {
        PyObject* bound[1];
        if (!bind_arguments(check_uncovered_signature, args, kwargs, bound)) return nullptr;
        agreement::Uncovered uncovered;
        if (!uncovered_argument(bound[0], &uncovered)) return nullptr;
        Py_RETURN_NONE;
    });
}

PyObject* compare(PyObject*, PyObject* args, PyObject* kwargs) {
    return guarded<kPlain>([=]() -> PyObject* {
        PyObject* bound[7];
        if (!bind_arguments(compare_signature, args, kwargs, bound)) return nullptr;
        ClusteringHandle a, b;
        std::vector<std::string> names;
        agreement::Uncovered uncovered = agreement::Uncovered::kSingletons;
        if (!selection_argument(bound[0], bound[1], &a) ||
            !selection_argument(bound[2], bound[3], &b) ||
            !text_sequence_argument("measures", bound[4], &names) ||
            !uncovered_argument(bound[5], &uncovered)) {
            return nullptr;
        }
        const int only_where_apt = PyObject_IsTrue(bound[6]);
        if (only_where_apt < 0) return nullptr;
        const std::vector<std::string_view> wanted(names.begin(), names.end());

        runtime::Result<MeasureValues> values = run_interruptibly([&](std::stop_token stop) {
            return [&]() -> runtime::Result<MeasureValues> {
                terminal::ProgressBar bar;  // on standard error when it is a terminal
                runtime::Result<agreement::Contingency> table =
                    agreement::Contingency::build(a, b, uncovered, stop, bar);
                if (!table) return std::move(table).error();
                return agreement::measures_by_name(table.value(), wanted, stop, bar,
                                                   only_where_apt != 0);
            }();
        });
        if (!values) return raise_error(values.error(), kPlain);
        return measure_dict(values.value());
    });
}

PyObject* match_table(PyObject*, PyObject* args, PyObject* kwargs) {
    return guarded<kPlain>([=]() -> PyObject* {
        PyObject* bound[6];
        if (!bind_arguments(match_signature, args, kwargs, bound)) return nullptr;
        ClusteringHandle a, b;
        agreement::Uncovered uncovered = agreement::Uncovered::kSingletons;
        if (!selection_argument(bound[0], bound[1], &a) ||
            !selection_argument(bound[2], bound[3], &b) ||
            !uncovered_argument(bound[4], &uncovered)) {
            return nullptr;
        }
        const int reverse = PyObject_IsTrue(bound[5]);
        if (reverse < 0) return nullptr;
        runtime::Result<agreement::MatchTable> made = run_interruptibly([&](std::stop_token stop) {
            return [&]() -> runtime::Result<agreement::MatchTable> {
                terminal::ProgressBar bar;  // on standard error when it is a terminal
                runtime::Result<agreement::Contingency> table =
                    agreement::Contingency::build(a, b, uncovered, stop, bar);
                if (!table) return std::move(table).error();
                return agreement::match_table(
                    table.value(),
                    reverse ? agreement::MatchDirection::kBToA : agreement::MatchDirection::kAToB);
            }();
        });
        if (!made) return raise_error(made.error(), kPlain);
        return match_columns(made.value());
    });
}

}  // namespace quelmar::exposure::tools
