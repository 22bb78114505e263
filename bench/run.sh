#!/usr/bin/env bash
# Builds the optimised benchmarks and runs them all. Generated data (about 13 GB, made once) goes
# to $ULMET_BENCH_DIR (default build/bench-data); pass google-benchmark flags through, e.g.
#   bash bench/run.sh --benchmark_filter=Worst
set -euo pipefail
source "$(dirname "$0")/../scripts/env.sh"
cd "$ULMET_ROOT"
bash scripts/install-deps.sh >&2
cmake --preset bench >&2
cmake --build --preset bench >&2
bin=build/bench/bench
"$bin/state_file_bench" "$@"
for op in readIdentity readEmail fullParse writeIdentity; do "$bin/state_file_bench" --memory=$op; done
"$bin/codex_bench" "$@"
for set in 64 1024 worst; do "$bin/codex_bench" --memory=$set; done
"$bin/history_bench" "$@"
"$bin/history_bench" --memory
"$bin/history_bench" --year
"$bin/statusline_bench" build/bench/ulmet tests/data/statusline-input.json
