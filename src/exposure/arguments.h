#pragma once
// Binding call arguments to named parameters and converting them. Every
// parameter is required and may be passed by position or by keyword; too many
// positional arguments, an unknown keyword (unless the function collects
// extra keywords), a parameter given twice or a missing one raise TypeError.
// Conversion failures that are the caller's fault name the parameter:
// "argument '<name>': <reason>".

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <cstdint>
#include <initializer_list>
#include <span>
#include <string>

#include "src/exposure/py_ref.h"

namespace quelmar::exposure {

struct Signature {
    const char* function;  // as shown in messages, e.g. "Clustering.select"
    std::initializer_list<const char*> parameters;
    bool collects_keywords = false;  // unknown keywords go to a dict instead of failing
    // Parameters past the first `required` may be left out: they stay null.
    std::size_t required = SIZE_MAX;
};

// Fills `bound` (one borrowed reference per parameter, in order; null for
// an optional one left out). When the
// signature collects keywords, *extra receives a new dict of the others
// (empty when there were none). False with TypeError set on a mismatch.
bool bind_arguments(const Signature& signature, PyObject* args, PyObject* kwargs,
                    std::span<PyObject*> bound, PyRef* extra = nullptr);

// TypeError "argument '<parameter>': '<type of object>' object cannot be
// converted to '<target>'". Returns null.
PyObject* raise_argument_type_error(const char* parameter, PyObject* object, const char* target);

// The qualified name of the object's type, as Python shows it.
std::string type_name_of(PyObject* object);

// A str argument as UTF-8 text. A str holding a NUL character is refused with
// ValueError: it cannot name a file, and cutting it at the NUL would name
// another one.
bool text_argument(const char* parameter, PyObject* object, std::string* out);

// An unsigned 64-bit integer through the index conversion. The interpreter's
// errors pass unchanged (OverflowError for negative or too large values).
bool index_to_u64(PyObject* object, std::uint64_t* out);

// The same for an argument: a TypeError is reported with the parameter name.
bool u64_argument(const char* parameter, PyObject* object, std::uint64_t* out);

}  // namespace quelmar::exposure
