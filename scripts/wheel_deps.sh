#!/usr/bin/env bash
# Builds what the manylinux wheels link into the native core, for x86_64 Linux
# with glibc 2.28, into a prefix outside the checkout:
#
#   usage: wheel_deps.sh <zig> <sources> <prefix>
#
#   <zig>      the zig executable (the ziglang package of PyPI)
#   <sources>  the unpacked source packages (croaring, lz4, abseil, zlib: see wheels.sh)
#   <prefix>   where to build; it ends up holding
#     bin/           zig-cc, zig-c++, zig-ar, zig-ranlib: zig for the target
#     toolchain.cmake  the CMake toolchain of the wheel build
#     deps.cmake     imported targets roaring::roaring, lz4::lz4,
#                    absl::flat_hash_map, absl::flat_hash_set, and the C++
#                    runtime's archives (read by cmake/Dependencies.cmake)
#     include/, lib/ the headers and static libraries
#     licenses/      the licence file of every library linked in
#
# The C++ runtime (libc++, libc++abi, libunwind, from the sources zig ships) is
# built here rather than left to zig: zig builds its own copy with hidden
# symbols into every shared object it links, which would give the core and
# each extension module a runtime of their own, and an exception raised in the
# core could not be caught or rethrown in a module. Built here with default
# visibility, it is linked into the core alone, which hands it to both modules
# under its private symbol version (src/exposure/CMakeLists.txt,
# cmake/wheel_core.map).
#
# Everything is compiled for the baseline x86-64 processor; libraries are
# static and position independent.
set -euo pipefail

zig=$1 sources=$2 prefix=$3
jobs=${QUELMAR_WHEEL_JOBS:-2}
target=x86_64-linux-gnu.2.28
zig_lib=$(dirname "$zig")/lib  # the layout of the ziglang package
[ -d "$zig_lib/libcxx" ] || { echo "wheel_deps.sh: no libc++ sources under '$zig_lib'" >&2; exit 1; }

build=$prefix/build
rm -rf "$prefix"
mkdir -p "$prefix"/{bin,include,lib,licenses} "$build"

# zig for the target, as single executables that CMake and the loops below call.
# Its own cache stays beside the prefix, so that a new prefix starts clean.
# C++ compiles against the runtime's headers as zig configures them, but with
# libc++'s visibility annotations (zig turns them off, its copy being hidden),
# and links with the runtime built below instead of zig's own copy.
for tool in cc c++ ar ranlib; do
    case $tool in
        cc) run="'$zig' cc -target $target" ;;
        c++) run="'$zig' c++ -target $target -U_LIBCPP_DISABLE_VISIBILITY_ANNOTATIONS -U_LIBCXXABI_DISABLE_VISIBILITY_ANNOTATIONS \$link" ;;
        *) run="'$zig' $tool" ;;
    esac
    cat >"$prefix/bin/zig-$tool" <<EOF
#!/bin/sh
export ZIG_GLOBAL_CACHE_DIR='$prefix/zig-cache' ZIG_LOCAL_CACHE_DIR='$prefix/zig-cache'
link=-nostdlib++
for argument; do case \$argument in -c | -E | -S | -M | -MM) link= ;; esac; done
exec $run "\$@"
EOF
    chmod +x "$prefix/bin/zig-$tool"
done
cc=$prefix/bin/zig-cc cxx=$prefix/bin/zig-c++ ar=$prefix/bin/zig-ar

# compile <archive> <flags...> -- <sources...>: the sources, $jobs at a time,
# into the archive (with what earlier calls for the same archive compiled).
compile() {
    local archive=$1 flags=() objects=$build/${1%.a}
    shift
    while [ "$1" != -- ]; do flags+=("$1"); shift; done
    shift
    mkdir -p "$objects"
    printf '%s\n' "$@" | xargs -P "$jobs" -I{} sh -c '
        source=$1; shift; objects=$1; shift
        case $source in *.c | *.S) compiler=$CC_ ;; *) compiler=$CXX_ ;; esac
        exec "$compiler" "$@" -c "$source" -o "$objects/$(echo "$source" | tr / _).o"
    ' _ {} "$objects" "${flags[@]}"
    rm -f "$prefix/lib/$archive"
    "$ar" rcs "$prefix/lib/$archive" "$objects"/*.o
}
export CC_=$cc CXX_=$cxx

common=(-O2 -fPIC -ffp-contract=off -Wno-everything)

# The C++ runtime, with the flags zig uses for its own copy, less the hidden
# visibility.
cxx_lib=(-DNDEBUG -D_LIBCPP_BUILDING_LIBRARY -DLIBCXX_BUILDING_LIBCXXABI
         -D_LIBCPP_HAS_NO_PRAGMA_SYSTEM_HEADER -DLIBC_NAMESPACE=__llvm_libc_common_utils
         -faligned-allocation -std=c++23 -I "$zig_lib/libcxx/src" -I "$zig_lib/libcxx/libc"
         -I "$zig_lib/libcxxabi/include")
libcxx_sources=()
for file in algorithm any bind call_once charconv chrono error_category exception expected \
    filesystem/directory_entry filesystem/directory_iterator filesystem/filesystem_clock \
    filesystem/filesystem_error filesystem/operations filesystem/path fstream functional hash ios \
    ios.instantiations iostream locale memory memory_resource new new_handler new_helpers optional \
    ostream print random random_shuffle regex ryu/d2fixed ryu/d2s ryu/f2s stdexcept string \
    strstream system_error typeinfo valarray variant vector verbose_abort \
    atomic barrier condition_variable condition_variable_destructor future mutex mutex_destructor \
    shared_mutex thread; do
    libcxx_sources+=("$zig_lib/libcxx/src/$file.cpp")
done
compile libc++.a "${common[@]}" "${cxx_lib[@]}" -- "${libcxx_sources[@]}"

libcxxabi_sources=()
for file in cxa_aux_runtime cxa_default_handlers cxa_demangle cxa_exception_storage cxa_guard \
    cxa_handlers cxa_vector cxa_virtual stdlib_exception stdlib_stdexcept stdlib_typeinfo \
    stdlib_new_delete abort_message fallback_malloc private_typeinfo cxa_exception \
    cxa_personality cxa_thread_atexit; do
    libcxxabi_sources+=("$zig_lib/libcxxabi/src/$file.cpp")
done
compile libc++abi.a "${common[@]}" -DNDEBUG -D_LIBCPP_BUILDING_LIBRARY -D_LIBCXXABI_BUILDING_LIBRARY \
    -DHAVE___CXA_THREAD_ATEXIT_IMPL -fstrict-aliasing -std=c++23 -I "$zig_lib/libcxx/src" \
    -I "$zig_lib/libcxxabi/include" -- "${libcxxabi_sources[@]}"

# libunwind: its C parts with exceptions, its C++ part without, as zig builds it.
unwind=$zig_lib/libunwind/src
unwind_flags=("${common[@]}" -I "$zig_lib/libunwind/include" -D_LIBUNWIND_IS_NATIVE_ONLY
              -funwind-tables -Wa,--noexecstack)
compile libunwind.a "${unwind_flags[@]}" -std=c99 -fexceptions -- \
    "$unwind/UnwindLevel1.c" "$unwind/UnwindLevel1-gcc-ext.c" "$unwind/gcc_personality_v0.c" \
    "$unwind/UnwindRegistersRestore.S" "$unwind/UnwindRegistersSave.S"
compile libunwind.a "${unwind_flags[@]}" -fno-exceptions -fno-rtti -- "$unwind/libunwind.cpp"
for part in libcxx libcxxabi libunwind; do
    mkdir -p "$prefix/licenses/$part"
    cp "$zig_lib/$part/LICENSE.TXT" "$prefix/licenses/$part/"
done
# zig links its compiler runtime (compiler_rt) into every program and library.
mkdir -p "$prefix/licenses/zig"
cp "$zig_lib/../LICENSE" "$prefix/licenses/zig/"

# CRoaring: its library sources, as its CMake build compiles them without
# -march (the generic x86-64 code paths).
roaring=$sources/croaring
mapfile -t roaring_sources < <(find "$roaring/src" -name '*.c' | sort)
compile libroaring.a "${common[@]}" -O3 -std=c11 -I "$roaring/include" -- "${roaring_sources[@]}"
mkdir -p "$prefix/include/roaring" "$prefix/licenses/croaring"
cp -r "$roaring/include/roaring/." "$prefix/include/roaring/"
cp "$roaring"/cpp/*.hh "$prefix/include/roaring/"
cp "$roaring/LICENSE" "$prefix/licenses/croaring/"

# liblz4: the library part, with the Debian build's flags.
lz4=$sources/lz4/lib
compile liblz4.a "${common[@]}" -DXXH_NAMESPACE=LZ4_ -DLZ4F_PUBLISH_STATIC_FUNCTIONS -- \
    "$lz4/lz4.c" "$lz4/lz4frame.c" "$lz4/lz4hc.c" "$lz4/xxhash.c" "$lz4/lz4file.c"
cp "$lz4"/lz4.h "$lz4"/lz4hc.h "$lz4"/lz4frame.h "$lz4"/lz4frame_static.h "$lz4"/lz4file.h \
    "$prefix/include/"
mkdir -p "$prefix/licenses/lz4"
cp "$lz4/LICENSE" "$prefix/licenses/lz4/"

# zlib: the library sources without the gz* file layer, which nothing calls.
zlib=$sources/zlib
compile libz.a "${common[@]}" -DHAVE_HIDDEN -- "$zlib"/{adler32,compress,crc32,deflate,infback,inffast,inflate,inftrees,trees,uncompr,zutil}.c
cp "$zlib/zlib.h" "$zlib/zconf.h" "$prefix/include/"
mkdir -p "$prefix/licenses/zlib"
cp "$zlib/LICENSE" "$prefix/licenses/zlib/" 2>/dev/null || cp "$zlib/README" "$prefix/licenses/zlib/"

# abseil: only the libraries the hash containers link (raw_hash_set, hash) and
# what they need, through abseil's own CMake build.
absl_build=$build/abseil
cmake -S "$sources/abseil" -B "$absl_build" -G Ninja -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_CXX_COMPILER="$cxx" -DCMAKE_AR="$ar" -Wno-author \
    -DCMAKE_RANLIB="$prefix/bin/zig-ranlib" -DCMAKE_CXX_STANDARD=20 \
    -DCMAKE_POSITION_INDEPENDENT_CODE=ON -DCMAKE_CXX_FLAGS="-ffp-contract=off" \
    -DABSL_PROPAGATE_CXX_STD=ON -DBUILD_TESTING=OFF \
    -DABSL_BUILD_TESTING=OFF >/dev/null
cmake --build "$absl_build" -j "$jobs" --target raw_hash_set hash >/dev/null
mapfile -t absl_archives < <(find "$absl_build" -name 'libabsl_*.a' | sort)
cp "${absl_archives[@]}" "$prefix/lib/"
(cd "$sources/abseil" && find absl \( -name '*.h' -o -name '*.inc' \) -print0 |
    tar --null -cf - --files-from=- | tar -xf - -C "$prefix/include")
mkdir -p "$prefix/licenses/abseil"
cp "$sources/abseil/LICENSE" "$prefix/licenses/abseil/"

# What the project's CMake reads.
absl_libraries=()
for archive in "${absl_archives[@]}"; do absl_libraries+=("\${_prefix}/lib/$(basename "$archive")"); done
absl_libraries=$(IFS=';'; echo "${absl_libraries[*]}")
cat >"$prefix/deps.cmake" <<EOF
# Static libraries for the manylinux wheels, made by scripts/wheel_deps.sh.
get_filename_component(_prefix "\${CMAKE_CURRENT_LIST_DIR}" ABSOLUTE)
add_library(roaring::roaring STATIC IMPORTED)
set_target_properties(roaring::roaring PROPERTIES
  IMPORTED_LOCATION "\${_prefix}/lib/libroaring.a" INTERFACE_INCLUDE_DIRECTORIES "\${_prefix}/include")
add_library(lz4::lz4 STATIC IMPORTED)
set_target_properties(lz4::lz4 PROPERTIES
  IMPORTED_LOCATION "\${_prefix}/lib/liblz4.a" INTERFACE_INCLUDE_DIRECTORIES "\${_prefix}/include")
add_library(ZLIB::ZLIB STATIC IMPORTED)
set_target_properties(ZLIB::ZLIB PROPERTIES
  IMPORTED_LOCATION "\${_prefix}/lib/libz.a" INTERFACE_INCLUDE_DIRECTORIES "\${_prefix}/include")
add_library(quelmar_wheel_absl INTERFACE IMPORTED)
set_target_properties(quelmar_wheel_absl PROPERTIES
  INTERFACE_INCLUDE_DIRECTORIES "\${_prefix}/include"
  INTERFACE_LINK_LIBRARIES "$absl_libraries")  # in any order: zig links with lld
add_library(absl::flat_hash_map ALIAS quelmar_wheel_absl)
add_library(absl::flat_hash_set ALIAS quelmar_wheel_absl)
# The C++ runtime, for the native core and the programs (never the modules).
set(QUELMAR_WHEEL_CXX_RUNTIME
  "\${_prefix}/lib/libc++.a;\${_prefix}/lib/libc++abi.a;\${_prefix}/lib/libunwind.a")
set(QUELMAR_WHEEL_LICENSES "\${_prefix}/licenses")
EOF
cat >"$prefix/toolchain.cmake" <<EOF
# zig for x86_64 Linux with glibc 2.28 (scripts/wheel_deps.sh). No program or
# library links zig's own C++ runtime: the one built beside this file is linked
# where deps.cmake says.
set(CMAKE_C_COMPILER "$cc")
set(CMAKE_CXX_COMPILER "$cxx")
set(CMAKE_AR "$ar")
set(CMAKE_RANLIB "$prefix/bin/zig-ranlib")
EOF
rm -rf "$build"
echo "wheel_deps.sh: built into $prefix"
