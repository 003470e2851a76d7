#!/usr/bin/env bash
# velmar's start-up and footprint on a desktop with a notification area
# (Xvfb and icewm): RUNS starts of a portable copy (channel 1 in service on an
# ecrsim register, so the start-up identifies it), each timed from the launch
# to the log line that says the tray icon is up; then the resident memory of
# the last one after IDLE seconds of polling.
#
# Usage: bench/startup_bench.sh [BUILD_FOLDER] [RUNS] [IDLE]
#   defaults: build 10 10
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="${1:-$root/build}"
runs="${2:-10}"
idle="${3:-10}"
bin="$build/bin"
# shellcheck source=../scripts/lib/xsession.sh
source "$root/scripts/lib/xsession.sh"
xsession_install
cmake --build "$build" --target velmar ecrsim qarn_slm1 >/dev/null

work="$(mktemp -d)"
pids=()
cleanup() {
    for pid in "${pids[@]}"; do kill -TERM "$pid" 2>/dev/null || true; done
    for pid in "${pids[@]}"; do wait "$pid" 2>/dev/null || true; done
    xsession_stop
    rm -rf "$work"
}
trap cleanup EXIT
xsession_start "$work"

prog="$work/velmar"
mkdir -p "$prog" "$work/config/Qarnwerk" "$work/run"
chmod 700 "$work/run"
cp "$bin/velmar" "$bin/libqarn_slm1.so" "$prog/"
printf '1000\r\n' > "$prog/VMCHKCOM.TXT"
printf '1\r\n' > "$prog/VMTIMER1.TXT"
printf ' 5 \r\n30\r\n0\r\n0\r\n\r\n\r\n\r\n3500\r\n' > "$prog/VMCHKSCO.TXT"
printf '[SerialPorts]\nCOM1=%s\n' "$work/ecr" > "$work/config/Qarnwerk/QARNVELMAR.conf"
export XDG_CONFIG_HOME="$work/config" XDG_RUNTIME_DIR="$work/run"
"$bin/ecrsim" --family 5 --pty "$work/ecr" --quiet 2>/dev/null &
pids+=($!)
for _ in $(seq 1 100); do [ -e "$work/ecr" ] && break; sleep 0.1; done

now_ms() { echo $(($(date +%s%N) / 1000000)); }
times=()
inside=()
engine=()
for run in $(seq 1 "$runs"); do
    rm -f "$prog/VELMAR.LOG" "$prog/SR_MATR.001"   # identify the register every time
    start=$(now_ms)
    "$prog/velmar" 2>/dev/null &
    pid=$!
    until grep -q "ready in" "$prog/VELMAR.LOG" 2>/dev/null; do sleep 0.002; done
    times+=($(($(now_ms) - start)))
    inside+=("$(sed -n 's/.*ready in \([0-9]*\) ms.*/\1/p' "$prog/VELMAR.LOG")")
    engine+=("$(sed -n 's/.*engine start-up \([0-9]*\) ms.*/\1/p' "$prog/VELMAR.LOG")")
    if [ "$run" -lt "$runs" ]; then
        kill -TERM "$pid"
        wait "$pid" 2>/dev/null || true
    fi
done
pids+=("$pid")
sleep "$idle"
rss_kb="$(sed -n 's/^VmRSS:[[:space:]]*\([0-9]*\) kB/\1/p' "/proc/$pid/status")"

sorted() { printf '%s\n' "$@" | sort -n | tr '\n' ' '; }
median() { printf '%s\n' "$@" | sort -n | sed -n "$((($# + 1) / 2))p"; }
echo "velmar start-up, launch to tray icon, $runs runs (ms): $(sorted "${times[@]}")"
echo "  median $(median "${times[@]}") ms; inside velmar from main(): median $(median "${inside[@]}") ms, of which the engine's start-up: median $(median "${engine[@]}") ms"
echo "velmar resident memory after ${idle} s idle: $((rss_kb / 1024)) MB ($rss_kb kB)"
