#include "src/exposure/predicate.h"

#include <string>

#include "src/exposure/arguments.h"
#include "src/exposure/panic.h"
#include "src/exposure/py_ref.h"

namespace quelmar::exposure {
namespace {

std::string repr_text(PyObject* object) {
    PyRef repr = PyRef::steal(PyObject_Repr(object));
    const char* text = repr ? PyUnicode_AsUTF8(repr.get()) : nullptr;
    if (!text) {
        PyErr_Clear();
        return "<unprintable " + type_name_of(object) + " object>";
    }
    return text;
}

// "PyErr { type: <class 'ValueError'>, value: ValueError('boom'), traceback:
// Some(<traceback object at 0x...>) }"
std::string describe_exception(PyObject* type, PyObject* value, PyObject* traceback) {
    std::string text =
        "PyErr { type: " + repr_text(type) + ", value: " + repr_text(value) + ", traceback: ";
    text += traceback && traceback != Py_None ? "Some(" + repr_text(traceback) + ")" : "None";
    text += " }";
    return text;
}

// The message a PanicException carries: its first argument when that is text.
PyRef panic_message(PyObject* value) {
    PyObject* args = PyObject_GetAttrString(value, "args");
    PyRef owned_args = PyRef::steal(args);
    if (owned_args && PyTuple_Check(args) && PyTuple_GET_SIZE(args) > 0 &&
        PyUnicode_Check(PyTuple_GET_ITEM(args, 0))) {
        return PyRef::borrow(PyTuple_GET_ITEM(args, 0));
    }
    PyErr_Clear();
    return PyRef::steal(PyObject_Str(value));
}

Verdict fail_with_raised_exception() {
    PyObject* type = nullptr;
    PyObject* value = nullptr;
    PyObject* traceback = nullptr;
    PyErr_Fetch(&type, &value, &traceback);
    PyErr_NormalizeException(&type, &value, &traceback);
    PyRef owned_type = PyRef::steal(type);
    PyRef owned_value = PyRef::steal(value);
    PyRef owned_traceback = PyRef::steal(traceback);
    if (traceback && value) PyException_SetTraceback(value, traceback);

    PyObject* panic = panic_exception_type_if_created();
    if (panic && value && PyObject_IsInstance(value, panic) == 1) {
        PyErr_Display(type, value, traceback);
        PyRef message = panic_message(value);
        const char* text = message ? PyUnicode_AsUTF8(message.get()) : nullptr;
        if (!text) return Verdict::Failed;
        raise_panic(text);
        return Verdict::Failed;
    }
    PyErr_Clear();
    raise_panic(unwrap_failure_message(describe_exception(type, value, traceback)));
    return Verdict::Failed;
}

Verdict fail_with_answer(PyObject* answer) {
    std::string reason = "'";
    reason += type_name_of(answer);
    reason += "' object cannot be converted to 'PyBool'";
    PyRef value = PyRef::steal(PyObject_CallFunction(PyExc_TypeError, "s", reason.c_str()));
    if (!value) return Verdict::Failed;
    raise_panic(unwrap_failure_message(describe_exception(PyExc_TypeError, value.get(), nullptr)));
    return Verdict::Failed;
}

}  // namespace

Verdict ask_predicate(PyObject* predicate, const ClusterCounts& counts) {
    PyRef skeleton = PyRef::steal(new_skeleton(counts));
    if (!skeleton) return Verdict::Failed;
    PyRef answer = PyRef::steal(PyObject_CallOneArg(predicate, skeleton.get()));
    if (!answer) return fail_with_raised_exception();
    if (answer.get() == Py_True) return Verdict::Accept;
    if (answer.get() == Py_False) return Verdict::Reject;
    return fail_with_answer(answer.get());
}

}  // namespace quelmar::exposure
