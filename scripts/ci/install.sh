#!/usr/bin/env bash
# Installs the Debian packages the build and the tests need; nothing when they are all there.
set -euo pipefail
source "$(dirname "$0")/../env.sh"
bash "$ULMET_ROOT/scripts/install-deps.sh"
