#!/usr/bin/env bash
# Installs a wheel on a machine that has none of the build's packages and
# checks that it works there exactly as the source build does here:
#
#   bash scripts/check_wheel.sh [WHEEL]     # default: dist/'s CPython 3.11 wheel
#   bash scripts/check_wheel.sh --prepare   # only make the root and its wheelhouse
#
# (--prepare mostly waits on the network, so test.sh runs it beside the builds.)
#
# The machine is a minimal Debian 12 root filesystem (debootstrap minbase plus
# python3-venv: no compiler, no -dev package; its Python is 3.11), cached in
# $QUELMAR_ROOTFS_CACHE (default /var/cache/quelmar-rootfs) and keyed by the
# suite and debootstrap's version. In it, as the unprivileged user nobody and
# without a package index: a venv, pip install of the wheel with numpy and
# pandas from a wheelhouse downloaded here first, then
#   - examples/main.py, quelmar-stats and a probe printing every statistic in
#     full precision, whose output must equal the source build's (.venv);
#   - quelmar, quelmar_tools._native and quelmar-snapshot must load nothing
#     but files of the wheel and the libraries the manylinux policy allows.
# Prints one PASS or FAIL line; exits non-zero on failure. Needs root
# (debootstrap, chroot, mounts) and the source build's .venv.
set -euo pipefail
cd "$(dirname "$0")/.."

fail() { echo "check_wheel.sh: FAIL: $*"; exit 1; }
[ "$(id -u)" -eq 0 ] || exec sudo bash "$0" "$@"
[ -x .venv/bin/python ] || fail "no source build in .venv (run scripts/setup.sh)"
prepare_only=false
[ "${1:-}" = --prepare ] && prepare_only=true && shift
start=$SECONDS

suite=bookworm
cache=${QUELMAR_ROOTFS_CACHE:-/var/cache/quelmar-rootfs}
mirror=$(sed -n 's/^URIs: *//p' /etc/apt/sources.list.d/debian.sources 2>/dev/null | head -n 1)
mirror=${mirror:-http://deb.debian.org/debian}

if ! command -v debootstrap >/dev/null; then
    apt-get update -qq
    DEBIAN_FRONTEND=noninteractive apt-get install -y -qq debootstrap >/dev/null
fi
debootstrap_version=$(dpkg-query -W -f='${Version}' debootstrap)
root=$cache/$suite-minbase-python3-venv-debootstrap$debootstrap_version
if [ ! -x "$root/usr/bin/python3" ] || [ ! -f "$root/.complete" ]; then
    echo "check_wheel.sh: making the $suite root filesystem (once per machine)"
    rm -rf "$root" "$root.tmp"
    mkdir -p "$cache"
    debootstrap --variant=minbase --include=python3-venv "$suite" "$root.tmp" "$mirror" >"$cache/debootstrap.log" 2>&1 ||
        fail "debootstrap failed, see $cache/debootstrap.log"
    rm -rf "$root.tmp/var/cache/apt/archives"/*.deb
    touch "$root.tmp/.complete"
    mv "$root.tmp" "$root"
fi
root_python=$(chroot "$root" python3 -c 'import sys; print("%d.%d" % sys.version_info[:2])')

# numpy and pandas as wheels for the root's Python, downloaded here.
wheelhouse=$cache/wheelhouse-cp${root_python/./}
if [ ! -f "$wheelhouse/.complete" ]; then
    rm -rf "$wheelhouse"
    .venv/bin/python -m pip download -q -d "$wheelhouse" --only-binary :all: \
        --python-version "$root_python" --implementation cp --platform manylinux_2_28_x86_64 \
        --platform manylinux_2_17_x86_64 --platform manylinux2014_x86_64 numpy pandas ||
        fail "cannot download numpy and pandas for CPython $root_python"
    touch "$wheelhouse/.complete"
fi
if $prepare_only; then
    echo "check_wheel.sh: the $suite root and its wheelhouse are ready ($((SECONDS - start)) s)"
    exit 0
fi
wheel=${1:-$(ls dist/quelmar-*-cp311-cp311-manylinux_2_28_x86_64.whl 2>/dev/null | head -n 1)}
[ -f "$wheel" ] || fail "no wheel to check (bash scripts/wheels.sh 3.11 makes it)"

# What the source build prints, to compare with.
work=$(mktemp -d)
trap 'umount "$root/proc" 2>/dev/null || true; umount "$root/dev" 2>/dev/null || true;
      rm -rf "$work" "$root/tmp/check"' EXIT
cat >"$work/probe.py" <<'EOF'
"""Every number of the example's statistics and size comparison, exactly."""
import sys
import quelmar

data = sys.argv[1]
graph = quelmar.Graph(f"{data}/graph.tsv")
clustering = quelmar.Clustering(graph, f"{data}/clustering.tsv", cpm=0.1)
for predicate in (lambda c: True, lambda c: c.n >= 10):
    subset = clustering.select(predicate)
    stats = subset.compute_statistics()
    print(stats.num_clusters, stats.covered_nodes, stats.total_nodes, stats.covered_edges,
          stats.total_edges)
    for name in sorted(stats.distributions):
        print(name, [repr(value) for value in stats.distributions[name].percentiles])
    grown, changes = subset.compute_size_diff(quelmar.Clustering(graph, f"{data}/clustering_alt.tsv"))
    print(grown, repr(changes.minimum), repr(changes.median), repr(changes.maximum))
EOF
stats_args=(graph.tsv clustering.tsv --cpm 0.1 --compare clustering_alt.tsv --format json)
run_all() {  # run_all <python> <quelmar-stats> <data folder> <output folder>
    "$1" examples/main.py "$3/graph.tsv" "$3/clustering.tsv" "$3/clustering_alt.tsv" |
        grep -Ev ' s$' >"$4/main.txt"
    (cd "$3" && "$2" "${stats_args[@]}") >"$4/stats.json" 2>/dev/null
    "$1" "$work/probe.py" "$3" >"$4/probe.txt"
}
mkdir -p "$work/source"
run_all .venv/bin/python "$PWD/.venv/bin/quelmar-stats" "$PWD/examples/data" "$work/source" ||
    fail "the source build in .venv does not run the example"

# The installation, in the root filesystem.
check=$root/tmp/check
rm -rf "$check"
mkdir -p "$check/wheelhouse"
cp "$wheelhouse"/*.whl "$wheel" "$check/wheelhouse/"
cp -r examples "$check/"
cp "$work/probe.py" "$check/"
cat >"$check/run.sh" <<EOF
set -eu
cd /tmp/check
export HOME=/tmp/check
mkdir -p out
python3 -m venv venv
venv/bin/python -m pip install -q --no-index --find-links wheelhouse quelmar >out/pip.txt 2>&1 ||
    { cat out/pip.txt; exit 1; }
$(declare -f run_all)
work=/tmp/check stats_args=(${stats_args[*]})
run_all venv/bin/python /tmp/check/venv/bin/quelmar-stats /tmp/check/examples/data out
# The shared objects a process maps: before and after importing the two modules.
maps='import sys
for module in sys.argv[1:]: __import__(module)
print("\n".join(sorted({line.split()[-1] for line in open("/proc/self/maps") if ".so" in line})))'
venv/bin/python -c "\$maps" numpy pandas >out/before.txt
venv/bin/python -c "\$maps" numpy pandas quelmar quelmar_tools._native >out/after.txt
ldd venv/bin/quelmar-snapshot >out/snapshot.txt
EOF
chown -R nobody:nogroup "$check"
mount -t proc proc "$root/proc"
mount --bind /dev "$root/dev"
chroot --userspec=nobody:nogroup "$root" /bin/bash /tmp/check/run.sh || fail "the wheel does not install or run in the $suite root"

problems=()
for output in main.txt stats.json probe.txt; do
    cmp -s "$work/source/$output" "$check/out/$output" ||
        problems+=("$output differs from the source build's: $(diff "$work/source/$output" "$check/out/$output" | head -n 3 | tr '\n' ' ')")
done
# Only these may come from the system: the libraries of the manylinux policy
# (the base system also has libstdc++ and liblz4, which must not be loaded).
allowed='^/(usr/)?lib(64)?/(x86_64-linux-gnu/)?(libc|libm|libpthread|libdl|librt|libgcc_s|ld-linux-x86-64)\.so\.[0-9.]+$'
site=/tmp/check/venv/lib/python$root_python/site-packages
while read -r library; do
    case $library in
        "$site"/quelmar.libs/* | "$site"/quelmar.cpython-* | "$site"/quelmar_tools/_native.cpython-*) ;;
        # the interpreter's own modules, and those of numpy and pandas that the companion imports
        /usr/lib/python3*/lib-dynload/* | "$site"/numpy* | "$site"/pandas*) ;;
        *) [[ $library =~ $allowed ]] || problems+=("importing the modules loads $library") ;;
    esac
done < <(comm -13 "$check/out/before.txt" "$check/out/after.txt")
grep -q "$site/quelmar.libs/libquelmar_core.so" "$check/out/after.txt" ||
    problems+=("the modules did not load the wheel's core")
while read -r name arrow path _; do
    [ "$arrow" = "=>" ] || continue
    [[ $path =~ $allowed ]] || problems+=("quelmar-snapshot loads $name ($path)")
done <"$check/out/snapshot.txt"
grep -q "not found" "$check/out/snapshot.txt" && problems+=("quelmar-snapshot misses a library")

if ((${#problems[@]})); then
    printf 'check_wheel.sh:   %s\n' "${problems[@]}"
    fail "$(basename "$wheel") on Debian $suite ($((SECONDS - start)) s)"
fi
echo "check_wheel.sh: PASS: $(basename "$wheel") installs and runs as the source build on a bare Debian $suite ($((SECONDS - start)) s)"
