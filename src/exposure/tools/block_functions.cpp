// parse_lines, unresolved_message and size_changes (block_functions.h).

#include "src/exposure/tools/block_functions.h"

#include <cstring>
#include <span>
#include <vector>

#include "src/base/line_block.h"
#include "src/base/line_rules.h"
#include "src/exposure/tools/buffer_view.h"
#include "src/exposure/tools/errors.h"
#include "src/quelmar/size_change.h"

namespace quelmar::exposure::tools {
namespace {

// A new bytearray holding the values' bytes.
template <class T>
PyObject* byte_array(std::span<const T> values) {
    return PyByteArray_FromStringAndSize(reinterpret_cast<const char*>(values.data()),
                                         static_cast<Py_ssize_t>(values.size_bytes()));
}

// Holds a read-only bytes-like argument.
class Bytes {
public:
    ~Bytes() {
        if (held_) PyBuffer_Release(&buffer_);
    }
    bool acquire(PyObject* object) {
        held_ = PyObject_GetBuffer(object, &buffer_, PyBUF_SIMPLE) == 0;
        return held_;
    }
    std::span<const unsigned char> span() const {
        return {static_cast<const unsigned char*>(buffer_.buf),
                static_cast<std::size_t>(buffer_.len)};
    }

private:
    Py_buffer buffer_{};
    bool held_ = false;
};

PyObject* failure_tuple(const std::optional<base::LineFailure>& failure) {
    if (!failure) Py_RETURN_NONE;
    return Py_BuildValue("(ns#)", static_cast<Py_ssize_t>(failure->line_index),
                         failure->message.data(), static_cast<Py_ssize_t>(failure->message.size()));
}

}  // namespace

PyObject* parse_lines(PyObject*, PyObject* args, PyObject* kwargs) {
    return guarded([=]() -> PyObject* {
        static const char* names[] = {"data", "memberships", nullptr};
        PyObject* data_object;
        int memberships;
        if (!PyArg_ParseTupleAndKeywords(args, kwargs, "Op:parse_lines", const_cast<char**>(names),
                                         &data_object, &memberships)) {
            return nullptr;
        }
        Bytes data;
        if (!data.acquire(data_object)) return nullptr;
        base::ParsedLines parsed;
        const auto format = memberships ? base::LineFormat::kMemberships : base::LineFormat::kEdges;
        Py_BEGIN_ALLOW_THREADS parsed = base::parse_line_block(data.span(), format);
        Py_END_ALLOW_THREADS PyObject* first =
            byte_array(std::span<const std::uint64_t>(parsed.first));
        PyObject* second =
            first ? byte_array(std::span<const std::uint64_t>(parsed.second)) : nullptr;
        PyObject* failure = second ? failure_tuple(parsed.failure) : nullptr;
        if (!failure) {
            Py_XDECREF(first);
            Py_XDECREF(second);
            return nullptr;
        }
        return Py_BuildValue("(NNN)", first, second, failure);
    });
}

PyObject* unresolved_message(PyObject*, PyObject* args, PyObject* kwargs) {
    return guarded([=]() -> PyObject* {
        static const char* names[] = {"line", "cluster", nullptr};
        PyObject* line_object;
        unsigned long long cluster;
        if (!PyArg_ParseTupleAndKeywords(args, kwargs, "OK:unresolved_message",
                                         const_cast<char**>(names), &line_object, &cluster)) {
            return nullptr;
        }
        Bytes line;
        if (!line.acquire(line_object)) return nullptr;
        const std::string text =
            base::unresolved_node_message(base::first_token_as_written(line.span()), cluster);
        return PyUnicode_FromStringAndSize(text.data(), static_cast<Py_ssize_t>(text.size()));
    });
}

PyObject* size_changes(PyObject*, PyObject* args, PyObject* kwargs) {
    return guarded([=]() -> PyObject* {
        static const char* names[] = {"before", "after", nullptr};
        PyObject* objects[2];
        if (!PyArg_ParseTupleAndKeywords(args, kwargs, "OO:size_changes", const_cast<char**>(names),
                                         &objects[0], &objects[1])) {
            return nullptr;
        }
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
