#!/usr/bin/env bash
# The tray on GNOME Shell with the AppIndicator extension (Debian's
# gnome-shell-extension-appindicator): the shell headless (a virtual monitor, Wayland only) on a
# private session bus and a private system bus. The extension is the host: enabled before ulmet,
# after it, disabled and enabled again while ulmet runs; Activate → a panel of a sensible size;
# quit on SIGTERM. The shell starts in its overview, which is closed first.
#   gnome.sh ULMET_BINARY        (as root: it hides the machine's logind and system bus)
set -euo pipefail
binary=$(readlink -f "$1")
if [ "${ULMET_GNOME_INNER:-}" != 1 ]; then
    [ "$(id -u)" -eq 0 ] || { echo "gnome.sh: needs root for a mount namespace" >&2; exit 77; }
    for tool in gnome-shell gdbus gsettings dbus-daemon; do
        command -v "$tool" >/dev/null || { echo "gnome.sh: $tool is missing" >&2; exit 77; }
    done
    [ -d /usr/share/gnome-shell/extensions/ubuntu-appindicators@ubuntu.com ] ||
        { echo "gnome.sh: the AppIndicator extension is missing" >&2; exit 77; }
    run=$(mktemp -d "${TMPDIR:-/tmp}/ulmet-gnome-XXXXXX")
    trap 'rm -rf "$run"' EXIT
    mkdir -m 700 "$run/rt"
    # The shell asks logind when /run/systemd/seats says one runs, and needs a system bus: these
    # machines run neither, so it gets an empty /run/systemd (no logind: it does without) and a
    # system bus of its own. Its X displays are its own too: mutter must not touch the display
    # sockets of the other desktop tests running beside this one (abstract sockets belong to the
    # network namespace, the others to /tmp/.X11-unix).
    status=0
    unshare --mount --net -- bash -c '
        mount -t tmpfs -o mode=1777 tmpfs /tmp/.X11-unix
        mount -t tmpfs tmpfs /run/systemd 2>/dev/null || true
        mkdir -p /run/dbus && mount -t tmpfs tmpfs /run/dbus
        dbus-daemon --system --fork --nopidfile >/dev/null 2>&1
        exec "$@"' sh \
        env -i PATH=/usr/bin:/bin HOME="$run/home" XDG_RUNTIME_DIR="$run/rt" ULMET_GNOME_INNER=1 \
        ASAN_OPTIONS="${ASAN_OPTIONS:-}" UBSAN_OPTIONS="${UBSAN_OPTIONS:-}" \
        ULMET_DESKTOP_SCREENSHOT="${ULMET_DESKTOP_SCREENSHOT:-}" \
        dbus-run-session -- bash "$(readlink -f "$0")" "$binary" || status=$?
    exit "$status"
fi

# --- inside the session from here ---
rt=$XDG_RUNTIME_DIR
log=$rt/ulmet.log
here=$(dirname "$(readlink -f "$0")")
source "$here/common.sh"
extensions=$HOME/.local/share/gnome-shell/extensions
mkdir -p "$extensions"
cp -r "$here/gnome-extension" "$extensions/ulmet-test@ulmet.github.io"
indicators=ubuntu-appindicators@ubuntu.com

gnome-shell --headless --virtual-monitor 1280x800 --wayland --no-x11 >"$rt/shell.log" 2>&1 &
trap 'kill $(jobs -p) 2>/dev/null; wait 2>/dev/null' EXIT
shell() { # method args...
    gdbus call --session --dest org.gnome.Shell --object-path /org/gnome/Shell --method "$@"
}
extension() { shell "org.gnome.Shell.Extensions.$1Extension" "$2" >/dev/null; }
evaluate() { # JavaScript → its result, unquoted
    shell org.gnome.Shell.Eval "$1" | sed -e "s/^(true, '//" -e "s/')\$//" -e 's/^"//' -e 's/"$//'
}
shell_up() { shell org.gnome.Shell.Extensions.ListExtensions >/dev/null 2>&1; }
wait_for 20 shell_up || fail "GNOME Shell did not start: $(tail -5 "$rt/shell.log")"
extension Enable ulmet-test@ulmet.github.io
unsafe() { [ "$(evaluate 'global.context.unsafe_mode')" = true ]; }
wait_for 10 unsafe || fail "the test extension did not load"
evaluate 'Main.overview.hide()' >/dev/null

export WAYLAND_DISPLAY=wayland-0 QT_QPA_PLATFORM=wayland XDG_CURRENT_DESKTOP=GNOME
export ULMET_API_ORIGIN=http://127.0.0.1:9 ULMET_CONSOLE_ORIGIN=http://127.0.0.1:9
start_host() { extension Enable "$indicators"; }
stop_host() { extension Disable "$indicators"; wait_for 10 bash -c '! gdbus call --session --dest org.freedesktop.DBus --object-path /org/freedesktop/DBus --method org.freedesktop.DBus.GetNameOwner org.kde.StatusNotifierWatcher >/dev/null 2>&1'; }
# "WIDTHxHEIGHT" of each visible window titled MeterKeeper.
windows() {
    evaluate "global.get_window_actors().filter(a => a.visible && a.meta_window.get_title() === 'MeterKeeper').map(a => { const r = a.meta_window.get_frame_rect(); return r.width + 'x' + r.height; }).join(' ')" | tr ' ' '\n' | grep . || true
}

echo "the extension first, then ulmet"
seed_readings
panel_first

echo "activate: the panel at its own size"
activate
wait_for 10 has_window || fail "Activate showed nothing"
read -r size < <(windows)
sensible_size "${size%x*}" "${size#*x}"
if [ -n "${ULMET_DESKTOP_SCREENSHOT:-}" ]; then
    evaluate 'Main.messageTray.bannerBlocked = true' >/dev/null # the unsafe mode's notice
    sleep 1
    gdbus call --session --dest org.gnome.Shell.Screenshot --object-path /org/gnome/Shell/Screenshot \
        --method org.gnome.Shell.Screenshot.Screenshot false false "$ULMET_DESKTOP_SCREENSHOT" >/dev/null
fi
activate
wait_for 10 no_window || fail "a second activation left the panel open"

echo "the extension disabled and enabled again"
stop_host
wait_for 10 has_window || fail "no window while the extension is off"
start_host
wait_for 10 registered || fail "no item after the extension came back"
wait_for 10 no_window || fail "the window stayed beside the icon: $(windows)"
stop_app

echo "ulmet first, the extension a moment later"
ulmet_first
echo "both at once"
both_at_once
echo "ok"
