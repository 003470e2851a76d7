#!/usr/bin/env bash
# Configures and builds Velmar in FOLDER (default build/) with extra CMake
# options, e.g.  scripts/build.sh build-asan -DVELMAR_SANITIZE=ON
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
folder="${1:-build}"
shift || true
[[ "$folder" = /* ]] || folder="$root/$folder"
generator=()
[ -f "$folder/CMakeCache.txt" ] || generator=(-G Ninja)
cmake -S "$root" -B "$folder" "${generator[@]}" -DCMAKE_BUILD_TYPE=RelWithDebInfo "$@" >/dev/null
cmake --build "$folder" -j "$(nproc)"
