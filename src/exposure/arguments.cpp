#include "src/exposure/arguments.h"

#include <algorithm>
#include <cstring>
#include <string_view>

#include "src/exposure/python_compat.h"

namespace quelmar::exposure {
namespace {

int position_of(const Signature& signature, PyObject* keyword) {
    Py_ssize_t length = 0;
    const char* name = PyUnicode_AsUTF8AndSize(keyword, &length);
    if (!name) {
        PyErr_Clear();  // not representable: it cannot match any parameter
        return -1;
    }
    int position = 0;
    for (const char* parameter : signature.parameters) {
        if (std::string_view(parameter) == std::string_view(name, length)) return position;
        ++position;
    }
    return -1;
}

}  // namespace

bool bind_arguments(const Signature& signature, PyObject* args, PyObject* kwargs,
                    std::span<PyObject*> bound, PyRef* extra) {
    const auto expected = static_cast<Py_ssize_t>(signature.parameters.size());
    if (bound.size() != signature.parameters.size()) {
        // A slot per parameter, or the arguments would be written past them.
        PyErr_Format(PyExc_SystemError, "%s(): %zd parameters bound into %zu slots",
                     signature.function, expected, bound.size());
        return false;
    }
    std::fill(bound.begin(), bound.end(), nullptr);
    const Py_ssize_t given = args ? PyTuple_GET_SIZE(args) : 0;
    if (given > expected) {
        PyErr_Format(PyExc_TypeError, "%s() takes %zd positional argument%s but %zd %s given",
                     signature.function, expected, expected == 1 ? "" : "s", given,
                     given == 1 ? "was" : "were");
        return false;
    }
    for (Py_ssize_t i = 0; i < given; ++i) bound[i] = PyTuple_GET_ITEM(args, i);

    if (signature.collects_keywords) {
        *extra = PyRef::steal(PyDict_New());
        if (!*extra) return false;
    }
    if (kwargs) {
        Py_ssize_t cursor = 0;
        PyObject* key = nullptr;
        PyObject* value = nullptr;
        while (PyDict_Next(kwargs, &cursor, &key, &value)) {
            const int position = position_of(signature, key);
            if (position < 0) {
                if (!signature.collects_keywords) {
                    PyErr_Format(PyExc_TypeError, "%s() got an unexpected keyword argument '%S'",
                                 signature.function, key);
                    return false;
                }
                if (PyDict_SetItem(extra->get(), key, value) < 0) return false;
                continue;
            }
            if (bound[position]) {
                PyErr_Format(PyExc_TypeError, "%s() got multiple values for argument '%s'",
                             signature.function, signature.parameters.begin()[position]);
                return false;
            }
            bound[position] = value;
        }
    }
    std::size_t position = 0;
    for (const char* parameter : signature.parameters) {
        const std::size_t at = position++;
        if (!bound[at] && at < signature.required) {
            PyErr_Format(PyExc_TypeError, "%s() missing required argument '%s'", signature.function,
                         parameter);
            return false;
        }
    }
    return true;
}

std::string type_name_of(PyObject* object) {
    PyRef name = PyRef::steal(compat::type_qualified_name(Py_TYPE(object)));
    const char* text = name ? PyUnicode_AsUTF8(name.get()) : nullptr;
    if (!text) {
        PyErr_Clear();
        return Py_TYPE(object)->tp_name;
    }
    return text;
}

PyObject* raise_argument_type_error(const char* parameter, PyObject* object, const char* target) {
    const std::string type = type_name_of(object);
    PyErr_Format(PyExc_TypeError, "argument '%s': '%s' object cannot be converted to '%s'",
                 parameter, type.c_str(), target);
    return nullptr;
}

bool text_argument(const char* parameter, PyObject* object, std::string* out) {
    if (!PyUnicode_Check(object)) {
        raise_argument_type_error(parameter, object, "PyString");
        return false;
    }
    Py_ssize_t length = 0;
    const char* text = PyUnicode_AsUTF8AndSize(object, &length);
    if (!text) return false;
    if (std::memchr(text, '\0', static_cast<std::size_t>(length))) {
        PyErr_SetString(PyExc_ValueError, "embedded null byte");
        return false;
    }
    out->assign(text, static_cast<std::size_t>(length));
    return true;
}

bool index_to_u64(PyObject* object, std::uint64_t* out) {
    // Plain ints, by far the common case, need no index conversion.
    PyRef integer =
        PyLong_Check(object) ? PyRef::borrow(object) : PyRef::steal(PyNumber_Index(object));
    if (!integer) return false;
    const unsigned long long value = PyLong_AsUnsignedLongLong(integer.get());
    if (value == static_cast<unsigned long long>(-1) && PyErr_Occurred()) return false;
    *out = value;
    return true;
}

bool u64_argument(const char* parameter, PyObject* object, std::uint64_t* out) {
    if (index_to_u64(object, out)) return true;
    if (!PyErr_ExceptionMatches(PyExc_TypeError)) return false;
    PyObject* type = nullptr;
    PyObject* value = nullptr;
    PyObject* traceback = nullptr;
    PyErr_Fetch(&type, &value, &traceback);
    PyErr_NormalizeException(&type, &value, &traceback);
    PyRef owned_type = PyRef::steal(type);
    PyRef owned_value = PyRef::steal(value);
    PyRef owned_traceback = PyRef::steal(traceback);
    PyRef reason = PyRef::steal(owned_value ? PyObject_Str(owned_value.get()) : nullptr);
    if (!reason) return false;
    PyErr_Format(PyExc_TypeError, "argument '%s': %U", parameter, reason.get());
    return false;
}

}  // namespace quelmar::exposure
