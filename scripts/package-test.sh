#!/usr/bin/env bash
# Installs the Debian package on this machine, prints one receipt with the
# installed velmard and ecrsim, removes the package, and checks that nothing
# of it is left but the data directory. Needs root (apt-get). Run
# scripts/package.sh first.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
[ "$(id -u)" -eq 0 ] || { echo "package-test: run it as root" >&2; exit 1; }
deb="$(ls "$root"/build-pkg/velmar_*_amd64.deb)"

work="$(mktemp -d)"
pids=()
installed=0
cleanup() {
    for pid in "${pids[@]}"; do kill -TERM "$pid" 2>/dev/null || true; done
    for pid in "${pids[@]}"; do wait "$pid" 2>/dev/null || true; done
    [ "$installed" = 1 ] && DEBIAN_FRONTEND=noninteractive apt-get remove -y -q velmar >/dev/null 2>&1
    rm -rf "$work"
}
trap cleanup EXIT
fail() { echo "package-test: $*" >&2; exit 1; }

echo "== apt-get install $deb"
dpkg-query -W -f='${Status}' velmar 2>/dev/null | grep -q "install ok installed" &&
    fail "velmar is installed already; remove it first"
DEBIAN_FRONTEND=noninteractive apt-get install -y -q "$deb" >"$work/apt.log" 2>&1 ||
    { cat "$work/apt.log"; fail "the package does not install"; }
installed=1
dpkg -L velmar > "$work/files"
getent passwd velmar >/dev/null || fail "the package made no user velmar"
for f in /usr/bin/velmar /usr/bin/velmard /usr/bin/velmar-convert /usr/bin/ecrsim \
    /usr/lib/velmar/libqarn_slm1.so /usr/lib/velmar/manvelmar.pdf /usr/lib/systemd/system/velmard.service \
    /usr/share/applications/velmar.desktop /usr/share/velmar/autostart/velmar.desktop \
    /usr/share/icons/hicolor/256x256/apps/velmar.png /usr/share/doc/velmar/INTEGRATION.md; do
    [ -e "$f" ] || fail "$f is missing"
done
velmar --version | grep -q "^velmar 2" || fail "velmar --version"
if [ -d /run/systemd/system ]; then
    [ "$(systemctl is-enabled velmard.service 2>/dev/null || true)" != enabled ] || fail "velmard is enabled"
fi

echo "== one receipt with the installed velmard and ecrsim"
# As an installed program: settings in XDG_CONFIG_HOME, data in XDG_DATA_HOME
# (root may write to /usr/lib/velmar, but an installed program never does).
export XDG_CONFIG_HOME="$work/config" XDG_DATA_HOME="$work/data" XDG_RUNTIME_DIR="$work/run"
settings="$XDG_CONFIG_HOME/Qarnwerk"
data="$XDG_DATA_HOME/Qarnwerk/QARNVELMAR"
mkdir -p "$settings" "$XDG_RUNTIME_DIR"
chmod 700 "$XDG_RUNTIME_DIR"
printf '1000\r\n' > "$settings/VMCHKCOM.TXT"
printf '1\r\n' > "$settings/VMTIMER1.TXT"
printf ' 5 \r\n30\r\n0\r\n0\r\n\r\n\r\n\r\n3500\r\n' > "$settings/VMCHKSCO.TXT"
printf '[SerialPorts]\nCOM1=%s\n' "$work/ecr" > "$settings/QARNVELMAR.conf"
ecrsim --family 5 --pty "$work/ecr" --journal "$work/journal.jsonl" --quiet 2>"$work/ecrsim.log" &
pids+=($!)
for _ in $(seq 1 100); do [ -e "$work/ecr" ] && break; sleep 0.1; done
velmard 2>"$work/velmard.log" &
pids+=($!)
for _ in $(seq 1 300); do [ -e "$data/SR_MATR.001" ] && break; sleep 0.1; done
[ -e "$data/SR_MATR.001" ] || { cat "$work/velmard.log"; fail "the register was not identified"; }
printf 'PLUD,:Pane casereccio,P150,Q2,N1;\r\nCASH;\r\n' > "$work/receipt.txt"
sh /usr/share/doc/velmar/examples/host-send.sh "$data" 1 "$work/receipt.txt" 60 ||
    { cat "$work/velmard.log"; fail "the receipt was not printed"; }
[ "$(grep -c '"kind":"receipt"' "$work/journal.jsonl" || true)" = 1 ] ||
    { cat "$work/journal.jsonl"; fail "the register did not print exactly one receipt"; }
for pid in "${pids[@]}"; do kill -TERM "$pid"; wait "$pid" 2>/dev/null || true; done
pids=()

echo "== apt-get remove velmar"
DEBIAN_FRONTEND=noninteractive apt-get remove -y -q velmar >"$work/apt.log" 2>&1 ||
    { cat "$work/apt.log"; fail "the package does not remove"; }
installed=0
left=()
while read -r f; do
    if [ -d "$f" ] && [ ! -L "$f" ]; then continue; fi # folders shared with other packages stay
    if [ -e "$f" ] || [ -L "$f" ]; then left+=("$f"); fi
done < "$work/files"
for d in /usr/lib/velmar /usr/share/velmar /usr/share/doc/velmar; do
    if [ -e "$d" ]; then left+=("$d"); fi
done
[ ${#left[@]} -eq 0 ] || fail "left behind: ${left[*]}"
[ -d "$data" ] || fail "the data directory went with the package"
echo "== package test passed: installed, printed, removed; only the data directory stays ($data)"
