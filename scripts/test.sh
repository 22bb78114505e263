#!/usr/bin/env bash
# The test command. Each step is a script of its own in scripts/ci/, which also runs alone from
# any directory (it installs and builds what it needs); arguments go to the asan step's ctest.
#   install   the Debian packages the build and the tests need
#   format    the C++ files are as clang-format makes them
#   asan      every test, built with ASan + UBSan (the tray tests on private X servers)
#   faketime  the tests labelled faketime again under libfaketime at two awkward moments
#   plain     a plain `cmake -B build/plain` (Unix Makefiles) builds and passes its tests
#   package   the Debian package: built, checked, installed, run and removed
#   fuzz      each fuzz target for a few seconds
#   tsan      the tests labelled tsan again under ThreadSanitizer
#   distro    the build and the core, store and end-to-end tests on Debian 13 in a chroot
set -euo pipefail
ci=$(cd "$(dirname "$0")/ci" && pwd)
bash "$ci/install.sh"
bash "$ci/format.sh"
bash "$ci/asan.sh" "$@"
bash "$ci/faketime.sh"
bash "$ci/plain.sh"
bash "$ci/package.sh"
bash "$ci/fuzz.sh"
bash "$ci/tsan.sh"
bash "$ci/distro.sh"
