# bash completion for uhfctl: options, commands (the reader commands asked of uhfctl itself, so
# they follow the library installed), device nodes for --device, and each command's options.
_uhfctl() {
    local cur prev words cword
    _init_completion || return

    case $prev in
        --device)
            local nodes
            nodes=$(compgen -G '/dev/ttyUSB*'; compgen -G '/dev/ttyACM*'; compgen -G '/dev/serial/by-id/*')
            COMPREPLY=($(compgen -W "$nodes usb usb: tcp: serial:" -- "$cur"))
            [[ $cur == /* ]] && _filedir
            return ;;
        --baud) COMPREPLY=($(compgen -W "9600 19200 38400 57600 115200" -- "$cur")); return ;;
        --family) COMPREPLY=($(compgen -W "epc gb gjb all" -- "$cur")); return ;;
        --layout) COMPREPLY=($(compgen -W "virtual raw" -- "$cur")); return ;;
        --port | --addr | --timeout | --attempts | --sim-tags | --sim-seed | --rounds | --interval) return ;;
    esac

    local options="--device --usb --port --sim --sim-tags --sim-seed --baud --addr --timeout --attempts --json
                   --trace --version --help"
    local builtins="link info scan inventory raw demo commands help epc"

    # The command already given, if any.
    local i command=
    for ((i = 1; i < cword; i++)); do
        case ${words[i]} in
            --device | --port | --baud | --addr | --timeout | --attempts | --sim-tags | --sim-seed | --family | --rounds | --interval | --layout) ((i++)) ;;
            -*) ;;
            *) command=${words[i]}; break ;;
        esac
    done

    if [[ -z $command ]]; then
        if [[ $cur == -* ]]; then
            COMPREPLY=($(compgen -W "$options" -- "$cur"))
        else
            COMPREPLY=($(compgen -W "$builtins $("${words[0]}" commands --names 2>/dev/null)" -- "$cur"))
        fi
        return
    fi
    case $command in
        inventory) options+=" --watch --family --rounds --interval --layout" ;;
        commands) options+=" --names" ;;
        epc) options+=" decode encode --write" ;;
        help)
            COMPREPLY=($(compgen -W "$builtins $("${words[0]}" commands --names 2>/dev/null)" -- "$cur"))
            return ;;
    esac
    [[ $cur == -* ]] && COMPREPLY=($(compgen -W "$options" -- "$cur"))
}
complete -F _uhfctl uhfctl
