# What the tests on real desktops share: failing with ulmet's log, waiting, ulmet started and
# stopped (SIGTERM must end it with status 0), the StatusNotifierItem it registered with the
# panel's watcher and its Activate, the windows, and the start orders. Expects $binary and $log,
# and from the script `windows`, `start_host` and `stop_host`.

fail() {
    echo "FAIL: $*" >&2
    tail -n 20 "$log" >&2
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

# For the README, with ULMET_DESKTOP_SCREENSHOT=FILE.png: two accounts with readings (from the
# history, as at every start), so that the panel shows what a user sees.
seed_readings() {
    [ -n "${ULMET_DESKTOP_SCREENSHOT:-}" ] || return 0
    local data=$HOME/.local/share/ulmet now resets week
    mkdir -p "$data/history"
    cat >"$data/config.json" <<'JSON'
{"activeProfileID": "E621E1F8-C36C-495A-93FC-0C247A3E6E5F", "menuWeekEnabled": true, "profiles": [
 {"id": "E621E1F8-C36C-495A-93FC-0C247A3E6E5F", "name": "main", "configDir": "~/.claude", "colorName": "orange"},
 {"id": "0F1E2D3C-4B5A-4978-8796-A5B4C3D2E1F0", "name": "work", "configDir": "~/.claude-work", "colorName": "blue"}]}
JSON
    now=$(date -u +%Y-%m-%dT%H:%M:%SZ)
    resets=$(date -u -d '+2 hours 10 minutes' +%Y-%m-%dT%H:%M:%SZ)
    week=$(date -u -d '+3 days' +%Y-%m-%dT%H:%M:%SZ)
    printf '{"ts":"%s","profileID":"%s","windows":[{"key":"five_hour","utilization":%d,"resetsAt":"%s"},{"key":"seven_day","utilization":%d,"resetsAt":"%s"}]}\n' \
        "$now" E621E1F8-C36C-495A-93FC-0C247A3E6E5F 42 "$resets" 67 "$week" \
        "$now" 0F1E2D3C-4B5A-4978-8796-A5B4C3D2E1F0 8 "$resets" 23 "$week" >"$data/history/$(date +%Y-%m-%d).jsonl"
}

app_pid=
start_app() {
    "$binary" >>"$log" 2>&1 &
    app_pid=$!
}
stop_app() {
    kill -TERM "$app_pid"
    local status=0
    wait "$app_pid" || status=$?
    [ "$status" -eq 0 ] || fail "ulmet exited $status on SIGTERM"
    app_pid=
}
# The item's bus name as the watcher lists it (":1.6/StatusNotifierItem", GNOME's
# ":1.6@/StatusNotifierItem"), empty while none.
item() {
    gdbus call --session --dest org.kde.StatusNotifierWatcher --object-path /StatusNotifierWatcher \
        --method org.freedesktop.DBus.Properties.Get org.kde.StatusNotifierWatcher \
        RegisteredStatusNotifierItems 2>/dev/null | grep -o "'[^']*'" | head -1 | tr -d "'" | sed 's|[@/].*||'
}
registered() { [ -n "$(item)" ]; }
activate() {
    gdbus call --session --dest "$(item)" --object-path /StatusNotifierItem \
        --method org.kde.StatusNotifierItem.Activate 0 0 >/dev/null
}
# The unique bus name of the panel's watcher, empty while none runs.
watcher_owner() {
    gdbus call --session --dest org.freedesktop.DBus --object-path /org/freedesktop/DBus \
        --method org.freedesktop.DBus.GetNameOwner org.kde.StatusNotifierWatcher 2>/dev/null |
        grep -o "'[^']*'" | tr -d "'" || true
}
has_watcher() { [ -n "$(watcher_owner)" ]; }

# With the script's `windows` (one line per visible MeterKeeper window):
no_window() { [ -z "$(windows)" ]; }
has_window() { [ -n "$(windows)" ]; }
# A panel's size, not a screen's.
sensible_size() { # width height
    { [ "$1" -ge 250 ] && [ "$1" -le 600 ] && [ "$2" -ge 150 ] && [ "$2" -le 700 ]; } || fail "the panel is $1x$2"
}

# The start orders, with the script's `start_host` and `stop_host` (the desktop's panel):
# panel_first leaves both running; the others stop the host first and ulmet at the end.
panel_first() {
    start_host
    wait_for 10 has_watcher || fail "the host took no watcher name"
    start_app
    wait_for 10 registered || fail "no item in the host's tray"
    sleep 0.5
    no_window || fail "a window beside the icon: $(windows)"
}
ulmet_first() {
    stop_host
    start_app
    sleep 3 # the wait at start for a tray; then the window stands in (its module loads first)
    wait_for 15 has_window || fail "no window without a host"
    start_host
    wait_for 10 registered || fail "no item in the host that came later"
    wait_for 10 no_window || fail "the window stayed: $(windows)"
    stop_app
}
both_at_once() {
    stop_host
    start_host
    start_app
    wait_for 10 registered || fail "no item when both start together"
    sleep 0.5
    no_window || fail "a window beside the icon: $(windows)"
    stop_app
}
