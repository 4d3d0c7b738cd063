#!/usr/bin/env bash
# Installs the build into a scratch prefix, checks what landed where, then builds an outside C
# program against it twice (pkg-config; find_package, shared and static) and runs each build,
# and the installed Python package, against the virtual reader.
#
#   install_test.sh BUILD_DIR WORK_DIR C_COMPILER "EXTRA_FLAGS" [TOOL...]
set -euo pipefail
build=$1 work=$2 cc=$3 extra=$4
shift 4
tools=("$@")
here=$(cd "$(dirname "$0")" && pwd)
source "$here/../examples/reader_session.sh"

fail() { echo "FAIL: $*" >&2; exit 1; }

rm -rf "$work"
mkdir -p "$work"
prefix=$work/prefix
cmake --install "$build" --prefix "$prefix" >"$work/install.log"

libdir=$(dirname "$(find "$prefix" -name 'libuhfreader.so.*.*.*' | head -n1)")
[[ -d $libdir ]] || fail "no versioned shared library under $prefix"
real=$(basename "$(readlink -f "$libdir/libuhfreader.so")")
[[ $real =~ ^libuhfreader\.so\.1\.[0-9]+\.[0-9]+$ ]] || fail "libuhfreader.so points at $real"
[[ $(readlink "$libdir/libuhfreader.so.1") == "$real" ]] || fail "libuhfreader.so.1 is not a link to $real"
soname=$(objdump -p "$libdir/$real" | awk '$1 == "SONAME" { print $2 }')
[[ $soname == libuhfreader.so.1 ]] || fail "SONAME is '$soname'"
for f in "$libdir/libuhfreader.a" "$prefix/include/uhfreader.h" "$prefix/share/doc/uhfreader/examples/inventory.c" \
         "$libdir/pkgconfig/uhfreader.pc" "$libdir/cmake/uhfreader/uhfreaderConfig.cmake" \
         "$prefix/lib/udev/rules.d/60-uhfreader.rules"; do
    [[ -f $f ]] || fail "missing $f"
done
for t in "${tools[@]}"; do
    [[ -x $prefix/bin/$t ]] || fail "missing $prefix/bin/$t"
    "$prefix/bin/$t" --help >/dev/null 2>&1 || fail "installed $t --help does not run"
    # Static builds of the library: nothing to find at run time, so no search path either.
    if objdump -p "$prefix/bin/$t" | grep -Eq '^ *(RUNPATH|RPATH) '; then
        fail "installed $t carries $(objdump -p "$prefix/bin/$t" | grep -E '^ *(RUNPATH|RPATH) ')"
    fi
    if grep -q UHFCTL_TEST_ "$prefix/bin/$t"; then fail "installed $t has the tests' hooks"; fi
done

export PKG_CONFIG_PATH=$libdir/pkgconfig
header_version=$(sed -n 's/^#define UHF_VERSION_\(MAJOR\|MINOR\|PATCH\) \([0-9]*\).*/\2/p' \
    "$prefix/include/uhfreader_link.h" | paste -sd.)
[[ $(pkg-config --modversion uhfreader) == "$header_version" ]] \
    || fail "pkg-config says $(pkg-config --modversion uhfreader), the header $header_version"
pkg-config --print-requires-private uhfreader | grep -qx 'libusb-1.0' \
    || fail "libusb-1.0 is not a private requirement"
if pkg-config --print-requires uhfreader | grep -q .; then fail "public requirements leak"; fi
# shellcheck disable=SC2086,SC2046
"$cc" $extra -o "$work/consumer_pc" "$here/consumer/consumer.c" \
    $(pkg-config --cflags --libs uhfreader) -Wl,-rpath,"$libdir"

cmake -S "$here/consumer" -B "$work/consumer_cmake" -DCMAKE_PREFIX_PATH="$prefix" \
    -DCMAKE_C_COMPILER="$cc" -DCMAKE_C_FLAGS="$extra" -DCMAKE_EXE_LINKER_FLAGS="$extra" \
    -DCMAKE_BUILD_TYPE=RelWithDebInfo >"$work/consumer_cmake.log"
cmake --build "$work/consumer_cmake" >>"$work/consumer_cmake.log"

start_reader "$work/reader"
for exe in "$work/consumer_pc" "$work/consumer_cmake/consumer" "$work/consumer_cmake/consumer_static"; do
    out=$("$exe" "$work/reader") || fail "$exe exited with $?"
    echo "$exe: $out"
    [[ $out =~ ^info(\ [0-9A-F]{2}){22}$ ]] || fail "$exe printed '$out'"
done
# The installed Python package finds the installed library by itself.
out=$(env -u UHFREADER_LIBRARY PYTHONPATH="$libdir/uhfreader/python" PYTHONDONTWRITEBYTECODE=1 \
      LD_PRELOAD="${UHF_PY_PRELOAD:-}" ASAN_OPTIONS=detect_leaks=0:verify_asan_link_order=0 python3 -c '
import sys, uhfreader
with uhfreader.Reader(sys.argv[1]) as r:
    print(uhfreader.__file__, len(r.get_device_info()))' "$work/reader") || fail "installed Python package: $out"
[[ $out == "$prefix/"*" 22" ]] || fail "installed Python package printed '$out'"
ldd "$work/consumer_cmake/consumer_static" | grep -q libuhfreader && fail "static consumer loads the shared library"

# A packager's staged install into /usr: everything, the udev rule included, stays under DESTDIR.
DESTDIR=$work/stage cmake --install "$build" --prefix /usr >"$work/stage.log"
[[ -f $work/stage/usr/lib/udev/rules.d/60-uhfreader.rules ]] || fail "staged udev rule missing"
rel=${libdir#"$prefix"/}
grep -qx "LIBRARY = \"/usr/$rel/libuhfreader.so.1\"" "$work/stage/usr/$rel/uhfreader/python/uhfreader/_installed.py" \
    || fail "staged Python package does not point at the library's final place"
echo "install test passed"
