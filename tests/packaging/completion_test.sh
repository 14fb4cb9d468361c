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
# --list-ports and --version take no value but go with --json.
for first in --list-ports --version; do
    [ "$(complete_words "$name" "$first" --js)" = "--json" ] || [ "$name" = plcsim ] ||
        fail "$name: --js after $first does not complete to --json"
done

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
    # A kind of port that is absent must not abort the rest under the user's failglob.
    rm "$dev"/ttyUSB0
    got=$(shopt -s failglob && complete_words "$name" --port "" 2>&1 | tr '\n' ' ' | sed 's/ $//')
    want="$dev/ttyACM0 $dev/ttyACM1 $dev/ttyS0 $dev/ttyS1"
    [ "$got" = "$want" ] || fail "$name --port under failglob: got '$got', want '$want'"
fi

# File names as they are, glob characters included: "a[b]" must not become "ab".
files=$(mktemp -d)
touch "$files"/{'a[b]',ab,'c*d',cxd}
case $name in plcsim) file_option=--image ;; *) file_option=--trace ;; esac
for c in "a[|$files/a[b]" "c*|$files/c*d"; do
    typed=${c%%|*} want=${c#*|}
    got=$(complete_words "$name" "$file_option" "$files/$typed" | tr '\n' ' ' | sed 's/ $//')
    [ "$got" = "$want" ] || fail "$name $file_option '$typed': got '$got', want '$want'"
done
rm -rf "$files"

[ $failures -eq 0 ] && echo "$name: completion passed" || exit 1
