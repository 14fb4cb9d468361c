#!/usr/bin/env bash
# The Windows programs under Wine and Xvfb, driven as an operator would drive them.
#
#   wine_test.sh <scenario> [arguments]
#
# Environment (set by CTest): WINE, WINEPREFIX (shared by the tests of one run, made fresh by the
# "prefix-setup" scenario), WINEARCH (win32 or win64: the prefix and every program it runs are of
# that kind, checked), PROBE (the helper .exe), ARTIFACTS (screenshots and logs go there),
# PLCSIM (the native simulator program: the controller of every scenario that talks to one).
#
# Exits 0 only on positive evidence read back from the window, its message boxes, the screen and
# the controller; 77 (a CTest skip) when Wine or Xvfb cannot start here; 1 on any failure. Under
# CI=true or FWBURN_REQUIRE_WINE=1 (scripts/test sets it) a skip is a failure: there, no Windows
# coverage must never pass for a pass.
#
# Every wait waits for a condition read back from the window, the screen or the controller, with a
# generous bound for a loaded machine; none takes the passing of time for a state.
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

# Whether a skip must fail: CI=true (or 1, yes), or FWBURN_REQUIRE_WINE=1.
wine_required() {
    case "${CI:-}" in true | TRUE | True | 1 | yes) return 0 ;; esac
    [ "${FWBURN_REQUIRE_WINE:-}" = 1 ]
}
skip() {
    if wine_required; then
        echo "FAIL: $* (a skipped Windows test counts as a failure under CI=true or FWBURN_REQUIRE_WINE=1)"
        exit 1
    fi
    echo "SKIP: $*"
    exit 77
}
fail() {
    echo "FAIL: $*"
    [ -f "$log" ] && { echo "--- $log"; tail -n 40 "$log"; }
    exit 1
}
note() { echo "$*" | tee -a "$log"; }

started=()  # pids of what this test started, ended on exit by their pid
xvfb_pid=""
prefix_wait=1  # 0 for the console cases, which share their prefix with each other at once
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
    [ "$prefix_wait" = 1 ] && [ -d "$WINEPREFIX" ] && timeout 30 wineserver -w 2>/dev/null
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
    local until=$((SECONDS + 60))
    until [ -s "$fd_file" ] || [ $SECONDS -gt $until ] || ! kill -0 "$xvfb_pid" 2>/dev/null; do
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
    program_pid=$!
    started+=($program_pid)
    local out
    out=$(probe window 90)
    grep -q "^window title=Korvan PLC Firmware Update Program" <<<"$out" ||
        fail "the window of $program did not appear"
    window_title=$(sed -n 's/^window title=\(.*\) origin=.*/\1/p' <<<"$out")
    origin_x=$(sed -n 's/.* origin=\([0-9-]*\),.*/\1/p' <<<"$out")
    origin_y=$(sed -n 's/.* origin=[0-9-]*,\([0-9-]*\) .*/\1/p' <<<"$out")
    # The panel is drawn: its white track is on the screen.
    wait_screen "$(basename "$program" .exe)-start" 60 "the idle panel" panel_idle
}

# Closes the window of a program with no update running; it must end, with status 0.
stop_program() {
    probe close >/dev/null
    expect "window gone" gone 60
    wait_exit "$program_pid" 60 || fail "the program did not end after its window closed"
    [ "$exit_status" -eq 0 ] || fail "the program ended with status $exit_status"
}

# wait_exit <pid> <seconds>: waits until the process has ended; its status in exit_status.
wait_exit() {
    local pid=$1 until=$((SECONDS + $2))
    while kill -0 "$pid" 2>/dev/null; do
        [ $SECONDS -le $until ] || return 1
        sleep 0.1
    done
    wait "$pid"
    exit_status=$?
    return 0
}

screenshot() {
    import -window root -display "$DISPLAY" "$ARTIFACTS/$1.png" 2>>"$log" ||
        fail "no screenshot $1"
    note "screenshot $ARTIFACTS/$1.png"
}

# Colour of a pixel of the main window's client area in a screenshot, as RRGGBB.
pixel() {
    local shot=$1 x=$(($2 + origin_x)) y=$(($3 + origin_y))
    "$convert" "$ARTIFACTS/$shot.png" -format "%[hex:p{$x,$y}]" info: 2>>"$log" |
        cut -c1-6 | tr a-f A-F
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

# Pure red pixels (the stand-in notice) inside a client rectangle of a screenshot.
red_pixels() {
    local shot=$1 x=$(($2 + origin_x)) y=$(($3 + origin_y)) w=$4 h=$5
    "$convert" "$ARTIFACTS/$shot.png" -crop "${w}x${h}+$x+$y" -fill black +opaque "#FF0000" \
        -fill white -opaque "#FF0000" -colorspace gray -format '%[fx:round(mean*w*h)]' info: \
        2>>"$log"
}

# What the panel of a screenshot shows, as conditions on one picture (the panel paints its bar
# and its phase at one tick, so one picture never mixes two ticks' bar and phase):
# the track empty; the bar part-way (red at its left, white at its right end); the bar full; the
# phase "Programming" (the only phase word that reaches x = 265..295: "Idle" and "Erasing" end
# before it).
panel_idle() { [ "$(pixel "$1" 12 115)" = FFFFFF ] && [ "$(pixel "$1" 518 115)" = FFFFFF ]; }
panel_full() { [ "$(pixel "$1" 518 115)" = FF0000 ]; }
panel_programming() { [ "$(dark_pixels "$1" 265 140 30 18)" -gt 5 ]; }
panel_mid_transfer() {
    [ "$(pixel "$1" 12 115)" = FF0000 ] && [ "$(pixel "$1" 518 115)" = FFFFFF ] &&
        panel_programming "$1"
}

# wait_screen <shot> <seconds> <what> <condition> [give-up condition]: takes screenshots until
# the condition holds for one (that one stays as the artifact <shot>.png). Fails when the bound
# runs out, or as soon as the give-up condition holds (the state can no longer come).
wait_screen() {
    local shot=$1 seconds=$2 what=$3 condition=$4 give_up=${5:-false}
    local until=$((SECONDS + seconds)) tries=0
    while :; do
        import -window root -display "$DISPLAY" "$ARTIFACTS/$shot.png" 2>>"$log" ||
            fail "no screenshot $shot"
        tries=$((tries + 1))
        if "$condition" "$shot"; then
            note "screenshot $ARTIFACTS/$shot.png: $what (screenshot $tries)"
            return 0
        fi
        "$give_up" && fail "$what never showed: $give_up after $tries screenshots"
        [ $SECONDS -le $until ] || fail "$what never showed in $seconds s ($tries screenshots)"
    done
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

# The controller: plcsim on a pty that Wine sees as the port. A developer who has not built the
# native preset gets a skip (a failure under CI=true, as every skip).
start_peer() {
    local model=$1 port=$2 flash=$3 image=$4
    [ -n "${PLCSIM:-}" ] && [ -x "$PLCSIM" ] || skip "needs plcsim at [${PLCSIM:-}] (build the native preset)"
    peer_log="$ARTIFACTS/$tag.peer.log"
    # The log goes first: the wait below must not read an earlier controller's line.
    rm -f "$flash" "$WINEPREFIX/dosdevices/$port" "$peer_log"
    # -v: it logs the host's opens and closes and its own states, which the tests wait on.
    "$PLCSIM" --model "$model" --image "$image" --link "$WINEPREFIX/dosdevices/$port" \
        --flash-out "$flash" --exit-after-update --wire -v >"$peer_log" 2>&1 &
    peer_pid=$!
    started+=($peer_pid)
    local until=$((SECONDS + 60))
    until grep -qE "^plcsim: .* on /dev/" "$peer_log"; do
        kill -0 "$peer_pid" 2>/dev/null && [ $SECONDS -le $until ] ||
            fail "plcsim did not start: $(cat "$peer_log")"
        sleep 0.1
    done
    note "controller: $(head -n1 "$peer_log")"
}

# How often a host has opened the controller's port so far.
peer_heard() {
    grep -c "a host opened the port" "$peer_log"
}

# The controller took the whole image and saw no protocol fault: plcsim exits by itself once the
# host has closed the port after the update, with status 0 only when it saw no violation.
check_controller() {
    local flash=$1 image=$2
    wait_exit "$peer_pid" 120 || fail "plcsim did not end after the update"
    [ "$exit_status" -eq 0 ] || fail "plcsim ended with status $exit_status: $(tail -n 20 "$peer_log")"
    python3 - "$flash" "$image" <<'PY' | tee -a "$log"
import sys
flash = open(sys.argv[1], "rb").read()
want = open(sys.argv[2], "rb").read()
if flash != want:
    first = next((i for i, (a, b) in enumerate(zip(flash, want)) if a != b), min(len(flash), len(want)))
    print("flash differs: %d bytes received, %d expected, first difference at %d" % (len(flash), len(want), first))
    sys.exit(1)
print("flash matches the image byte for byte (%d bytes)" % len(flash))
PY
    [ "${PIPESTATUS[0]}" -eq 0 ] || fail "flash content"
}

# Whether the controller has taken its last block: after that the window can show no transfer.
transfer_over() {
    grep -q -- "-> transfer done" "$peer_log"
}

# Waits for a picture of the transfer under way: the phase "Programming" with the bar part-way.
wait_mid_transfer() {
    wait_screen "$1" 180 "the transfer under way (Programming, the bar part-way)" \
        panel_mid_transfer transfer_over
}

# The questions the window asks, as the probe prints them.
standin_question="box caption=[TEST BUILD: STAND-IN IMAGE] text=[This program was built without a real firmware image. Its built-in image is a STAND-IN of random bytes, not a firmware: written into a PLC it makes the PLC unusable until a real firmware is written.\n\nUse it only with a simulated or test controller. Go on?] buttons=[Yes,No] default=[No]"
close_question="box caption=[WARNING] text=[An update is running. Closing now stops it and leaves the PLC in its bootloader; run the update again to recover it. Close anyway?] buttons=[Yes,No] default=[No]"
power_cycle_prompt="box caption=[Information] text=[Please POWER OFF=>ON the PLC, and then press OK to continue] buttons=[OK] default=[OK]"

# Clicks Start Burn and answers the stand-in question, whose screenshot stays as an artifact.
start_update() {
    local name=$1 answer=$2 out
    expect "clicked" click-start
    expect "$standin_question" box 60
    screenshot "$name-standin-question"
    out=$(probe answer "$answer")
    grep -qF "answered $answer" <<<"$out" || fail "the stand-in question: [$out]"
}

# dropped_keys: "<escapes> <ctrl-breaks>" the window has kept from its dialog handling.
# A probe that printed nothing at all (Wine did not start it, once in CI beside the builds) is
# asked again; one that printed something else is not.
dropped_keys() {
    local out try
    for try in 1 2 3; do
        out=$(probe dropped-keys)
        [ -z "$out" ] || break
        note "the probe printed nothing (try $try)"
    done
    sed -n 's/^dropped escape=\([0-9]*\) ctrl-break=\([0-9]*\)$/\1 \2/p' <<<"$out"
}

# Presses Escape and Ctrl+Break on the window: real keys from the X server when xdotool is
# there, else posted key messages. Each must reach the window (its count of kept keys grows):
# a key that never arrived proves nothing.
press_keys_that_must_not_start() {
    local before after how want
    before=$(dropped_keys)
    [ -n "$before" ] || fail "the window does not count the keys it keeps from the dialog handling"
    if command -v xdotool >/dev/null; then
        how="X keyboard (xdotool)"
        expect "focused" focus
        local xid
        xid=$(xdotool search --name "^Korvan PLC Firmware Update Program" 2>>"$log" | head -n1)
        [ -n "$xid" ] || fail "xdotool does not see the window"
        xdotool windowfocus --sync "$xid" >>"$log" 2>&1 || fail "xdotool cannot focus the window"
        xdotool key Escape >>"$log" 2>&1 || fail "xdotool key Escape"
        xdotool key ctrl+Break >>"$log" 2>&1 || fail "xdotool key ctrl+Break"
    else
        how="posted key messages"
        expect "escape pressed" escape
        expect "ctrl-break pressed" ctrl-break
    fi
    read -r esc brk <<<"$before"
    want="$((esc + 1)) $((brk + 1))"
    local until=$((SECONDS + 60))
    while :; do
        after=$(dropped_keys)
        read -r a b <<<"$after"
        [ "${a:-0}" -gt "$esc" ] && [ "${b:-0}" -gt "$brk" ] && break
        [ $SECONDS -le $until ] || fail "the keys did not reach the window ($how): kept [$after], wanted at least [$want]"
        sleep 0.2
    done
    note "Escape and Ctrl+Break reached the window ($how): kept $before -> $after"
}

# The kind of a Windows program from its PE header: win32 (i386), win64 (x86-64), or what else.
pe_arch() {
    local file=$1 offset machine
    [ -f "$file" ] && [ "$(head -c 2 "$file")" = MZ ] || return 1
    offset=$(od -An -tu4 -j60 -N4 "$file" | tr -d ' ')
    [ -n "$offset" ] && [ "$(od -An -c -j"$offset" -N4 "$file" | tr -d ' ')" = 'PE\0\0' ] || return 1
    machine=$(od -An -tx2 -j$((offset + 4)) -N2 "$file" | tr -d ' ')
    case $machine in
        014c) echo win32 ;;
        8664) echo win64 ;;
        *) echo "machine-$machine" ;;
    esac
}

# A program of the other build's kind would prove nothing about this build's programs.
check_arch() {
    [ -n "${WINEARCH:-}" ] || return 0
    local file kind
    for file in "$@"; do
        kind=$(pe_arch "$file") || fail "$file is not a Windows program"
        [ "$kind" = "$WINEARCH" ] || fail "$file is a $kind program; this prefix runs $WINEARCH ones"
    done
}

# --- scenarios ---------------------------------------------------------------------------------

# shellcheck source=console_cases.sh
. "$here/console_cases.sh"

prefix_setup() {
    command -v "$WINE" >/dev/null || skip "Wine is not installed"
    rm -rf "$WINEPREFIX"
    mkdir -p "$(dirname "$WINEPREFIX")"
    timeout 180 "$WINE" wineboot -i >>"$log" 2>&1
    timeout 60 wineserver -w
    if [ ! -f "$WINEPREFIX/system.reg" ] && [ "${WINEARCH:-}" = win32 ]; then
        skip "Wine could not make a 32-bit prefix: is its 32-bit loader installed (Debian:" \
            "dpkg --add-architecture i386, apt-get update, apt-get install wine32:i386), and does" \
            "this kernel run 32-bit programs (not where 32-bit emulation is off)? See $log"
    fi
    [ -f "$WINEPREFIX/system.reg" ] || skip "Wine could not make a prefix (see $log)"
    prefix_arch
    # A grey field background, so that the white track stands apart from it on the screen (Wine's
    # default for this system colour is white).
    "$WINE" reg add "HKCU\\Control Panel\\Colors" /v Scrollbar /t REG_SZ /d "192 192 192" /f \
        >>"$log" 2>&1 || skip "Wine cannot write its registry here"
    # Wine draws the window frames itself (there is no window manager on Xvfb): the title shows
    # in the screenshots.
    "$WINE" reg add "HKCU\\Software\\Wine\\X11 Driver" /v Managed /t REG_SZ /d N /f \
        >>"$log" 2>&1 || skip "Wine cannot write its registry here"
    timeout 120 "$WINE" "$PROBE" devices 2>>"$log" | tr -d '\r' >>"$log"
    grep -q "^devices present=" "$log" || skip "Wine lists no devices here (see $log)"
    # What Windows the probe finds itself in: a 32-bit program on a 32-bit Windows (no WoW64), or
    # a 64-bit one on a 64-bit Windows.
    if [ -n "${WINEARCH:-}" ]; then
        local platform want="platform bits=32 wow64=0 native=x86"
        [ "$WINEARCH" = win64 ] && want="platform bits=64 wow64=0 native=amd64"
        platform=$(timeout 60 "$WINE" "$PROBE" platform 2>>"$log" | tr -d '\r' | tee -a "$log")
        [ "$platform" = "$want" ] || fail "the probe found [$platform], expected [$want]"
    fi
    timeout 60 wineserver -w
    echo "prefix ready: $WINEPREFIX"
}

prefix_cleanup() {
    [ -d "$WINEPREFIX" ] && wineserver -k 2>/dev/null
    echo "prefix closed: $WINEPREFIX"
}

# What a program shows of its image, where an operator looks: the title, the panel where the
# date stands, the version record. A stand-in says so everywhere and names no image.
check_identity() {
    local program=$1 name=$2 stand_in=$3 image_name=$4 date_text=$5 shot=$6 version
    version=$(probe version "$program")
    if [ "$stand_in" = 1 ]; then
        [ "$window_title" = "Korvan PLC Firmware Update Program - TEST BUILD: STAND-IN IMAGE" ] ||
            fail "title [$window_title]"
        [ "$(red_pixels "$shot" 300 25 130 34)" -gt 100 ] ||
            fail "no red stand-in notice where the date stands"
        grep -qF "version specialbuild=1" <<<"$version" || fail "no special-build flag: $version"
        grep -qF "version SpecialBuild=[TEST BUILD: STAND-IN IMAGE" <<<"$version" ||
            fail "no SpecialBuild text: $version"
        grep -qF "TEST BUILD: STAND-IN IMAGE]" <<<"$(grep FileDescription <<<"$version")" ||
            fail "FileDescription: $version"
        grep -qF -- "$image_name" <<<"$version" && fail "a stand-in names the image: $version"
        note "$name says STAND-IN in its title, its panel and its version record"
    else
        [ "$window_title" = "Korvan PLC Firmware Update Program" ] || fail "title [$window_title]"
        [ "$(red_pixels "$shot" 300 25 130 34)" -eq 0 ] || fail "red text where the date stands"
        [ "$(dark_pixels "$shot" 300 25 120 16)" -gt 20 ] || fail "no date text at (300,25)"
        grep -qF "version specialbuild=0" <<<"$version" || fail "special-build flag: $version"
        grep -qF "version SpecialBuild absent" <<<"$version" || fail "SpecialBuild: $version"
        grep -qF "version FirmwareImage=[$image_name]" <<<"$version" ||
            fail "FirmwareImage: $version"
        note "$name shows '$date_text' and names $image_name"
    fi
}

# A delivered program: the locked model, "USB" alone, what it says of its image, and Start without
# a controller.
delivered() {
    local program=$1 model=$2 date_text=$3 stand_in=$4 image_name=$5 name
    name=$(basename "$program" .exe)
    start_xvfb
    start_program "$program"
    expect "count=22 selected=" combo 8
    expect "=[$model] selected" combo 8
    expect "enabled=0" combo 8
    expect "combo id=7 count=1 selected=0 enabled=1" combo 7
    expect "item 0=[USB] selected" combo 7
    expect "start enabled=1" start-state
    wait_screen "$name-idle" 60 "the idle panel" panel_idle
    expect_pixel "$name-idle" 12 115 FFFFFF   # empty white track
    expect_pixel "$name-idle" 518 115 FFFFFF
    expect_pixel "$name-idle" 525 115 C0C0C0  # right of the track: the field background
    [ "$(dark_pixels "$name-idle" 435 15 87 28)" -gt 20 ] || fail "no logo at (435,15)"
    check_identity "$program" "$name" "$stand_in" "$image_name" "$date_text" "$name-idle"
    if [ "$stand_in" = 1 ]; then
        # No, the default (Enter), starts nothing; Yes goes on.
        start_update "$name" enter
        expect "no box" no-box 2
        expect "start enabled=1" start-state
        start_update "$name" yes
    else
        expect "clicked" click-start
    fi
    expect "box caption=[ERROR] text=[CANNOT open USB Port!!!]" box 60
    screenshot "$name-cannot-open"
    expect "ok pressed" ok
    wait_for 60 "start enabled=1" start-state
    wait_screen "$name-after" 60 "the panel back at zero" panel_idle
    stop_program
    echo "PASS: $name shows $model, USB, what its image is; Start without a controller ends in CANNOT open USB Port!!! and the panel resets"
}

# A full update of a serial-linked test profile through the window, on a listed port.
full_update() {
    local program=$1 model=$2 port=$3 image=$4 console=${5:-} name
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
    # The name buffer is 1024 bytes: a name of 1023 characters is examined, a longer one is not.
    add_fixture_port 6 "$(printf '%01015d' 0) (COM61)"
    add_fixture_port 7 "$(printf '%01016d' 0) (COM62)"
    start_peer "$model" "$port" "$flash" "$image"
    start_program "$program"

    # Discovery: exactly the well-formed names, sorted as the list sorts them.
    local list
    list=$(probe combo 7)
    grep -qF "combo id=7 count=4 selected=0" <<<"$list" || fail "port list: $list"
    grep -qF "item 0=[COM12] selected" <<<"$list" || fail "port list: $list"
    grep -qF "item 1=[COM3]" <<<"$list" || fail "port list: $list"
    grep -qF "item 2=[COM5]" <<<"$list" || fail "port list: $list"
    grep -qF "item 3=[COM61]" <<<"$list" || fail "port list: $list"
    expect "=[$model] selected" combo 8
    expect "enabled=0" combo 8
    expect "selected $PORT" select-port "$PORT"

    # Escape and Ctrl+Break are both command 2 to the dialog handling: they reach the window and
    # start nothing, not even the stand-in question, and open no port.
    local heard
    heard=$(peer_heard)
    press_keys_that_must_not_start
    expect "no box" no-box 2
    expect "start enabled=1" start-state
    [ "$(peer_heard)" = "$heard" ] || fail "a key opened the port: $(tail -n 5 "$peer_log")"
    note "Escape and Ctrl+Break started nothing"

    # The stand-in question: No (the default, Enter) starts nothing and opens no port.
    start_update "$name" enter
    expect "no box" no-box 2
    expect "start enabled=1" start-state
    [ "$(peer_heard)" = "$heard" ] || fail "No opened the port: $(tail -n 5 "$peer_log")"
    note "No to the stand-in question started nothing"

    wait_screen "$name-idle" 60 "the idle panel" panel_idle
    expect_pixel "$name-idle" 5 115 C0C0C0

    start_update "$name" yes
    wait_for 60 "start enabled=0" start-state
    # A second Start while the worker runs, sent as the button would send it: refused, not even
    # asked about.
    expect "start command sent" start-command

    if [ "$model" = "RV7-G" ]; then
        # plcsim takes the host's close of the port for the operator's power cycle.
        expect "$power_cycle_prompt" box 120
        # One update per controller: the port is closed at the prompt, yet the window's update
        # holds it; a console program given that port is refused and told who holds it.
        [ -z "$console" ] || console_refused "$console" "$PORT" "$(basename "$program")"
        # The adapter came back as COM5 after the power cycle: the port picked now is the one
        # the update reopens.
        ln -s "$(readlink "$WINEPREFIX/dosdevices/$port")" "$WINEPREFIX/dosdevices/com5"
        rm "$WINEPREFIX/dosdevices/$port"
        expect "selected COM5" select-port COM5
        expect "ok pressed" ok
    fi

    wait_mid_transfer "$name-mid-transfer"
    rm -f "$WINEPREFIX/dosdevices/com5"  # open already: the port is no longer looked up
    press_keys_that_must_not_start
    expect "start command sent" start-command

    expect "box caption=[INFORMATION] text=[Firmware update is SUCCESSFUL]" box 180
    wait_screen "$name-success" 60 "the full bar" panel_full
    expect "ok pressed" ok
    # Start Burn comes back only when the worker is done: a click at once is taken.
    wait_for 60 "start enabled=1" start-state
    start_update "$name-again" enter
    wait_screen "$name-reset" 60 "the panel back at zero" panel_idle
    check_controller "$flash" "$image"

    # A listed port with nothing behind it: the text keeps the listed name.
    rm -f "$WINEPREFIX/dosdevices/com3"
    expect "selected COM3" select-port COM3
    start_update "$name-com3" yes
    expect "box caption=[ERROR] text=[CANNOT open COM3 Port!!!]" box 60
    expect "ok pressed" ok
    wait_for 60 "start enabled=1" start-state
    stop_program
    echo "PASS: $model updated through the window on $PORT against plcsim; port list, keys, stand-in question, second Start, panel and flash checked"
}

# Closing the window while an update runs: it asks (No the default), and ending the session is
# refused. No: the update goes on to its end. Yes: the worker stops, the port closes (the
# controller sees it), the program ends with status 0, the controller stays in its bootloader
# with part of the image.
close_during_update() {
    local program=$1 model=$2 port=$3 image=$4 name
    name=$(basename "$program" .exe)
    local flash="$ARTIFACTS/$name.close.flash.bin"
    start_xvfb
    add_fixture_port 3 "Communications Port (COM5)"
    start_peer "$model" "$port" "$flash" "$image"
    start_program "$program"
    expect "selected ${port^^}" select-port "${port^^}"

    start_update "$name-close" yes
    wait_mid_transfer "$name-close-no-mid"
    # A log-off mid-update is refused: the program and its update go on.
    timeout 120 "$WINE" wineboot --end-session >>"$log" 2>&1 &&
        fail "the session ended during the update"
    kill -0 "$program_pid" 2>/dev/null || fail "the program ended with the session"
    note "ending the session during the update was refused"
    expect "close sent" close
    expect "$close_question" box 60
    screenshot "$name-close-question"
    expect "answered enter" answer enter
    expect "box caption=[INFORMATION] text=[Firmware update is SUCCESSFUL]" box 180
    expect "ok pressed" ok
    check_controller "$flash" "$image"
    wait_for 60 "start enabled=1" start-state
    note "No: the update went on to its end"

    start_peer "$model" "$port" "$flash" "$image"
    start_update "$name-close" yes
    wait_mid_transfer "$name-close-yes-mid"
    expect "menu close sent" menu-close
    expect "$close_question" box 60
    expect "answered yes" answer yes
    expect "window gone" gone 60
    wait_exit "$program_pid" 60 || fail "the program did not end after Yes"
    [ "$exit_status" -eq 0 ] || fail "the program ended with status $exit_status"
    # The port was closed: the controller saw it, ended its run, and has part of the image.
    wait_exit "$peer_pid" 60 || fail "plcsim did not see the port close"
    grep -qF "the host closed the port" "$peer_log" || fail "plcsim saw no close: $(tail "$peer_log")"
    grep -qE "transfer complete: +no" "$peer_log" || fail "the transfer completed after Yes"
    grep -qE "state: +transfer" "$peer_log" || fail "the controller is not in its bootloader"
    note "Yes: $(grep -E 'blocks taken' "$peer_log" | tr -s ' '), the program ended with status 0"
    echo "PASS: closing during an update asks; No lets it finish, Yes stops it, closes the port and ends cleanly"
}

# Closing the window at RV7-G's power-cycle prompt, a box of the worker's own, as taskkill does
# (the prompt is closed as well): No leaves the prompt open. Yes closes it unanswered and the
# worker, stopped, ends by itself before the window's 10 s grace would have ended the window
# without it; the program ends with status 0. The controller, which has taken the update request
# and waits for its power cycle, is never reopened, so neither erased nor written: a prompt closed
# that way must not count as its OK.
close_at_prompt() {
    local program=$1 model=$2 port=$3 image=$4 name
    name=$(basename "$program" .exe)-prompt-close
    start_xvfb
    add_fixture_port 2 "USB Serial Port (${port^^})"
    start_peer "$model" "$port" "$ARTIFACTS/$name.flash.bin" "$image"
    start_program "$program"
    expect "selected ${port^^}" select-port "${port^^}"
    start_update "$name" yes
    expect "$power_cycle_prompt" box 120
    # The controller restarts into its bootloader when the worker closes the port for the prompt.
    local until=$((SECONDS + 60))
    until grep -qF "power cycle (" "$peer_log"; do
        [ $SECONDS -le $until ] || fail "plcsim saw no power cycle: $(tail "$peer_log")"
        sleep 0.1
    done
    local at_prompt
    at_prompt=$(sed -n 's/.* -> //p' "$peer_log" | tail -n 1)
    [ "$(peer_heard)" = 1 ] || fail "the host opened the port more than once before the prompt"

    # A program's close (taskkill without /F) goes to the prompt too: it is no OK of the operator's.
    "$WINE" taskkill /IM "$(basename "$program")" >>"$log" 2>&1 || fail "taskkill"
    expect "$close_question" question 60
    expect "answered no" answer no
    expect "$power_cycle_prompt" box 5
    [ "$(peer_heard)" = 1 ] || fail "the port was reopened after No"
    note "taskkill, then No: the prompt stays"

    expect "menu close sent" menu-close
    expect "$close_question" question 60
    # The grace starts at the Yes, after this: a window gone 10 s later or more went at the grace.
    local asked=$SECONDS
    expect "answered yes" answer yes
    expect "window gone" gone 60
    wait_exit "$program_pid" 60 || fail "the program did not end after Yes"
    [ "$exit_status" -eq 0 ] || fail "the program ended with status $exit_status"
    local took=$((SECONDS - asked))
    # Ended, plcsim writes its summary: one open, the one before the prompt.
    kill "$peer_pid"
    wait_exit "$peer_pid" 60 || fail "plcsim did not end"
    [ "$exit_status" -eq 0 ] || fail "plcsim saw a protocol fault: $(tail -n 20 "$peer_log")"
    local summary
    summary=$(tail -n 20 "$peer_log")
    grep -qE "host opens: +1," <<<"$summary" || fail "the port was reopened after Yes: $summary"
    grep -qE "erase steps: +0 " <<<"$summary" || fail "the controller was erased: $summary"
    grep -qE "blocks taken: +0 " <<<"$summary" || fail "the controller was written: $summary"
    grep -qE "state: +$at_prompt\$" <<<"$summary" ||
        fail "the controller left its state at the prompt ($at_prompt): $summary"
    [ "$took" -lt 10 ] || fail "the window went $took s after Yes: at its grace, not with its worker"
    echo "PASS: closing at the power-cycle prompt asks; No leaves the prompt, Yes closes it unanswered and the program ends by itself ($took s), the controller ($at_prompt) untouched"
}

# The window's update with the virtual-machine tier's stale-ACK proxy between the COM port's pty
# and plcsim: every send of the last block corrupted (the controller NAKs it) and the previous
# ACK repeated DELAY ms after it. Windows has no early-byte rule; the last block's guard alone
# stands between that ACK and the EOT. The window must end "Firmware update is FAILED" with the
# controller short of its last block, or "SUCCESSFUL" with the flash whole, which a block that
# never gets through rules out. A run that ended "SUCCESSFUL" with the block missing decides
# nothing when a repeated ACK waited half the guard or more for the byte after it (the host's
# share of a loaded machine, not the guard's): it is made again, at most three times in all.
stale_ack() {
    local program=$1 model=$2 port=$3 image=$4 delay=$5 block=$6 attempt verdict
    box=""
    [ -n "${PLCSIM:-}" ] && [ -x "$PLCSIM" ] || skip "needs plcsim (build the native preset)"
    start_xvfb
    add_fixture_port 2 "USB Serial Port (${port^^})"
    for attempt in 1 2 3; do
        stale_ack_once "$@" && verdict=0 || verdict=$?
        [ "$verdict" -eq 75 ] || break
        note "attempt $attempt decided nothing: the host's delivery outlasted half the guard"
    done
    [ "$verdict" -eq 0 ] || fail "the update's end: $box"
    echo "PASS: a repeated ACK for a corrupted last block under Wine: $box"
}

# One run of the above; returns 75 where it decided nothing.
stale_ack_once() {
    local program=$1 model=$2 port=$3 image=$4 delay=$5 block=$6 name
    name=$(basename "$program" .exe)-stale
    local flash="$ARTIFACTS/$name.flash.bin" summary="$ARTIFACTS/$name.summary.json"
    local proxy_json="$ARTIFACTS/$name.proxy.json" proxy_out="$ARTIFACTS/$name.proxy.out"
    local blocks=$(( ($(stat -c %s "$image") + block - 1) / block ))
    rm -f "$flash" "$summary" "$proxy_json" "$WINEPREFIX/dosdevices/$port"
    # Behind the proxy plcsim never sees the host's close: the operator's power cycle comes
    # --reconnect-after.
    peer_log="$ARTIFACTS/$tag.peer.log"
    rm -f "$peer_log"
    peer_kind=plcsim
    "$PLCSIM" --model "$model" --image "$image" --flash-out "$flash" --summary-json "$summary" \
        --wire --reconnect-after 500 -v >"$peer_log" 2>&1 &
    peer_pid=$!
    started+=($peer_pid)
    local until=$((SECONDS + 60)) upstream="" line=""
    until [ -n "$upstream" ]; do
        [ $SECONDS -le $until ] || fail "plcsim did not start: $(cat "$peer_log")"
        sleep 0.1
        upstream=$(sed -n 's/^plcsim: .* on \(\/dev\/[^ ]*\)$/\1/p' "$peer_log" | head -n 1)
    done
    python3 "$here/../vm/stale_ack_proxy.py" "$upstream" "$blocks" "$delay" "$proxy_json" \
        >"$proxy_out" 2>&1 &
    local proxy_pid=$!
    started+=($proxy_pid)
    until [ -n "$line" ]; do
        [ $SECONDS -le $until ] || fail "the proxy did not start: $(cat "$proxy_out")"
        sleep 0.1
        line=$(sed -n 's/^proxy on //p' "$proxy_out")
    done
    ln -s "$line" "$WINEPREFIX/dosdevices/$port"
    note "controller: plcsim on $upstream, the proxy on $line as ${port^^}, block $blocks attacked"
    start_program "$program"
    expect "selected ${port^^}" select-port "${port^^}"
    start_update "$name" yes
    expect "$power_cycle_prompt" box 120
    expect "ok pressed" ok
    box=$(probe box 240)
    screenshot "$name-end"
    expect "ok pressed" ok
    wait_for 60 "start enabled=1" start-state
    stop_program
    kill "$proxy_pid" "$peer_pid" 2>/dev/null
    wait_exit "$proxy_pid" 30 || fail "the proxy did not end"
    wait_exit "$peer_pid" 30 || fail "plcsim did not end"
    python3 - "$proxy_json" "$summary" "$flash" "$image" "$blocks" "$box" <<'PY' | tee -a "$log"
import json, sys
proxy, summary = json.load(open(sys.argv[1])), json.load(open(sys.argv[2]))
flash, image, blocks, box = open(sys.argv[3], "rb").read(), open(sys.argv[4], "rb").read(), int(sys.argv[5]), sys.argv[6]
print("proxy: %d sends of block %d, ACKs injected %s ms after its first byte"
      % (proxy["targetSends"], blocks, proxy["injectedAfterMs"]))
print("controller: %d blocks taken, transfer complete %s" % (summary["blocksTaken"], summary["transferComplete"]))
if not proxy["injectedAfterMs"] or proxy["blocks"] != blocks:
    sys.exit("the proxy injected nothing into block %d" % blocks)
if "text=[Firmware update is FAILED]" in box:
    sys.exit(0 if summary["blocksTaken"] == blocks - 1 and not summary["transferComplete"]
             else "FAILED, but the controller took %d blocks" % summary["blocksTaken"])
if "text=[Firmware update is SUCCESSFUL]" in box:
    if flash[:len(image)] == image and summary["transferComplete"]:
        sys.exit(0)
    # The last block's guard on this line: 133 bytes at 115200 baud, the turn-around and the
    # adapter's latency (12 + 10 + 16 ms).
    silence = proxy["silenceAfterAckMs"]
    print("SUCCESSFUL with a block missing: %d of %d; a repeated ACK waited %s ms for the next byte"
          % (summary["blocksTaken"], blocks, silence))
    sys.exit(75 if silence is None or silence >= 38 / 2 else 1)
sys.exit("the window ended with " + box)
PY
    return "${PIPESTATUS[0]}"
}

# A program built with a real image (a fixture of the right size): no stand-in word anywhere, and
# Start goes to the port without a question.
real_image() {
    local program=$1 image_name=$2 date_text=$3 name
    name=$(basename "$program" .exe)
    start_xvfb
    add_fixture_port 1 "Communications Port (COM3)"
    rm -f "$WINEPREFIX/dosdevices/com3"
    start_program "$program"
    wait_screen "$name-idle" 60 "the idle panel" panel_idle
    check_identity "$program" "$name" 0 "$image_name" "$date_text" "$name-idle"
    expect "selected COM3" select-port COM3
    expect "clicked" click-start
    expect "box caption=[ERROR] text=[CANNOT open COM3 Port!!!] buttons=[OK]" box 60
    expect "ok pressed" ok
    wait_for 60 "start enabled=1" start-state
    # Enter held on Start Burn (Tab brings the focus there): the X server repeats it while the
    # outcome shows, and no repeat may answer it. Without xdotool, a repeat posted to the box.
    expect "clicked" click-start
    expect "box stayed" held-enter 60
    expect "ok pressed" ok
    wait_for 60 "start enabled=1" start-state
    if command -v xdotool >/dev/null; then
        expect "focused" focus
        local xid
        xid=$(xdotool search --name "^Korvan PLC Firmware Update Program" 2>>"$log" | head -n1)
        xdotool windowfocus --sync "$xid" key Tab keydown Return >>"$log" 2>&1 ||
            fail "xdotool cannot hold Enter"
        expect "box caption=[ERROR] text=[CANNOT open COM3 Port!!!] buttons=[OK]" box 60
        sleep 2  # the key held: its repeats come
        xdotool keyup Return >>"$log" 2>&1
        expect "box caption=[ERROR] text=[CANNOT open COM3 Port!!!] buttons=[OK]" box 5
        expect "ok pressed" ok
        wait_for 60 "start enabled=1" start-state
        note "a held Enter started the update once and left its outcome standing"
    fi
    stop_program
    echo "PASS: a real-image build names its image and date and starts without the stand-in question"
}

# The Windows link against Wine's devices: COM12 and the controller's USB interface path on
# echoing pseudo-terminals, with fixture interfaces of the USB class around it.
link_tests() {
    local binary=$1 class="{a5dcbf10-6530-11d2-901f-00c04fb951ed}" inst key
    start_xvfb
    # Enumerated in this order: the upper-case path first, another vendor's device, then ours.
    # The other vendor's device opens as well as ours: only its path tells it apart.
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
    rm -f "$ARTIFACTS/$tag.echo.log"  # a last run's "ready" must not count for this one's
    python3 "$here/pty_echo.py" "$WINEPREFIX/dosdevices/com12" \
        "$WINEPREFIX/dosdevices/usb#vid_1234&pid_0001#5&3&0&1#$class" \
        "$WINEPREFIX/dosdevices/usb#vid_3b9e&pid_0001#5&1&0&1#$class" >"$ARTIFACTS/$tag.echo.log" 2>&1 &
    started+=($!)
    local until=$((SECONDS + 60))
    until grep -q "^ready" "$ARTIFACTS/$tag.echo.log"; do
        [ $SECONDS -le $until ] || fail "the echoing ptys did not start"
        sleep 0.1
    done
    rm -f "$WINEPREFIX/dosdevices/com3"
    gtest "$binary"
}

# A GoogleTest binary that needs a display, with its arguments (a filter). A filter that runs no
# test does not pass.
gtest() {
    local binary=$1 out
    shift
    [ -n "$xvfb_pid" ] || start_xvfb
    out=$("$WINE" "$binary" "$@" 2>>"$log" | tr -d '\r')
    echo "$out"
    grep -q "^\[  PASSED  \] [1-9]" <<<"$out" || fail "no GoogleTest verdict of PASSED"
    grep -q "^\[  FAILED  \]" <<<"$out" && fail "GoogleTest reported failures"
    return 0
}

# The prefix is of the kind WINEARCH names (Wine writes it at the head of system.reg).
prefix_arch() {
    [ -n "${WINEARCH:-}" ] || return 0
    grep -qx "#arch=$WINEARCH" "$WINEPREFIX/system.reg" ||
        fail "the prefix $WINEPREFIX is [$(grep -m1 '^#arch=' "$WINEPREFIX/system.reg")], expected $WINEARCH"
}

needs_prefix() {
    [ -f "$WINEPREFIX/system.reg" ] || skip "no Wine prefix: Wine could not start here"
    prefix_arch
    check_arch "${PROBE:-}"
}

case "$scenario" in
    prefix-setup) check_arch "${PROBE:-}" && prefix_setup ;;
    prefix-cleanup) prefix_cleanup ;;
    delivered) needs_prefix && check_arch "${1:-}" && delivered "$@" ;;
    full-update) needs_prefix && check_arch "${1:-}" && full_update "$@" ;;
    stale-ack) needs_prefix && check_arch "${1:-}" && stale_ack "$@" ;;
    close-during-update) needs_prefix && check_arch "${1:-}" && close_during_update "$@" ;;
    close-at-prompt) needs_prefix && check_arch "${1:-}" && close_at_prompt "$@" ;;
    real-image) needs_prefix && check_arch "${1:-}" && real_image "$@" ;;
    gtest) needs_prefix && check_arch "${1:-}" && gtest "$@" ;;
    link) needs_prefix && check_arch "${1:-}" && link_tests "$@" ;;
    console-update) needs_prefix && check_arch "${1:-}" && console_update "$@" ;;
    console-fleet) needs_prefix && check_arch "${1:-}" && console_fleet "$@" ;;
    console-looks) needs_prefix && check_arch "${1:-}" "${2:-}" && console_looks "$@" ;;
    console-interrupt) needs_prefix && check_arch "${1:-}" && console_interrupt "$@" ;;
    console-reader-gone) needs_prefix && check_arch "${1:-}" && console_reader_gone "$@" ;;
    console-hung-up) needs_prefix && check_arch "${1:-}" && console_hung_up "$@" ;;
    console-terminal) needs_prefix && check_arch "${1:-}" && console_terminal "$@" ;;
    console-session-end) needs_prefix && check_arch "${1:-}" && console_session_end "$@" ;;
    *) fail "unknown scenario $scenario" ;;
esac
