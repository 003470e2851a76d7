#!/usr/bin/env bash
# Installs the Debian 12 packages Velmar needs to build and test, when any is
# missing. Quick when everything is there: it only asks dpkg.
set -euo pipefail

packages=(
    cmake ninja-build g++ pkg-config
    qt6-base-dev            # Qt Core, Xml, Network, Test, Widgets
    qt6-serialport-dev      # Qt SerialPort
    socat                   # pseudo-terminal pairs for the serial tests
    fonts-dejavu-core       # the manual's font (the PDF is made by the build)
    qt6-translations-l10n   # Qt's own Italian texts for velmar's standard buttons and menus
    clang libclang-rt-14-dev # the fuzz targets (libFuzzer, sanitizers)
)

missing=()
for p in "${packages[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
        missing+=("$p")
    fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

sudo=()
if [ "$(id -u)" -ne 0 ]; then
    if ! command -v sudo >/dev/null; then
        echo "install-deps: missing ${missing[*]}; run this as root or install sudo" >&2
        exit 1
    fi
    sudo=(sudo)
fi
echo "== installing ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
# The package lists may be empty on a fresh machine: update once, then install.
if ! "${sudo[@]}" apt-get install -y -q --no-install-recommends "${missing[@]}"; then
    "${sudo[@]}" apt-get update -q
    "${sudo[@]}" apt-get install -y -q --no-install-recommends "${missing[@]}"
fi
