#!/usr/bin/env bash
# The verbs for scripts against a running MeterKeeper (optimised build, private session bus, the
# panel offscreen): the whole process of `ulmet --json` and `ulmet --waybar`, against
# `ulmet --statusline` on the fixture; then `ulmet --waybar --watch` idle between changes
# (wake-ups counted as context switches, CPU time in ticks).
#   bash bench/verbs-bench.sh            (ULMET_IDLE_SECONDS, default 30; ULMET_CALLS, default 300)
set -euo pipefail
source "$(dirname "$0")/../scripts/env.sh"
cd "$ULMET_ROOT"
if [ -z "${ULMET_VERBS_BENCH_INNER:-}" ]; then
    bash scripts/install-deps.sh >&2
    cmake --preset bench >&2
    cmake --build --preset bench --target ulmet statusline_bench >&2
    ULMET_VERBS_BENCH_INNER=1 exec dbus-run-session -- bash "$0" "$@"
fi

bin=build/bench
work=$(mktemp -d "${TMPDIR:-/tmp}/ulmet-verbs-bench-XXXXXX")
pids=()
trap 'kill "${pids[@]}" 2>/dev/null; rm -rf "$work"' EXIT
export HOME="$work/home" QT_QPA_PLATFORM=offscreen ULMET_NO_TRAY=1 ULMET_NO_KEYCHAIN=1
unset XDG_DATA_HOME
export ULMET_API_ORIGIN=http://127.0.0.1:9 ULMET_CONSOLE_ORIGIN=http://127.0.0.1:9
data="$HOME/.local/share/ulmet"
mkdir -p "$data" "$HOME/.claude" "$HOME/.claude-work"
# Three profiles: two read from claude's status line (readings filed below), one failing.
cat > "$data/config.json" <<JSON
{"pollIntervalSec": 600, "activeProfileID": "E621E1F8-C36C-495A-93FC-0C247A3E6E5F", "profiles": [
 {"id": "E621E1F8-C36C-495A-93FC-0C247A3E6E5F", "name": "main", "configDir": "~/.claude", "usageSource": "statusLine"},
 {"id": "0F1E2D3C-4B5A-4978-8796-A5B4C3D2E1F0", "name": "work", "configDir": "~/.claude-work", "usageSource": "statusLine"},
 {"id": "1A2B3C4D-5E6F-4A7B-8C9D-0E1F2A3B4C5D", "name": "side", "configDir": "~/.claude-side"}]}
JSON
# The fixture with its reset times moved into the future (else the windows read 0 %).
sed 's/1789390799/4102444800/; s/1789714799/4102531200/' tests/data/statusline-input.json > "$work/input.json"
for dir in "$HOME/.claude" "$HOME/.claude-work"; do
    CLAUDE_CONFIG_DIR=$dir "$bin/ulmet" --statusline < "$work/input.json" > /dev/null
done

"$bin/ulmet" 2> "$work/ulmet.err" &
pids+=($!)
for _ in $(seq 100); do "$bin/ulmet" --refresh 2>/dev/null && break; sleep 0.1; done
"$bin/ulmet" --json | grep -q '"name":"work"' || { echo "verbs-bench: MeterKeeper does not answer" >&2; exit 1; }

"$bin/bench/statusline_bench" "$bin/ulmet" tests/data/statusline-input.json "${ULMET_CALLS:-300}" --verbs

"$bin/ulmet" --waybar --watch > "$work/watch.out" &
watch=$!
pids+=($watch)
sleep 2
ticks() { awk '{print $14 + $15}' "/proc/$watch/stat"; }
switches() { awk '/ctxt_switches/ {n += $2} END {print n}' "/proc/$watch/status"; }
t0=$(ticks); s0=$(switches); l0=$(wc -l < "$work/watch.out")
sleep "${ULMET_IDLE_SECONDS:-30}"
t1=$(ticks); s1=$(switches); l1=$(wc -l < "$work/watch.out")
echo "ulmet --waybar --watch idle for ${ULMET_IDLE_SECONDS:-30} s: $((t1 - t0)) CPU ticks, $((s1 - s0)) context switches, $((l1 - l0)) lines"
# A new reading of main's, then a refresh: one line.
sed 's/"used_percentage": *37.0/"used_percentage": 81.0/' "$work/input.json" > "$work/changed.json"
CLAUDE_CONFIG_DIR="$HOME/.claude" "$bin/ulmet" --statusline < "$work/changed.json" > /dev/null
"$bin/ulmet" --refresh
sleep 2
echo "after a changed reading and a refresh: $(( $(wc -l < "$work/watch.out") - l1 )) line(s): $(tail -1 "$work/watch.out" | cut -d, -f1)"
