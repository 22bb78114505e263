#!/usr/bin/env bash
# Installs what is missing, builds with AddressSanitizer + UndefinedBehaviorSanitizer and runs
# every test; runs each fuzz target for a few seconds; then runs the store and core tests again
# under ThreadSanitizer.
set -euo pipefail
source "$(dirname "$0")/env.sh"
cd "$ULMET_ROOT"
bash scripts/install-deps.sh
cmake --preset asan
cmake --build --preset asan
ctest --preset asan -j"$(nproc)" "$@"

bash fuzz/run.sh "${ULMET_FUZZ_SECONDS:-4}"

cmake --preset tsan
cmake --build --preset tsan --target app_tests core_tests
ctest --preset tsan -j"$(nproc)" -R '^(StoreTest|HistoryStoreTest|HistoryChart|CodexTest|ResolverTest)\.'
