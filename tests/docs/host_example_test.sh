#!/usr/bin/env bash
# Runs the host example docs/examples/host-send.sh against a real velmard and
# ecrsim (family 5 on a pseudo-terminal, channel 1), as a shop's host would
# use it: one table of cases, played in order in one session.
#
#   host_example_test.sh BIN_FOLDER SOURCE_FOLDER
set -eu

. "$(dirname "$0")/session.sh" "$@"
send=$src/docs/examples/host-send.sh
work=$sandbox
start_session "$work/session"
data=$work/session/prog
journal=$work/session/journal.jsonl
wait_for "$data/SR_MATR.001" 300 ||
    { echo "FAIL: velmard did not identify ecrsim" >&2; cat "$work/session/velmard.log" >&2; exit 1; }

printf 'FUNC,N25;\nPLUD,:Pane casereccio,P150,Q2,N1;\nCASH,V500;\n' > "$work/sale.txt"
printf 'FUNC,N25;\nSCON,%%10;\nCASH;\n' > "$work/unknown.txt"
# The last rows run in a folder no velmard serves, where a stand-in for
# Velmar answers: the answers a host must not take for "not printed".
printf "E510: Esito sconosciuto: controllare sull'Ecr se lo scontrino e' stato stampato\r\n" > "$work/e510.txt"
answer_with() { # channel, then what to do once its SR_START is there
    (while [ ! -e "SR_START.00$1" ]; do sleep 0.1; done; eval "$2") &
}

# name | setup (bash, in the data folder) | channel | receipt | time-out |
# exit status | a whole line expected on stdout or stderr ("out:" / "err:") |
# files that must be there | files that must not | documents in the journal |
# the folder, when not the data directory velmard serves
cases=(
    "usage error|:|5|sale.txt||2|err:usage: host-send.sh DATA_DIR CHANNEL RECEIPT_FILE [TIMEOUT_SECONDS]||SR_DATI.001 SR_START.001|0"
    "channel not identified|:|2|sale.txt||2|err:host-send.sh: channel 2 is not identified yet (no SR_MATR.002): is Velmar running?||SR_DATI.002 SR_START.002|0"
    "printed|:|1|sale.txt||0|out:printed|SR_MATR.001|SR_DATI.001 SR_START.001 FINESCO.001 SR_OUT.001 SR_ERR.001|1"
    "refused by the driver|:|1|unknown.txt||1|err:host-send.sh: not printed: ERRORE DI CONVERSIONE |SR_DATI.001|SR_START.001 FINESCO.001 SR_OUT.001 SR_ERR.001|1"
    "receipt of a failed job kept|:|1|sale.txt||2|err:host-send.sh: SR_DATI.001 of a job that did not print is still there; check the register, then delete it to send again|SR_DATI.001|SR_START.001|1"
    "answer not collected|rm SR_DATI.001; printf finesco > FINESCO.001|1|sale.txt||2|err:host-send.sh: FINESCO.001 of an earlier job is still there; collect it first|FINESCO.001|SR_DATI.001 SR_START.001|1"
    "channel not in service|rm FINESCO.001; cp SR_MATR.001 SR_MATR.002|2|sale.txt|10|1|err:host-send.sh: not printed: E512: Trasmissione non avvenuta: canale non in servizio|SR_DATI.002|SR_START.002 FINESCO.002 SR_ERR.002|1"
    "no answer in time|rm VMJOB.001; mkdir VMJOB.001|1|sale.txt|2|2|err:host-send.sh: no answer on channel 1 within 2 s; the job stays pending (SR_START.001 is left)|SR_DATI.001 SR_START.001|FINESCO.001 SR_ERR.001|1"
    "outcome not known|cp \$data/SR_MATR.001 .; answer_with 1 'cp \$work/e510.txt SR_ERR.001; rm SR_START.001'|1|sale.txt|10|3|err:host-send.sh: not known: E510: Esito sconosciuto: controllare sull'Ecr se lo scontrino e' stato stampato|SR_DATI.001|SR_START.001 SR_ERR.001|1|standin"
    "start file gone without an answer|rm SR_DATI.001; answer_with 1 'rm SR_START.001'|1|sale.txt|10|3|err:host-send.sh: not known: SR_START.001 vanished without an answer; check the register before sending SR_DATI.001 again|SR_DATI.001|SR_START.001|1|standin"
)

failures=0
passed=0
for row in "${cases[@]}"; do
    IFS='|' read -r name setup channel receipt timeout want_status want_line present absent docs folder <<< "$row"
    dir=$data
    [ -n "$folder" ] && dir=$work/$folder && mkdir -p "$dir"
    problems=()
    (cd "$dir" && eval "$setup") || problems+=("its setup failed: $setup")
    status=0
    args=("$dir" "$channel" "$work/$receipt")
    [ -n "$timeout" ] && args+=("$timeout")
    sh "$send" "${args[@]}" > "$work/out" 2> "$work/err" || status=$?
    [ "$status" = "$want_status" ] || problems+=("exit status $status, expected $want_status")
    stream=${want_line%%:*}
    line=${want_line#*:}
    grep -qxF -- "$line" "$work/$stream" || problems+=("no line \"$line\" on std$stream")
    for f in $present; do [ -e "$dir/$f" ] || problems+=("$f missing"); done
    for f in $absent; do [ ! -e "$dir/$f" ] || problems+=("$f left in the data directory"); done
    got=$(grep -c '"kind":"\(receipt\|nonfiscal\|void\)"' "$journal" || true)
    [ "$got" = "$docs" ] || problems+=("$got documents in ecrsim's journal, expected $docs")
    case $name in
    printed)
        grep -qE '^DATE,[0-9]{2}/[0-9]{2}/[0-9]{2}  SCONTR\. N\.0001 ,E,A1;$' "$work/out" ||
            problems+=("SR_OUT's DATE line of receipt 1 not shown") ;;
    "refused by the driver")
        # The receipt as the host example wrote it: CR LF line ends.
        cmp -s "$data/SR_DATI.001" <(sed 's/$/\r/' "$work/unknown.txt") ||
            problems+=("SR_DATI.001 is not the receipt with CR LF line ends") ;;
    esac
    if [ ${#problems[@]} -eq 0 ]; then
        echo "ok: $name"
        passed=$((passed + 1))
    else
        failures=$((failures + 1))
        echo "FAIL: $name: $(IFS=';'; echo "${problems[*]}")" >&2
        sed 's/^/    stdout | /' "$work/out" >&2
        sed 's/^/    stderr | /' "$work/err" >&2
    fi
done

echo "host example: $(($(date +%s) - started)) s"
if [ "$failures" -ne 0 ]; then
    tail -n 20 "$work/session/velmard.log" | sed 's/^/    velmard | /' >&2
fi
echo "$passed passed, $failures failed"
[ "$failures" -eq 0 ]
