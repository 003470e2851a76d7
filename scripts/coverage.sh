#!/usr/bin/env bash
# Line and branch coverage of src/ by the normal test suite, with gcovr.
#
#   scripts/coverage.sh [FOLDER] [CTEST_ARGS...]
#
# Builds in FOLDER (default build-cov) with --coverage, runs ctest (extra
# arguments go to ctest, e.g. -R tst_converter), and prints gcovr's summary
# of src/ (lines and branches). Exception-only branches are left out: they
# count every unwinding path the compiler makes, not decisions of ours.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
folder="${1:-build-cov}"
shift || true
[[ "$folder" = /* ]] || folder="$root/$folder"
command -v gcovr >/dev/null || { echo "coverage: gcovr is missing (apt-get install gcovr)" >&2; exit 1; }
"$root/scripts/build.sh" "$folder" -DCMAKE_BUILD_TYPE=Debug -DVELMAR_BENCH=OFF \
    -DCMAKE_CXX_FLAGS="--coverage -O0" -DCMAKE_EXE_LINKER_FLAGS=--coverage \
    -DCMAKE_SHARED_LINKER_FLAGS=--coverage
find "$folder" -name '*.gcda' -delete
QT_QPA_PLATFORM=offscreen ctest --test-dir "$folder" -j 4 "$@" || true
# Only FOLDER's data files: another build folder in the checkout may hold data
# of older sources, which gcovr cannot merge with these.
gcovr --root "$root" --object-directory "$folder" --filter "$root/src/" \
    --exclude-throw-branches --exclude-unreachable-branches --print-summary \
    --txt "$folder/coverage.txt" "$folder" | tail -3
