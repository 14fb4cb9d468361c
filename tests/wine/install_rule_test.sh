#!/usr/bin/env bash
# What scripts/test installs for the Windows programs under Wine, on machines in different states,
# with dpkg and apt-get replaced by recorders: Wine's 32-bit part is wine32:i386, checked with its
# architecture; the i386 architecture is added before the package lists are fetched, and only when
# it is missing; nothing is installed when all is there. The script stops at its first step after
# the installation (the formatting check fails on purpose: that stage's status, 99, is named).
#
#   install_rule_test.sh <scripts/test>
set -uo pipefail
script=${1:?scripts/test}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# Every package scripts/test asks for, as it queries them.
mapfile -t packages < <(sed -n '/^PACKAGES=(/,/^)/p' "$script" | sed '1d;$d' | tr ' ' '\n' | sed '/^$/d')

mkdir -p "$work/bin"
cat >"$work/bin/dpkg-query" <<'EOF'
#!/bin/sh
# dpkg-query -W -f=... <name>: installed when the name, as asked, is listed.
eval "name=\${$#}"
echo "dpkg-query $name" >>"$FAKE/calls"
if grep -qxF -- "$name" "$FAKE/installed"; then printf 'install ok installed'; exit 0; fi
echo "dpkg-query: no packages found matching $name" >&2
exit 1
EOF
cat >"$work/bin/dpkg" <<'EOF'
#!/bin/sh
case "$1" in
    --print-foreign-architectures) cat "$FAKE/foreign" ;;
    --add-architecture) echo "dpkg --add-architecture $2" >>"$FAKE/calls"; echo "$2" >>"$FAKE/foreign" ;;
    *) echo "dpkg $*" >>"$FAKE/calls"; exit 1 ;;
esac
EOF
cat >"$work/bin/apt-get" <<'EOF'
#!/bin/sh
echo "apt-get $*" >>"$FAKE/calls"
EOF
printf '#!/bin/sh\nexec "$@"\n' >"$work/bin/sudo"
printf '#!/bin/sh\nexit 99\n' >"$work/bin/clang-format"
# Should a step ever come before the formatting check, it stops here instead of building.
for tool in cmake ctest; do
    printf '#!/bin/sh\nexit 98\n' >"$work/bin/$tool"
done
chmod +x "$work/bin/"*

failures=0
# run <machine> <foreign architectures> <installed names...>: runs the script's installation.
run() {
    machine=$1
    export FAKE="$work/$machine"
    mkdir -p "$FAKE"
    : >"$FAKE/calls"
    printf '%s' "$2" >"$FAKE/foreign"
    shift 2
    printf '%s\n' "$@" >"$FAKE/installed"
    # Its stage logs in the scratch folder, not the tree's (a CI run may be writing there).
    FWBURN_CI_LOGS="$FAKE/logs" PATH="$work/bin:$PATH" bash "$script" >"$FAKE/out" 2>&1
    status=$?
    if [ "$status" -eq 0 ] || ! grep -q "format: FAILED (status 99)" "$FAKE/out"; then
        echo "FAILED: $machine: the script did not stop at its formatting step (status $status)"
        sed 's/^/    /' "$FAKE/out"
        failures=$((failures + 1))
    fi
}
# expect <what> <command that must succeed>
expect() {
    if eval "$2"; then
        echo "ok: $machine: $1"
    else
        echo "FAILED: $machine: $1"
        sed 's/^/    calls: /' "$FAKE/calls"
        failures=$((failures + 1))
    fi
}
line_of() { grep -nxF -- "$1" "$FAKE/calls" | head -n1 | cut -d: -f1; }

without() { printf '%s\n' "${packages[@]}" | grep -vxF -- "$1"; }

mapfile -t all_but_wine32 < <(without wine32:i386)
[ "${#all_but_wine32[@]}" -lt "${#packages[@]}" ] || {
    echo "FAILED: scripts/test does not ask for wine32:i386"
    exit 1
}

# A fresh machine: no i386, nothing installed.
run fresh ""
expect "i386 added" '[ -n "$(line_of "dpkg --add-architecture i386")" ]'
expect "i386 added before the lists are fetched" \
    '[ "$(line_of "dpkg --add-architecture i386")" -lt "$(line_of "apt-get update -qq")" ]'
expect "wine32:i386 installed with the rest" \
    'grep -q "^apt-get install .* wine32:i386\( \|$\)" "$FAKE/calls" && grep -q "^apt-get install .* wine64 " "$FAKE/calls"'

# Only Wine's 32-bit part missing, the architecture already there.
run i386-added "i386" "${all_but_wine32[@]}"
expect "i386 not added again" '[ -z "$(line_of "dpkg --add-architecture i386")" ]'
expect "only wine32:i386 installed" '[ "$(line_of "apt-get install -y -qq wine32:i386")" -gt "$(line_of "apt-get update -qq")" ]'

# A 64-bit package of the name does not stand for the 32-bit one: the check asks for the i386 one.
run other-arch "i386" "${all_but_wine32[@]}" wine32 wine32:amd64
expect "wine32:i386 asked for by architecture" 'grep -qxF "dpkg-query wine32:i386" "$FAKE/calls"'
expect "wine32:i386 installed" 'grep -qxF "apt-get install -y -qq wine32:i386" "$FAKE/calls"'

# Everything there: no architecture change, no apt-get.
run complete "i386" "${packages[@]}"
expect "nothing fetched or installed" '! grep -qE "^(apt-get|dpkg --add)" "$FAKE/calls"'

# Another package missing, Wine's 32-bit part there: the architecture is left as it is.
mapfile -t all_but_xvfb < <(without xvfb)
run xvfb-missing "i386" "${all_but_xvfb[@]}"
expect "only xvfb installed, no architecture added" \
    'grep -qxF "apt-get install -y -qq xvfb" "$FAKE/calls" && ! grep -q "^dpkg --add" "$FAKE/calls"'

[ "$failures" -eq 0 ] || exit 1
echo "PASS: scripts/test installs wine32:i386 by architecture, adding i386 first and only when needed"
