#!/usr/bin/env bash
# The tests labelled tsan (every case of core_tests and app_tests), built with ThreadSanitizer: only
# their executables are built. Those labelled slow or qtdbus are left out (tests/CMakeLists.txt).
set -euo pipefail
source "$(dirname "$0")/../env.sh"
bash "$ULMET_ROOT/scripts/ci/install.sh"
cd "$ULMET_ROOT"
cmake --preset tsan
cmake --build --preset tsan --target core_tests app_tests
ctest --preset tsan -j"$(nproc)" -L '^tsan$' -LE '^(slow|qtdbus|httplibthreads)$'
