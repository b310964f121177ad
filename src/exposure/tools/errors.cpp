#include "src/exposure/tools/errors.h"

#include <regex>

namespace quelmar::exposure::tools {

PyObject* raise_error(const runtime::Error& error, const std::string& path) {
    if (PyErr_Occurred()) return nullptr;
    static const std::regex os_error(R"(^(.*) \(os error (\d+)\)$)");
    const std::string report = error.report();
    std::smatch parts;
    if (std::regex_match(report, parts, os_error)) {
        PyObject* details =
            Py_BuildValue("(isz)", std::stoi(parts[2].str()), parts[1].str().c_str(), path.c_str());
        if (details) {
            PyErr_SetObject(PyExc_OSError, details);
            Py_DECREF(details);
        }
        return nullptr;
    }
    PyErr_SetString(PyExc_ValueError, report.c_str());
    return nullptr;
}

}  // namespace quelmar::exposure::tools
