#!/usr/bin/env bash
# Runs a command on a private X server (Xvfb) with a private D-Bus session bus of its own, then
# stops both. Nothing of the real desktop (its bus, its display, its keyring) is reachable.
#   with-desktop.sh COMMAND [ARGS...]
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
scratch=$(mktemp -d "${TMPDIR:-/tmp}/ulmet-desktop-XXXXXX")
xpid=
cleanup() {
    [ -n "$xpid" ] && kill "$xpid" 2>/dev/null && wait "$xpid" 2>/dev/null
    rm -rf "$scratch"
}
trap cleanup EXIT

# Xvfb writes the display number it chose to the descriptor.
exec 3>"$scratch/display"
Xvfb -displayfd 3 -screen 0 1280x800x24 -nolisten tcp -auth /dev/null >"$scratch/xvfb.log" 2>&1 &
xpid=$!
for _ in $(seq 1 100); do
    [ -s "$scratch/display" ] && break
    sleep 0.05
done
exec 3>&-
number=$(cat "$scratch/display")
[ -n "$number" ] || { echo "with-desktop: Xvfb did not start" >&2; cat "$scratch/xvfb.log" >&2; exit 1; }
export DISPLAY=":$number"
unset WAYLAND_DISPLAY
export XDG_RUNTIME_DIR="$scratch/run"
mkdir -m 700 "$XDG_RUNTIME_DIR"
dbus-run-session --config-file="$here/../data/dbus/session.conf" -- "$@"
