// Graph(filepath): a graph file loaded (edge list or snapshot, by extension)
// and enriched, held as a shared EnrichedGraph. Loading keeps the interpreter
// lock. The object exposes nothing but its constructor; it is the `graph`
// argument of Clustering.

#include <string>

#include "base/graph_loader.h"
#include "exposure/arguments.h"
#include "exposure/classes.h"
#include "exposure/native_object.h"
#include "exposure/panic.h"

namespace quelmar::exposure {
namespace {

const Signature construct_signature{"Graph", {"filepath"}};

PyObject* construct(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
    return guarded([=]() -> PyObject* {
        PyObject* filepath = nullptr;
        if (!bind_arguments(construct_signature, args, kwargs, {&filepath, 1})) return nullptr;
        std::string path;
        if (!text_argument("filepath", filepath, &path)) return nullptr;
        Result<Graph> loaded = parse_from_file(path);
        if (!loaded) return raise_unwrapped(loaded.error());
        SharedGraph graph = std::make_shared<const EnrichedGraph>(
            EnrichedGraph::from_graph(std::move(loaded).value()));
        return make_instance(type, std::move(graph));
    });
}

PyType_Slot slots[] = {
    {Py_tp_new, reinterpret_cast<void*>(construct)},
    {Py_tp_dealloc, reinterpret_cast<void*>(destroy_instance<SharedGraph>)},
    {0, nullptr},
};

PyType_Spec spec = {"builtins.Graph", sizeof(NativeObject<SharedGraph>), 0,
                    kNativeTypeFlags, slots};

PyTypeObject* cached = nullptr;

}  // namespace

PyTypeObject* graph_type() { return cached_type(cached, spec); }

const SharedGraph& graph_of(PyObject* graph) { return native_value<SharedGraph>(graph); }

}  // namespace quelmar::exposure
