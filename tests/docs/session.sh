# What the docs tests share, sourced with their arguments (BIN_FOLDER
# SOURCE_FOLDER): the programs checked for, a sandbox that goes at the end
# with every process started, and start_session, a portable velmard serving
# channel 1 on its own ecrsim (family 5 on a pseudo-terminal).

[ $# -eq 2 ] || { echo "usage: $0 BIN_FOLDER SOURCE_FOLDER" >&2; exit 2; }
bin=$(cd "$1" && pwd)
src=$(cd "$2" && pwd)
for f in "$src/docs/INTEGRATION.md" "$src/docs/examples/host-send.sh" "$bin/velmard" "$bin/ecrsim" \
    "$bin/velmar-convert" "$bin/libqarn_slm1.so"; do
    [ -e "$f" ] || { echo "FAIL: missing $f" >&2; exit 1; }
done
started=$(date +%s)
sandbox=$(mktemp -d "${TMPDIR:-/tmp}/velmar-$(basename "$0" .sh).XXXXXX")

own_pgid=$(stat=$(cat /proc/$$/stat); set -- ${stat##*) }; echo "$3")
pids=()   # processes to end: ecrsim, velmard, helpers
groups=() # process groups to end (each an sh block's session)
cleanup() {
    set +e
    for p in "${pids[@]}"; do kill -TERM "$p" 2>/dev/null; done
    for g in "${groups[@]}"; do [ "$g" != "$own_pgid" ] && kill -TERM -- "-$g" 2>/dev/null; done
    for p in "${pids[@]}"; do wait "$p" 2>/dev/null; done
    if [ ${#groups[@]} -gt 0 ]; then
        sleep 0.2
        for g in "${groups[@]}"; do [ "$g" != "$own_pgid" ] && kill -KILL -- "-$g" 2>/dev/null; done
    fi
    rm -rf "$sandbox"
}
trap cleanup EXIT
trap 'exit 1' INT TERM

wait_for() { # file tenths
    local i=0
    while [ ! -e "$1" ]; do
        i=$((i + 1))
        [ "$i" -le "$2" ] || return 1
        sleep 0.1
    done
}

# DIR/prog is the data folder (the receipts' files), DIR/journal.jsonl
# ecrsim's journal; velmard's pid goes to DIR/velmard.pid.
start_session() { # DIR
    local d=$1
    mkdir -p "$d/prog" "$d/config/Qarnwerk" "$d/run"
    chmod 700 "$d/run"
    cp "$bin/velmard" "$bin/libqarn_slm1.so" "$d/prog/"
    printf '1000\r\n' > "$d/prog/VMCHKCOM.TXT"
    printf '0.1\r\n' > "$d/prog/VMTIMER1.TXT" # a quick poll: every receipt waits on it
    printf '5\r\n30\r\n0\r\n0\r\n\r\n\r\n\r\n3500\r\n' > "$d/prog/VMCHKSCO.TXT"
    printf '[SerialPorts]\nCOM1=%s\nCOM2=%s/none\nCOM3=%s/none\nCOM4=%s/none\n' "$d/ecr" "$d" "$d" "$d" \
        > "$d/config/Qarnwerk/QARNVELMAR.conf"
    : > "$d/journal.jsonl"
    "$bin/ecrsim" --family 5 --pty "$d/ecr" --journal "$d/journal.jsonl" --quiet >/dev/null 2>"$d/ecrsim.log" &
    pids+=($!)
    wait_for "$d/ecr" 100 || { echo "FAIL: ecrsim did not start" >&2; sed 's/^/    | /' "$d/ecrsim.log" >&2; exit 1; }
    XDG_CONFIG_HOME=$d/config XDG_RUNTIME_DIR=$d/run "$d/prog/velmard" >/dev/null 2>"$d/velmard.log" &
    pids+=($!)
    echo $! > "$d/velmard.pid"
}
