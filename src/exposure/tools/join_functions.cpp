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
const Signature lo_side_signature{"lo_side", {"lo", "hi", "m_node", "m_cluster", "selected"}};
const Signature degrees_signature{"degrees", {"node", "deg", "loop", "hi", "tag"}};
const Signature node_side_signature{
    "node_side", {"node", "deg", "loop", "m_node", "m_cluster", "m_pos", "selected", "hi_rows"}};

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

PyObject* lo_side(PyObject*, PyObject* args, PyObject* kwargs) {
    return guarded<kPlain>([=]() -> PyObject* {
        PyObject* bound[5];
        if (!bind_arguments(lo_side_signature, args, kwargs, bound)) return nullptr;
        std::array<BufferView, 2> edges, members;
        BufferView selected_view;
        partition::Selection selected;
        if (!same_length(edges, {bound[0], bound[1]}, {"lo", "hi"}) ||
            !same_length(members, {bound[2], bound[3]}, {"m_node", "m_cluster"}) ||
            !selection(selected_view, bound[4], &selected)) {
            return nullptr;
        }
        const partition::LoSide side = without_gil([&] {
            return partition::lo_side(edges[0].uint64s(), edges[1].uint64s(), members[0].uint64s(),
                                      members[1].uint64s(), selected);
        });
        const auto& [nodes, rows] = side;
        return column_tuple(nodes.node, nodes.deg, nodes.loop, rows.hi, rows.lo, rows.cluster,
                            rows.tag);
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
        PyObject* bound[8];
        if (!bind_arguments(node_side_signature, args, kwargs, bound)) return nullptr;
        std::array<BufferView, 3> nodes, members, rows;
        BufferView selected_view;
        ByteView tag;
        partition::Selection selected;
        if (!same_length(nodes, {bound[0], bound[1], bound[2]}, {"node", "deg", "loop"}) ||
            !same_length(members, {bound[3], bound[4], bound[5]},
                         {"m_node", "m_cluster", "m_pos"}) ||
            !selection(selected_view, bound[6], &selected)) {
            return nullptr;
        }
        std::optional<partition::HiRowKeys> hi_rows;
        if (bound[7] != Py_None) {
            PyObject* r = bound[7];
            if (!PyTuple_Check(r) || PyTuple_GET_SIZE(r) != 4) {
                return raise_argument_type_error("hi_rows", r, "a tuple (hi, lo, cluster, tag)");
            }
            if (!same_length(
                    rows, {PyTuple_GET_ITEM(r, 0), PyTuple_GET_ITEM(r, 1), PyTuple_GET_ITEM(r, 2)},
                    {"hi", "lo", "cluster"}) ||
                !tag_view(tag, PyTuple_GET_ITEM(r, 3), rows[0].length())) {
                return nullptr;
            }
            hi_rows = partition::HiRowKeys{rows[0].uint64s(), rows[1].uint64s(), rows[2].uint64s(),
                                           tag.bytes()};
        }
        const partition::NodeSide side = without_gil([&] {
            return partition::node_side(
                {nodes[0].uint64s(), nodes[1].uint64s(), nodes[2].uint64s()},
                {members[0].uint64s(), members[1].uint64s(), members[2].uint64s()}, selected,
                hi_rows);
        });
        PyRef partials = PyRef::steal(columns_tuple(side.partials));
        if (!partials) return nullptr;
        PyRef coverage = PyRef::steal(column_tuple(side.node, side.clusters, side.loop));
        if (!coverage) return nullptr;
        return Py_BuildValue("(OOK)", partials.get(), coverage.get(),
                             static_cast<unsigned long long>(side.covered_links));
    });
}

}  // namespace quelmar::exposure::tools
