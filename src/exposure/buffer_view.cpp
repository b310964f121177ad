#include "src/exposure/buffer_view.h"

#include <string_view>

namespace quelmar::exposure {
namespace {

// Native or little-endian byte order marks are the same thing here.
std::string_view item_code(const char* format) {
    std::string_view code = format ? format : "B";
    if (!code.empty() && (code[0] == '@' || code[0] == '=' || code[0] == '<'))
        code.remove_prefix(1);
    return code;
}

bool matches(std::string_view code, BufferView::Item item) {
    if (item == BufferView::Item::kFloat64) return code == "d";
    return code == "Q" || (code == "L" && sizeof(long) == 8);
}

}  // namespace

bool BufferView::acquire(PyObject* object, const char* name, Item item, bool writable) {
    int flags = PyBUF_C_CONTIGUOUS | PyBUF_FORMAT | (writable ? PyBUF_WRITABLE : 0);
    if (PyObject_GetBuffer(object, &buffer_, flags) < 0) {
        PyErr_Clear();
        PyErr_Format(PyExc_TypeError, "%s: expected a contiguous %s%s array, got %.100s", name,
                     writable ? "writable " : "", item == Item::kUInt64 ? "uint64" : "float64",
                     Py_TYPE(object)->tp_name);
        return false;
    }
    held_ = true;
    if (buffer_.itemsize != 8 || !matches(item_code(buffer_.format), item)) {
        PyErr_Format(PyExc_TypeError, "%s: expected %s items, got format '%s'", name,
                     item == Item::kUInt64 ? "uint64" : "float64",
                     buffer_.format ? buffer_.format : "B");
        return false;
    }
    return true;
}

}  // namespace quelmar::exposure
