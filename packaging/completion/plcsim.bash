# bash completion for plcsim

_plcsim()
{
    local cur=${COMP_WORDS[COMP_CWORD]} prev=${COMP_WORDS[COMP_CWORD - 1]}
    COMPREPLY=()
    case $prev in
        --model)
            local IFS=$'\n'
            mapfile -t COMPREPLY < <(compgen -W "$("${COMP_WORDS[0]}" --list-models 2>/dev/null)" -- "$cur")
            return
            ;;
        --image | --link | --flash-out | --summary-json | --tty | --udc-file)
            # Read as lines, never split and globbed again: "a[b]" would come back as "ab".
            compopt -o filenames 2>/dev/null
            mapfile -t COMPREPLY < <(compgen -f -- "$cur")
            return
            ;;
        --image-length | --fault | --reconnect-after)
            return
            ;;
    esac
    COMPREPLY=($(compgen -W '-h --help --model --image-length --image --fault --wire --instant
        --link --tty --udc-file --reconnect-after --no-auto-reconnect --exit-after-update --flash-out --summary-json --list-models
        -v --verbose' -- "$cur"))
}
complete -F _plcsim plcsim
