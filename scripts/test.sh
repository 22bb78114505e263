#!/usr/bin/env bash
# Installs what is missing, builds with AddressSanitizer + UndefinedBehaviorSanitizer and runs
# every test.
set -euo pipefail
source "$(dirname "$0")/env.sh"
cd "$ULMET_ROOT"
bash scripts/install-deps.sh
cmake --preset asan
cmake --build --preset asan
ctest --preset asan -j"$(nproc)" "$@"
