# Every dependency comes from the system (Debian packages); nothing is vendored.
# The manylinux wheels are the one exception to "the system": scripts/wheels.sh
# builds the same libraries statically into a prefix outside the checkout and
# names that prefix's targets through QUELMAR_WHEEL_DEPS.
find_package(Threads REQUIRED)

set(QUELMAR_WHEEL_DEPS "" CACHE FILEPATH
    "deps.cmake of a prefix made by scripts/wheel_deps.sh (wheel builds only)")
if(QUELMAR_WHEEL_DEPS)
  include("${QUELMAR_WHEEL_DEPS}")
  # zig's linker driver takes -Wl,--whole-archive, but neither -Xlinker nor the
  # --push-state of CMake's own WHOLE_ARCHIVE.
  foreach(lang C CXX)
    set(CMAKE_${lang}_LINK_LIBRARY_USING_WHOLE_ARCHIVE
        "-Wl,--whole-archive" "<LINK_ITEM>" "-Wl,--no-whole-archive")
    set(CMAKE_${lang}_LINK_LIBRARY_USING_WHOLE_ARCHIVE_SUPPORTED TRUE)
  endforeach()
  # What is linked in is named, with its licence, in the wheel's metadata.
  if(DEFINED SKBUILD_METADATA_DIR)
    install(DIRECTORY "${QUELMAR_WHEEL_LICENSES}/" DESTINATION "${SKBUILD_METADATA_DIR}/licenses")
  endif()
  return()
endif()

# The packaged roaring config predates CMake 3.5 policy handling.
if(NOT DEFINED CMAKE_POLICY_VERSION_MINIMUM)
  set(CMAKE_POLICY_VERSION_MINIMUM 3.5)
endif()
find_package(roaring REQUIRED)
find_package(absl REQUIRED)

find_path(LZ4_INCLUDE_DIR lz4frame.h REQUIRED)
find_library(LZ4_LIBRARY lz4 REQUIRED)
add_library(lz4::lz4 UNKNOWN IMPORTED)
set_target_properties(lz4::lz4 PROPERTIES
  IMPORTED_LOCATION "${LZ4_LIBRARY}"
  INTERFACE_INCLUDE_DIRECTORIES "${LZ4_INCLUDE_DIR}")

# zlib inflates the gzip text the companion reads (Debian zlib1g-dev; the
# manylinux base image has it too).
find_package(ZLIB REQUIRED)
