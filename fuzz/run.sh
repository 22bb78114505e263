#!/usr/bin/env bash
# Builds the libFuzzer targets (clang, ASan + UBSan) and runs each for a number of seconds:
#   bash fuzz/run.sh [SECONDS] [TARGET...]     (default 30 s, every target)
# Each target starts from its seed corpus (fuzz/corpus/<target>) and grows a working corpus in
# build/fuzz-corpus/<target>; a failing input is written to build/fuzz-artifacts/.
set -euo pipefail
source "$(dirname "$0")/../scripts/env.sh"
cd "$ULMET_ROOT"
seconds=${1:-30}
shift || true
targets=("$@")
[ ${#targets[@]} -eq 0 ] && targets=(FuzzConfig FuzzCredentials FuzzUsage FuzzRefresh FuzzCodexLog FuzzHistoryLine FuzzStateFile FuzzStatusLine)
bash scripts/install-deps.sh >&2
cmake --preset fuzz >&2
cmake --build --preset fuzz >&2
mkdir -p build/fuzz-artifacts
status=0
for t in "${targets[@]}"; do
    mkdir -p "build/fuzz-corpus/$t"
    echo "== $t: ${seconds}s"
    if ! ASAN_OPTIONS=detect_leaks=1 "build/fuzz/fuzz/$t" -max_total_time="$seconds" -max_len=65536 -timeout=10 \
        -rss_limit_mb=2048 -print_final_stats=1 -artifact_prefix="build/fuzz-artifacts/$t-" \
        "build/fuzz-corpus/$t" "fuzz/corpus/$t" 2>"build/fuzz-artifacts/$t.log"; then
        echo "   FAILED: see build/fuzz-artifacts/$t.log"
        status=1
    fi
    grep -E '^stat::number_of_executed_units|^Done' "build/fuzz-artifacts/$t.log" | sed 's/^/   /' || true
done
exit $status
