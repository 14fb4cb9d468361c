# bash completion for fwburn-cpu-cli and fwburn-aio-cli

# The serial devices a controller can be on: its USB link (ttyACM), adapters (ttyUSB), on-board
# ports (ttyS). FWBURN_COMPLETION_DEV lets the tests point at a folder of their own.
_fwburn_tty_devices()
{
    local dev=${FWBURN_COMPLETION_DEV:-/dev} path
    for path in "$dev"/ttyACM* "$dev"/ttyUSB* "$dev"/ttyS*; do
        [[ -e $path ]] && printf '%s\n' "$path"
    done
}

_fwburn_cli()
{
    local cur=${COMP_WORDS[COMP_CWORD]} prev=${COMP_WORDS[COMP_CWORD - 1]}
    COMPREPLY=()
    case $prev in
        --port)
            local IFS=$'\n'
            COMPREPLY=($(compgen -W "$(_fwburn_tty_devices)" -- "$cur"))
            return
            ;;
        --extract-image | --trace)
            local IFS=$'\n'
            compopt -o filenames 2>/dev/null
            COMPREPLY=($(compgen -f -- "$cur"))
            return
            ;;
        -h | --help | --version | --list-ports)
            return
            ;;
    esac
    COMPREPLY=($(compgen -W '-h --help --port --all --list-ports --info -y --yes --extract-image
        --version --trace --allow-stand-in --json' -- "$cur"))
}
complete -F _fwburn_cli fwburn-cpu-cli fwburn-aio-cli
