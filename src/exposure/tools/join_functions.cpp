// lo_side, degrees and node_side (join_functions.h).

#include "src/exposure/tools/join_functions.h"

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
#include "src/quelmar/partition_joins.h"

namespace quelmar::exposure::tools {
namespace {

constexpr ErrorPolicy kPlain = ErrorPolicy::kPlain;
const Signature route_signature{"route", {"key", "parts"}};
const Signature lo_side_signature{
    "lo_side", {"lo", "hi", "m_node", "m_cluster", "selected", "parts", "with_lo"}};
const Signature degrees_signature{"degrees", {"node", "deg", "loop", "hi", "tag"}};
const Signature node_side_signature{
    "node_side",
    {"node", "deg", "loop", "m_node", "m_cluster", "m_pos", "selected", "hi_rows", "parts"}};
const Signature cluster_side_signature{"cluster_side",
                                       {"partials", "unknown_cluster", "unknown_pos", "parts"}};

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

bool tag_view(ByteView& view, PyObject* object, std::size_t length) {
    if (!view.acquire(object)) return false;
    if (view.bytes().size() != length) {
        PyErr_SetString(PyExc_ValueError, "tag: expected one uint8 per row");
        return false;
    }
    return true;
}

// None, or the sorted unique ids in `view`; false with the error set.
bool selection(BufferView& view, PyObject* object, partition::Selection* out) {
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

PyObject* columns_tuple(const std::vector<partition::Column>& columns) {
    PyRef tuple = PyRef::steal(PyTuple_New(static_cast<Py_ssize_t>(columns.size())));
    if (!tuple) return nullptr;
    for (std::size_t i = 0; i < columns.size(); ++i) {
        PyObject* item = column_bytes(columns[i]);
        if (!item) return nullptr;
        PyTuple_SET_ITEM(tuple.get(), static_cast<Py_ssize_t>(i), item);  // steals
    }
    return tuple.release();
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
        const partition::Routing routing =
            without_gil([&] { return partition::route(key.uint64s(), parts); });
        static_assert(sizeof(std::size_t) == sizeof(std::uint64_t));
        return column_tuple(routing.offsets, routing.order);
    });
}

PyObject* lo_side(PyObject*, PyObject* args, PyObject* kwargs) {
    return guarded<kPlain>([=]() -> PyObject* {
        PyObject* bound[7];
        if (!bind_arguments(lo_side_signature, args, kwargs, bound)) return nullptr;
        const int with_lo = PyObject_IsTrue(bound[6]);
        if (with_lo < 0) return nullptr;
        std::array<BufferView, 2> edges, members;
        BufferView selected_view;
        partition::Selection selected;
        std::uint64_t parts = 0;
        if (!same_length(edges, {bound[0], bound[1]}, {"lo", "hi"}) ||
            !same_length(members, {bound[2], bound[3]}, {"m_node", "m_cluster"}) ||
            !selection(selected_view, bound[4], &selected) || !parts_argument(bound[5], &parts)) {
            return nullptr;
        }
        const partition::LoSide side = without_gil([&] {
            return partition::lo_side(edges[0].uint64s(), edges[1].uint64s(), members[0].uint64s(),
                                      members[1].uint64s(), selected, parts, with_lo == 1);
        });
        const auto& [nodes, rows] = side;
        return column_tuple(nodes.node, nodes.deg, nodes.loop, rows.hi, rows.cluster, rows.tag,
                            rows.offsets, rows.lo);
    });
}

PyObject* degrees(PyObject*, PyObject* args, PyObject* kwargs) {
    return guarded<kPlain>([=]() -> PyObject* {
        PyObject* bound[5];
        if (!bind_arguments(degrees_signature, args, kwargs, bound)) return nullptr;
        std::array<BufferView, 3> nodes;
        BufferView hi;
        ByteView tag;
        if (!same_length(nodes, {bound[0], bound[1], bound[2]}, {"node", "deg", "loop"}) ||
            !hi.acquire(bound[3], "hi", BufferView::Item::kUInt64) ||
            !tag_view(tag, bound[4], hi.length())) {
            return nullptr;
        }
        const partition::NodeColumns out = without_gil([&] {
            return partition::degrees({nodes[0].uint64s(), nodes[1].uint64s(), nodes[2].uint64s()},
                                      hi.uint64s(), tag.bytes());
        });
        return column_tuple(out.node, out.deg, out.loop);
    });
}

PyObject* node_side(PyObject*, PyObject* args, PyObject* kwargs) {
    return guarded<kPlain>([=]() -> PyObject* {
        PyObject* bound[9];
        if (!bind_arguments(node_side_signature, args, kwargs, bound)) return nullptr;
        std::array<BufferView, 3> nodes, members;
        std::array<BufferView, 2> rows;
        BufferView lo;
        BufferView selected_view;
        ByteView tag;
        partition::Selection selected;
        std::uint64_t parts = 0;
        if (!same_length(nodes, {bound[0], bound[1], bound[2]}, {"node", "deg", "loop"}) ||
            !same_length(members, {bound[3], bound[4], bound[5]},
                         {"m_node", "m_cluster", "m_pos"}) ||
            !selection(selected_view, bound[6], &selected) || !parts_argument(bound[8], &parts)) {
            return nullptr;
        }
        std::optional<partition::HiRowKeys> hi_rows;
        if (bound[7] != Py_None) {
            PyObject* r = bound[7];
            if (!PyTuple_Check(r) || PyTuple_GET_SIZE(r) != 4) {
                return raise_argument_type_error("hi_rows", r, "a tuple (hi, cluster, tag, lo)");
            }
            if (!same_length(rows, {PyTuple_GET_ITEM(r, 0), PyTuple_GET_ITEM(r, 1)},
                             {"hi", "cluster"}) ||
                !tag_view(tag, PyTuple_GET_ITEM(r, 2), rows[0].length()) ||
                !lo.acquire(PyTuple_GET_ITEM(r, 3), "lo", BufferView::Item::kUInt64)) {
                return nullptr;
            }
            if (lo.length() != 0 && lo.length() != rows[0].length()) {
                PyErr_SetString(PyExc_ValueError, "lo: expected no items or as many as hi");
                return nullptr;
            }
            hi_rows = partition::HiRowKeys{rows[0].uint64s(), rows[1].uint64s(), tag.bytes(),
                                           lo.uint64s()};
        }
        const partition::NodeSide side = without_gil([&] {
            return partition::node_side(
                {nodes[0].uint64s(), nodes[1].uint64s(), nodes[2].uint64s()},
                {members[0].uint64s(), members[1].uint64s(), members[2].uint64s()}, selected,
                hi_rows, parts);
        });
        PyRef partials = PyRef::steal(columns_tuple(side.partials));
        if (!partials) return nullptr;
        PyRef unknown = PyRef::steal(
            column_tuple(side.unknown_cluster, side.unknown_pos, side.unknown_offsets));
        if (!unknown) return nullptr;
        PyRef coverage = PyRef::steal(column_tuple(side.node, side.clusters, side.loop));
        if (!coverage) return nullptr;
        PyRef offsets = PyRef::steal(column_bytes(side.partial_offsets));
        if (!offsets) return nullptr;
        return Py_BuildValue("(OOOOK)", partials.get(), offsets.get(), unknown.get(),
                             coverage.get(), static_cast<unsigned long long>(side.covered_links));
    });
}

PyObject* cluster_side(PyObject*, PyObject* args, PyObject* kwargs) {
    return guarded<kPlain>([=]() -> PyObject* {
        PyObject* bound[4];
        if (!bind_arguments(cluster_side_signature, args, kwargs, bound)) return nullptr;
        PyObject* p = bound[0];
        if (!PyTuple_Check(p) || PyTuple_GET_SIZE(p) != partition::kPartialColumns) {
            return raise_argument_type_error("partials", p, "a tuple of 7 columns");
        }
        std::array<BufferView, partition::kPartialColumns> partial_views;
        std::array<PyObject*, partition::kPartialColumns> partial_objects;
        for (int c = 0; c < partition::kPartialColumns; ++c) {
            partial_objects[c] = PyTuple_GET_ITEM(p, c);
        }
        std::array<BufferView, 2> unknown;
        std::uint64_t parts = 0;
        if (!same_length(partial_views, partial_objects,
                         {"cluster", "n", "vol", "mcd", "minnode", "loops", "internal"}) ||
            !same_length(unknown, {bound[1], bound[2]}, {"unknown_cluster", "unknown_pos"}) ||
            !parts_argument(bound[3], &parts)) {
            return nullptr;
        }
        std::array<partition::Keys, partition::kPartialColumns> partials;
        for (int c = 0; c < partition::kPartialColumns; ++c) {
            partials[c] = partial_views[c].uint64s();
        }
        const partition::ClusterSide side = without_gil([&] {
            return partition::cluster_side({partials, unknown[0].uint64s(), unknown[1].uint64s()},
                                           parts);
        });
        PyRef counts = PyRef::steal(
            column_tuple(side.cluster, side.n, side.inside, side.c, side.mcd, side.vol));
        if (!counts) return nullptr;
        PyRef singles = PyRef::steal(column_tuple(side.singles, side.single_offsets));
        if (!singles) return nullptr;
        PyRef unresolved = PyRef::steal(column_tuple(side.unresolved_cluster, side.unresolved_pos));
        if (!unresolved) return nullptr;
        return Py_BuildValue("(OOO)", counts.get(), singles.get(), unresolved.get());
    });
}

}  // namespace quelmar::exposure::tools
