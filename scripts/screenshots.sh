#!/usr/bin/env bash
# Takes the documentation's screenshots from the real velmar under Xvfb, with
# a small window manager (icewm, whose task bar has a notification area) and
# ecrsim as the register:
#
#   docs/screenshots/main-serial.png    channel 1 in service on a serial register
#   docs/screenshots/main-network.png   configuration mode, network register
#   docs/screenshots/notice.png         the tray's notice of a job that ended in error
#   docs/screenshots/editor.png         "Configurazione Reparti IVA"
#   docs/screenshots/editor-question.png  closing the editor with changes not saved
#   docs/screenshots/about.png          "Informazioni su Velmar"
#   docs/screenshots/splash.png         the splash during start-up
#
# Usage: scripts/screenshots.sh [OUTPUT_FOLDER]
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
out="${1:-$root/docs/screenshots}"
mkdir -p "$out"
"$root/scripts/install-deps.sh"
# shellcheck source=lib/xsession.sh
source "$root/scripts/lib/xsession.sh"
xsession_install
"$root/scripts/build.sh" build >/dev/null
bin="$root/build/bin"

work="$(mktemp -d)"
pids=()
stop_all() {
    for pid in "${pids[@]}"; do kill -CONT "$pid" 2>/dev/null || true; kill -TERM "$pid" 2>/dev/null || true; done
    for pid in "${pids[@]}"; do wait "$pid" 2>/dev/null || true; done
    pids=()
}
cleanup() {
    stop_all
    xsession_stop
    rm -rf "$work"
}
trap cleanup EXIT

xsession_start "$work"

wait_for() { # file seconds
    for _ in $(seq 1 $((10 * $2))); do [ -e "$1" ] && return 0; sleep 0.1; done
    return 1
}

# The rectangle of a window with its frame: "X Y WIDTH HEIGHT".
frame_of() {
    local id="$1" X=0 Y=0 WIDTH=0 HEIGHT=0 left=0 right=0 top=0 bottom=0 extents
    eval "$(xdotool getwindowgeometry --shell "$id" 2>/dev/null)"
    extents="$(xprop -id "$id" _NET_FRAME_EXTENTS 2>/dev/null | sed -n 's/.*= //p' | tr -d ' ')"
    [ -n "$extents" ] && IFS=, read -r left right top bottom <<< "$extents"
    echo "$((X - left)) $((Y - top)) $((WIDTH + left + right)) $((HEIGHT + top + bottom))"
}

# Saves the active window as $1, once painted.
shoot_active() {
    local file="$1" id
    sleep 0.5
    id="$(xdotool getactivewindow)"
    for _ in $(seq 1 30); do
        sleep 0.3
        # shellcheck disable=SC2046
        "$bin/grabscreen" $(frame_of "$id") "$out/$file" 2>/dev/null && { echo "   $file"; return 0; }
    done
    echo "screenshots: could not take $file" >&2
    return 1
}

# Saves the window named $1 (a regular expression) as $2, once painted.
shoot() {
    local name="$1" file="$2" id
    id="$(xdotool search --sync --onlyvisible --name "$name" | head -n 1)"
    for _ in $(seq 1 30); do
        sleep 0.3
        # shellcheck disable=SC2046
        "$bin/grabscreen" $(frame_of "$id") "$out/$file" 2>/dev/null && { echo "   $file"; return 0; }
    done
    echo "screenshots: could not take $file" >&2
    return 1
}

# A portable copy of the program with the settings given, the simulator on
# COM1 (a pseudo-terminal) and, with a port, on TCP too.
start_velmar() { # ticks family network(0/1) [tcp port]
    local ticks="$1" family="$2" network="$3" port="${4:-}"
    prog="$work/velmar-$ticks-$network"
    rm -rf "$prog" "$work/config" "$work/run" "$work/ecr"
    mkdir -p "$prog" "$work/config/Qarnwerk" "$work/run"
    chmod 700 "$work/run"
    cp "$bin/velmar" "$bin/libqarn_slm1.so" "$bin/manvelmar.pdf" "$prog/"
    printf '%s\r\n' "$ticks" > "$prog/VMCHKCOM.TXT"
    printf '2\r\n' > "$prog/VMTIMER1.TXT"
    if [ "$network" = 1 ]; then
        printf ' %s \r\n30\r\n0\r\n1\r\n127.0.0.1\r\n%s\r\n\r\n3500\r\n' "$family" "$port" > "$prog/VMCHKSCO.TXT"
    else
        printf ' %s \r\n30\r\n1\r\n0\r\n\r\n\r\n\r\n3500\r\n' "$family" > "$prog/VMCHKSCO.TXT"
    fi
    printf '[SerialPorts]\nCOM1=%s\n' "$work/ecr" > "$work/config/Qarnwerk/QARNVELMAR.conf"
    export XDG_CONFIG_HOME="$work/config" XDG_RUNTIME_DIR="$work/run"
    "$bin/ecrsim" --family "$family" --pty "$work/ecr" --quiet 2>/dev/null &
    pids+=($!)
    if [ -n "$port" ]; then
        "$bin/ecrsim" --family "$family" --tcp "$port" --quiet 2>/dev/null &
        pids+=($!)
    fi
    wait_for "$work/ecr" 10
    "$prog/velmar" 2>>"$work/velmar.log" &
    velmar_pid=$!
    pids+=($velmar_pid)
}

echo "== screenshots in $out"

start_velmar 1000 5 0

# Serial, in service: channel 1 identified, then one receipt printed.
wait_for "$prog/SR_MATR.001" 30
printf 'PLUD,:Pane casereccio,P150,Q2,N1;\r\nDISC,%%10;\r\nCASH;\r\n' > "$prog/SR_DATI.001"
printf '00000000\r\n' > "$prog/SR_START.001"
wait_for "$prog/FINESCO.001" 30
sleep 0.5
shoot '^Velmar$' main-serial.png

# A receipt the converter refuses: the job ends in error, the tray tells.
rm -f "$prog/SR_OUT.001" "$prog/FINESCO.001"
printf 'PLUD,:Omaggio,S3,P500,N5;\r\n' > "$prog/SR_DATI.001"
printf '00000000\r\n' > "$prog/SR_START.001"
wait_for "$prog/SR_ERR.001" 30
sleep 1.5
# The corner of the screen with the notice and the tray icon.
"$bin/grabscreen" 760 700 520 160 "$out/notice.png" && echo "   notice.png"
stop_all

# Network, in configuration mode: the settings open for changes.
start_velmar 0000 3 1 6660  # start-up always takes port 6660
sleep 2
shoot '^Velmar$' main-network.png

# The table editor, with a department chosen, and the about window.
id="$(xdotool search --sync --onlyvisible --name '^Velmar$' | head -n 1)"
xdotool windowactivate --sync "$id"
xdotool key alt+c
editor="$(xdotool search --sync --onlyvisible --name 'Reparti' | head -n 1)"
sleep 0.5
xdotool windowactivate --sync "$editor"
xdotool key Tab Down Down Down Down
sleep 0.3
# Department 5 takes the third rate for gifts: Salva Reparto tells what it stored.
xdotool key Tab Down Down Tab Tab Tab space Tab space
sleep 0.5
shoot 'Reparti' editor.png
# Esc with that change not saved: the editor asks.
xdotool key Escape
shoot_active editor-question.png
xdotool key alt+n  # "No": the editor closes without saving
sleep 0.5
xdotool windowactivate --sync "$id"
xdotool key alt+question
sleep 0.3
xdotool key i
shoot '^Informazioni su Velmar$' about.png
stop_all

# The splash: caught while the start-up runs, the program paused meanwhile.
# It shows for a fraction of a second, so a few tries may be needed.
for try in 1 2 3 4 5; do
    start_velmar 0000 5 0
    id=""
    for _ in $(seq 1 1000); do
        for candidate in $(xdotool search --onlyvisible --name '^Velmar$' 2>/dev/null || true); do
            height="$(xdotool getwindowgeometry --shell "$candidate" 2>/dev/null | sed -n 's/HEIGHT=//p')"
            [ -n "$height" ] && [ "$height" -lt 300 ] && id="$candidate" && break 2
        done
        sleep 0.005
    done
    taken=0
    if [ -n "$id" ]; then
        # Let it run in small steps until the splash is painted, and take it
        # before the main window comes up.
        for _ in $(seq 1 40); do
            kill -STOP "$velmar_pid"
            # shellcheck disable=SC2046
            "$bin/grabscreen" $(frame_of "$id") "$out/splash.png" 2>/dev/null && taken=1 && break
            kill -CONT "$velmar_pid"
            sleep 0.002
        done
        kill -CONT "$velmar_pid"
    fi
    stop_all
    [ "$taken" = 1 ] && { echo "   splash.png"; break; }
    [ "$try" = 5 ] && echo "screenshots: the splash went by unseen" >&2
done
echo "== done"
