#!/usr/bin/env bash
# The Wine runner's skip rule, without Wine: where Wine, its prefix or Xvfb is missing, a test
# skips (status 77) for a developer, and fails (status 1, not 77) under CI=true or
# FWBURN_REQUIRE_WINE=1.
#
#   skip_rule_test.sh <wine_test.sh>
set -uo pipefail
runner=${1:?wine_test.sh}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

failures=0
# check <want status> <what> <environment...> -- <scenario...>
check() {
    local want=$1 what=$2 env=() status
    shift 2
    while [ "$1" != -- ]; do
        env+=("$1")
        shift
    done
    shift
    env -u CI -u FWBURN_REQUIRE_WINE -u WINEARCH WINE="$work/no-wine" WINEPREFIX="$work/no-prefix" \
        ARTIFACTS="$work/artifacts" "${env[@]}" bash "$runner" "$@" >"$work/out" 2>&1
    status=$?
    # The status must come from the skip rule, not from some other fault on the way.
    local said="SKIP: "
    [ "$want" -eq 1 ] && said="counts as a failure under CI=true or FWBURN_REQUIRE_WINE=1"
    if [ "$status" -eq "$want" ] && grep -qF -- "$said" "$work/out"; then
        echo "ok: $what: status $status"
    else
        echo "FAILED: $what: status $status, wanted $want and [$said]"
        sed 's/^/    /' "$work/out"
        failures=$((failures + 1))
    fi
}

for scenario in "prefix-setup" "full-update x TQ38 com5 x" "gtest x"; do
    read -ra args <<<"$scenario"
    what="${args[0]} without Wine"
    check 77 "$what, a developer" -- "${args[@]}"
    check 1 "$what, FWBURN_REQUIRE_WINE=1" FWBURN_REQUIRE_WINE=1 -- "${args[@]}"
    check 1 "$what, CI=true" CI=true -- "${args[@]}"
    check 77 "$what, CI=false" CI=false -- "${args[@]}"
    check 77 "$what, FWBURN_REQUIRE_WINE=0" FWBURN_REQUIRE_WINE=0 -- "${args[@]}"
done
# Xvfb missing: a PATH without it (and with what the runner needs besides).
mkdir -p "$work/bin" "$work/no-prefix"
touch "$work/no-prefix/system.reg"
for tool in bash env mkdir tee tail cat basename dirname seq sleep rm head; do
    ln -s "$(command -v "$tool")" "$work/bin/$tool"
done
check 77 "no Xvfb, a developer" PATH="$work/bin" -- gtest x
check 1 "no Xvfb, CI=true" PATH="$work/bin" CI=true -- gtest x

[ "$failures" -eq 0 ] || exit 1
echo "PASS: a missing Wine or Xvfb skips for a developer and fails under CI or FWBURN_REQUIRE_WINE=1"
