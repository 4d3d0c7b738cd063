# Sourced by the tests that run whole programs: starts the virtual reader named by $UHF_SIM in
# the background with a stable node at $1, and stops it when the sourcing script exits.
start_reader() {
    local node=$1
    rm -f "$node"
    "$UHF_SIM" --link "$node" >"$node.log" 2>&1 &
    UHF_SIM_PID=$!
    trap 'kill "$UHF_SIM_PID" 2>/dev/null; wait "$UHF_SIM_PID" 2>/dev/null || true' EXIT
    for _ in $(seq 100); do
        [[ -e $node ]] && return 0
        kill -0 "$UHF_SIM_PID" 2>/dev/null || break
        sleep 0.05
    done
    echo "virtual reader did not come up:" >&2
    cat "$node.log" >&2
    return 1
}
