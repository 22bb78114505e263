#!/usr/bin/env bash
# The next Debian (its package names, compiler and Qt) in a chroot kept under build/distro: the
# build with the core, store and end-to-end tests (scripts/check-distro.sh trixie; root only).
set -euo pipefail
source "$(dirname "$0")/../env.sh"
bash "$ULMET_ROOT/scripts/check-distro.sh" trixie
