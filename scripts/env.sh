# Shared settings for the build scripts (sourced, not run).
ULMET_ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
# Let ccache reuse objects across clones of the repository (CI builds in a fresh clone).
export CCACHE_BASEDIR="$ULMET_ROOT"
export CCACHE_NOHASHDIR=1
