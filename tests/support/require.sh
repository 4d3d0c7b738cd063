# Sourced by shell tests: `require_program PROGRAM PACKAGE` exits 77 (ctest's skip, with
# SKIP_RETURN_CODE 77) naming the Debian package when PROGRAM is neither on PATH nor in the
# system directories; on success it prints nothing and the test goes on.
require_program() {
    if PATH="$PATH:/usr/sbin:/sbin:/usr/bin:/bin" command -v "$1" >/dev/null 2>&1; then
        return 0
    fi
    echo "needs $1, which is not installed (Debian package $2)"
    exit 77
}
