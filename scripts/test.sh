#!/usr/bin/env bash
# Quick start (2): installs what is missing, builds, and runs every test:
#   - the whole suite in a normal build, warnings as errors, and every
#     benchmark once at a tiny size (bench/smoke.sh);
#   - the whole suite again with AddressSanitizer and UndefinedBehaviorSanitizer;
#   - every fuzz target for a bounded time (FUZZ_SECONDS each, default 60);
#   - the Debian package: built, installed, one receipt printed with the
#     installed programs, removed (needs root or sudo: apt-get).
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
"$root/scripts/install-deps.sh"
export QT_QPA_PLATFORM=offscreen

echo "== build and test (build/)"
"$root/scripts/build.sh" build -DVELMAR_WERROR=ON
# The slow tests wait on real time far more than they compute: four at once.
ctest --test-dir "$root/build" --output-on-failure -j 4
echo "== every benchmark at a tiny size (build/)"
"$root/bench/smoke.sh" "$root/build"

echo "== build and test with ASan + UBSan (build-asan/)"
"$root/scripts/build.sh" build-asan -DVELMAR_WERROR=ON -DVELMAR_SANITIZE=ON -DVELMAR_BENCH=OFF
ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1 \
    ctest --test-dir "$root/build-asan" --output-on-failure -j 4

echo "== fuzz targets"
"$root/scripts/fuzz.sh" "${FUZZ_SECONDS:-60}"
echo "== the Debian package (build-pkg/)"
"$root/scripts/package.sh"
if [ "$(id -u)" -eq 0 ]; then
    "$root/scripts/package-test.sh"
elif command -v sudo >/dev/null; then
    sudo "$root/scripts/package-test.sh"
else
    echo "   package test skipped: it installs the package, which needs root or sudo"
fi
echo "== all tests passed"
