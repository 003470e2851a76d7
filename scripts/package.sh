#!/usr/bin/env bash
# Builds the Debian package velmar_<version>_amd64.deb in build-pkg/:
# a Release build for /usr, without tests or benchmarks, packed by cpack.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
"$root/scripts/install-deps.sh"
"$root/scripts/build.sh" build-pkg -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX=/usr \
    -DVELMAR_TESTS=OFF -DVELMAR_BENCH=OFF >/dev/null
(cd "$root/build-pkg" && rm -f velmar_*.deb && cpack -G DEB >/dev/null)
ls "$root"/build-pkg/velmar_*_amd64.deb
