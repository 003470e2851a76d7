#!/bin/sh
# host-send.sh - a minimal host for Velmar: prints one receipt on one channel.
#
#   host-send.sh DATA_DIR CHANNEL RECEIPT_FILE [TIMEOUT_SECONDS]
#
# DATA_DIR      Velmar's data directory (see docs/INTEGRATION.md, "Where the
#               data directory is"), where the channel files live.
# CHANNEL       1 to 4: the suffix .00n of the channel files.
# RECEIPT_FILE  the receipt, one command a line (PLUD,:BREAD,P150,N1; ...),
#               with LF or CR LF line ends; it is sent with CR LF.
# TIMEOUT_SECONDS  how long to wait for Velmar's answer (default 60).
#
# Exit status:
#   0  printed: Velmar answered FINESCO.00n (SR_OUT.00n, when there is one,
#      is shown on standard output)
#   1  not printed: Velmar answered SR_ERR.00n with an error that leaves
#      nothing open on the register; its text is on standard error and
#      SR_DATI.00n is left in the data directory for you to send again
#   2  nothing sent (usage error, channel not identified, files of an earlier
#      job still there), or no answer: the time-out ran out (the job's files
#      are left alone)
#   3  not known: the receipt may have printed (Velmar answered E510, or its
#      start file went without an answer). Look at the register before
#      sending it again: a resend may print it twice
#
# It does what every host must do, in this order:
#   1. send only to a channel Velmar has identified (SR_MATR.00n present)
#      and whose previous job is over and collected;
#   2. write SR_DATI.00n completely (under another name, then rename it),
#      and only then SR_START.00n, which tells Velmar the job is ready;
#   3. wait for FINESCO.00n (printed) or SR_ERR.00n (not printed);
#   4. read SR_OUT.00n / SR_ERR.00n, then delete the answer files.
# It never deletes SR_START.00n or SR_DATI.00n of a job Velmar may be
# printing, and it never sends a receipt again by itself.
set -eu

usage() {
    echo "usage: host-send.sh DATA_DIR CHANNEL RECEIPT_FILE [TIMEOUT_SECONDS]" >&2
    exit 2
}
[ $# -ge 3 ] && [ $# -le 4 ] || usage
dir=$1
channel=$2
receipt=$3
timeout=${4:-60}
case $channel in 1 | 2 | 3 | 4) ;; *) usage ;; esac
case $timeout in '' | *[!0-9]*) usage ;; esac
[ -d "$dir" ] || { echo "host-send.sh: no data directory $dir" >&2; exit 2; }
[ -f "$receipt" ] || { echo "host-send.sh: no receipt file $receipt" >&2; exit 2; }

n=".00$channel"
START="$dir/SR_START$n"
DATI="$dir/SR_DATI$n"
OUT="$dir/SR_OUT$n"
ERR="$dir/SR_ERR$n"
DONE="$dir/FINESCO$n"

# 1. Is the channel ready? SR_MATR appears when Velmar has identified the
# register on this channel; until then a job is not printed (and a failed
# identification would drop it).
if [ ! -e "$dir/SR_MATR$n" ]; then
    echo "host-send.sh: channel $channel is not identified yet (no SR_MATR$n): is Velmar running?" >&2
    [ -e "$ERR" ] && echo "host-send.sh: SR_ERR$n says: $(tr -d '\r' < "$ERR")" >&2
    exit 2
fi
# An earlier job still running, or its answer not collected: not ours to touch.
for f in "$START" "$DONE" "$ERR" "$OUT"; do
    if [ -e "$f" ]; then
        echo "host-send.sh: $(basename "$f") of an earlier job is still there; collect it first" >&2
        exit 2
    fi
done
# SR_DATI without SR_START: a receipt that did not print (Velmar keeps it
# after a failure). Whether to send it again is a decision, not a retry.
if [ -e "$DATI" ]; then
    echo "host-send.sh: SR_DATI$n of a job that did not print is still there;" \
        "check the register, then delete it to send again" >&2
    exit 2
fi

# 2. The receipt, with CR LF line ends, under a temporary name in the same
# folder, then renamed: Velmar never sees a half-written SR_DATI.
tmp="$dir/.host-send$n.$$"
trap 'rm -f "$tmp"' EXIT
tr -d '\r' < "$receipt" | LC_ALL=C awk '{ printf "%s\r\n", $0 }' > "$tmp"
mv "$tmp" "$DATI"
# Only now the start file (its content is not read).
: > "$START"

# 3. Wait for the answer. Velmar writes SR_ERR before it deletes SR_START,
# and FINESCO right after deleting it.
waited=0
while [ ! -e "$DONE" ] && [ ! -e "$ERR" ]; do
    if [ ! -e "$START" ] && [ ! -e "$DONE" ] && [ ! -e "$ERR" ]; then
        # SR_START is gone without an answer: FINESCO may be on its way;
        # else Velmar stopped (its shut-down deletes the answer files) or the
        # host's own SR_START was removed. SR_DATI tells: Velmar deletes it
        # only when the register accepted the receipt.
        sleep 1
        [ -e "$DONE" ] || [ -e "$ERR" ] && break
        if [ -e "$DATI" ]; then
            # Not "not printed": a Velmar stopped in the middle of the job
            # may have printed it.
            echo "host-send.sh: not known: SR_START$n vanished without an answer;" \
                "check the register before sending SR_DATI$n again" >&2
            exit 3
        fi
        echo "printed (SR_DATI$n taken; the answer files were removed before they were read)"
        exit 0
    fi
    if [ "$waited" -ge "$timeout" ]; then
        # Leave everything in place: Velmar may still be printing.
        echo "host-send.sh: no answer on channel $channel within $timeout s;" \
            "the job stays pending (SR_START$n is left)" >&2
        exit 2
    fi
    sleep 1
    waited=$((waited + 1))
done

# 4. Read the answer, then collect the files.
if [ -e "$DONE" ]; then
    echo "printed"
    [ -e "$OUT" ] && tr -d '\r' < "$OUT"
    rm -f "$OUT" "$DONE"
    exit 0
fi
text=$(tr -d '\r' < "$ERR")
rm -f "$OUT" "$ERR"
case $text in
E510*)
    # The register could not tell: a resend may print the receipt twice.
    echo "host-send.sh: not known: $text" >&2
    exit 3
    ;;
esac
echo "host-send.sh: not printed: $text" >&2
exit 1
