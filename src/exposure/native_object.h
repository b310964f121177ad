#pragma once
// The shape shared by every class of the module: a Python object that owns
// exactly one native value (a shared pointer to an immutable library object,
// or a plain record), built in place when the object is made and destroyed
// when the interpreter frees it. Instances have no __dict__ and no weak
// references; the classes have no docstring, cannot be subclassed, report
// `builtins` as their module, and are immutable class objects, created once
// per process.

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <memory>
#include <new>
#include <type_traits>
#include <utility>

#include "src/exposure/python_compat.h"

namespace quelmar::exposure {

template <class T>
struct NativeObject {
    PyObject_HEAD
    T value;
};

template <class T>
T& native_value(PyObject* self) noexcept {
    return reinterpret_cast<NativeObject<T>*>(self)->value;
}

// The class a pointer to member belongs to.
template <class MemberPointer>
struct member_owner;
template <class Field, class Owner>
struct member_owner<Field Owner::*> {
    using type = Owner;
};

// A new instance of `type` owning `value`. Null with MemoryError set when the
// object cannot be allocated.
template <class T>
PyObject* make_instance(PyTypeObject* type, T value) noexcept {
    static_assert(std::is_nothrow_move_constructible_v<T>);
    PyObject* self = type->tp_alloc(type, 0);
    if (!self) return nullptr;
    new (&native_value<T>(self)) T(std::move(value));
    return self;
}

// The same for a class that may have failed to build (null with its error
// set).
template <class T>
PyObject* make_instance_of(PyTypeObject* type, T value) noexcept {
    return type ? make_instance(type, std::move(value)) : nullptr;
}

// Whether `object` is an instance of `type`; false for a null type.
inline bool is_instance_of(PyObject* object, PyTypeObject* type) noexcept {
    return type && Py_IS_TYPE(object, type);
}

template <class T>
void destroy_instance(PyObject* self) {
    PyTypeObject* type = Py_TYPE(self);
    std::destroy_at(&native_value<T>(self));
    type->tp_free(self);
    Py_DECREF(type);  // instances of heap types own a reference to their class
}

// The getter of a read-only property that shows the unsigned 64-bit field
// `field` of the native value: get_count<&Record::field>.
template <auto field>
PyObject* get_count(PyObject* self, void*) {
    using Owner = typename member_owner<decltype(field)>::type;
    return PyLong_FromUnsignedLongLong(native_value<Owner>(self).*field);
}

// tp_new of the classes that only the module itself creates.
PyObject* refuse_construction(PyTypeObject* type, PyObject* args, PyObject* kwargs);

// Creates a class from its PyType_Spec and clears its docstring. The name is
// "builtins.<Name>": the class reports `builtins` as its module (a name
// without a module part would be deprecated for classes made from specs).
// Null with the error set on failure.
PyTypeObject* build_type(PyType_Spec& type_spec);

// The class behind `slot`, built on the first call and kept for the process.
// Borrowed; null with the error set when it cannot be built.
PyTypeObject* cached_type(PyTypeObject*& slot, PyType_Spec& type_spec);

// The method table's view of a function that takes keyword arguments.
inline PyCFunction with_keywords(PyCFunctionWithKeywords function) {
    return reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(function));
}

// No Py_TPFLAGS_BASETYPE (no subclasses), no dict or weak-reference slots.
inline constexpr unsigned int kNativeTypeFlags = Py_TPFLAGS_DEFAULT | Py_TPFLAGS_IMMUTABLETYPE;

}  // namespace quelmar::exposure
