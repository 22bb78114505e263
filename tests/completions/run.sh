#!/usr/bin/env bash
# The shell completions against the built program: bash and fish complete the verbs and the
# configured profiles' names (one with a space, one not ASCII); zsh's file must at least parse.
#   run.sh ULMET_BINARY
set -euo pipefail
binary=$1
dir=$(cd "$(dirname "$0")/../../packaging/completions" && pwd)
home=$(mktemp -d)
trap 'rm -rf "$home"' EXIT
mkdir -p "$home/bin" "$home/.local/share/ulmet"
ln -s "$binary" "$home/bin/ulmet"
cat >"$home/.local/share/ulmet/config.json" <<'JSON'
{"profiles": [{"name": "work", "configDir": "~/.claude"}, {"name": "home box", "configDir": "~/.claude-home"},
              {"name": "über", "configDir": "~/.claude-u"}]}
JSON
export HOME=$home PATH="$home/bin:$PATH" XDG_DATA_HOME=
failed=0
expect() { # what, expected, actual
    if [ "$2" != "$3" ]; then
        printf 'completions: %s\n  expected: %s\n  actual:   %s\n' "$1" "$2" "$3" >&2
        failed=1
    fi
}

# bash
bash_complete() {
    bash -c 'source "$1"; shift; COMP_WORDS=("$@"); COMP_CWORD=$(($# - 1)); _ulmet; printf "%s\n" "${COMPREPLY[@]}"' \
        _ "$dir/ulmet.bash" "$@" | sort | paste -sd '|'
}
expect "bash: profiles" 'home\ box|work|über' "$(bash_complete ulmet --switch '')"
expect "bash: a profile by its start" 'home\ box' "$(bash_complete ulmet --switch ho)"
expect "bash: verbs" "--watch" "$(bash_complete ulmet --waybar --w)"
expect "bash: options" "--refresh" "$(bash_complete ulmet --re)"
expect "bash: options" "--raw" "$(bash_complete ulmet --check --r)"

# fish
fish_complete() { fish --no-config -c "source $dir/ulmet.fish; complete -C'$1'" | cut -f1 | sort | paste -sd '|'; }
expect "fish: profiles" "home box|work|über" "$(fish_complete 'ulmet --switch ')"
expect "fish: options" "--refresh" "$(fish_complete 'ulmet --ref')"

# zsh
zsh -n "$dir/_ulmet" || { echo "completions: _ulmet does not parse" >&2; failed=1; }
grep -q -- "--list-profiles" "$dir/_ulmet" || { echo "completions: _ulmet does not list profiles" >&2; failed=1; }

[ "$failed" = 0 ] && echo "completions: bash, fish and zsh complete the verbs and profiles"
exit "$failed"
