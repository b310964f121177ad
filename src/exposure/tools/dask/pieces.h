#pragma once
// Pieces in and out of the partition joins (partition_joins.h).
//
// A piece is a tuple of column arrays, the rows one sender routed to one
// partition; a step is given a sequence of them and reads each column as
// the pieces' columns one after the other (partitioned::Pieces), never joined
// into one array first. A step's routed output is a list with one piece per
// partition, each column its own bytearray: a piece shares no memory with
// the others, so each can be freed or moved on its own.

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <cstdint>
#include <deque>
#include <initializer_list>
#include <span>
#include <vector>

#include "src/exposure/buffer_view.h"
#include "src/partitioned/partition_joins.h"

namespace quelmar::exposure::tools {

// Views of columns [first, first + columns.size()) of every piece of a
// sequence, held for the view's lifetime; keys(0) is column `first`. Every
// column is uint64 but the one at `tag` (uint8, -1: none); `optional`
// trailing columns may be missing from every piece (then empty), but not
// from some only. The columns read from a piece have one length. False with TypeError (not a
// sequence of tuples, a column of the wrong type) or ValueError (lengths, a column missing from
// some pieces) set, naming `what` and the column.
class PieceViews {
public:
    bool acquire(PyObject* sequence, const char* what, std::initializer_list<const char*> columns,
                 int tag = -1, std::size_t optional = 0, std::size_t first = 0);

    partitioned::KeyPieces keys(std::size_t column) const;
    partitioned::TagPieces tags() const;
    bool has(std::size_t column) const noexcept { return column < width_; }

private:
    std::deque<BufferView> keys_;  // piece-major, width_ per piece (the tag's slot unused)
    std::deque<ByteView> tags_;    // one per piece
    std::size_t width_ = 0, pieces_ = 0;
};

// One routed output column: its rows and the partition offsets they are
// grouped by (rows [offsets[p], offsets[p + 1]) go to partition p).
struct RoutedColumn {
    const unsigned char* data;
    std::size_t item_bytes;
    const partitioned::Column* offsets;
};

template <class T>
RoutedColumn routed_column(const std::vector<T>& column, const partitioned::Column& offsets) {
    return {reinterpret_cast<const unsigned char*>(column.data()), sizeof(T), &offsets};
}

// A list of one tuple per partition (offsets.size() - 1 of them, the same
// for every column), one bytearray per column; the rows are copied with the
// interpreter lock released. Null with the error set.
PyObject* routed_pieces(std::span<const RoutedColumn> columns);

}  // namespace quelmar::exposure::tools
