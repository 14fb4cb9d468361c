#!/usr/bin/env bash
# The Debian packages packed under a umask of 077 must still install what every user reads:
#   package_modes_test.sh CPACK BUILD_DIR
# Each directory 0755, each file 0644 or 0755, all of root: a package keeps the modes of its
# staged tree, and a new directory it makes (/usr/share/doc/fwburn) gets the package's mode.
set -euo pipefail
cpack=$1 build=$2
out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT
(umask 077 && "$cpack" -G DEB -B "$out" --config "$build/CPackConfig.cmake" >"$out/cpack.log" 2>&1) ||
    { cat "$out/cpack.log"; exit 1; }
shopt -s nullglob
debs=("$out"/*.deb)
[ ${#debs[@]} -eq 2 ] || { echo "FAIL: cpack made ${#debs[@]} packages, not 2"; exit 1; }
failures=0
for deb in "${debs[@]}"; do
    # Mode, owner and path of every entry, data and control alike.
    while read -r mode owner _ _ _ path; do
        case $mode:$owner in
            drwxr-xr-x:root/root | -rw-r--r--:root/root | -rwxr-xr-x:root/root) ;;
            *)
                echo "FAIL: ${deb##*/}: $mode $owner $path"
                failures=$((failures + 1))
                ;;
        esac
    done < <(dpkg-deb -c "$deb"; dpkg-deb --ctrl-tarfile "$deb" | tar -tv)
done
[ $failures -eq 0 ] && echo "package modes: passed" || exit 1
