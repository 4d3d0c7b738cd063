#!/usr/bin/env bash
# Runs one example against a fresh virtual reader and checks its exit status and output.
#
#   run_example.sh WORK_DIR EXPECTED_STATUS REGEX INTERRUPT_WHEN -- PROGRAM ARGS...
#
# @NODE@ in ARGS becomes the reader's node; REGEX is matched (grep -E) against stdout and
# stderr together; INTERRUPT_WHEN, unless 0, is a pattern of the same kind: SIGINT is sent once
# the output matches it (or after 30 s).
set -euo pipefail
work=$1 expected=$2 regex=$3 interrupt=$4
shift 5
here=$(cd "$(dirname "$0")" && pwd)
source "$here/reader_session.sh"

mkdir -p "$work"
start_reader "$work/reader"
args=()
for a in "$@"; do args+=("${a//@NODE@/$work/reader}"); done

set +e
if [[ $interrupt != 0 ]]; then
    "${args[@]}" >"$work/out" 2>&1 &
    pid=$!
    for _ in $(seq 600); do
        grep -Ezq -- "$interrupt" "$work/out" && break
        kill -0 "$pid" 2>/dev/null || break
        sleep 0.05
    done
    kill -INT "$pid"
    wait "$pid"
else
    "${args[@]}" >"$work/out" 2>&1
fi
status=$?
set -e
cat "$work/out"
[[ $status == "$expected" ]] || { echo "FAIL: exit status $status, expected $expected" >&2; exit 1; }
grep -Ezq -- "$regex" "$work/out" || { echo "FAIL: output does not match /$regex/" >&2; exit 1; }
