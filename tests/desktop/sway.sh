#!/usr/bin/env bash
# The tray on a real Wayland desktop: waybar's tray on a headless sway, run as an unprivileged user
# (sway refuses root) on a private bus. Start orders both ways and at once, the bar restarted while
# ulmet runs, Activate → a floating panel of its natural size (natively and through XWayland), quit
# on SIGTERM.
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
    # The user passes through the folders above the build and this script (a checkout under a
    # private home or a mktemp folder is 0700): search permission only, taken back at the end.
    opened=()
    for path in "$binary" "$(readlink -f "$0")"; do
        dir=$(dirname "$path")
        while [ "$dir" != / ]; do
            if ! runuser -u "$user" -- test -x "$dir"; then
                chmod o+x "$dir"
                opened+=("$dir")
            fi
            dir=$(dirname "$dir")
        done
    done
    trap 'rm -rf "$run"; [ ${#opened[@]} -eq 0 ] || chmod o-x "${opened[@]}"' EXIT
    # X displays of their own: sway starts XWayland, which must not take or remove the display
    # sockets of the other desktop tests running beside this one (abstract sockets belong to the
    # network namespace, the others to /tmp/.X11-unix).
    status=0
    unshare --mount --net -- bash -c 'mount -t tmpfs -o mode=1777 tmpfs /tmp/.X11-unix && exec "$@"' sh \
        runuser -u "$user" -- env -i PATH=/usr/bin:/bin HOME="$run/rt/home" XDG_RUNTIME_DIR="$run/rt" \
        ULMET_SWAY_INNER=1 ASAN_OPTIONS="${ASAN_OPTIONS:-}" UBSAN_OPTIONS="${UBSAN_OPTIONS:-}" \
        ULMET_DESKTOP_SCREENSHOT="${ULMET_DESKTOP_SCREENSHOT:+$run/rt/screenshot.png}" \
        dbus-run-session -- bash "$(readlink -f "$0")" "$binary" || status=$?
    if [ -n "${ULMET_DESKTOP_SCREENSHOT:-}" ] && [ "$status" -eq 0 ]; then
        cp "$run/rt/screenshot.png" "$ULMET_DESKTOP_SCREENSHOT"
    fi
    exit "$status"
fi

# --- inside the user's session from here ---
rt=$XDG_RUNTIME_DIR
mkdir -p "$HOME"
log=$rt/ulmet.log
source "$(dirname "$(readlink -f "$0")")/common.sh"

printf 'output HEADLESS-1 resolution 1280x800\nxwayland enable\n' >"$rt/sway.conf"
printf '{"modules-right": ["tray"], "height": 26}\n' >"$rt/waybar.json"
WLR_BACKENDS=headless WLR_LIBINPUT_NO_DEVICES=1 WLR_RENDERER=pixman sway -c "$rt/sway.conf" >"$rt/sway.log" 2>&1 &

trap 'kill $(jobs -p) 2>/dev/null; wait 2>/dev/null' EXIT
wait_for 10 bash -c 'ls "$XDG_RUNTIME_DIR"/sway-ipc.*.sock' >/dev/null 2>&1 || fail "sway did not start"
WAYLAND_DISPLAY=$(basename "$(ls "$rt"/wayland-? | head -1)")
SWAYSOCK=$(ls "$rt"/sway-ipc.*.sock | head -1)
export WAYLAND_DISPLAY SWAYSOCK QT_QPA_PLATFORM=wayland
export ULMET_API_ORIGIN=http://127.0.0.1:9 ULMET_CONSOLE_ORIGIN=http://127.0.0.1:9

bar_pid=
start_host() {
    waybar -c "$rt/waybar.json" >>"$rt/waybar.log" 2>&1 &
    bar_pid=$!
}
stop_host() {
    kill "$bar_pid"
    wait "$bar_pid" 2>/dev/null || true
    bar_pid=
}
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
# The one MeterKeeper window floats, at a panel's size.
floats_at_its_size() {
    read -r kind size < <(windows)
    [ "$kind" = floating ] || fail "the panel is $kind $size"
    sensible_size "${size%x*}" "${size#*x}"
}

echo "bar first, then ulmet"
seed_readings
panel_first

echo "activate: the panel floats at its own size"
activate
wait_for 10 has_window || fail "Activate showed nothing"
floats_at_its_size
if [ -n "${ULMET_DESKTOP_SCREENSHOT:-}" ]; then
    command -v grim >/dev/null || fail "the screenshot needs grim (apt-get install grim)"
    sleep 1
    grim "$ULMET_DESKTOP_SCREENSHOT"
fi
activate
wait_for 10 no_window || fail "a second activation left the panel open"

echo "the bar restarts"
stop_host
wait_for 10 has_window || fail "no window while the bar is gone"
start_host
wait_for 10 registered || fail "no item after the bar came back"
wait_for 10 no_window || fail "the window stayed beside the icon: $(windows)"
stop_app

echo "ulmet first, the bar a moment later"
ulmet_first
echo "both at once"
both_at_once

echo "through XWayland (QT_QPA_PLATFORM=xcb)"
swaymsg exec 'printf %s "$DISPLAY" >"$XDG_RUNTIME_DIR/display"' >/dev/null
wait_for 10 test -s "$rt/display" || fail "sway runs no XWayland"
DISPLAY=$(cat "$rt/display") QT_QPA_PLATFORM=xcb start_app
wait_for 10 registered || fail "no item through XWayland"
activate
wait_for 10 has_window || fail "Activate showed nothing through XWayland"
floats_at_its_size
stop_app
echo "ok"
