# fish completion for ulmet (MeterKeeper)
complete -c ulmet -f
complete -c ulmet -l check -d "Print every profile's login, account and usage windows"
complete -c ulmet -l raw -n "__fish_seen_argument -l check" -d "Also print each usage answer"
complete -c ulmet -l switch -x -a "(ulmet --list-profiles 2>/dev/null)" -d "Make a profile's login the live claude login"
complete -c ulmet -l refresh -d "Have the running MeterKeeper read every profile now"
complete -c ulmet -l json -d "Print every profile's readings as JSON"
complete -c ulmet -l waybar -d "Print a line for a waybar custom module"
complete -c ulmet -l watch -n "__fish_seen_argument -l waybar" -d "A new line at every change"
complete -c ulmet -l list-profiles -d "Print the configured profiles' names"
complete -c ulmet -l statusline -d "The status line claude runs"
complete -c ulmet -l statusline-install -x -a "(__fish_complete_directories)" -d "Make ulmet the status line of a claude directory"
complete -c ulmet -s h -l help -d "Print the options"
complete -c ulmet -s V -l version -d "Print the version"
