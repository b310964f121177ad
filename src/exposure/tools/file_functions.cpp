// write_graph_snapshot and write_memberships (functions.h).

#include <string>

#include "src/exposure/tools/buffer_view.h"
#include "src/exposure/tools/errors.h"
#include "src/exposure/tools/functions.h"
#include "src/exposure/tools/membership_file.h"
#include "src/exposure/tools/pair_graph.h"
#include "src/exposure/tools/snapshot_pipe.h"

namespace quelmar::exposure::tools {
namespace {

bool path_argument(PyObject* object, std::string* path) {
    if (!PyUnicode_Check(object)) {
        PyErr_Format(PyExc_TypeError, "path: expected a str, got %.100s", Py_TYPE(object)->tp_name);
        return false;
    }
    Py_ssize_t size;
    const char* text = PyUnicode_AsUTF8AndSize(object, &size);
    if (!text) return false;
    path->assign(text, static_cast<std::size_t>(size));
    return true;
}

}  // namespace

PyObject* load_graph_through_pipe(PyObject*, PyObject* args, PyObject* kwargs) {
    return guarded([=]() -> PyObject* {
        static const char* names[] = {"path", "pairs", "extra_names", "load", nullptr};
        PyObject *path_object, *pairs_object, *extra_object, *load;
        if (!PyArg_ParseTupleAndKeywords(args, kwargs, "OOOO:load_graph_through_pipe",
                                         const_cast<char**>(names), &path_object, &pairs_object,
                                         &extra_object, &load)) {
            return nullptr;
        }
        std::string path;
        BufferView pairs, extra;
        if (!path_argument(path_object, &path) ||
            !pairs.acquire(pairs_object, "pairs", BufferView::Item::kUInt64)) {
            return nullptr;
        }
        if (extra_object != Py_None &&
            !extra.acquire(extra_object, "extra_names", BufferView::Item::kUInt64)) {
            return nullptr;
        }
        if (pairs.length() % 2 != 0) {
            PyErr_SetString(PyExc_ValueError, "pairs: expected an even number of names");
            return nullptr;
        }
        // A handler that raised stops the build; its exception is the result.
        utils::TaskMonitor monitor(
            [](const utils::TaskProgress&) { return PyErr_CheckSignals() == 0; });
        runtime::Result<PairGraph> graph =
            PairGraph::build(pairs.uint64s(), extra.uint64s(), monitor);
        if (!graph) return raise_error(graph.error(), path);
        SnapshotPipeWriter writer(path, graph.value().content());
        PyObject* loaded = PyObject_CallOneArg(load, path_object);
        runtime::Result<void> written = writer.finish();
        // The reader's failure comes first: the writer's is then mostly a
        // consequence (the reader went away).
        if (!loaded) return nullptr;
        if (!written) {
            Py_DECREF(loaded);
            return raise_error(written.error(), path);
        }
        return loaded;
    });
}

PyObject* write_memberships(PyObject*, PyObject* args, PyObject* kwargs) {
    return guarded([=]() -> PyObject* {
        static const char* names[] = {"path", "nodes", "clusters", nullptr};
        PyObject *path_object, *nodes_object, *clusters_object;
        if (!PyArg_ParseTupleAndKeywords(args, kwargs, "OOO:write_memberships",
                                         const_cast<char**>(names), &path_object, &nodes_object,
                                         &clusters_object)) {
            return nullptr;
        }
        std::string path;
        BufferView nodes, clusters;
        if (!path_argument(path_object, &path) ||
            !nodes.acquire(nodes_object, "nodes", BufferView::Item::kUInt64) ||
            !clusters.acquire(clusters_object, "clusters", BufferView::Item::kUInt64)) {
            return nullptr;
        }
        if (nodes.length() != clusters.length()) {
            PyErr_SetString(PyExc_ValueError, "nodes and clusters differ in length");
            return nullptr;
        }
        runtime::Result<void> written;
        Py_BEGIN_ALLOW_THREADS written =
            tools::write_memberships(path, nodes.uint64s(), clusters.uint64s());
        Py_END_ALLOW_THREADS if (!written) return raise_error(written.error(), path);
        Py_RETURN_NONE;
    });
}

}  // namespace quelmar::exposure::tools
