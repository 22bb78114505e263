#!/usr/bin/env bash
# Runs a command inside a private D-Bus session bus with a fresh, unlocked gnome-keyring Secret
# Service of its own (never the user's keyring), then stops the daemon and removes its files.
#   with-secret-service.sh [--bus-only] COMMAND [ARGS...]
# --bus-only: the private bus without any Secret Service, to test how its absence is reported.
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
mode=keyring
if [ "${1:-}" = "--bus-only" ]; then
    mode=bus
    shift
fi

if [ -z "${ULMET_PRIVATE_BUS:-}" ]; then
    # No display: a locked keyring must fail instead of opening a prompt.
    flag=()
    [ "$mode" = bus ] && flag=(--bus-only)
    exec env -u DISPLAY -u WAYLAND_DISPLAY ULMET_PRIVATE_BUS=1 \
        dbus-run-session --config-file="$here/../data/dbus/session.conf" -- "$0" "${flag[@]}" "$@"
fi

scratch=$(mktemp -d "${TMPDIR:-/tmp}/ulmet-keyring-XXXXXX")
daemon=
cleanup() {
    [ -n "$daemon" ] && kill "$daemon" 2>/dev/null && wait "$daemon" 2>/dev/null
    rm -rf "$scratch"
}
trap cleanup EXIT
export XDG_DATA_HOME="$scratch/data" XDG_CONFIG_HOME="$scratch/config" XDG_CACHE_HOME="$scratch/cache"
export XDG_RUNTIME_DIR="$scratch/run"
mkdir -p "$XDG_DATA_HOME" "$XDG_CONFIG_HOME" "$XDG_CACHE_HOME" "$XDG_RUNTIME_DIR"
chmod 700 "$XDG_RUNTIME_DIR"

if [ "$mode" = keyring ]; then
    # An empty password would want a prompt; any other unlocks the new login keyring at once.
    printf '%s' "ulmet-test" | gnome-keyring-daemon --foreground --unlock --components=secrets \
        >"$scratch/daemon.log" 2>&1 &
    daemon=$!
    for _ in $(seq 1 100); do
        if gdbus call --session --dest org.freedesktop.DBus --object-path /org/freedesktop/DBus \
            --method org.freedesktop.DBus.NameHasOwner org.freedesktop.secrets 2>/dev/null | grep -q true; then
            break
        fi
        sleep 0.05
    done
fi

set +e
"$@"
status=$?
set -e
exit $status
