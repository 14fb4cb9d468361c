# bash completion for fwburn-cpu-cli and fwburn-aio-cli

# The serial devices a controller can be on: its USB link (ttyACM), adapters (ttyUSB), on-board
# ports (ttyS). FWBURN_COMPLETION_DEV lets the tests point at a folder of their own. compgen -G
# rather than a bare glob: the user's failglob would abort the completion at the first kind absent.
_fwburn_tty_devices()
{
    local dev=${FWBURN_COMPLETION_DEV:-/dev}
    compgen -G "$dev/ttyACM*"
    compgen -G "$dev/ttyUSB*"
    compgen -G "$dev/ttyS*"
}

_fwburn_cli()
{
    local cur=${COMP_WORDS[COMP_CWORD]} prev=${COMP_WORDS[COMP_CWORD - 1]}
    COMPREPLY=()
    case $prev in
        --port)
            local IFS=$'\n'
            mapfile -t COMPREPLY < <(compgen -W "$(_fwburn_tty_devices)" -- "$cur")
            return
            ;;
        --extract-image | --trace)
            # Read as lines, never split and globbed again: "a[b]" would come back as "ab".
            compopt -o filenames 2>/dev/null
            mapfile -t COMPREPLY < <(compgen -f -- "$cur")
            return
            ;;
        -h | --help)
            return
            ;;
    esac
    COMPREPLY=($(compgen -W '-h --help --port --all --list-ports --info -y --yes --extract-image
        --version --trace --allow-stand-in --json' -- "$cur"))
}
complete -F _fwburn_cli fwburn-cpu-cli fwburn-aio-cli
