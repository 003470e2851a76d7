#!/usr/bin/env bash
# Keeps docs/INTEGRATION.md true: runs every fenced block of the guide by its
# info string, as the guide's last section ("How this guide is checked")
# describes, and fails on a block it cannot check.
#
#   integration_doc_test.sh BIN_FOLDER SOURCE_FOLDER
#
#   sh                  run with sh -eu in the work folder, in guide order
#   output              the standard output of the sh block before it, exactly
#   xml excerpt=FILE    these lines stand together in the work folder's FILE
#   receipt family=5 [expect="TEXT"]
#                       printed end to end through velmard and ecrsim (one
#                       session for all receipts, next to the sh blocks)
#   sr_out              the layout every SR_OUT.001 of the receipts matches
set -eu

. "$(dirname "$0")/session.sh" "$@"
guide=$src/docs/INTEGRATION.md
work=$sandbox/work         # the sh blocks' folder
scratch=$sandbox/home      # their HOME and XDG folders
e2e=$sandbox/e2e           # the receipts' sessions: velmard and ecrsim, 1/ and 2/
queue=$sandbox/queue       # receipts handed to the runner, and its results
blocks=$sandbox/blocks
mkdir -p "$work" "$scratch/run" "$scratch/tmp" "$queue" "$blocks" \
    "$sandbox/examples"
chmod 700 "$scratch/run"
cp "$src/docs/examples/host-send.sh" "$sandbox/examples/"
chmod +x "$sandbox/examples/host-send.sh"

declare -A group_line
failures=0
fail() { # block-line what
    echo "FAIL: INTEGRATION.md line $1: $2" >&2
    failures=$((failures + 1))
}
show() { sed 's/^/    | /' "$1" | head -40 >&2; }
running() { # pid: alive and not a zombie
    local stat
    stat=$(cat "/proc/$1/stat" 2>/dev/null) || return 1
    set -- ${stat##*) }
    [ "$1" != Z ]
}

# --- The guide's blocks: N.info (info string and line), N.body --------------
awk -v dir="$blocks" '
    /^```/ {
        if (!inside) { n++; inside = 1; info = substr($0, 4);
                       printf "%s\n%d\n", info, NR > (dir "/" n ".info"); printf "" > (dir "/" n ".body"); next }
        if ($0 == "```") { inside = 0; close(dir "/" n ".body"); next }
    }
    inside { print > (dir "/" n ".body") }
    END { if (inside) { print "unclosed block at the end" > "/dev/stderr"; exit 1 } }
' "$guide" || { echo "FAIL: the guide's fences do not pair" >&2; exit 1; }
count=$(find "$blocks" -name '*.info' | wc -l)
[ "$count" -gt 0 ] || { echo "FAIL: no fenced block in the guide" >&2; exit 1; }

# --- The receipts' sessions: each a portable velmard on channel 1, family 5,
# with its own ecrsim. The receipts alternate between the two, so two print
# at a time (a receipt takes seconds of the driver's own pauses).
sessions=2
for s in $(seq 1 $sessions); do start_session "$e2e/$s"; done

# One receipt, as a host: SR_DATI (CR LF, renamed into place), SR_START, the
# answer, the journal. Writes N.result: "ok MILLISECONDS" or what went wrong.
print_receipt() { # N expect
    local k=$1 expect=$2 before t0 t1 docs refused new got
    before=$(wc -l < "$journal")
    t0=$(date +%s%N)
    LC_ALL=C awk '{ printf "%s\r\n", $0 }' "$queue/$k.receipt" > "$data/.dati"
    mv "$data/.dati" "$data/SR_DATI.001"
    : > "$data/SR_START.001"
    local i=0
    while [ ! -e "$data/FINESCO.001" ] && [ ! -e "$data/SR_ERR.001" ]; do
        i=$((i + 1))
        if [ "$i" -gt 600 ]; then
            echo "no answer (FINESCO.001 or SR_ERR.001) within 60 s" > "$queue/$k.result"
            return
        fi
        if ! running "$velmard_pid"; then
            echo "velmard is not running (it ended during this receipt or before)" > "$queue/$k.result"
            return
        fi
        sleep 0.1
    done
    t1=$(date +%s%N)
    sleep 0.5 # a document's journal line is written when the register settles it
    new=$(tail -n +"$((before + 1))" "$journal")
    docs=$(printf '%s' "$new" | grep -c '"kind":"\(receipt\|nonfiscal\|cash-in\|cash-out\|void\)"' || true)
    refused=$(printf '%s' "$new" | grep -c '"kind":"refused"' || true)
    if [ -e "$data/FINESCO.001" ]; then
        [ -e "$data/SR_OUT.001" ] && cp "$data/SR_OUT.001" "$queue/$k.sr_out"
        got="printed (FINESCO.001); in the journal $docs documents, $refused refused commands"
    else
        got="SR_ERR.001 \"$(sed 's/\r$//' "$data/SR_ERR.001")\"; in the journal $docs documents"
        rm -f "$data/SR_DATI.001"
    fi
    rm -f "$data/FINESCO.001" "$data/SR_ERR.001" "$data/SR_OUT.001"
    local want="printed (FINESCO.001); in the journal 1 documents, 0 refused commands"
    [ -z "$expect" ] || want="SR_ERR.001 \"$expect\"; in the journal 0 documents"
    if [ "$got" = "$want" ]; then
        echo "ok $(((t1 - t0) / 1000000))"
    else
        printf '%s, expected %s; the new journal lines:\n%s\n' "$got" "$want" "$new"
    fi > "$queue/$k.result"
}

# A runner per session prints its share of the queued receipts (the Nth
# goes to session N, N + 2, ...) one after the other while the sh blocks go on.
runners=()
for s in $(seq 1 $sessions); do
    (
        trap - EXIT
        data=$e2e/$s/prog
        journal=$e2e/$s/journal.jsonl
        velmard_pid=$(cat "$e2e/$s/velmard.pid")
        if ! wait_for "$data/SR_MATR.001" 300; then
            echo "velmard $s did not identify ecrsim on channel 1 within 30 s" > "$queue/broken"
            exit 0
        fi
        k=$s
        while :; do
            while [ ! -e "$queue/$k.ready" ] && [ ! -e "$queue/end" ]; do sleep 0.1; done
            [ -e "$queue/$k.ready" ] || exit 0
            IFS= read -r expect < "$queue/$k.expect" || expect=
            print_receipt "$k" "$expect"
            k=$((k + sessions))
        done
    ) &
    pids+=($!)
    runners+=($!)
done

# --- The blocks, in the guide's order --------------------------------------
last_out=        # the standard output of the last block, when an sh block
last_line=
receipts=0
sr_out_line=
sr_out_pattern=
for n in $(seq 1 "$count"); do
    info=$(sed -n 1p "$blocks/$n.info")
    line=$(sed -n 2p "$blocks/$n.info")
    body=$blocks/$n.body
    previous=$last_out # an output block checks the sh block right before it
    last_out=
    case $info in
    sh)
        t0=$(date +%s%N)
        out=$blocks/$n.out
        err=$blocks/$n.err
        (cd "$work" && exec setsid env -i PATH="$bin:$sandbox/examples:/usr/local/bin:/usr/bin:/bin" \
            HOME="$scratch" LC_ALL=C TMPDIR="$scratch/tmp" XDG_CONFIG_HOME="$scratch/.config" \
            XDG_DATA_HOME="$scratch/.local/share" XDG_RUNTIME_DIR="$scratch/run" \
            sh -eu "$body" >"$out" 2>"$err" </dev/null) &
        p=$!
        groups+=("$p")
        group_line[$p]=$line
        i=0
        while kill -0 "$p" 2>/dev/null && [ "$i" -lt 600 ]; do sleep 0.1; i=$((i + 1)); done
        if kill -0 "$p" 2>/dev/null; then
            kill -TERM -- "-$p" 2>/dev/null || true
            fail "$line" "sh block still running after 60 s (stopped)"
            show "$err"
        fi
        status=0
        wait "$p" || status=$?
        if [ "$status" -ne 0 ]; then
            fail "$line" "sh block failed with exit status $status; its standard error:"
            show "$err"
        fi
        echo "sh block at line $line: $(((($(date +%s%N) - t0) / 1000000))) ms"
        last_out=$out
        last_line=$line
        ;;
    output)
        if [ -z "$previous" ]; then
            fail "$line" "output block without an sh block right before it"
        elif ! sed 's/\r$//' "$previous" | diff -u "$body" - > "$blocks/$n.diff"; then
            fail "$line" "the sh block at line $last_line printed something else (- guide, + program):"
            show "$blocks/$n.diff"
        fi
        ;;
    "xml excerpt="*)
        file=${info#xml excerpt=}
        if [ ! -f "$work/$file" ]; then
            fail "$line" "no $file in the work folder"
        else
            whole=$(cat "$work/$file")
            part=$(cat "$body")
            [[ $'\n'"$whole"$'\n' == *$'\n'"$part"$'\n'* ]] || fail "$line" "these lines are not in $file"
        fi
        ;;
    receipt\ family=*)
        if ! [[ $info =~ ^receipt\ family=([^ ]*)( expect=\"(.*)\")?$ ]]; then
            fail "$line" "unknown receipt attribute: ${info#receipt family=* }"
            continue
        fi
        family=${BASH_REMATCH[1]}
        expect=${BASH_REMATCH[3]}
        if [ "$family" != 5 ]; then
            fail "$line" "only family=5 receipts are printed end to end, not family=$family"
            continue
        fi
        receipts=$((receipts + 1))
        # The tables the sh blocks made so far, for the first gift or voucher.
        for t in Tb-Reparti.xml Tb-Iva.xml; do
            for s in $(seq 1 $sessions); do
                [ -e "$work/$t" ] && [ ! -e "$e2e/$s/prog/$t" ] && cp "$work/$t" "$e2e/$s/prog/$t"
            done
        done
        cp "$body" "$queue/$receipts.receipt"
        printf '%s\n' "$expect" > "$queue/$receipts.expect"
        echo "$line" > "$queue/$receipts.line"
        : > "$queue/$receipts.ready"
        ;;
    sr_out)
        sr_out_line=$line
        sr_out_pattern=$body
        ;;
    *)
        fail "$line" "unknown info string \"$info\": every block must be checked (see \"How this guide is checked\")"
        ;;
    esac
done

# Whatever the blocks left running (a process still ending gets 3 s). One
# read of /proc per look: a look per block took seconds.
alive() { # the living (not zombie) processes of the groups given, as "group pid"
    cat /proc/[0-9]*/stat 2>/dev/null | awk -v groups=" $* " '{
        pid = $1; sub(/^.*\) /, "")
        if ($1 != "Z" && index(groups, " " $3 " ")) print $3, pid }'
}
i=0
while [ -n "$(alive "${groups[@]}")" ] && [ "$i" -lt 30 ]; do sleep 0.1; i=$((i + 1)); done
left=$(alive "${groups[@]}")
for g in "${groups[@]}"; do
    stray=$(printf '%s\n' "$left" | awk -v g="$g" '$1 == g { print $2 }')
    if [ -n "$stray" ]; then
        fail "${group_line[$g]}" "the sh block left processes running: $(for p in $stray; do
            echo "$p $(tr '\0' ' ' < "/proc/$p/cmdline" 2>/dev/null)"; done | tr '\n' ';')"
        kill -TERM -- "-$g" 2>/dev/null || true
    fi
done

# --- The receipts' results --------------------------------------------------
: > "$queue/end"
i=0
for runner in "${runners[@]}"; do
    while kill -0 "$runner" 2>/dev/null && [ "$i" -lt $((650 * (receipts + 1))) ]; do sleep 0.1; i=$((i + 1)); done
done
if [ -e "$queue/broken" ]; then
    fail "?" "$(cat "$queue/broken")"
    for s in $(seq 1 $sessions); do show "$e2e/$s/velmard.log"; done
fi
[ "$receipts" -gt 0 ] || fail "?" "no receipt block in the guide"
for k in $(seq 1 "$receipts"); do
    line=$(cat "$queue/$k.line")
    if [ ! -e "$queue/$k.result" ]; then
        [ -e "$queue/broken" ] || fail "$line" "the receipt was not printed (the runner stopped)"
        continue
    fi
    result=$(cat "$queue/$k.result")
    case $result in
    "ok "*) echo "receipt at line $line: ${result#ok } ms from SR_START to the answer" ;;
    *) fail "$line" "receipt: $result" ;;
    esac
done

# The layout of SR_OUT against every non-empty SR_OUT.001 the receipts got.
if [ -n "$sr_out_pattern" ]; then
    regex=$(sed -e 's/[].[^$*\\/]/\\&/g' -e 's/NNNN/[0-9]{4}/g' -e 's/HH\|MM\|DD\|YY/[0-9]{2}/g' \
        -e 's/^/^/' -e 's/$/$/' "$sr_out_pattern")
    matched=0
    for f in "$queue"/*.sr_out; do
        [ -s "$f" ] || continue
        got=$(sed 's/\r$//' "$f")
        if [ "$(printf '%s\n' "$got" | wc -l)" -ne "$(printf '%s\n' "$regex" | wc -l)" ] ||
            ! paste -d '\n' <(printf '%s\n' "$regex") <(printf '%s\n' "$got") |
            while IFS= read -r re && IFS= read -r text; do [[ $text =~ $re ]] || exit 1; done; then
            fail "$sr_out_line" "an SR_OUT.001 does not match the layout:"
            show "$f"
        fi
        matched=$((matched + 1))
    done
    [ "$matched" -gt 0 ] || fail "$sr_out_line" "no receipt left an SR_OUT.001 to compare the layout with"
fi

echo "$count blocks ($receipts receipts end to end), $failures failures, $(($(date +%s) - started)) s"
if [ "$failures" -ne 0 ]; then
    for s in $(seq 1 $sessions); do
        echo "velmard's log of the receipts, session $s:" >&2
        tail -n 30 "$e2e/$s/velmard.log" | sed 's/^/    | /' >&2
    done
    echo "0 passed, $failures failed"
    exit 1
fi
echo "$count passed, 0 failed"
