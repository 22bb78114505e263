#!/usr/bin/env bash
# Installs what is missing, builds the release program and runs it with the given arguments.
set -euo pipefail
source "$(dirname "$0")/env.sh"
cd "$ULMET_ROOT"
bash scripts/install-deps.sh >&2
cmake --preset release >&2
cmake --build --preset release >&2
exec "$ULMET_ROOT/build/release/ulmet" "$@"
