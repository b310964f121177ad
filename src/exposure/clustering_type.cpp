// Clustering(graph, filepath, **py_kwargs): a clustering file loaded against a
// Graph and packed, with the interpreter lock released for the whole native
// part. Only the keyword "cpm" is read; other keywords are ignored. Selections
// (select_in, select) make ClusteringSubset objects that share the packing.

#include <optional>
#include <string>

#include "runtime/worker_pool.h"
#include "src/base/clustering.h"
#include "src/exposure/arguments.h"
#include "src/exposure/classes.h"
#include "src/exposure/errors.h"
#include "src/exposure/gil.h"
#include "src/exposure/native_object.h"
#include "src/exposure/predicate.h"
#include "src/exposure/py_ref.h"
#include "src/terminal/progress_bar.h"

namespace quelmar::exposure {
namespace {

// The optional resolution under the keyword "cpm", through the interpreter's
// float conversion (its error passes unchanged).
bool read_cpm(PyObject* extra_keywords, std::optional<double>* cpm) {
    PyObject* value = PyDict_GetItemString(extra_keywords, "cpm");  // borrowed
    if (!value) return !PyErr_Occurred();
    const double resolution = PyFloat_AsDouble(value);
    if (resolution == -1.0 && PyErr_Occurred()) return false;
    *cpm = resolution;
    return true;
}

runtime::Result<SharedClustering> load_and_pack(const SharedGraph& graph, const std::string& path,
                                                std::optional<double> cpm) {
    runtime::Result<base::Clustering> loaded =
        base::Clustering::parse_from_file(graph->graph(), path);
    if (!loaded) return std::move(loaded).error();
    // A clustering always settles the pool, even one without clusters, so
    // that set_nthreads afterwards fails the same way whatever the file held.
    runtime::global_pool();
    terminal::ProgressBar bar;  // on standard error when it is a terminal
    RichClustering packed =
        RichClustering::pack_from_clustering(graph, std::move(loaded).value(), bar);
    packed.cpm_resolution = cpm;
    return SharedClustering(std::make_shared<const RichClustering>(std::move(packed)));
}

const Signature construct_signature{"Clustering", {"graph", "filepath"}, true};

PyObject* construct(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
    return guarded([=]() -> PyObject* {
        PyObject* bound[2];
        PyRef extra;
        if (!bind_arguments(construct_signature, args, kwargs, bound, &extra)) return nullptr;
        PyTypeObject* graph_class = graph_type();
        if (!graph_class) return nullptr;
        if (!Py_IS_TYPE(bound[0], graph_class)) {
            return raise_argument_type_error("graph", bound[0], "Graph");
        }
        std::string path;
        if (!text_argument("filepath", bound[1], &path)) return nullptr;
        std::optional<double> cpm;
        if (!read_cpm(extra.get(), &cpm)) return nullptr;

        // Taken while the lock is held; the Graph object may go away meanwhile.
        SharedGraph graph = graph_of(bound[0]);
        runtime::Result<SharedClustering> clustering =
            without_gil([&] { return load_and_pack(graph, path, cpm); });
        if (!clustering) return raise_error(clustering.error(), ErrorPolicy::kPanic);
        return make_instance(type, std::move(clustering).value());
    });
}

const Signature select_in_signature{"Clustering.select_in", {"ids"}};

PyObject* select_in(PyObject* self, PyObject* args, PyObject* kwargs) {
    return guarded([=]() -> PyObject* {
        PyObject* list = nullptr;
        if (!bind_arguments(select_in_signature, args, kwargs, {&list, 1})) return nullptr;
        if (!PyList_Check(list)) return raise_argument_type_error("ids", list, "PyList");
        std::vector<base::ClusterId> ids;
        ids.reserve(static_cast<std::size_t>(PyList_GET_SIZE(list)));
        // The size is read again on every step: converting an element may run
        // Python code that changes the list.
        for (Py_ssize_t i = 0; i < PyList_GET_SIZE(list); ++i) {
            PyRef element = PyRef::borrow(PyList_GET_ITEM(list, i));
            std::uint64_t id = 0;
            if (!index_to_u64(element.get(), &id)) return nullptr;
            ids.push_back(id);
        }
        return new_subset(ClusteringHandle::select_ids(clustering_of(self), std::move(ids)));
    });
}

const Signature select_signature{"Clustering.select", {"f"}};

PyObject* select(PyObject* self, PyObject* args, PyObject* kwargs) {
    return guarded([=]() -> PyObject* {
        PyObject* predicate = nullptr;
        if (!bind_arguments(select_signature, args, kwargs, {&predicate, 1})) return nullptr;
        if (!PyCallable_Check(predicate)) {
            PyErr_SetString(PyExc_TypeError, "Expected a callable");
            return nullptr;
        }
        // A copy: the predicate may run any code, but the packing it walks
        // stays alive and unchanged.
        const SharedClustering clustering = clustering_of(self);
        std::vector<base::ClusterId> chosen;
        for (const auto& [id, cluster] : clustering->clusters) {
            const Verdict verdict = ask_predicate(predicate, cluster);
            if (verdict == Verdict::Failed) return nullptr;
            if (verdict == Verdict::Accept) chosen.push_back(id);
        }
        return new_subset(ClusteringHandle::select_ids(clustering, std::move(chosen)));
    });
}

// clang-format off
PyMethodDef methods[] = {
    {"select_in", with_keywords(select_in), METH_VARARGS | METH_KEYWORDS, nullptr},
    {"select",    with_keywords(select),    METH_VARARGS | METH_KEYWORDS, nullptr},
    {nullptr,     nullptr,                  0,                            nullptr},
};
// clang-format on

// clang-format off
PyType_Slot slots[] = {
    {Py_tp_new,     reinterpret_cast<void*>(construct)},
    {Py_tp_dealloc, reinterpret_cast<void*>(destroy_instance<SharedClustering>)},
    {Py_tp_methods, methods},
    {0,             nullptr},
};
// clang-format on

PyType_Spec type_spec = {"builtins.Clustering", sizeof(NativeObject<SharedClustering>), 0,
                         kNativeTypeFlags, slots};

PyTypeObject* cached = nullptr;

}  // namespace

PyTypeObject* clustering_type() { return cached_type(cached, type_spec); }

const SharedClustering& clustering_of(PyObject* clustering) {
    return native_value<SharedClustering>(clustering);
}

bool is_clustering(PyObject* object) { return is_instance_of(object, clustering_type()); }

PyObject* new_clustering(SharedClustering clustering) {
    return make_instance_of(clustering_type(), std::move(clustering));
}

}  // namespace quelmar::exposure
