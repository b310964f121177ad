# QUELMAR_SANITIZE: the sanitizers that instrument every library and test of
# this build, as a CMake list: "address;undefined" or "thread" (ThreadSanitizer
# cannot share a process with AddressSanitizer). Empty (the default) leaves the
# build untouched.
#
# A sanitized build is for the C++ tests only: the static libraries it makes
# need the sanitizer runtime loaded first, which an interpreter importing the
# extension module does not do. So the option refuses a build that also makes
# the module, and the Python package build never sees it.
#
# Included right after project(), either by the top-level CMakeLists.txt or
# through -DCMAKE_PROJECT_INCLUDE (scripts/sanitize.sh does that).
include_guard(GLOBAL)

set(QUELMAR_SANITIZE "" CACHE STRING
    "Sanitizers for the C++ tests: address;undefined, or thread (empty: none)")

if(QUELMAR_SANITIZE)
  if(NOT DEFINED QUELMAR_BUILD_MODULE OR QUELMAR_BUILD_MODULE)
    message(FATAL_ERROR
      "QUELMAR_SANITIZE=${QUELMAR_SANITIZE} needs -DQUELMAR_BUILD_MODULE=OFF: "
      "the Python module is never built with a sanitizer")
  endif()

  set(_quelmar_known_sanitizers address undefined thread leak)
  foreach(_sanitizer IN LISTS QUELMAR_SANITIZE)
    if(NOT _sanitizer IN_LIST _quelmar_known_sanitizers)
      message(FATAL_ERROR "QUELMAR_SANITIZE: unknown sanitizer '${_sanitizer}' "
                          "(known: ${_quelmar_known_sanitizers})")
    endif()
  endforeach()
  if("thread" IN_LIST QUELMAR_SANITIZE AND
     ("address" IN_LIST QUELMAR_SANITIZE OR "leak" IN_LIST QUELMAR_SANITIZE))
    message(FATAL_ERROR "QUELMAR_SANITIZE: thread cannot be combined with address or leak")
  endif()

  list(JOIN QUELMAR_SANITIZE "," _quelmar_sanitize_flag)
  # Frame pointers keep the reports' stacks whole (line numbers need at least
  # -g1 from the build type); a report must fail the test, so nothing
  # recovers after one.
  add_compile_options(-fsanitize=${_quelmar_sanitize_flag} -fno-omit-frame-pointer
                      -fno-sanitize-recover=all)
  add_link_options(-fsanitize=${_quelmar_sanitize_flag})
  message(STATUS "quelmar: sanitizers ${_quelmar_sanitize_flag} on every target")
endif()
