#!/usr/bin/env bash
# Quick start (1): installs what is missing, builds, and prints a receipt end
# to end on the built-in register simulator, as a shop's host program would:
#
#   - ecrsim plays a family-5 register on a pseudo-terminal;
#   - velmard runs from a portable copy of the program (settings files beside
#     it) whose data directory is a temporary folder;
#   - the script drops SR_DATI.001 and SR_START.001 like a host, waits for the
#     answer, and shows the host's result files and what the register printed.
#
# It ends by itself and leaves nothing running.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
"$root/scripts/install-deps.sh"
echo "== building (build/)"
"$root/scripts/build.sh" build >/dev/null
bin="$root/build/bin"

work="$(mktemp -d)"
pids=()
cleanup() {
    for pid in "${pids[@]}"; do kill -TERM "$pid" 2>/dev/null || true; done
    for pid in "${pids[@]}"; do wait "$pid" 2>/dev/null || true; done
    rm -rf "$work"
}
trap cleanup EXIT

# A portable copy: the program, its conversion library and its settings files.
prog="$work/velmar"
mkdir -p "$prog" "$work/config/Qarnwerk" "$work/run"
chmod 700 "$work/run"
cp "$bin/velmard" "$bin/libqarn_slm1.so" "$prog/"
printf '1000\r\n' > "$prog/VMCHKCOM.TXT"      # channel 1 only
printf '1\r\n' > "$prog/VMTIMER1.TXT"         # poll every second
printf ' 5 \r\n30\r\n0\r\n0\r\n\r\n\r\n\r\n3500\r\n' > "$prog/VMCHKSCO.TXT" # family 5, serial
# The setting store: COM1 is the simulator's pseudo-terminal.
printf '[SerialPorts]\nCOM1=%s\n' "$work/ecr" > "$work/config/Qarnwerk/QARNVELMAR.conf"
export XDG_CONFIG_HOME="$work/config" XDG_RUNTIME_DIR="$work/run"

wait_for() { # file seconds
    for _ in $(seq 1 $((10 * $2))); do [ -e "$1" ] && return 0; sleep 0.1; done
    return 1
}

echo "== starting the register simulator: ecrsim --family 5 --pty $work/ecr"
"$bin/ecrsim" --family 5 --pty "$work/ecr" --journal "$work/journal.jsonl" --quiet 2>"$work/ecrsim.log" &
pids+=($!)
wait_for "$work/ecr" 10 || { echo "ecrsim did not start"; cat "$work/ecrsim.log"; exit 1; }

echo "== starting velmard from $prog"
"$prog/velmard" 2>"$work/velmard.log" &
pids+=($!)
echo "   waiting for the register to be identified (SR_MATR.001)"
wait_for "$prog/SR_MATR.001" 30 || { echo "no SR_MATR.001"; cat "$work/velmard.log"; exit 1; }

echo "== the host drops its receipt: SR_DATI.001, then SR_START.001"
printf 'PLUD,:Pane casereccio,P150,Q2,N1;\r\nPLUD,:Mozzarella,P2.35,Q0.5,N2;\r\nDISC,%%10;\r\nPRNT,:Grazie e arrivederci;\r\nCHEQ,V300;\r\nCASH;\r\n' > "$prog/SR_DATI.001"
printf '00000000\r\n' > "$prog/SR_START.001"
tr -d '\r' < "$prog/SR_DATI.001" | sed 's/^/   /'
echo "   waiting for the answer (FINESCO.001 or SR_ERR.001)"
for _ in $(seq 1 600); do
    [ -e "$prog/FINESCO.001" ] || [ -e "$prog/SR_ERR.001" ] && break
    sleep 0.1
done

echo
echo "== the host's files in the data directory"
(cd "$prog" && ls -1 SR_* FINESCO.* 2>/dev/null | sed 's/^/   /')
for f in SR_MATR.001 SR_OUT.001 SR_ERR.001; do
    [ -e "$prog/$f" ] && { echo "-- $f"; tr -d '\r' < "$prog/$f" | sed 's/^/   /'; }
done
[ -e "$prog/FINESCO.001" ] && { echo "-- FINESCO.001"; printf '   %s\n' "$(cat "$prog/FINESCO.001")"; }
echo
echo "== the commands sent to the register (XON.txt)"
tr -d '\r' < "$prog/XON.txt" | sed 's/^/   /'
echo
echo "== what the register printed (ecrsim's journal)"
if command -v python3 >/dev/null; then
    python3 -m json.tool --json-lines "$work/journal.jsonl" | sed 's/^/   /'
else
    sed 's/^/   /' "$work/journal.jsonl"
fi
echo
echo "== velmard's log"
sed 's/^/   /' "$work/velmard.log"
[ -e "$prog/FINESCO.001" ]
