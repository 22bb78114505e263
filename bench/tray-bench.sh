#!/usr/bin/env bash
# The tray application's start, panel and idle costs, on a private X server and bus with a
# stand-in StatusNotifierItem host (bench/SniWatcher.cpp), optimised build, 48 hours of history
# for three profiles. Prints: exec → tray item registered (against exec → exit of `ulmet --check`
# on the same files, as a baseline), click → panel visible (first and second time), resident
# memory (tray only, after the panel was shown), CPU time and context switches while idle; then the
# icon back after the panel restarts, and exec → icon with an XEmbed tray (trayer) and → window
# without any tray.
#   bash bench/tray-bench.sh            (ULMET_IDLE_SECONDS, default 60)
set -euo pipefail
source "$(dirname "$0")/../scripts/env.sh"
cd "$ULMET_ROOT"
if [ -z "${ULMET_TRAY_BENCH_INNER:-}" ]; then
    bash scripts/install-deps.sh >&2
    cmake --preset bench >&2
    cmake --build --preset bench --target ulmet sni_watcher >&2
    ULMET_TRAY_BENCH_INNER=1 exec tests/support/with-desktop.sh bash "$0" "$@"
fi

bin=build/bench
work=$(mktemp -d "${TMPDIR:-/tmp}/ulmet-tray-bench-XXXXXX")
pids=()
trap 'kill "${pids[@]}" 2>/dev/null; rm -rf "$work"' EXIT
now_ms() { echo $(( $(date +%s%N) / 1000000 )); }

# Three profiles, one reading a minute each for the last 48 hours.
export HOME="$work/home" TZ=UTC QT_QPA_PLATFORM=xcb
unset XDG_DATA_HOME
export ULMET_API_ORIGIN=http://127.0.0.1:9 ULMET_CONSOLE_ORIGIN=http://127.0.0.1:9
data="$HOME/.local/share/ulmet"
mkdir -p "$data/history"
ids=(E621E1F8-C36C-495A-93FC-0C247A3E6E5F 0F1E2D3C-4B5A-4978-8796-A5B4C3D2E1F0 1A2B3C4D-5E6F-4A7B-8C9D-0E1F2A3B4C5D)
cat > "$data/config.json" <<JSON
{"pollIntervalSec": 600, "activeProfileID": "${ids[0]}", "menuWeekEnabled": true, "profiles": [
 {"id": "${ids[0]}", "name": "main", "configDir": "~/.claude", "colorName": "orange"},
 {"id": "${ids[1]}", "name": "work", "configDir": "~/.claude-work", "colorName": "blue"},
 {"id": "${ids[2]}", "name": "side", "configDir": "~/.claude-side", "colorName": "green"}]}
JSON
start=$(( $(date +%s) - 48 * 3600 ))
for ((m = 0; m < 48 * 60; m++)); do
    t=$((start + m * 60))
    ts=$(date -u -d "@$t" +%Y-%m-%dT%H:%M:%SZ 2>/dev/null || true)
    day=$(date -d "@$t" +%Y-%m-%d)
    for id in "${ids[@]}"; do
        printf '{"ts":"%s","profileID":"%s","windows":[{"key":"five_hour","utilization":%d},{"key":"seven_day","utilization":%d}]}\n' \
            "$ts" "$id" $((m % 100)) $((m / 40)) >> "$data/history/$day.jsonl"
    done
done 2>/dev/null

# Baseline: the text report over the same files.
t0=$(now_ms); ULMET_NO_KEYCHAIN=1 "$bin/ulmet" --check > /dev/null; t1=$(now_ms)
baseline=$((t1 - t0))

"$bin/bench/sni_watcher" > "$work/watcher.out" &
watcher=$!
pids+=($watcher)
until grep -q ready "$work/watcher.out" 2>/dev/null; do sleep 0.01; done

launch() {
    "$bin/ulmet" 2>> "$work/ulmet.err" &
    app=$!
    pids+=($app)
}
t0=$(date +%s%N)
launch
until grep -q registered "$work/watcher.out"; do sleep 0.002; done
read -r _ service t1 < <(grep registered "$work/watcher.out")
registered=$(( (t1 - t0) / 1000000 ))

rss() { awk '/VmRSS/ {printf "%.1f", $2 / 1024}' "/proc/$app/status"; }
sleep 2
rss_tray=$(rss)

visible() { xdotool search --onlyvisible --name '^MeterKeeper$' > /dev/null 2>&1; }
activate() { gdbus call --session --dest "$service" --object-path /StatusNotifierItem \
    --method org.kde.StatusNotifierItem.Activate 0 0 > /dev/null; }
open_ms() {
    local a b
    a=$(now_ms); activate
    until visible; do :; done
    b=$(now_ms); echo $((b - a))
}
first=$(open_ms)
sleep 0.5; activate; while visible; do sleep 0.01; done
sleep 0.5
second=$(open_ms)
sleep 1
rss_panel=$(rss)
sleep 0.5; activate; while visible; do sleep 0.01; done

ticks() { awk '{print $14 + $15}' "/proc/$app/stat"; }
# Context switches of the main thread (worker threads come and go with the polls).
switches() { awk '/ctxt_switches/ {s += $2} END {print s}' "/proc/$app/status"; }
idle=${ULMET_IDLE_SECONDS:-60}
sleep 2
c0=$(ticks); s0=$(switches)
sleep "$idle"
c1=$(ticks); s1=$(switches)

# The panel restarts: its watcher goes, the window stands in, a new watcher comes.
kill "$watcher"; wait "$watcher" 2>/dev/null || true
until visible; do sleep 0.01; done
t0=$(date +%s%N)
"$bin/bench/sni_watcher" > "$work/watcher2.out" &
watcher=$!
pids+=($watcher)
until grep -q registered "$work/watcher2.out" 2>/dev/null; do sleep 0.002; done
read -r _ _ t1 < <(grep registered "$work/watcher2.out")
again=$(( (t1 - t0) / 1000000 ))
kill "$watcher" "$app"; wait "$app" 2>/dev/null || true

# Start with an XEmbed tray there (trayer) and with no tray at all: exec → icon embedded, window shown.
embedded() { xwininfo -root -tree | grep -qE '^ +0x[0-9a-f]+ \(has no name\): \(\) +22x'; }
trayer --edge top --align right --widthtype request --height 24 &
tray=$!
pids+=($tray)
sleep 1
t0=$(now_ms)
launch
until embedded; do sleep 0.002; done
xembed=$(( $(now_ms) - t0 ))
kill "$app" "$tray"; wait "$app" "$tray" 2>/dev/null || true
t0=$(now_ms)
launch
until visible; do sleep 0.005; done
notray=$(( $(now_ms) - t0 ))

echo "exec → tray item registered:   ${registered} ms   (baseline: ulmet --check on the same files ${baseline} ms; ratio $(awk "BEGIN {printf \"%.1f\", $registered / ($baseline > 0 ? $baseline : 1)}"))"
echo "click → panel visible:         first ${first} ms, second ${second} ms"
echo "resident memory:               tray only ${rss_tray} MB, after the panel was shown ${rss_panel} MB"
echo "idle ${idle} s, panel hidden:   $((c1 - c0)) CPU ticks, $((s1 - s0)) context switches of the main thread"
echo "panel restarts → item again:   ${again} ms after the new watcher's exec"
echo "exec → icon in an XEmbed tray: ${xembed} ms; exec → window without any tray: ${notray} ms"
