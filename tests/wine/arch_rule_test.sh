#!/usr/bin/env bash
# The Wine runner's kind rule, without Wine: a suite whose prefix is of one kind (WINEARCH) runs
# only programs of that kind, in a prefix of that kind. The 32-bit programs must not pass on the
# strength of the 64-bit ones, nor in a prefix that is not what an operator's 32-bit Windows is.
#
#   arch_rule_test.sh <wine_test.sh>
set -uo pipefail
runner=${1:?wine_test.sh}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# A PE header with the given machine field (little-endian bytes), as the linker writes it: "MZ",
# the header's offset at 0x3C, "PE\0\0", the machine.
pe() {
    local file=$1 machine=$2
    {
        printf 'MZ'
        head -c 58 /dev/zero
        printf '\x80\x00\x00\x00'
        head -c 64 /dev/zero
        printf "PE\\0\\0$machine"
        head -c 200 /dev/zero
    } >"$file"
}
pe "$work/i386.exe" '\x4c\x01'
pe "$work/amd64.exe" '\x64\x86'
pe "$work/arm64.exe" '\x64\xaa'
printf '#!/bin/sh\n' >"$work/script.exe"
cp "$work/i386.exe" "$work/probe32.exe"
for kind in win32 win64; do
    mkdir -p "$work/prefix-$kind"
    printf 'WINE REGISTRY Version 2\n;; All keys relative to \\\\Machine\n\n#arch=%s\n' "$kind" \
        >"$work/prefix-$kind/system.reg"
done
# No Xvfb on this PATH: a run that gets past the rule stops at the display, a skip.
mkdir -p "$work/bin"
for tool in bash env mkdir tee tail cat basename dirname sleep rm head od tr grep; do
    ln -s "$(command -v "$tool")" "$work/bin/$tool"
done

failures=0
# check <want status> <what it must say> <WINEARCH> <prefix kind> <scenario...>
check() {
    local want=$1 said=$2 arch=$3 prefix=$4 status
    shift 4
    env -u CI -u FWBURN_REQUIRE_WINE PATH="$work/bin" WINE="$work/no-wine" WINEARCH="$arch" \
        WINEPREFIX="$work/prefix-$prefix" PROBE="$work/${probe:-probe32.exe}" \
        ARTIFACTS="$work/artifacts" bash "$runner" "$@" >"$work/out" 2>&1
    status=$?
    if [ "$status" -eq "$want" ] && grep -qF -- "$said" "$work/out"; then
        echo "ok: $* (WINEARCH=$arch, a $prefix prefix): status $status"
    else
        echo "FAILED: $* (WINEARCH=$arch, a $prefix prefix): status $status, wanted $want and [$said]"
        sed 's/^/    /' "$work/out"
        failures=$((failures + 1))
    fi
}

skipped="SKIP: "  # no Xvfb, or (closing) no plcsim: past the rule either way
for scenario in gtest delivered full-update close-during-update real-image link; do
    check 77 "$skipped" win32 win32 "$scenario" "$work/i386.exe" x x x x
    check 1 "amd64.exe is a win64 program; this prefix runs win32 ones" win32 win32 \
        "$scenario" "$work/amd64.exe" x x x x
done
check 1 "arm64.exe is a machine-aa64 program" win32 win32 gtest "$work/arm64.exe"
check 1 "script.exe is not a Windows program" win32 win32 gtest "$work/script.exe"
check 1 "missing.exe is not a Windows program" win32 win32 gtest "$work/missing.exe"
check 1 "is [#arch=win64], expected win32" win32 win64 gtest "$work/i386.exe"
check 1 "is [#arch=win32], expected win64" win64 win32 gtest "$work/amd64.exe"
# The probe runs in every test: it must be of the prefix's kind too.
check 1 "probe32.exe is a win32 program; this prefix runs win64 ones" win64 win64 gtest \
    "$work/amd64.exe"
# A new prefix is made only for a probe of its kind.
probe=amd64.exe check 1 "amd64.exe is a win64 program; this prefix runs win32 ones" win32 win32 \
    prefix-setup

[ "$failures" -eq 0 ] || exit 1
echo "PASS: the runner runs only programs of its prefix's kind, in a prefix of that kind"
