// set_nthreads(nthreads): sizes the process-wide worker pool, once per process
// and before any parallel work; 0 asks for the default size. Waits until every
// worker runs. Keeps the interpreter lock throughout.

#include "src/exposure/set_nthreads.h"

#include "runtime/worker_pool.h"
#include "src/exposure/arguments.h"
#include "src/exposure/errors.h"
#include "src/exposure/native_object.h"
#include "src/exposure/panic.h"

namespace quelmar::exposure {
namespace {

const Signature signature{"set_nthreads", {"nthreads"}};

PyObject* set_nthreads(PyObject*, PyObject* args, PyObject* kwargs) {
    return guarded([=]() -> PyObject* {
        PyObject* argument = nullptr;
        if (!bind_arguments(signature, args, kwargs, {&argument, 1})) return nullptr;
        std::uint64_t threads = 0;
        if (!u64_argument("nthreads", argument, &threads)) return nullptr;
        runtime::Result<void> built = runtime::build_global_pool(static_cast<std::size_t>(threads));
        if (!built) return raise_unwrapped(built.error());
        Py_RETURN_NONE;
    });
}

PyMethodDef definition = {"set_nthreads", with_keywords(set_nthreads), METH_VARARGS | METH_KEYWORDS,
                          nullptr};

}  // namespace

PyObject* new_set_nthreads_function(PyObject* module) {
    PyObject* module_name = PyModule_GetNameObject(module);
    if (!module_name) return nullptr;
    PyObject* function = PyCFunction_NewEx(&definition, module, module_name);
    Py_DECREF(module_name);
    return function;
}

}  // namespace quelmar::exposure
