#!/usr/bin/env bash
# Installs what is missing, builds with AddressSanitizer + UndefinedBehaviorSanitizer and runs
# every test (the tray tests on private X servers); runs the core and store tests again under
# libfaketime at two awkward moments; builds, checks and installs the Debian package; runs each fuzz target for a
# few seconds; runs the store and core tests again under ThreadSanitizer; and builds and tests the
# project on the next Debian release in a chroot.
set -euo pipefail
source "$(dirname "$0")/env.sh"
cd "$ULMET_ROOT"
bash scripts/install-deps.sh
cmake --preset asan
cmake --build --preset asan
ctest --preset asan -j"$(nproc)" "$@"

# The core and store tests again at two awkward moments of the wall clock: a few seconds before
# midnight in the zone furthest ahead of UTC (the day changes while they run), and just before the
# spring daylight-saving change.
(
    cd build/asan
    export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1:strict_string_checks=1:verify_asan_link_order=0
    export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
    for moment in "Pacific/Chatham|2026-12-06 23:59:56" "Europe/Berlin|2027-03-28 01:59:50"; do
        zone=${moment%%|*}
        at=${moment#*|}
        echo "== core and store tests at $at ($zone)"
        # (the year of history is thinned once, in the run above: it takes half a minute)
        TZ=$zone faketime "$at" tests/core_tests --gtest_brief=1 --gtest_filter=-*.AYearOfReadings*
        TZ=$zone faketime "$at" "$ULMET_ROOT/tests/support/with-secret-service.sh" --bus-only \
            tests/app_tests --gtest_brief=1
    done
)

# What a packager builds: the Debian package with the distribution's flags (warnings not fatal),
# checked by lintian, desktop-file-validate, appstreamcli and hardening-check, installed, run and
# removed again.
bash scripts/package.sh --install

bash fuzz/run.sh "${ULMET_FUZZ_SECONDS:-4}"

cmake --preset tsan
cmake --build --preset tsan --target app_tests core_tests
ctest --preset tsan -j"$(nproc)" -E 'AYearOfReadings' \
    -R '^(StoreTest|StoreStressTest|HistoryStoreTest|HistoryChart|CodexTest|ResolverTest|CustodianTest|StatusLineReadings)\.'

# The next Debian (its package names, compiler and Qt) in a chroot kept under build/distro.
bash scripts/check-distro.sh trixie
