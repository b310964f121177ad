#include "src/exposure/tools/arguments.h"

#include <vector>

#include "src/exposure/arguments.h"
#include "src/exposure/classes.h"
#include "src/exposure/py_ref.h"

namespace quelmar::exposure::tools {
namespace {

PyObject* type_error(const char* name, const char* expected, PyObject* object) {
    return PyErr_Format(PyExc_TypeError, "%s: expected %s, got %s", name, expected,
                        type_name_of(object).c_str());
}

}  // namespace

bool optional_uint64s(PyObject* object, const char* name, BufferView* view) {
    return object == Py_None || view->acquire(object, name, BufferView::Item::kUInt64);
}

bool cpm_argument(PyObject* object, std::optional<double>* cpm) {
    if (object == Py_None) return true;
    const double resolution = PyFloat_AsDouble(object);
    if (resolution == -1.0 && PyErr_Occurred()) return false;
    *cpm = resolution;
    return true;
}

bool text_sequence_argument(const char* name, PyObject* object, std::vector<std::string>* texts) {
    if (!PyList_Check(object) && !PyTuple_Check(object)) {
        type_error(name, "a list or tuple of str", object);
        return false;
    }
    PyRef items = PyRef::steal(PySequence_Tuple(object));
    if (!items) return false;
    for (Py_ssize_t i = 0; i < PyTuple_GET_SIZE(items.get()); ++i) {
        std::string text;
        if (!text_argument(name, PyTuple_GET_ITEM(items.get(), i), &text)) return false;
        texts->push_back(std::move(text));
    }
    return true;
}

bool graph_argument(PyObject* object, const char* name, SharedGraph* graph) {
    if (!is_graph(object)) {
        if (!PyErr_Occurred()) type_error(name, "a quelmar.Graph", object);
        return false;
    }
    *graph = graph_of(object);
    return true;
}

bool clustering_argument(PyObject* source, SharedClustering* clustering) {
    if (is_subset(source)) {
        *clustering = handle_of(source).clustering;
        return true;
    }
    if (!is_clustering(source)) {
        if (!PyErr_Occurred()) {
            type_error("clustering", "a quelmar.Clustering or ClusteringSubset", source);
        }
        return false;
    }
    *clustering = clustering_of(source);
    return true;
}

bool selection_argument(PyObject* source, PyObject* ids, ClusteringHandle* selection) {
    if (is_subset(source)) {
        if (ids != Py_None) {
            PyErr_SetString(PyExc_TypeError, "ids: a ClusteringSubset already names its clusters");
            return false;
        }
        *selection = handle_of(source);
        return true;
    }
    SharedClustering clustering;
    if (!clustering_argument(source, &clustering)) return false;
    if (ids == Py_None) {
        std::vector<base::ClusterId> all;
        all.reserve(clustering->clusters.size());
        for (const auto& entry : clustering->clusters) all.push_back(entry.first);
        *selection = ClusteringHandle::select_ids(clustering, std::move(all));
        return true;
    }
    BufferView wanted;
    if (!wanted.acquire(ids, "ids", BufferView::Item::kUInt64)) return false;
    *selection = ClusteringHandle::select_ids(
        clustering, std::vector<base::ClusterId>(wanted.uint64s().begin(), wanted.uint64s().end()));
    return true;
}

}  // namespace quelmar::exposure::tools
