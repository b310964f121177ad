// measure_names and cluster_measures (functions.h).

#include <string_view>
#include <vector>

#include "src/exposure/arguments.h"
#include "src/exposure/buffer_view.h"
#include "src/exposure/errors.h"
#include "src/exposure/interruptible.h"
#include "src/exposure/py_ref.h"
#include "src/exposure/tools/arguments.h"
#include "src/exposure/tools/measures/measure_functions.h"
#include "src/measures/cluster_measures.h"
#include "src/terminal/progress_bar.h"

namespace quelmar::exposure::tools {
namespace {

constexpr ErrorPolicy kPlain = ErrorPolicy::kPlain;
const Signature names_signature{"measure_names", {}};
const Signature measures_signature{"cluster_measures", {"clustering", "ids", "names"}};
const Signature check_signature{"check_measures", {"names"}};

// The measures named by `object`, a sequence of texts; false with the error
// set for a name that is not in the table.
bool measures_argument(PyObject* object, std::vector<measures::ClusterMeasure>* out) {
    std::vector<std::string> texts;
    if (!text_sequence_argument("names", object, &texts)) return false;
    const std::vector<std::string_view> names(texts.begin(), texts.end());
    runtime::Result<std::vector<measures::ClusterMeasure>> wanted =
        measures::measures_from_names(names);
    if (!wanted) {
        raise_error(wanted.error(), kPlain);
        return false;
    }
    *out = std::move(wanted).value();
    return true;
}

}  // namespace

PyObject* measure_names(PyObject*, PyObject* args, PyObject* kwargs) {
    return guarded<kPlain>([=]() -> PyObject* {
        if (!bind_arguments(names_signature, args, kwargs, {})) return nullptr;
        PyRef names = PyRef::steal(PyTuple_New(measures::kMeasures.size()));
        if (!names) return nullptr;
        for (std::size_t i = 0; i < measures::kMeasures.size(); ++i) {
            const std::string_view name = measures::kMeasures[i].name;
            PyObject* text =
                PyUnicode_FromStringAndSize(name.data(), static_cast<Py_ssize_t>(name.size()));
            if (!text) return nullptr;
            PyTuple_SET_ITEM(names.get(), static_cast<Py_ssize_t>(i), text);  // steals
        }
        return names.release();
    });
}

PyObject* check_measures(PyObject*, PyObject* args, PyObject* kwargs) {
    return guarded<kPlain>([=]() -> PyObject* {
        PyObject* bound[1];
        if (!bind_arguments(check_signature, args, kwargs, bound)) return nullptr;
        std::vector<measures::ClusterMeasure> wanted;
        if (!measures_argument(bound[0], &wanted)) return nullptr;
        Py_RETURN_NONE;
    });
}

PyObject* cluster_measures(PyObject*, PyObject* args, PyObject* kwargs) {
    return guarded<kPlain>([=]() -> PyObject* {
        PyObject* bound[3];
        if (!bind_arguments(measures_signature, args, kwargs, bound)) return nullptr;
        ClusteringHandle selection;
        std::vector<measures::ClusterMeasure> wanted;
        if (!selection_argument(bound[0], bound[1], &selection) ||
            !measures_argument(bound[2], &wanted)) {
            return nullptr;
        }
        selection.clustering->build_members();
        std::vector<const RichCluster*> clusters;
        for (const auto* entry : selection.selected()) clusters.push_back(&entry->second);

        auto columns = run_interruptibly([&](std::stop_token stop) {
            terminal::ProgressBar bar;  // on standard error when it is a terminal
            return measures::compute_cluster_measures(*selection.graph, clusters, wanted, bar,
                                                      stop);
        });
        if (!columns) return raise_error(columns.error(), kPlain);
        return byte_array_tuple(std::span<const std::vector<double>>(columns.value()));
    });
}

}  // namespace quelmar::exposure::tools
