# bash completion for courier-pack. Verbs and each verb's options are read
# from the program's own --help, so what it gains completes without an edit
# here. An option whose help line names a value type takes a value: the
# listed ones for TEXT:{a,b,c}; for plain TEXT a folder for -C/--directory,
# .ico files first for --icon, a file otherwise; other types get nothing.
_courier_pack() {
    local cur=${COMP_WORDS[COMP_CWORD]} prev=${COMP_WORDS[COMP_CWORD-1]}
    local program=${COMP_WORDS[0]/#\~/$HOME} verb= i
    for ((i = 1; i < COMP_CWORD; i++)); do
        case ${COMP_WORDS[i]} in -*) ;; *) verb=${COMP_WORDS[i]}; break ;; esac
    done

    local help
    help=$("$program" $verb --help 2>/dev/null) || return 0
    if [ -z "$verb" ]; then
        local verbs
        verbs=$(awk '/^Subcommands:$/ { on = 1; next } on && /^  [^ ]/ { print $1 } /^$/ { on = 0 }' <<<"$help")
        COMPREPLY=($(compgen -W "$verbs -V --help --version" -- "$cur"))
        return 0
    fi

    # "  -o,--output TEXT REQUIRED   ..." gives -o and --output, and "TEXT".
    local options=() value_type= names type
    while read -r names type _; do
        options+=(${names//,/ })
        case ",$names," in *",$prev,"*) value_type=$type ;; esac
    done < <(grep -E '^  -' <<<"$help" | sed -E 's/^ +//; s/  +.*//')

    case $prev in
        -*)
            case $value_type in
                "") ;;
                TEXT:{*}*)
                    # "TEXT:{asInvoker,highestAvailable,...}": the values it takes.
                    local values=${value_type#*\{}
                    values=${values%%\}*}
                    COMPREPLY=($(compgen -W "${values//,/ }" -- "$cur"))
                    return 0 ;;
                TEXT | TEXT=*)
                    compopt -o filenames 2>/dev/null
                    case $prev in
                        -C | --directory) COMPREPLY=($(compgen -d -- "$cur")) ;;
                        --icon)
                            # .ico files and folders to find one in; any file when none is.
                            COMPREPLY=($(compgen -f -X '!*.[Ii][Cc][Oo]' -- "$cur") $(compgen -d -- "$cur"))
                            [ ${#COMPREPLY[@]} -gt 0 ] || COMPREPLY=($(compgen -f -- "$cur")) ;;
                        *) COMPREPLY=($(compgen -f -- "$cur")) ;;
                    esac
                    return 0 ;;
                *) return 0 ;;  # INT, A.B.C.D, KEY=VALUE: nothing to offer
            esac ;;
    esac
    if [[ $cur == -* ]]; then
        COMPREPLY=($(compgen -W "${options[*]}" -- "$cur"))
    else
        compopt -o filenames 2>/dev/null
        COMPREPLY=($(compgen -f -- "$cur"))
    fi
}
complete -F _courier_pack courier-pack
