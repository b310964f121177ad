// lo_side, degrees and node_side (join_functions.h).

#include "src/exposure/tools/dask/join_functions.h"

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "src/exposure/arguments.h"
#include "src/exposure/buffer_view.h"
#include "src/exposure/errors.h"
#include "src/exposure/gil.h"
#include "src/exposure/py_ref.h"
#include "src/exposure/tools/dask/pieces.h"
#include "src/partitioned/partition_joins.h"

namespace quelmar::exposure::tools {
namespace {

constexpr ErrorPolicy kPlain = ErrorPolicy::kPlain;
const Signature route_signature{"route", {"key", "parts"}};
const Signature lo_side_signature{"lo_side", {"edges", "members", "selected", "parts", "with_lo"}};
const Signature degrees_signature{"degrees", {"node", "deg", "loop", "hi_rows"}};
const Signature node_side_signature{
    "node_side", {"node", "deg", "loop", "members", "selected", "hi_rows", "parts"}};
const Signature cluster_side_signature{"cluster_side", {"partials", "parts"}};

// A partition count, at least 1; false with the error set.
bool parts_argument(PyObject* object, std::uint64_t* out) {
    if (!u64_argument("parts", object, out)) return false;
    if (*out == 0) {
        PyErr_SetString(PyExc_ValueError, "parts: expected at least one partition");
        return false;
    }
    return true;
}

// uint64 views of the objects, all of one length; false with the error set.
template <std::size_t N>
bool same_length(std::array<BufferView, N>& views, const std::array<PyObject*, N>& objects,
                 const std::array<const char*, N>& names) {
    for (std::size_t i = 0; i < N; ++i) {
        if (!views[i].acquire(objects[i], names[i], BufferView::Item::kUInt64)) return false;
        if (views[i].length() != views[0].length()) {
            PyErr_Format(PyExc_ValueError, "%s: expected as many items as %s", names[i], names[0]);
            return false;
        }
    }
    return true;
}

// Hi-side rows: pieces (hi, cluster, tag) or, every one, (hi, cluster, tag, lo).
bool hi_row_views(PieceViews& views, PyObject* object) {
    return views.acquire(object, "hi_rows", {"hi", "cluster", "tag", "lo"}, 2, 1);
}

// The unknown-node lines that follow the partial columns in each piece.
bool unknown_views(PieceViews& views, PyObject* object) {
    return views.acquire(object, "partials", {"unknown_cluster", "unknown_pos"}, -1, 0,
                         partitioned::kPartialColumns);
}

// None, or the sorted unique ids in `view`; false with the error set.
bool selection(BufferView& view, PyObject* object, partitioned::Selection* out) {
    if (object == Py_None) return true;
    if (!view.acquire(object, "selected", BufferView::Item::kUInt64)) return false;
    *out = view.uint64s();
    return true;
}

template <class Column>
PyObject* column_bytes(const Column& column) {
    return byte_array(std::span<const typename Column::value_type>(column));
}

// A tuple of bytearrays, one per column; null with the error set.
template <class... Columns>
PyObject* column_tuple(const Columns&... columns) {
    std::array<PyRef, sizeof...(Columns)> items{PyRef::steal(column_bytes(columns))...};
    for (const PyRef& item : items) {
        if (!item) return nullptr;
    }
    PyObject* tuple = PyTuple_New(sizeof...(Columns));
    if (!tuple) return nullptr;
    for (std::size_t i = 0; i < items.size(); ++i) {
        PyTuple_SET_ITEM(tuple, static_cast<Py_ssize_t>(i), items[i].release());  // steals
    }
    return tuple;
}

}  // namespace

PyObject* route(PyObject*, PyObject* args, PyObject* kwargs) {
    return guarded<kPlain>([=]() -> PyObject* {
        PyObject* bound[2];
        if (!bind_arguments(route_signature, args, kwargs, bound)) return nullptr;
        BufferView key;
        std::uint64_t parts = 0;
        if (!key.acquire(bound[0], "key", BufferView::Item::kUInt64) ||
            !parts_argument(bound[1], &parts)) {
            return nullptr;
        }
        const partitioned::Routing routing =
            without_gil([&] { return partitioned::route(key.uint64s(), parts); });
        static_assert(sizeof(std::size_t) == sizeof(std::uint64_t));
        return column_tuple(routing.offsets, routing.order);
    });
}

PyObject* lo_side(PyObject*, PyObject* args, PyObject* kwargs) {
    return guarded<kPlain>([=]() -> PyObject* {
        PyObject* bound[5];
        if (!bind_arguments(lo_side_signature, args, kwargs, bound)) return nullptr;
        const int with_lo = PyObject_IsTrue(bound[4]);
        if (with_lo < 0) return nullptr;
        PieceViews edges, members;
        BufferView selected_view;
        partitioned::Selection selected;
        std::uint64_t parts = 0;
        if (!edges.acquire(bound[0], "edges", {"lo", "hi"}) ||
            !members.acquire(bound[1], "members", {"m_node", "m_cluster"}) ||
            !selection(selected_view, bound[2], &selected) || !parts_argument(bound[3], &parts)) {
            return nullptr;
        }
        const partitioned::LoSide side = without_gil([&] {
            return partitioned::lo_side(edges.keys(0), edges.keys(1), members.keys(0),
                                        members.keys(1), selected, parts, with_lo == 1);
        });
        const auto& [nodes, rows] = side;
        PyRef node_columns = PyRef::steal(column_tuple(nodes.node, nodes.deg, nodes.loop));
        if (!node_columns) return nullptr;
        std::vector<RoutedColumn> routed = {routed_column(rows.hi, rows.offsets),
                                            routed_column(rows.cluster, rows.offsets),
                                            routed_column(rows.tag, rows.offsets)};
        if (with_lo) routed.push_back(routed_column(rows.lo, rows.offsets));
        PyRef hi_rows = PyRef::steal(routed_pieces(routed));
        if (!hi_rows) return nullptr;
        return PyTuple_Pack(2, node_columns.get(), hi_rows.get());
    });
}

PyObject* degrees(PyObject*, PyObject* args, PyObject* kwargs) {
    return guarded<kPlain>([=]() -> PyObject* {
        PyObject* bound[4];
        if (!bind_arguments(degrees_signature, args, kwargs, bound)) return nullptr;
        std::array<BufferView, 3> nodes;
        PieceViews rows;
        if (!same_length(nodes, {bound[0], bound[1], bound[2]}, {"node", "deg", "loop"}) ||
            !hi_row_views(rows, bound[3])) {
            return nullptr;
        }
        const partitioned::NodeColumns out = without_gil([&] {
            return partitioned::degrees(
                {nodes[0].uint64s(), nodes[1].uint64s(), nodes[2].uint64s()}, rows.keys(0),
                rows.tags());
        });
        return column_tuple(out.node, out.deg, out.loop);
    });
}

PyObject* node_side(PyObject*, PyObject* args, PyObject* kwargs) {
    return guarded<kPlain>([=]() -> PyObject* {
        PyObject* bound[7];
        if (!bind_arguments(node_side_signature, args, kwargs, bound)) return nullptr;
        std::array<BufferView, 3> nodes;
        PieceViews members, rows;
        BufferView selected_view;
        partitioned::Selection selected;
        std::uint64_t parts = 0;
        if (!same_length(nodes, {bound[0], bound[1], bound[2]}, {"node", "deg", "loop"}) ||
            !members.acquire(bound[3], "members", {"m_node", "m_cluster", "m_pos"}) ||
            !selection(selected_view, bound[4], &selected) ||
            (bound[5] != Py_None && !hi_row_views(rows, bound[5])) ||
            !parts_argument(bound[6], &parts)) {
            return nullptr;
        }
        std::optional<partitioned::HiRowKeys> hi_rows;
        if (bound[5] != Py_None) {
            hi_rows = partitioned::HiRowKeys{rows.keys(0), rows.keys(1), rows.tags(), rows.keys(3)};
        }
        const partitioned::NodeSide side = without_gil([&] {
            return partitioned::node_side(
                {nodes[0].uint64s(), nodes[1].uint64s(), nodes[2].uint64s()},
                {members.keys(0), members.keys(1), members.keys(2)}, selected, hi_rows, parts);
        });
        std::vector<RoutedColumn> routed;
        for (const partitioned::Column& column : side.partials) {
            routed.push_back(routed_column(column, side.partial_offsets));
        }
        routed.push_back(routed_column(side.unknown_cluster, side.unknown_offsets));
        routed.push_back(routed_column(side.unknown_pos, side.unknown_offsets));
        PyRef partials = PyRef::steal(routed_pieces(routed));
        if (!partials) return nullptr;
        PyRef coverage = PyRef::steal(column_tuple(side.node, side.clusters, side.loop));
        if (!coverage) return nullptr;
        return Py_BuildValue("(OOK)", partials.get(), coverage.get(),
                             static_cast<unsigned long long>(side.covered_links));
    });
}

PyObject* cluster_side(PyObject*, PyObject* args, PyObject* kwargs) {
    return guarded<kPlain>([=]() -> PyObject* {
        PyObject* bound[2];
        if (!bind_arguments(cluster_side_signature, args, kwargs, bound)) return nullptr;
        PieceViews partials, unknown;
        std::uint64_t parts = 0;
        if (!partials.acquire(bound[0], "partials",
                              {"cluster", "n", "vol", "mcd", "minnode", "loops", "internal"}) ||
            !unknown_views(unknown, bound[0]) || !parts_argument(bound[1], &parts)) {
            return nullptr;
        }
        std::array<partitioned::KeyPieces, partitioned::kPartialColumns> columns;
        for (int c = 0; c < partitioned::kPartialColumns; ++c) columns[c] = partials.keys(c);
        const partitioned::ClusterSide side = without_gil([&] {
            return partitioned::cluster_side({columns, unknown.keys(0), unknown.keys(1)}, parts);
        });
        PyRef counts = PyRef::steal(
            column_tuple(side.cluster, side.n, side.inside, side.c, side.mcd, side.vol));
        if (!counts) return nullptr;
        const RoutedColumn single = routed_column(side.singles, side.single_offsets);
        PyRef singles = PyRef::steal(routed_pieces({&single, 1}));
        if (!singles) return nullptr;
        PyRef unresolved = PyRef::steal(column_tuple(side.unresolved_cluster, side.unresolved_pos));
        if (!unresolved) return nullptr;
        return PyTuple_Pack(3, counts.get(), singles.get(), unresolved.get());
    });
}

}  // namespace quelmar::exposure::tools
