// Graph(filepath): a graph file loaded (edge list or snapshot, by extension)
// and enriched, held as a shared EnrichedGraph. Loading keeps the interpreter
// lock, so the loader runs the interpreter's signal handlers at its
// checkpoints (every few MiB, and when a blocked read is interrupted): Ctrl-C
// raises KeyboardInterrupt promptly, after the loader has released what it
// built. The object exposes nothing but its constructor; it is the `graph`
// argument of Clustering.

#include <string>

#include "src/base/graph_loader.h"
#include "src/exposure/arguments.h"
#include "src/exposure/classes.h"
#include "src/exposure/errors.h"
#include "src/exposure/native_object.h"

namespace quelmar::exposure {
namespace {

const Signature construct_signature{"Graph", {"filepath"}};

PyObject* construct(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
    return guarded([=]() -> PyObject* {
        PyObject* filepath = nullptr;
        if (!bind_arguments(construct_signature, args, kwargs, {&filepath, 1})) return nullptr;
        std::string path;
        if (!text_argument("filepath", filepath, &path)) return nullptr;
        // A handler that raised stops the load; its exception is the result.
        utils::TaskMonitor monitor(
            [](const utils::TaskProgress&) { return PyErr_CheckSignals() == 0; });
        runtime::Result<base::Graph> loaded = base::parse_from_file(path, monitor);
        if (!loaded) {
            return raise_error(loaded.error(), ErrorPolicy::kPanic);
        }
        SharedGraph graph = std::make_shared<const EnrichedGraph>(
            EnrichedGraph::from_graph(std::move(loaded).value()));
        return make_instance(type, std::move(graph));
    });
}

// clang-format off
PyType_Slot slots[] = {
    {Py_tp_new,     reinterpret_cast<void*>(construct)},
    {Py_tp_dealloc, reinterpret_cast<void*>(destroy_instance<SharedGraph>)},
    {0,             nullptr},
};
// clang-format on

PyType_Spec type_spec = {"builtins.Graph", sizeof(NativeObject<SharedGraph>), 0, kNativeTypeFlags,
                         slots};

PyTypeObject* cached = nullptr;

}  // namespace

PyTypeObject* graph_type() { return cached_type(cached, type_spec); }

const SharedGraph& graph_of(PyObject* graph) { return native_value<SharedGraph>(graph); }

bool is_graph(PyObject* object) { return is_instance_of(object, graph_type()); }

PyObject* new_graph(SharedGraph graph) { return make_instance_of(graph_type(), std::move(graph)); }

}  // namespace quelmar::exposure
