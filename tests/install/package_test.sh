#!/usr/bin/env bash
# The Debian packages as a user gets them: built from the tree (scripts/package, lintian clean),
# installed with apt-get, used (uhfctl --sim info, uhfd --check-config on the installed example,
# an outside C program built with pkg-config against the virtual reader, the Python package),
# then purged, after which nothing they put on the system is left.
#
#   package_test.sh WORK_DIR             (UHF_PACKAGE_DIR=DIR: install the .deb files there)
#
# Debian's own python3 imports the package, whatever python3 comes first on PATH.
# Installs into the running system, so it needs root; without it (or without the packaging
# tools) it skips, saying why.
set -euo pipefail
work=$1
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
source "$here/../support/require.sh"
source "$here/../examples/reader_session.sh"

if [[ $(id -u) -ne 0 ]]; then
    echo "needs root to install the packages with apt-get: skipped (runs on CI, as root)"
    exit 77
fi
require_program dpkg-buildpackage dpkg-dev
require_program dh debhelper
require_program lintian lintian

fail() { echo "FAIL: $*" >&2; exit 1; }
packages=(libuhfreader1 libuhfreader-dev uhfreader-tools uhfd python3-uhfreader)
for p in "${packages[@]}"; do
    if dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q installed; then
        fail "$p is already installed here; purge it first"
    fi
done

# The version the packages say is the header's.
header_version=$(sed -n 's/^#define UHF_VERSION_\(MAJOR\|MINOR\|PATCH\) \([0-9]*\).*/\2/p' \
    "$root/include/uhfreader_link.h" | paste -sd.)
changelog_version=$(sed -n '1s/^uhfreader (\([^)]*\)).*/\1/p' "$root/debian/changelog")
[[ $changelog_version == "$header_version" ]] \
    || fail "debian/changelog says $changelog_version, the header $header_version"

# UHF_PACKAGE_DIR: packages scripts/package already built, rather than building them again.
debs=${UHF_PACKAGE_DIR:-$work/deb}
if [[ -z ${UHF_PACKAGE_DIR:-} ]]; then
    "$root/scripts/package" "$debs" || fail "scripts/package"
fi

# What the system holds outside apt's and dpkg's own records, before and after.
snapshot() {
    find /etc /usr /lib /opt /var/lib -xdev \
        \( -path /var/lib/apt -o -path /var/lib/dpkg -o -path /var/lib/ucf \
           -o -path /var/lib/systemd/deb-systemd-helper-enabled \
           -o -path /var/lib/systemd/deb-systemd-helper-masked -o -name __pycache__ \) -prune \
        -o -print 2>/dev/null | sort
}
snapshot >"$work/before.txt"

purge() { apt-get purge -y -qq "${packages[@]}" >"$work/purge.log" 2>&1; }
trap 'purge || true' EXIT
export DEBIAN_FRONTEND=noninteractive
apt-get install -y -qq "$debs"/*.deb >"$work/install.log" 2>&1 \
    || { cat "$work/install.log"; fail "apt-get install"; }

out=$(uhfctl --sim info) || fail "uhfctl --sim info exited with $?: $out"
echo "uhfctl --sim info: $out"
[[ -f /etc/uhfd/uhfd.toml ]] || fail "no /etc/uhfd/uhfd.toml"
dpkg-query --showformat='${Conffiles}\n' --show uhfd | grep -q ' /etc/uhfd/uhfd.toml ' \
    || fail "/etc/uhfd/uhfd.toml is not a conffile"
/usr/sbin/uhfd --check-config /etc/uhfd/uhfd.toml || fail "uhfd --check-config on the installed example"
[[ -f /lib/systemd/system/uhfd.service ]] || fail "no uhfd.service"
grep -q '^ExecStart=/usr/sbin/uhfd --config /etc/uhfd/uhfd.toml$' /lib/systemd/system/uhfd.service \
    || fail "uhfd.service does not run the installed uhfd on /etc/uhfd/uhfd.toml"

# shellcheck disable=SC2046
cc -o "$work/consumer" "$here/consumer/consumer.c" $(pkg-config --cflags --libs uhfreader) \
    || fail "building an outside program with pkg-config"
UHF_SIM=/usr/bin/uhfsim start_reader "$work/reader"
# start_reader set its own exit trap: both, then.
trap 'kill "$UHF_SIM_PID" 2>/dev/null; purge || true' EXIT
out=$("$work/consumer" "$work/reader") || fail "consumer exited with $?"
[[ $out =~ ^info(\ [0-9A-F]{2}){22}$ ]] || fail "consumer printed '$out'"
out=$(cd / && env -u UHFREADER_LIBRARY -u PYTHONPATH PYTHONDONTWRITEBYTECODE=1 /usr/bin/python3 -c '
import sys, uhfreader
with uhfreader.Reader(sys.argv[1]) as r:
    print(uhfreader.__file__, len(r.get_device_info()))' "$work/reader") \
    || fail "installed Python package: $out"
[[ $out == "/usr/lib/python3/dist-packages/uhfreader/__init__.py 22" ]] || fail "Python printed '$out'"
kill "$UHF_SIM_PID"
wait "$UHF_SIM_PID" 2>/dev/null || true

purge || { cat "$work/purge.log"; fail "apt-get purge"; }
trap - EXIT
for p in "${packages[@]}"; do
    if dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q installed; then fail "$p still installed"; fi
done
snapshot >"$work/after.txt"
if ! diff "$work/before.txt" "$work/after.txt" >"$work/left.txt"; then
    cat "$work/left.txt"
    fail "the packages left these behind (or took these away)"
fi
echo "package test passed"
