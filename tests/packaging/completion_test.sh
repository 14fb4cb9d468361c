#!/usr/bin/env bash
# The bash completion scripts against the programs they complete:
#   completion_test.sh COMPLETION_FILE PROGRAM [COMMAND_NAME]
# - every option the program's --help lists is offered, and nothing it does not list;
# - --port offers the serial devices of a fake /dev and nothing else (fwburn programs only).
set -uo pipefail
file=$1 program=$2 name=${3:-$(basename "$2")}
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

# shellcheck disable=SC1090
source "$file"
func=$(complete -p "$name" 2>/dev/null | sed -E 's/.*-F ([^ ]+).*/\1/')
[ -n "$func" ] || { echo "FAIL: $file registers no completion for $name"; exit 1; }

complete_words() { # words of the command line; the last one is completed
    COMP_WORDS=("$@")
    COMP_CWORD=$((${#COMP_WORDS[@]} - 1))
    COMPREPLY=()
    "$func" "$name" "${COMP_WORDS[COMP_CWORD]}" "${COMP_WORDS[COMP_CWORD - 1]}"
    printf '%s\n' "${COMPREPLY[@]}" | sort
}

# Options as the program's help shows them: "-h,--help", "--port PATH", "--model TEXT=ZL500".
expected=$("$program" --help | grep -E '^  +-' | sed -E 's/^ +//; s/ .*//' | tr ',' '\n' | sort -u)
offered=$(complete_words "$name" - | sort -u)
if [ "$expected" != "$offered" ]; then
    fail "$name: the options offered differ from --help (< help, > completion)"
    diff <(echo "$expected") <(echo "$offered")
fi
[ "$(complete_words "$name" --po)" = "--port" ] || [ "$name" = plcsim ] || fail "$name: --po does not complete to --port"

if [ "$name" != plcsim ]; then
    dev=$(mktemp -d)
    trap 'rm -rf "$dev"' EXIT
    touch "$dev"/{ttyACM0,ttyACM1,ttyUSB0,ttyS0,ttyS1,tty1,null,ttyprintk}
    export FWBURN_COMPLETION_DEV=$dev
    cases=( # typed | expected, space separated
        "|$dev/ttyACM0 $dev/ttyACM1 $dev/ttyS0 $dev/ttyS1 $dev/ttyUSB0"
        "$dev/ttyA|$dev/ttyACM0 $dev/ttyACM1"
        "$dev/ttyU|$dev/ttyUSB0"
        "$dev/tty1|"
    )
    for c in "${cases[@]}"; do
        typed=${c%%|*} want=${c#*|}
        got=$(complete_words "$name" --port "$typed" | tr '\n' ' ' | sed 's/ $//')
        want=$(tr ' ' '\n' <<<"$want" | sort | tr '\n' ' ' | sed 's/ $//')
        [ "$got" = "$want" ] || fail "$name --port '$typed': got '$got', want '$want'"
    done
fi

[ $failures -eq 0 ] && echo "$name: completion passed" || exit 1
