#!/usr/bin/env bash
# Builds the libFuzzer targets and runs each for ULMET_FUZZ_SECONDS (default 4) seconds.
set -euo pipefail
source "$(dirname "$0")/../env.sh"
bash "$ULMET_ROOT/scripts/ci/install.sh"
bash "$ULMET_ROOT/fuzz/run.sh" "${ULMET_FUZZ_SECONDS:-4}"
