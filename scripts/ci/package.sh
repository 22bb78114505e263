#!/usr/bin/env bash
# What a packager builds: the Debian package with the distribution's flags (warnings not fatal),
# checked by lintian, desktop-file-validate, appstreamcli and hardening-check, installed, run and
# removed again (scripts/package.sh --install).
set -euo pipefail
source "$(dirname "$0")/../env.sh"
bash "$ULMET_ROOT/scripts/ci/install.sh"
bash "$ULMET_ROOT/scripts/package.sh" --install
