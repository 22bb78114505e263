#!/usr/bin/env bash
# Fails, naming them, when tracked C++ sources or headers under src/, tests/, bench/ or fuzz/
# differ from what clang-format makes of them with the repository's .clang-format.
set -euo pipefail
source "$(dirname "$0")/../env.sh"
bash "$ULMET_ROOT/scripts/ci/install.sh"
cd "$ULMET_ROOT"
unformatted=()
while IFS= read -r -d '' f; do
    clang-format --dry-run --Werror "$f" >/dev/null 2>&1 || unformatted+=("$f")
done < <(git ls-files -z -- src tests bench fuzz | grep -zE '\.(c|cc|cpp|cxx|h|hh|hpp|hxx)$')
if [ ${#unformatted[@]} -ne 0 ]; then
    echo "format: not as clang-format $(clang-format --version | grep -o '[0-9][0-9.]*' | head -1) formats them" \
        "(clang-format -i FILE...):" >&2
    printf '  %s\n' "${unformatted[@]}" >&2
    exit 1
fi
echo "format: every C++ file is formatted"
