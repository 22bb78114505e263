#!/usr/bin/env bash
# Starts ulmet (without a tray: its panel is a window) on the accessibility bus of a private
# desktop and reads it with atspi_tree.py. Run inside with-desktop.sh.
#   run.sh ULMET_BINARY
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
binary=$1
home=$(mktemp -d "${TMPDIR:-/tmp}/ulmet-a11y-XXXXXX")
pid=
cleanup() {
    [ -n "$pid" ] && kill "$pid" 2>/dev/null && wait "$pid" 2>/dev/null
    [ -n "${bus:-}" ] && kill "$bus" 2>/dev/null
    rm -rf "$home"
}
trap cleanup EXIT

/usr/libexec/at-spi-bus-launcher --launch-immediately >/dev/null 2>&1 &
bus=$!

# Two Claude accounts (one captured, the active one) and a Codex one, nothing reachable.
mkdir -p "$home/.local/share/ulmet" "$home/.claude" "$home/.codex"
cat >"$home/.local/share/ulmet/config.json" <<'JSON'
{"profiles": [
  {"id": "E621E1F8-C36C-495A-93FC-0C247A3E6E5F", "name": "main", "provider": "claude", "configDir": "~/.claude", "colorName": "orange", "accountEmail": "me@example.com"},
  {"id": "0F1E2D3C-4B5A-4978-8796-A5B4C3D2E1F0", "name": "work", "provider": "claude", "configDir": "~/.claude-work", "colorName": "blue", "accountEmail": "work@example.com"},
  {"id": "11111111-2222-4333-8444-555555555555", "name": "Codex", "provider": "codex", "configDir": "~/.codex", "colorName": "green"}
 ],
 "activeProfileID": "E621E1F8-C36C-495A-93FC-0C247A3E6E5F", "keychainConnected": false}
JSON

HOME=$home XDG_DATA_HOME=$home/.local/share ULMET_NO_TRAY=1 ULMET_NO_KEYCHAIN=1 \
    ULMET_API_ORIGIN=http://127.0.0.1:9 QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1 QT_QPA_PLATFORM=xcb \
    "$binary" >"$home/ulmet.log" 2>&1 &
pid=$!
status=0
/usr/bin/python3 "$here/atspi_tree.py" "$pid" || status=$?
if [ $status -eq 0 ]; then
    # "終了" ended it: as cleanly as a click would (no sanitizer report, status 0).
    wait "$pid" || { status=$?; echo "ulmet ended with status $status"; }
    pid=
fi
[ $status -eq 0 ] || { echo "--- ulmet's output"; cat "$home/ulmet.log"; }
exit $status
