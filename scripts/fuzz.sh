#!/usr/bin/env bash
# Builds the libFuzzer targets (clang, ASan + UBSan) in build-fuzz and runs each
# for SECONDS_PER_TARGET seconds (default 20) on a copy of its seed corpus, so
# the tree is never modified. Exits non-zero on any finding: a crash, a broken
# invariant, a leak, a timeout, an out-of-memory or a sanitizer report.
#
#   scripts/fuzz.sh [SECONDS_PER_TARGET]
#
# Needs clang, libclang-rt-14-dev (or the runtime of the installed clang) and
# the Qt 6 development packages. Reproducers of findings are left in
# build-fuzz/fuzz-run/<target>/artifacts/; replay one with
#   build-fuzz/bin/<target> <file>

set -euo pipefail

seconds="${1:-20}"
if ! [[ "$seconds" =~ ^[0-9]+$ ]] || [ "$seconds" -lt 1 ]; then
    echo "usage: $0 [SECONDS_PER_TARGET]" >&2
    exit 2
fi

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="$root/build-fuzz"
fuzzdir="$root/tests/fuzz"
jobs="$(nproc 2>/dev/null || echo 2)"

generator=()
if command -v ninja >/dev/null 2>&1; then
    generator=(-G Ninja)
fi
if [ -f "$build/CMakeCache.txt" ]; then
    generator=() # keep whatever the folder was made with
fi

# Line tables are all the debug information sanitizer reports need (function,
# file, line); full -g with fuzzer, ASan and UBSan together makes clang 14
# crash on src/convert/SlConverter.cpp ("Live DEBUG_VALUE analysis").
echo "== configure $build"
CC=clang CXX=clang++ cmake -S "$root" -B "$build" "${generator[@]}" \
    -DVELMAR_FUZZ=ON -DVELMAR_TESTS=OFF -DVELMAR_BENCH=OFF \
    -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DCMAKE_CXX_FLAGS_RELWITHDEBINFO="-O2 -gline-tables-only -DNDEBUG" >/dev/null
echo "== build"
cmake --build "$build" -j "$jobs" --target fuzz_normalizer fuzz_slfield fuzz_convert qarn_slm1

# A finding must stop the run and leave a reproducer: UBSan is built
# recoverable, so make it halt. Leak checking stays on (no suppressions are
# needed: Qt and the loader leave nothing behind that LSan reports).
export UBSAN_OPTIONS="halt_on_error=1:abort_on_error=1:print_stacktrace=1"
export ASAN_OPTIONS="detect_leaks=1:abort_on_error=1:strict_string_checks=1:detect_stack_use_after_return=1"
# The conversion target writes its data directory on every run: keep it in
# memory when the machine has a writable /dev/shm, in a folder of this run
# that goes at the end (a target stopped by a finding cannot clean up).
scratch_parent="$build"
if [ -d /dev/shm ] && [ -w /dev/shm ]; then
    scratch_parent=/dev/shm
fi
scratch="$(mktemp -d "$scratch_parent/velmar-fuzz.XXXXXX")"
trap 'rm -rf "$scratch"' EXIT
export TMPDIR="$scratch"
export QT_QPA_PLATFORM=offscreen

declare -A maxlen=(
    [fuzz_normalizer]=4096
    [fuzz_slfield]=4096
    [fuzz_convert]=1100000
)
# fuzz_convert can repeat its receipt up to 1.1 MB; with hit-count features
# every such slow input looks new and they crowd the corpus, so it is guided
# by edge coverage alone.
declare -A extra=(
    [fuzz_normalizer]=""
    [fuzz_slfield]=""
    [fuzz_convert]="-use_counters=0"
)

failed=()
for target in fuzz_normalizer fuzz_slfield fuzz_convert; do
    run="$build/fuzz-run/$target"
    rm -rf "$run"
    mkdir -p "$run/corpus" "$run/artifacts"
    cp -R "$fuzzdir/corpus/$target/." "$run/corpus/"

    echo "== $target: ${seconds}s"
    set +e
    (cd "$run" && "$build/bin/$target" \
        -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
        -max_len="${maxlen[$target]}" -dict="$fuzzdir/receipt.dict" ${extra[$target]} \
        -artifact_prefix="$run/artifacts/" -print_final_stats=1 \
        "$run/corpus") >"$run/log.txt" 2>&1
    status=$?
    set -e

    # Any report counts, even one a sanitizer recovered from.
    reports=$(grep -cE '^(==[0-9]+==ERROR|SUMMARY: |.*runtime error: |fuzz: invariant)' \
        "$run/log.txt" || true)
    artifacts=$(find "$run/artifacts" -type f | wc -l)
    grep -E '^(#[0-9]+.*DONE|stat::number_of_executed_units|stat::peak_rss_mb)' "$run/log.txt" || true
    if [ "$status" -ne 0 ] || [ "$reports" -ne 0 ] || [ "$artifacts" -ne 0 ]; then
        echo "!! $target: FINDING (exit $status, $reports report lines, $artifacts artifacts)"
        grep -E -A40 '^(==[0-9]+==ERROR|.*runtime error: |fuzz: invariant)' "$run/log.txt" |
            head -60 || tail -40 "$run/log.txt"
        find "$run/artifacts" -type f -print
        failed+=("$target")
    else
        echo "ok $target"
    fi
done

if [ "${#failed[@]}" -ne 0 ]; then
    echo "fuzz: findings in ${failed[*]} (logs in $build/fuzz-run/<target>/log.txt)"
    exit 1
fi
echo "fuzz: no findings"
