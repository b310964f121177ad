#include "src/exposure/panic.h"

#include <sys/syscall.h>
#include <unistd.h>

#include <cstdio>

#include "src/exposure/py_ref.h"

namespace quelmar::exposure {
namespace {

PyObject* panic_type = nullptr;  // created once, never released

constexpr std::string_view kUnwrapPrefix = "called `Result::unwrap()` on an `Err` value: ";

// Reports are meant for people reading a log: show the path inside the
// repository rather than the build machine's absolute path.
std::string_view relative_source(const char* path) {
    std::string_view file = path;
    auto at = file.rfind("src/exposure/");
    return at == std::string_view::npos ? file : file.substr(at);
}

std::string current_thread_label() {
    if (syscall(SYS_gettid) == getpid()) return "main";
    return "<unnamed>";
}

void write_failure_report(std::string_view message, std::source_location where) {
    std::string report = "thread '" + current_thread_label() + "' panicked at " +
                         std::string(relative_source(where.file_name())) + ":" +
                         std::to_string(where.line()) + ":\n" + std::string(message) +
                         "\nnote: the operation was abandoned and PanicException raised\n";
    std::fwrite(report.data(), 1, report.size(), stderr);
    std::fflush(stderr);
}

}  // namespace

PyObject* panic_exception_type() {
    if (panic_type) return panic_type;
    PyObject* made =
        PyErr_NewException("pyo3_runtime.PanicException", PyExc_BaseException, nullptr);
    if (!made) return nullptr;
    // Creating a class may run arbitrary code (garbage collection); keep the
    // first one if another thread got there meanwhile.
    if (panic_type) {
        Py_DECREF(made);
    } else {
        panic_type = made;
    }
    return panic_type;
}

PyObject* panic_exception_type_if_created() noexcept { return panic_type; }

PyObject* raise_panic(std::string_view message, std::source_location where) {
    PyObject* type = panic_exception_type();
    if (!type) return nullptr;
    write_failure_report(message, where);
    PyRef text = PyRef::steal(
        PyUnicode_FromStringAndSize(message.data(), static_cast<Py_ssize_t>(message.size())));
    if (!text) return nullptr;
    PyErr_SetObject(type, text.get());
    return nullptr;
}

std::string unwrap_failure_message(std::string_view description) {
    std::string message(kUnwrapPrefix);
    message += description;
    return message;
}

PyObject* raise_unwrapped(const runtime::Error& error, std::source_location where) {
    return raise_panic(unwrap_failure_message(error.report()), where);
}

}  // namespace quelmar::exposure
