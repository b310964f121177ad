# Every dependency comes from the system (Debian packages); nothing is vendored.
find_package(Threads REQUIRED)

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
