#!/usr/bin/env bash
# The tray on a real Wayland desktop: waybar's tray on a headless sway, run as an unprivileged user
# (sway refuses root) on a private bus. Start orders both ways and at once, the bar restarted while
# ulmet runs, Activate → a floating panel of its natural size, quit on SIGTERM.
#   sway.sh ULMET_BINARY        (as root: it makes the user ulmet-desktop-test once)
set -euo pipefail
binary=$(readlink -f "$1")
user=ulmet-desktop-test
if [ "${ULMET_SWAY_INNER:-}" != 1 ]; then
    if [ "$(id -u)" -ne 0 ]; then
        echo "sway.sh: needs root to run the session as a user of its own" >&2
        exit 77
    fi
    for tool in sway waybar swaymsg gdbus python3; do
        command -v "$tool" >/dev/null || { echo "sway.sh: $tool is missing" >&2; exit 77; }
    done
    id "$user" >/dev/null 2>&1 || useradd --system --create-home --shell /usr/sbin/nologin "$user"
    run=$(mktemp -d "${TMPDIR:-/tmp}/ulmet-sway-XXXXXX")
    chmod 755 "$run"
    mkdir -m 700 "$run/rt"
    chown "$user" "$run/rt"
    trap 'rm -rf "$run"' EXIT
    status=0
    runuser -u "$user" -- env -i PATH=/usr/bin:/bin HOME="$run/rt/home" XDG_RUNTIME_DIR="$run/rt" \
        ULMET_SWAY_INNER=1 ASAN_OPTIONS="${ASAN_OPTIONS:-}" UBSAN_OPTIONS="${UBSAN_OPTIONS:-}" \
        dbus-run-session -- bash "$(readlink -f "$0")" "$binary" || status=$?
    exit "$status"
fi

# --- inside the user's session from here ---
rt=$XDG_RUNTIME_DIR
mkdir -p "$HOME"
fail() {
    echo "FAIL: $*" >&2
    tail -n 20 "$rt/ulmet.log" >&2
    exit 1
}
wait_for() { # seconds, command...
    local deadline=$((SECONDS + $1))
    shift
    until "$@"; do
        [ "$SECONDS" -ge "$deadline" ] && return 1
        sleep 0.05
    done
}

printf 'output HEADLESS-1 resolution 1280x800\n' >"$rt/sway.conf"
printf '{"modules-right": ["tray"], "height": 26}\n' >"$rt/waybar.json"
WLR_BACKENDS=headless WLR_LIBINPUT_NO_DEVICES=1 WLR_RENDERER=pixman sway -c "$rt/sway.conf" >"$rt/sway.log" 2>&1 &
sway_pid=$!
trap 'kill $(jobs -p) 2>/dev/null; wait 2>/dev/null' EXIT
wait_for 10 bash -c 'ls "$XDG_RUNTIME_DIR"/sway-ipc.*.sock' >/dev/null 2>&1 || fail "sway did not start"
WAYLAND_DISPLAY=$(basename "$(ls "$rt"/wayland-? | head -1)")
SWAYSOCK=$(ls "$rt"/sway-ipc.*.sock | head -1)
export WAYLAND_DISPLAY SWAYSOCK QT_QPA_PLATFORM=wayland
export ULMET_API_ORIGIN=http://127.0.0.1:9 ULMET_CONSOLE_ORIGIN=http://127.0.0.1:9

bar_pid=
start_bar() {
    waybar -c "$rt/waybar.json" >>"$rt/waybar.log" 2>&1 &
    bar_pid=$!
}
stop_bar() {
    kill "$bar_pid"
    wait "$bar_pid" 2>/dev/null || true
    bar_pid=
}
app_pid=
start_app() {
    "$binary" >>"$rt/ulmet.log" 2>&1 &
    app_pid=$!
}
stop_app() {
    kill -TERM "$app_pid"
    local status=0
    wait "$app_pid" || status=$?
    [ "$status" -eq 0 ] || fail "ulmet exited $status on SIGTERM"
    app_pid=
}
# The item's bus name as the watcher lists it (":1.6/StatusNotifierItem"), empty while none.
item() {
    gdbus call --session --dest org.kde.StatusNotifierWatcher --object-path /StatusNotifierWatcher \
        --method org.freedesktop.DBus.Properties.Get org.kde.StatusNotifierWatcher \
        RegisteredStatusNotifierItems 2>/dev/null | grep -o "'[^']*'" | head -1 | tr -d "'" | cut -d/ -f1
}
registered() { [ -n "$(item)" ]; }
# "floating WIDTHxHEIGHT" or "tiled WIDTHxHEIGHT" for each window titled MeterKeeper.
windows() {
    swaymsg -t get_tree | python3 -c '
import json, sys
def walk(node, floating):
    if node.get("name") == "MeterKeeper" and node.get("type") in ("con", "floating_con"):
        r = node["rect"]
        print("floating" if floating else "tiled", "%dx%d" % (r["width"], r["height"]))
    for child in node.get("nodes", []):
        walk(child, floating)
    for child in node.get("floating_nodes", []):
        walk(child, True)
walk(json.load(sys.stdin), False)'
}
activate() {
    gdbus call --session --dest "$(item)" --object-path /StatusNotifierItem \
        --method org.kde.StatusNotifierItem.Activate 0 0 >/dev/null
}
no_window() { [ -z "$(windows)" ]; }
has_window() { [ -n "$(windows)" ]; }

echo "bar first, then ulmet"
start_bar
wait_for 10 bash -c 'gdbus call --session --dest org.freedesktop.DBus --object-path /org/freedesktop/DBus --method org.freedesktop.DBus.NameHasOwner org.kde.StatusNotifierWatcher | grep -q true' ||
    fail "waybar took no watcher name"
start_app
wait_for 10 registered || fail "no item in waybar's tray"
sleep 0.5
no_window || fail "a window beside the icon: $(windows)"

echo "activate: the panel floats at its own size"
activate
wait_for 10 has_window || fail "Activate showed nothing"
read -r kind size < <(windows)
width=${size%x*} height=${size#*x}
[ "$kind" = floating ] || fail "the panel is $kind $size"
{ [ "$width" -ge 250 ] && [ "$width" -le 600 ] && [ "$height" -ge 150 ] && [ "$height" -le 700 ]; } ||
    fail "the panel is $size"
activate
wait_for 10 no_window || fail "a second activation left the panel open"

echo "the bar restarts"
stop_bar
wait_for 10 has_window || fail "no window while the bar is gone"
start_bar
wait_for 10 registered || fail "no item after the bar came back"
wait_for 10 no_window || fail "the window stayed beside the icon: $(windows)"
stop_app

echo "ulmet first, the bar a moment later"
stop_bar
start_app
sleep 4 # longer than the wait at start: the window stands in
has_window || fail "no window without a bar"
start_bar
wait_for 10 registered || fail "no item in the bar that came later"
wait_for 10 no_window || fail "the window stayed: $(windows)"
stop_app

echo "both at once"
stop_bar
start_bar
start_app
wait_for 10 registered || fail "no item when both start together"
sleep 0.5
no_window || fail "a window beside the icon: $(windows)"
stop_app
echo "ok"
