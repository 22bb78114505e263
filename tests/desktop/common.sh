# What the tests on real desktops share: failing with ulmet's log, waiting, ulmet started and
# stopped (SIGTERM must end it with status 0), the StatusNotifierItem it registered with the
# panel's watcher and its Activate. Expects $binary and $log.

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
# The item's bus name as the watcher lists it (":1.6/StatusNotifierItem"), empty while none.
item() {
    gdbus call --session --dest org.kde.StatusNotifierWatcher --object-path /StatusNotifierWatcher \
        --method org.freedesktop.DBus.Properties.Get org.kde.StatusNotifierWatcher \
        RegisteredStatusNotifierItems 2>/dev/null | grep -o "'[^']*'" | head -1 | tr -d "'" | cut -d/ -f1
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
