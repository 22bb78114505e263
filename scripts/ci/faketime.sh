#!/usr/bin/env bash
# The tests labelled faketime (the core and store tests), in the asan build, again at two awkward
# moments of the wall clock: a few seconds before midnight in the zone furthest ahead of UTC (the
# day changes while they run), and just before the spring daylight-saving change. ctest and the
# tests it starts share the one clock faketime starts at that moment (and the timeouts run on it).
set -euo pipefail
source "$(dirname "$0")/../env.sh"
bash "$ULMET_ROOT/scripts/ci/install.sh"
cd "$ULMET_ROOT"
[ -f build/asan/CMakeCache.txt ] || cmake --preset asan
cmake --build --preset asan
# libfaketime is preloaded ahead of the sanitizer's runtime.
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1:strict_string_checks=1:verify_asan_link_order=0
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
for moment in "Pacific/Chatham|2026-12-06 23:59:56" "Europe/Berlin|2027-03-28 01:59:50"; do
    zone=${moment%%|*}
    at=${moment#*|}
    echo "== the tests labelled faketime at $at ($zone)"
    TZ=$zone faketime "$at" ctest --test-dir build/asan -j"$(nproc)" -L '^faketime$' -LE '^(slow|realclock)$' \
        --output-on-failure --no-tests=error --timeout 300
done
