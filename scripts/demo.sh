#!/usr/bin/env bash
# Quick start (1): installs what is missing, builds, and converts a sample
# receipt the way the driver does, showing the host's receipt and the register
# commands for two register families.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
"$root/scripts/install-deps.sh"
echo "== building (build/)"
"$root/scripts/build.sh" build

receipt="$root/docs/examples/receipt.txt"
echo
echo "== the host's receipt ($receipt)"
tr -d '\r' < "$receipt"
for family in 0 1; do
    echo
    echo "== register commands, family $family: build/bin/velmar-convert --family $family $receipt"
    "$root/build/bin/velmar-convert" --family "$family" "$receipt" | tr -d '\r'
done
