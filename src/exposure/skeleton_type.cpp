// ClusterSkeleton: the five counts of one packed cluster, handed to the
// predicate of Clustering.select. A copy: it does not refer to the cluster.

#include "src/exposure/classes.h"
#include "src/exposure/native_object.h"

namespace quelmar::exposure {
namespace {

// clang-format off
PyGetSetDef properties[] = {
    {"n",     get_count<&ClusterCounts::n>,   nullptr, nullptr, nullptr},
    {"m",     get_count<&ClusterCounts::m>,   nullptr, nullptr, nullptr},
    {"c",     get_count<&ClusterCounts::c>,   nullptr, nullptr, nullptr},
    {"mcd",   get_count<&ClusterCounts::mcd>, nullptr, nullptr, nullptr},
    {"vol",   get_count<&ClusterCounts::vol>, nullptr, nullptr, nullptr},
    {nullptr, nullptr,                        nullptr, nullptr, nullptr},
};
// clang-format on

// clang-format off
PyType_Slot slots[] = {
    {Py_tp_new,     reinterpret_cast<void*>(refuse_construction)},
    {Py_tp_dealloc, reinterpret_cast<void*>(destroy_instance<ClusterCounts>)},
    {Py_tp_getset,  properties},
    {0,             nullptr},
};
// clang-format on

PyType_Spec type_spec = {"builtins.ClusterSkeleton", sizeof(NativeObject<ClusterCounts>), 0,
                         kNativeTypeFlags, slots};

PyTypeObject* cached = nullptr;

}  // namespace

PyTypeObject* skeleton_type() { return cached_type(cached, type_spec); }

PyObject* new_skeleton(const ClusterCounts& counts) {
    PyTypeObject* type = skeleton_type();
    return type ? make_instance(type, counts) : nullptr;
}

}  // namespace quelmar::exposure
