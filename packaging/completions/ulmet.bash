# bash completion for ulmet (MeterKeeper)

_ulmet() {
    local cur prev
    cur=${COMP_WORDS[COMP_CWORD]}
    prev=${COMP_WORDS[COMP_CWORD-1]}
    case $prev in
        --switch)
            # Names may hold spaces: matched one per line, inserted quoted.
            local name
            COMPREPLY=()
            while IFS= read -r name; do
                [[ $name == "$cur"* ]] && COMPREPLY+=("$(printf '%q' "$name")")
            done < <(ulmet --list-profiles 2>/dev/null)
            return
            ;;
        --statusline-install)
            COMPREPLY=($(compgen -d -- "$cur"))
            return
            ;;
        --waybar)
            COMPREPLY=($(compgen -W "--watch" -- "$cur"))
            return
            ;;
        --check)
            COMPREPLY=($(compgen -W "--raw" -- "$cur"))
            return
            ;;
    esac
    if [ "$COMP_CWORD" -eq 1 ]; then
        COMPREPLY=($(compgen -W "--check --switch --refresh --json --waybar --list-profiles --statusline
            --statusline-install --help --version" -- "$cur"))
    fi
}
complete -F _ulmet ulmet
