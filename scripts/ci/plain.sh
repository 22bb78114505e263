#!/usr/bin/env bash
# What a packager's plain CMake does: the default generator (Unix Makefiles), no preset, no build
# type, warnings not fatal; builds everything with the tests in build/plain and runs them.
set -euo pipefail
source "$(dirname "$0")/../env.sh"
bash "$ULMET_ROOT/scripts/ci/install.sh"
cd "$ULMET_ROOT"
cmake -S . -B build/plain
cmake --build build/plain -j"$(nproc)"
ctest --test-dir build/plain -j"$(nproc)" --output-on-failure --no-tests=error --timeout 300
