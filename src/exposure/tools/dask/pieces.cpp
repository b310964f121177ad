// PieceViews and routed_pieces (pieces.h).

#include "src/exposure/tools/dask/pieces.h"

#include <algorithm>
#include <cstring>
#include <string>

#include "src/exposure/gil.h"
#include "src/exposure/py_ref.h"

namespace quelmar::exposure::tools {

bool PieceViews::acquire(PyObject* sequence, const char* what,
                         std::initializer_list<const char*> columns, int tag, std::size_t optional,
                         std::size_t first) {
    PyRef items = PyRef::steal(PySequence_Fast(sequence, "expected a sequence of pieces"));
    if (!items) {
        PyErr_Format(PyExc_TypeError, "%s: expected a sequence of tuples of arrays, got %.100s",
                     what, Py_TYPE(sequence)->tp_name);
        return false;
    }
    const std::size_t least = columns.size() - optional;
    const char* const* names = columns.begin();
    pieces_ = static_cast<std::size_t>(PySequence_Fast_GET_SIZE(items.get()));
    width_ = columns.size();
    for (std::size_t k = 0; k < pieces_; ++k) {
        PyObject* piece = PySequence_Fast_GET_ITEM(items.get(), static_cast<Py_ssize_t>(k));
        if (!PyTuple_Check(piece) ||
            static_cast<std::size_t>(PyTuple_GET_SIZE(piece)) < first + least) {
            PyErr_Format(PyExc_TypeError, "%s: expected tuples of at least %zu arrays, got %.100s",
                         what, first + least, Py_TYPE(piece)->tp_name);
            return false;
        }
        const std::size_t given =
            std::min<std::size_t>(PyTuple_GET_SIZE(piece) - first, columns.size());
        if (k == 0) width_ = given;
        if (given != width_) {
            PyErr_Format(PyExc_ValueError, "%s: expected every piece to have %s or none", what,
                         names[std::min(given, width_)]);
            return false;
        }
        std::size_t length = 0;
        for (std::size_t c = 0; c < width_; ++c) {
            PyObject* column = PyTuple_GET_ITEM(piece, static_cast<Py_ssize_t>(first + c));
            std::size_t rows = 0;
            keys_.emplace_back();
            if (static_cast<int>(c) == tag) {
                if (!tags_.emplace_back().acquire(column)) return false;
                rows = tags_.back().bytes().size();
            } else {
                if (!keys_.back().acquire(column, names[c], BufferView::Item::kUInt64)) {
                    return false;
                }
                rows = keys_.back().length();
            }
            if (c == 0) length = rows;
            if (rows != length) {
                PyErr_Format(PyExc_ValueError, "%s: expected as many items as %s", names[c],
                             names[0]);
                return false;
            }
        }
    }
    return true;
}

partitioned::KeyPieces PieceViews::keys(std::size_t column) const {
    partitioned::KeyPieces out;
    if (column >= width_) return out;
    out.spans.reserve(pieces_);
    for (std::size_t k = 0; k < pieces_; ++k)
        out.spans.push_back(keys_[k * width_ + column].uint64s());
    return out;
}

partitioned::TagPieces PieceViews::tags() const {
    partitioned::TagPieces out;
    out.spans.reserve(tags_.size());
    for (const ByteView& view : tags_) out.spans.push_back(view.bytes());
    return out;
}

PyObject* routed_pieces(std::span<const RoutedColumn> columns) {
    const std::size_t parts = columns.empty() ? 0 : columns[0].offsets->size() - 1;
    PyRef list = PyRef::steal(PyList_New(static_cast<Py_ssize_t>(parts)));
    if (!list) return nullptr;
    struct Copy {
        char* to;
        const unsigned char* from;
        std::size_t bytes;
    };
    std::vector<Copy> copies;
    copies.reserve(parts * columns.size());
    for (std::size_t p = 0; p < parts; ++p) {
        PyObject* tuple = PyTuple_New(static_cast<Py_ssize_t>(columns.size()));
        if (!tuple) return nullptr;
        PyList_SET_ITEM(list.get(), static_cast<Py_ssize_t>(p), tuple);  // steals
        for (std::size_t c = 0; c < columns.size(); ++c) {
            const RoutedColumn& column = columns[c];
            const std::uint64_t first = (*column.offsets)[p], last = (*column.offsets)[p + 1];
            const std::size_t bytes = (last - first) * column.item_bytes;
            PyObject* array =
                PyByteArray_FromStringAndSize(nullptr, static_cast<Py_ssize_t>(bytes));
            if (!array) return nullptr;
            PyTuple_SET_ITEM(tuple, static_cast<Py_ssize_t>(c), array);  // steals
            copies.push_back(
                {PyByteArray_AS_STRING(array), column.data + first * column.item_bytes, bytes});
        }
    }
    without_gil([&] {
        for (const Copy& copy : copies) {
            if (copy.bytes) std::memcpy(copy.to, copy.from, copy.bytes);
        }
        return 0;
    });
    return list.release();
}

}  // namespace quelmar::exposure::tools
