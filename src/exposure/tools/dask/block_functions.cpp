// parse_lines, route_lines, unresolved_message and size_changes
// (block_functions.h).

#include "src/exposure/tools/dask/block_functions.h"

#include <cstring>
#include <span>
#include <vector>

#include "src/base/line_block.h"
#include "src/base/line_rules.h"
#include "src/exposure/arguments.h"
#include "src/exposure/buffer_view.h"
#include "src/exposure/errors.h"
#include "src/exposure/gil.h"
#include "src/exposure/py_ref.h"
#include "src/exposure/tools/dask/pieces.h"
#include "src/partitioned/routed_lines.h"
#include "src/quelmar/size_change.h"

namespace quelmar::exposure::tools {
namespace {

PyObject* failure_tuple(const std::optional<base::LineFailure>& failure) {
    if (!failure) Py_RETURN_NONE;
    return Py_BuildValue("(ns#)", static_cast<Py_ssize_t>(failure->line_index),
                         failure->message.data(), static_cast<Py_ssize_t>(failure->message.size()));
}

constexpr ErrorPolicy kPlain = ErrorPolicy::kPlain;
const Signature parse_signature{"parse_lines", {"data", "memberships"}};
const Signature route_lines_signature{"route_lines",
                                      {"data", "memberships", "first_position", "parts"}};
const Signature unresolved_signature{"unresolved_message", {"line", "cluster"}};
const Signature changes_signature{"size_changes", {"before", "after"}};

}  // namespace

PyObject* parse_lines(PyObject*, PyObject* args, PyObject* kwargs) {
    return guarded<kPlain>([=]() -> PyObject* {
        PyObject* bound[2];
        if (!bind_arguments(parse_signature, args, kwargs, bound)) return nullptr;
        const int memberships = PyObject_IsTrue(bound[1]);
        if (memberships < 0) return nullptr;
        ByteView data;
        if (!data.acquire(bound[0])) return nullptr;
        const auto format = memberships ? base::LineFormat::kMemberships : base::LineFormat::kEdges;
        const base::ParsedLines parsed =
            without_gil([&] { return base::parse_line_block(data.bytes(), format); });
        PyRef first = PyRef::steal(byte_array(std::span<const std::uint64_t>(parsed.first)));
        if (!first) return nullptr;
        PyRef second = PyRef::steal(byte_array(std::span<const std::uint64_t>(parsed.second)));
        if (!second) return nullptr;
        PyRef failure = PyRef::steal(failure_tuple(parsed.failure));
        if (!failure) return nullptr;
        return PyTuple_Pack(3, first.get(), second.get(), failure.get());
    });
}

PyObject* route_lines(PyObject*, PyObject* args, PyObject* kwargs) {
    return guarded<kPlain>([=]() -> PyObject* {
        PyObject* bound[4];
        if (!bind_arguments(route_lines_signature, args, kwargs, bound)) return nullptr;
        const int memberships = PyObject_IsTrue(bound[1]);
        if (memberships < 0) return nullptr;
        std::uint64_t first_position = 0, parts = 0;
        ByteView data;
        if (!data.acquire(bound[0]) || !u64_argument("first_position", bound[2], &first_position) ||
            !u64_argument("parts", bound[3], &parts)) {
            return nullptr;
        }
        if (parts == 0) {
            PyErr_SetString(PyExc_ValueError, "parts: expected at least one partition");
            return nullptr;
        }
        const auto format = memberships ? base::LineFormat::kMemberships : base::LineFormat::kEdges;
        const partitioned::RoutedLines routed = without_gil(
            [&] { return partitioned::route_lines(data.bytes(), format, first_position, parts); });
        std::vector<RoutedColumn> columns;
        for (const partitioned::Column& column : routed.columns) {
            columns.push_back(routed_column(column, routed.offsets));
        }
        PyRef pieces = PyRef::steal(routed_pieces(columns));
        if (!pieces) return nullptr;
        PyRef failure = PyRef::steal(failure_tuple(routed.failure));
        if (!failure) return nullptr;
        return PyTuple_Pack(2, pieces.get(), failure.get());
    });
}

PyObject* unresolved_message(PyObject*, PyObject* args, PyObject* kwargs) {
    return guarded<kPlain>([=]() -> PyObject* {
        PyObject* bound[2];
        if (!bind_arguments(unresolved_signature, args, kwargs, bound)) return nullptr;
        std::uint64_t cluster = 0;
        if (!u64_argument("cluster", bound[1], &cluster)) return nullptr;
        ByteView line;
        if (!line.acquire(bound[0])) return nullptr;
        const std::string text =
            base::unresolved_node_message(base::first_token_as_written(line.bytes()), cluster);
        return PyUnicode_FromStringAndSize(text.data(), static_cast<Py_ssize_t>(text.size()));
    });
}

PyObject* size_changes(PyObject*, PyObject* args, PyObject* kwargs) {
    return guarded<kPlain>([=]() -> PyObject* {
        PyObject* objects[2];
        if (!bind_arguments(changes_signature, args, kwargs, objects)) return nullptr;
        BufferView before, after;
        if (!before.acquire(objects[0], "before", BufferView::Item::kUInt64) ||
            !after.acquire(objects[1], "after", BufferView::Item::kUInt64)) {
            return nullptr;
        }
        if (before.length() != after.length()) {
            PyErr_SetString(PyExc_ValueError, "after: expected as many sizes as before");
            return nullptr;
        }
        std::vector<double> changes(before.length());
        for (std::size_t i = 0; i < changes.size(); ++i) {
            changes[i] = relative_size_change(before.uint64s()[i], after.uint64s()[i]);
        }
        return byte_array(std::span<const double>(changes));
    });
}

}  // namespace quelmar::exposure::tools
