# Sourced by scripts that run velmar on a desktop of their own: Xvfb with
# icewm, whose task bar has a notification area for the tray icon.
#   xsession_start WORKDIR   sets DISPLAY; xsession_stop ends both.

xsession_install() {
    local p
    for p in xvfb xdotool icewm x11-utils; do
        dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" && continue
        echo "== installing $p"
        apt-get install -y -q --no-install-recommends "$p" >/dev/null ||
            { apt-get update -q >/dev/null && apt-get install -y -q --no-install-recommends "$p" >/dev/null; }
    done
}

xsession_start() {
    local work="$1"
    export DISPLAY=":$((90 + RANDOM % 100))" QT_QPA_PLATFORM=xcb
    Xvfb "$DISPLAY" -screen 0 1280x860x24 -nolisten tcp >/dev/null 2>&1 &
    xsession_xvfb=$!
    for _ in $(seq 1 50); do xdpyinfo >/dev/null 2>&1 && break; sleep 0.1; done
    mkdir -p "$work/home/.icewm"
    printf '%s\n' TaskBarShowClock=0 TaskBarShowMailboxStatus=0 TaskBarShowCPUStatus=0 \
        TaskBarShowNetStatus=0 'DesktopBackgroundColor="rgb:3A/4A/5A"' > "$work/home/.icewm/preferences"
    HOME="$work/home" icewm >/dev/null 2>&1 &
    xsession_wm=$!
    sleep 1
}

xsession_stop() {
    [ -n "${xsession_wm:-}" ] && kill "$xsession_wm" 2>/dev/null || true
    [ -n "${xsession_xvfb:-}" ] && kill "$xsession_xvfb" 2>/dev/null || true
}
