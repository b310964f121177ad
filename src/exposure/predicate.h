#pragma once
// Asking a selection predicate about one cluster. The predicate gets a new
// ClusterSkeleton and must answer exactly True or False. Any other outcome
// fails the selection with PanicException:
//   * it raised: the message describes that exception (type, value,
//     traceback), which is consumed;
//   * it answered something else: the message describes a TypeError
//     "'<type>' object cannot be converted to 'PyBool'" without traceback;
//   * it raised PanicException itself: its traceback goes to standard error and
//     the caller gets a PanicException with the same message, not wrapped.

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include "src/exposure/classes.h"

namespace quelmar::exposure {

enum class Verdict { Accept, Reject, Failed };

// Failed leaves the Python error set.
Verdict ask_predicate(PyObject* predicate, const ClusterCounts& counts);

}  // namespace quelmar::exposure
