#!/usr/bin/env bash
# Every benchmark once at a tiny size, so one that can no longer run fails
# the suite instead of rotting unseen. The figures mean nothing here:
# docs/PERFORMANCE.md says how to measure.
#
# Usage: bench/smoke.sh [BUILD_FOLDER]   (default build; built with VELMAR_BENCH=ON)
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="${1:-$root/build}"
bin="$build/bin"
out="$(mktemp)"
trap 'rm -f "$out"' EXIT

# run NAME EXPECTED COMMAND...: the command must end with 0 within 300 s and
# print a line matching EXPECTED (its summary); 300 s leave room for
# startup_bench.sh to install its desktop on a fresh machine.
run() {
    local name="$1" expected="$2"
    shift 2
    echo "-- $name: ${*#"$root/"}"
    if ! timeout 300 "$@" >"$out" 2>&1; then
        cat "$out"
        echo "bench smoke: $name failed" >&2
        exit 1
    fi
    if ! grep -q -- "$expected" "$out"; then
        cat "$out"
        echo "bench smoke: $name printed no '$expected'" >&2
        exit 1
    fi
    grep -- "$expected" "$out" | tail -1
}

# Every family, with and without the department lookups.
run convert_bench "slowest family:" "$bin/convert_bench" 100
run convert_bench "slowest family:" "$bin/convert_bench" 100 --no-lookups
# One real job over a pseudo-terminal at the fastest line speed.
run link_bench "median:" "$bin/link_bench" --runs 1 --family 1 --baud 115200
run daemon_bench "median over 1 jobs" "$bin/daemon_bench" --idle-seconds 1 --jobs 1 --baud 115200
# velmar needs a desktop: startup_bench.sh installs one when it may (root).
if command -v Xvfb >/dev/null || [ "$(id -u)" -eq 0 ]; then
    run startup_bench.sh "resident memory" "$root/bench/startup_bench.sh" "$build" 1 1
else
    echo "-- startup_bench.sh skipped: no Xvfb, and installing it needs root"
fi
echo "bench smoke: every benchmark ran"
