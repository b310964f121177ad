// load_graph, graph_from_pairs, load_clustering, clustering_from_memberships
// and clustering_from_rows (functions.h).

#include <memory>
#include <optional>
#include <string>

#include "runtime/worker_pool.h"
#include "src/base/clustering.h"
#include "src/base/graph_loader.h"
#include "src/base/pair_load.h"
#include "src/base/published_text.h"
#include "src/exposure/arguments.h"
#include "src/exposure/buffer_view.h"
#include "src/exposure/classes.h"
#include "src/exposure/errors.h"
#include "src/exposure/gil.h"
#include "src/exposure/tools/analysis/analysis_functions.h"
#include "src/exposure/tools/arguments.h"
#include "src/terminal/progress_bar.h"

namespace quelmar::exposure::tools {
namespace {

constexpr ErrorPolicy kPlain = ErrorPolicy::kPlain;

// Graph loads keep the interpreter lock: the monitor runs the signal
// handlers, and one that raised stops the load with its exception.
utils::TaskMonitor signal_monitor() {
    return utils::TaskMonitor([](const utils::TaskProgress&) { return PyErr_CheckSignals() == 0; });
}

PyObject* finish_graph(runtime::Result<base::Graph> loaded, const char* path) {
    if (!loaded) return raise_error(loaded.error(), kPlain, path);
    return new_graph(std::make_shared<const EnrichedGraph>(
        EnrichedGraph::from_graph(std::move(loaded).value())));
}

// Packs on the pool, as quelmar.Clustering does, and settles the pool the
// same way.
SharedClustering pack(const SharedGraph& graph, base::Clustering clustering,
                      std::optional<double> cpm) {
    runtime::global_pool();
    terminal::ProgressBar bar;  // on standard error when it is a terminal
    RichClustering packed = RichClustering::pack_from_clustering(graph, std::move(clustering), bar);
    packed.cpm_resolution = cpm;
    return std::make_shared<const RichClustering>(std::move(packed));
}

// Loads a clustering without the interpreter lock (load() gives the
// base::Clustering) and packs it; `path` names the file in errors, null for
// arrays.
template <class Load>
PyObject* load_and_pack(const SharedGraph& graph, std::optional<double> cpm, const char* path,
                        Load&& load) {
    runtime::Result<SharedClustering> made =
        without_gil([&]() -> runtime::Result<SharedClustering> {
            runtime::Result<base::Clustering> loaded = load();
            if (!loaded) return std::move(loaded).error();
            return pack(graph, std::move(loaded).value(), cpm);
        });
    if (!made) return raise_error(made.error(), kPlain, path);
    return new_clustering(std::move(made).value());
}

const Signature load_graph_signature{"load_graph", {"path", "name"}, false, 1};
const Signature pairs_signature{"graph_from_pairs", {"pairs", "extra_names"}};
const Signature load_clustering_signature{
    "load_clustering", {"graph", "path", "cpm", "strict", "layout", "name"}, false, 4};
const Signature memberships_signature{"clustering_from_memberships",
                                      {"graph", "nodes", "clusters", "cpm", "strict", "unassigned"},
                                      false,
                                      5};
const Signature rows_signature{"clustering_from_rows", {"graph", "rows", "cpm", "strict"}};

bool strict_argument(PyObject* object, base::ClusteringOptions* options) {
    const int strict = PyObject_IsTrue(object);
    if (strict < 0) return false;
    options->strict = strict != 0;
    return true;
}

// The name a file goes by in messages: `name` when given (not None), else
// the path.
bool name_argument(PyObject* name, const std::string& path, std::string* out) {
    if (!name || name == Py_None) {
        *out = path;
        return true;
    }
    return text_argument("name", name, out);
}

bool layout_argument(PyObject* object, base::ClusteringLayout* layout) {
    std::string text = "memberships";
    if (object && object != Py_None && !text_argument("layout", object, &text)) return false;
    if (text == "memberships") {
        *layout = base::ClusteringLayout::kMemberships;
    } else if (text == "communities") {
        *layout = base::ClusteringLayout::kCommunities;
    } else {
        PyErr_Format(PyExc_ValueError, "unknown layout %R: expected 'memberships' or 'communities'",
                     object);
        return false;
    }
    return true;
}

}  // namespace

PyObject* load_graph(PyObject*, PyObject* args, PyObject* kwargs) {
    return guarded<kPlain>([=]() -> PyObject* {
        PyObject* bound[2];
        if (!bind_arguments(load_graph_signature, args, kwargs, bound)) return nullptr;
        std::string path, name;
        if (!text_argument("path", bound[0], &path) || !name_argument(bound[1], path, &name)) {
            return nullptr;
        }
        utils::TaskMonitor monitor = signal_monitor();
        return finish_graph(base::load_published_graph(path, monitor), name.c_str());
    });
}

PyObject* graph_from_pairs(PyObject*, PyObject* args, PyObject* kwargs) {
    return guarded<kPlain>([=]() -> PyObject* {
        PyObject* bound[2];
        if (!bind_arguments(pairs_signature, args, kwargs, bound)) return nullptr;
        BufferView pairs, extra;
        if (!pairs.acquire(bound[0], "pairs", BufferView::Item::kUInt64) ||
            !optional_uint64s(bound[1], "extra_names", &extra)) {
            return nullptr;
        }
        if (pairs.length() % 2 != 0) {
            PyErr_SetString(PyExc_ValueError, "pairs: expected an even number of names");
            return nullptr;
        }
        utils::TaskMonitor monitor = signal_monitor();
        return finish_graph(base::graph_from_pairs(pairs.uint64s(), extra.uint64s(), monitor),
                            nullptr);
    });
}

PyObject* load_clustering(PyObject*, PyObject* args, PyObject* kwargs) {
    return guarded<kPlain>([=]() -> PyObject* {
        PyObject* bound[6];
        if (!bind_arguments(load_clustering_signature, args, kwargs, bound)) return nullptr;
        SharedGraph graph;
        std::string path, name;
        std::optional<double> cpm;
        base::ClusteringOptions options;
        base::ClusteringLayout layout;
        if (!graph_argument(bound[0], "graph", &graph) || !text_argument("path", bound[1], &path) ||
            !cpm_argument(bound[2], &cpm) || !strict_argument(bound[3], &options) ||
            !layout_argument(bound[4], &layout) || !name_argument(bound[5], path, &name)) {
            return nullptr;
        }
        return load_and_pack(graph, cpm, name.c_str(), [&] {
            return base::load_published_clustering(graph->graph(), path, layout, options);
        });
    });
}

PyObject* clustering_from_memberships(PyObject*, PyObject* args, PyObject* kwargs) {
    return guarded<kPlain>([=]() -> PyObject* {
        PyObject* bound[6];
        if (!bind_arguments(memberships_signature, args, kwargs, bound)) return nullptr;
        SharedGraph graph;
        BufferView nodes, clusters;
        std::optional<double> cpm;
        base::ClusteringOptions options;
        std::uint64_t unassigned = 0;
        if (!graph_argument(bound[0], "graph", &graph) ||
            !nodes.acquire(bound[1], "nodes", BufferView::Item::kUInt64) ||
            !clusters.acquire(bound[2], "clusters", BufferView::Item::kUInt64) ||
            !cpm_argument(bound[3], &cpm) || !strict_argument(bound[4], &options) ||
            (bound[5] && !u64_argument("unassigned", bound[5], &unassigned))) {
            return nullptr;
        }
        if (nodes.length() != clusters.length()) {
            PyErr_SetString(PyExc_ValueError, "nodes and clusters differ in length");
            return nullptr;
        }
        return load_and_pack(graph, cpm, nullptr, [&] {
            auto made = base::Clustering::from_memberships(graph->graph(), nodes.uint64s(),
                                                           clusters.uint64s(), options);
            if (made) made->unassigned_nodes = unassigned;
            return made;
        });
    });
}

// The caller's (k, 2) array is read in place: splitting it into columns
// first would cost a copy of every membership.
PyObject* clustering_from_rows(PyObject*, PyObject* args, PyObject* kwargs) {
    return guarded<kPlain>([=]() -> PyObject* {
        PyObject* bound[4];
        if (!bind_arguments(rows_signature, args, kwargs, bound)) return nullptr;
        SharedGraph graph;
        BufferView rows;
        std::optional<double> cpm;
        base::ClusteringOptions options;
        if (!graph_argument(bound[0], "graph", &graph) ||
            !rows.acquire(bound[1], "rows", BufferView::Item::kUInt64) ||
            !cpm_argument(bound[2], &cpm) || !strict_argument(bound[3], &options)) {
            return nullptr;
        }
        if (rows.length() % 2 != 0) {
            PyErr_SetString(PyExc_ValueError, "rows: expected an even number of values");
            return nullptr;
        }
        return load_and_pack(graph, cpm, nullptr, [&] {
            return base::Clustering::from_membership_rows(graph->graph(), rows.uint64s(), options);
        });
    });
}

}  // namespace quelmar::exposure::tools
