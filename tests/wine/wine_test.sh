#!/usr/bin/env bash
# The Windows programs under Wine and Xvfb, driven as an operator would drive them.
#
#   wine_test.sh <scenario> [arguments]
#
# Environment (set by CTest): WINE, WINEPREFIX (shared by the tests of one run, made fresh by the
# "prefix-setup" scenario), PROBE (the helper .exe), ARTIFACTS (screenshots and logs go there),
# PLCSIM (the simulator program, used when it exists) or PEER (the in-test controller on a pty;
# it gets --model, --link, --flash and --block-delay-ms and prints "ready" when it serves).
#
# Exits 0 only on positive evidence read back from the window, its message boxes, the screen and
# the controller; 77 (a CTest skip) when Wine or Xvfb cannot start here; 1 on any failure.
set -uo pipefail

scenario=${1:?scenario}
shift
: "${WINE:?}" "${WINEPREFIX:?}" "${ARTIFACTS:?}"
export WINEPREFIX WINEDEBUG=${WINEDEBUG:--all} WINEDLLOVERRIDES="mscoree,mshtml="
here=$(cd "$(dirname "$0")" && pwd)
convert=/usr/bin/convert  # ImageMagick's own, whatever else stands first on PATH
mkdir -p "$ARTIFACTS"
tag=${TEST_TAG:-$scenario}
log="$ARTIFACTS/$tag.log"
: >"$log"

skip() { echo "SKIP: $*"; exit 77; }
fail() {
    echo "FAIL: $*"
    [ -f "$log" ] && { echo "--- $log"; tail -n 40 "$log"; }
    exit 1
}
note() { echo "$*" | tee -a "$log"; }

started=()  # pids of what this test started, ended on exit by their pid
xvfb_pid=""
cleanup() {
    local pid
    for pid in "${started[@]}"; do
        kill "$pid" 2>/dev/null
    done
    for pid in "${started[@]}"; do
        wait "$pid" 2>/dev/null
    done
    # The prefix's own processes (its desktop and services) end by themselves once no program
    # runs; wait for that, so the next test starts them on its own display.
    [ -d "$WINEPREFIX" ] && timeout 30 wineserver -w 2>/dev/null
    if [ -n "$xvfb_pid" ]; then
        kill "$xvfb_pid" 2>/dev/null
        wait "$xvfb_pid" 2>/dev/null
    fi
}
trap cleanup EXIT

start_xvfb() {
    command -v Xvfb >/dev/null || skip "Xvfb is not installed"
    local fd_file="$ARTIFACTS/$tag.display"
    rm -f "$fd_file"
    Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$fd_file" >>"$log" 2>&1 &
    xvfb_pid=$!
    for _ in $(seq 50); do
        [ -s "$fd_file" ] && break
        sleep 0.1
    done
    [ -s "$fd_file" ] || skip "Xvfb did not start"
    export DISPLAY=":$(head -n1 "$fd_file")"
    note "Xvfb on $DISPLAY"
}

probe() {
    "$WINE" "$PROBE" "$@" 2>>"$log" | tr -d '\r' | tee -a "$log"
}

# expect <text> <probe arguments...>: the probe's output must contain the text.
expect() {
    local want=$1 out
    shift
    out=$(probe "$@")
    grep -qF -- "$want" <<<"$out" || fail "probe $* printed [$out], expected [$want]"
}

# Waits until the probe prints the text, for up to <seconds>.
wait_for() {
    local seconds=$1 want=$2 out
    shift 2
    local until=$((SECONDS + seconds))
    while [ $SECONDS -le $until ]; do
        out=$(probe "$@")
        grep -qF -- "$want" <<<"$out" && return 0
        sleep 0.3
    done
    fail "probe $* never printed [$want] (last: [$out])"
}

start_program() {
    local program=$1
    "$WINE" "$program" >>"$log" 2>&1 &
    started+=($!)
    local out
    out=$(probe window 90)
    grep -q "^window title=Korvan PLC Firmware Update Program" <<<"$out" ||
        fail "the window of $program did not appear"
    origin_x=$(sed -n 's/.* origin=\([0-9-]*\),.*/\1/p' <<<"$out")
    origin_y=$(sed -n 's/.* origin=[0-9-]*,\([0-9-]*\) .*/\1/p' <<<"$out")
    sleep 1  # a few ticks of the 100 ms panel timer
}

stop_program() {
    probe close >/dev/null
    sleep 1
}

screenshot() {
    import -window root -display "$DISPLAY" "$ARTIFACTS/$1.png" 2>>"$log" ||
        fail "no screenshot $1"
    note "screenshot $ARTIFACTS/$1.png"
}

# Colour of a pixel of the main window's client area in a screenshot, as RRGGBB.
pixel() {
    local shot=$1 x=$(($2 + origin_x)) y=$(($3 + origin_y))
    "$convert" "$ARTIFACTS/$shot.png" -crop "1x1+$x+$y" -depth 8 txt:- 2>>"$log" |
        sed -n 's/.*#\([0-9A-Fa-f]\{6\}\).*/\1/p' | head -n1 | tr a-f A-F
}

expect_pixel() {
    local shot=$1 x=$2 y=$3 want=$4 got
    got=$(pixel "$shot" "$x" "$y")
    [ "$got" = "$want" ] || fail "$shot: pixel ($x,$y) is [$got], expected [$want]"
    note "$shot: pixel ($x,$y) = $want"
}

# Dark pixels (text) inside a client rectangle of a screenshot.
dark_pixels() {
    local shot=$1 x=$(($2 + origin_x)) y=$(($3 + origin_y)) w=$4 h=$5
    "$convert" "$ARTIFACTS/$shot.png" -crop "${w}x${h}+$x+$y" -colorspace gray -threshold 50% \
        -negate -format '%[fx:round(mean*w*h)]' info: 2>>"$log"
}

# A fixture device that Wine's device enumeration lists with this friendly name.
add_fixture_port() {
    local n=$1 name=$2
    local key="HKLM\\System\\CurrentControlSet\\Enum\\ACPI\\PNP0501\\$n"
    # Wine lists a device of the Enum tree only when it names its class.
    "$WINE" reg add "$key" /v ClassGUID /t REG_SZ /d "{4D36E978-E325-11CE-BFC1-08002BE10318}" \
        /f >>"$log" 2>&1 || fail "registry fixture $name"
    "$WINE" reg add "$key" /v FriendlyName /t REG_SZ /d "$name" /f >>"$log" 2>&1 ||
        fail "registry fixture $name"
}

# The controller: the simulator program when PLCSIM names one that runs here, otherwise the
# in-test peer (PEER). Both serve a pty that Wine sees as the port.
start_peer() {
    local model=$1 port=$2 flash=$3 image=$4
    rm -f "$flash" "$WINEPREFIX/dosdevices/$port"
    peer_log="$ARTIFACTS/$tag.peer.log"
    if [ -n "${PLCSIM:-}" ] && [ -x "$PLCSIM" ]; then
        peer_kind=plcsim
        "$PLCSIM" --model "$model" --image "$image" --link "$WINEPREFIX/dosdevices/$port" \
            --flash-out "$flash" --exit-after-update --wire >"$peer_log" 2>&1 &
    else
        : "${PEER:?}"
        peer_kind=pty-peer
        $PEER --model "$model" --link "$WINEPREFIX/dosdevices/$port" --flash "$flash" \
            --block-delay-ms 10 >"$peer_log" 2>&1 &
    fi
    peer_pid=$!
    started+=($peer_pid)
    for _ in $(seq 100); do
        grep -qE "^(ready|plcsim: .* on /dev/)" "$peer_log" && break
        sleep 0.1
    done
    grep -qE "^(ready|plcsim: .* on /dev/)" "$peer_log" ||
        fail "the controller ($peer_kind) did not start: $(cat "$peer_log")"
    note "controller: $peer_kind, $(head -n1 "$peer_log")"
}

# The operator switches the controller off and on. The simulator program takes the host's close of
# the port for it; the in-test peer is told.
power_cycle() {
    [ "$peer_kind" = pty-peer ] && kill -USR1 "$peer_pid"
    return 0
}

# The controller took the whole image and saw no protocol fault.
check_controller() {
    local flash=$1 image=$2 fill=0 rc
    if [ "$peer_kind" = plcsim ]; then
        # It exits by itself once the host has closed the port after the update.
        for _ in $(seq 100); do
            kill -0 "$peer_pid" 2>/dev/null || break
            sleep 0.1
        done
        wait "$peer_pid"
        rc=$?
        [ "$rc" -eq 0 ] || fail "plcsim ended with status $rc: $(tail -n 20 "$peer_log")"
    else
        grep -q "^flash complete" "$peer_log" || fail "the controller saw no complete transfer"
        grep "^violation" "$peer_log" && fail "the controller saw protocol violations"
        fill=128  # the in-test peer keeps the fill of the last block
    fi
    python3 - "$flash" "$image" "$fill" <<'PY' | tee -a "$log"
import sys
flash = open(sys.argv[1], "rb").read()
image = open(sys.argv[2], "rb").read()
block = int(sys.argv[3])
want = image + (b"\x1a" * (-len(image) % block) if block else b"")
if flash != want:
    first = next((i for i, (a, b) in enumerate(zip(flash, want)) if a != b), min(len(flash), len(want)))
    print("flash differs: %d bytes received, %d expected, first difference at %d" % (len(flash), len(want), first))
    sys.exit(1)
print("flash matches the image byte for byte (%d bytes)" % len(flash))
PY
    [ "${PIPESTATUS[0]}" -eq 0 ] || fail "flash content"
}

# --- scenarios ---------------------------------------------------------------------------------

prefix_setup() {
    command -v "$WINE" >/dev/null || skip "Wine is not installed"
    rm -rf "$WINEPREFIX"
    mkdir -p "$(dirname "$WINEPREFIX")"
    timeout 180 "$WINE" wineboot -i >>"$log" 2>&1
    timeout 60 wineserver -w
    [ -f "$WINEPREFIX/system.reg" ] || skip "Wine could not make a prefix (see $log)"
    # A grey field background, so that the white track stands apart from it on the screen (Wine's
    # default for this system colour is white).
    "$WINE" reg add "HKCU\\Control Panel\\Colors" /v Scrollbar /t REG_SZ /d "192 192 192" /f \
        >>"$log" 2>&1 || skip "Wine cannot write its registry here"
    timeout 120 "$WINE" "$PROBE" devices 2>>"$log" | tr -d '\r' >>"$log"
    grep -q "^devices present=" "$log" || skip "Wine lists no devices here (see $log)"
    timeout 60 wineserver -w
    echo "prefix ready: $WINEPREFIX"
}

prefix_cleanup() {
    [ -d "$WINEPREFIX" ] && wineserver -k 2>/dev/null
    echo "prefix closed: $WINEPREFIX"
}

# A delivered program: the locked model, "USB" alone, the date, and Start without a controller.
delivered() {
    local program=$1 model=$2 date_text=$3 name
    name=$(basename "$program" .exe)
    start_xvfb
    start_program "$program"
    expect "count=22 selected=" combo 8
    expect "=[$model] selected" combo 8
    expect "enabled=0" combo 8
    expect "combo id=7 count=1 selected=0 enabled=1" combo 7
    expect "item 0=[USB] selected" combo 7
    expect "start enabled=1" start-state
    screenshot "$name-idle"
    expect_pixel "$name-idle" 12 115 FFFFFF   # empty white track
    expect_pixel "$name-idle" 518 115 FFFFFF
    expect_pixel "$name-idle" 525 115 C0C0C0  # right of the track: the field background
    [ "$(dark_pixels "$name-idle" 300 25 120 16)" -gt 20 ] || fail "no date text at (300,25)"
    [ "$(dark_pixels "$name-idle" 435 15 87 28)" -gt 20 ] || fail "no logo at (435,15)"
    note "date text '$date_text' and logo drawn (see the screenshot)"
    expect "clicked" click-start
    expect "box caption=[ERROR] text=[CANNOT open USB Port!!!]" box 30
    screenshot "$name-cannot-open"
    expect "ok pressed" ok
    wait_for 5 "start enabled=1" start-state
    screenshot "$name-after"
    expect_pixel "$name-after" 12 115 FFFFFF
    stop_program
    echo "PASS: $name shows $model, USB, its date; Start without a controller ends in CANNOT open USB Port!!! and the panel resets"
}

# A full update of a serial-linked test profile through the window, on a listed port.
full_update() {
    local program=$1 model=$2 port=$3 image=$4 name
    name=$(basename "$program" .exe)
    local flash="$ARTIFACTS/$name.flash.bin"
    local PORT=${port^^}
    # The display first: the first Wine command of a session starts the prefix's desktop on it.
    start_xvfb
    add_fixture_port 1 "Communications Port (COM3)"
    add_fixture_port 2 "USB Serial Port (COM12)"
    add_fixture_port 3 "Communications Port (COM5)"
    add_fixture_port 4 "Very Long Serial Port Name (COM123456789)"
    add_fixture_port 5 "Broken Port (COM7"
    start_peer "$model" "$port" "$flash" "$image"
    start_program "$program"

    # Discovery: exactly the well-formed names, sorted as the list sorts them.
    local list
    list=$(probe combo 7)
    grep -qF "combo id=7 count=3 selected=0" <<<"$list" || fail "port list: $list"
    grep -qF "item 0=[COM12] selected" <<<"$list" || fail "port list: $list"
    grep -qF "item 1=[COM3]" <<<"$list" || fail "port list: $list"
    grep -qF "item 2=[COM5]" <<<"$list" || fail "port list: $list"
    expect "=[$model] selected" combo 8
    expect "enabled=0" combo 8

    # Escape is IDCANCEL, command 2: it must not start anything, not even open the port.
    local heard
    heard=$(wc -c <"$peer_log")
    expect "escape pressed" escape
    expect "no box" no-box 4
    expect "start enabled=1" start-state
    [ "$(wc -c <"$peer_log")" -eq "$heard" ] || fail "Escape started an update: $(tail -n 5 "$peer_log")"
    note "Escape started nothing"

    screenshot "$name-idle"
    expect_pixel "$name-idle" 12 115 FFFFFF
    expect_pixel "$name-idle" 518 115 FFFFFF
    expect_pixel "$name-idle" 5 115 C0C0C0

    expect "selected $PORT" select-port "$PORT"
    expect "clicked" click-start
    wait_for 5 "start enabled=0" start-state
    # A second Start while the worker runs, sent as the button would send it: refused.
    expect "start command sent" start-command

    if [ "$model" = "RV7-G" ]; then
        expect "box caption=[Information] text=[Please POWER OFF=>ON the PLC, and then press OK to continue]" box 60
        power_cycle
        expect "ok pressed" ok
    fi

    # Mid-transfer: red at the left of the track, white at its right.
    local until=$((SECONDS + 90)) red=""
    while [ $SECONDS -le $until ]; do
        screenshot "$name-mid-transfer" >/dev/null
        if [ "$(pixel "$name-mid-transfer" 12 115)" = "FF0000" ]; then
            red=yes
            break
        fi
        probe no-box 0.1 >/dev/null || break
        sleep 0.3
    done
    [ -n "$red" ] || fail "the red bar never appeared"
    expect_pixel "$name-mid-transfer" 12 115 FF0000
    expect_pixel "$name-mid-transfer" 518 115 FFFFFF
    note "screenshot $ARTIFACTS/$name-mid-transfer.png"
    expect "escape pressed" escape
    expect "start command sent" start-command

    expect "box caption=[INFORMATION] text=[Firmware update is SUCCESSFUL]" box 120
    sleep 0.3
    screenshot "$name-success"
    expect_pixel "$name-success" 518 115 FF0000  # 100 %: the bar covers the track
    expect "ok pressed" ok
    wait_for 5 "start enabled=1" start-state
    sleep 0.5
    screenshot "$name-reset"
    expect_pixel "$name-reset" 12 115 FFFFFF
    check_controller "$flash" "$image"

    # A listed port with nothing behind it: the text keeps the listed name.
    rm -f "$WINEPREFIX/dosdevices/com3"
    expect "selected COM3" select-port COM3
    expect "clicked" click-start
    expect "box caption=[ERROR] text=[CANNOT open COM3 Port!!!]" box 30
    expect "ok pressed" ok
    wait_for 5 "start enabled=1" start-state
    stop_program
    echo "PASS: $model updated through the window on $PORT against $peer_kind; port list, Escape, second Start, panel and flash checked"
}

# The Windows link against Wine's devices: COM12 and the controller's USB interface path on
# echoing pseudo-terminals, with fixture interfaces of the USB class around it.
link_tests() {
    local binary=$1 class="{a5dcbf10-6530-11d2-901f-00c04fb951ed}" inst key
    start_xvfb
    # Enumerated in this order: the upper-case path first, another vendor's device, then ours.
    for inst in "VID_3B9E&PID_0001#5&2&0&1" "vid_1234&pid_0001#5&3&0&1" "vid_3b9e&pid_0001#5&1&0&1"; do
        key="HKLM\\System\\CurrentControlSet\\Control\\DeviceClasses\\$class\\##?#usb#$inst#$class"
        "$WINE" reg add "$key" /v DeviceInstance /t REG_SZ /d "USB\\${inst//#/\\}" /f >>"$log" 2>&1 ||
            fail "registry fixture $inst"
        "$WINE" reg add "$key\\#\\Control" /v Linked /t REG_DWORD /d 1 /f >>"$log" 2>&1 ||
            fail "registry fixture $inst"
        "$WINE" reg add "HKLM\\System\\CurrentControlSet\\Enum\\USB\\${inst//#/\\}" /v ClassGUID \
            /t REG_SZ /d "{36FC9E60-C465-11CF-8056-444553540000}" /f >>"$log" 2>&1 ||
            fail "registry fixture $inst"
    done
    python3 "$here/pty_echo.py" "$WINEPREFIX/dosdevices/com12" \
        "$WINEPREFIX/dosdevices/usb#vid_3b9e&pid_0001#5&1&0&1#$class" >"$ARTIFACTS/$tag.echo.log" 2>&1 &
    started+=($!)
    for _ in $(seq 50); do
        grep -q "^ready" "$ARTIFACTS/$tag.echo.log" && break
        sleep 0.1
    done
    grep -q "^ready" "$ARTIFACTS/$tag.echo.log" || fail "the echoing ptys did not start"
    rm -f "$WINEPREFIX/dosdevices/com3"
    gtest "$binary"
}

# A GoogleTest binary that needs a display.
gtest() {
    local binary=$1 out
    [ -n "$xvfb_pid" ] || start_xvfb
    out=$("$WINE" "$binary" 2>>"$log" | tr -d '\r')
    echo "$out"
    grep -q "^\[  PASSED  \]" <<<"$out" || fail "no GoogleTest verdict of PASSED"
    grep -q "^\[  FAILED  \]" <<<"$out" && fail "GoogleTest reported failures"
    return 0
}

needs_prefix() {
    [ -f "$WINEPREFIX/system.reg" ] || skip "no Wine prefix: Wine could not start here"
}

case "$scenario" in
    prefix-setup) prefix_setup ;;
    prefix-cleanup) prefix_cleanup ;;
    delivered) needs_prefix && delivered "$@" ;;
    full-update) needs_prefix && full_update "$@" ;;
    gtest) needs_prefix && gtest "$@" ;;
    link) needs_prefix && link_tests "$@" ;;
    *) fail "unknown scenario $scenario" ;;
esac
