#!/usr/bin/env bash
# Builds with AddressSanitizer + UndefinedBehaviorSanitizer and runs every test (the tray tests
# on private X servers, the real desktops as a user of their own). Arguments pass to ctest:
#   bash scripts/ci/asan.sh -L core      bash scripts/ci/asan.sh -R 'HistoryStoreTest\.'
set -euo pipefail
source "$(dirname "$0")/../env.sh"
bash "$ULMET_ROOT/scripts/ci/install.sh"
cd "$ULMET_ROOT"
cmake --preset asan
cmake --build --preset asan
ctest --preset asan -j"$(nproc)" "$@"
