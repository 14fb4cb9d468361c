# The console programs under Wine (sourced by wine_test.sh): full updates of the delivered models
# through the Win32 link on the pty that Wine maps to a COM port, several controllers at once,
# --info and the other commands, Ctrl+C mid-transfer, a line gone mid-conversation, a console's
# redraw and colour, and the update lock against the window and the session's end (from the
# window's suite, which has the display).
#
# They run in a prefix of their own (the CTest fixture wine_console_prefix), each case on COM
# ports of its own, so that the cases run beside each other and beside the window's suite. None
# opens a display: a desktop started there would be the prefix's for every later window. Every
# case needs plcsim from the native build.

# Programs of a case end with the case; the prefix's own processes are left to other cases.
console_case() {
    [ -n "${PLCSIM:-}" ] && [ -x "$PLCSIM" ] || skip "needs plcsim (build the native preset)"
    prefix_wait=0
    # The wine server takes a hangup when a pty it opened closes and then writes its state to
    # its stderr: that of the program that started it, unless the server is started here.
    wineserver -p5 >/dev/null 2>&1
    return 0
}

# sim <name> <model> <com> <image> [plcsim options...]: plcsim on a pty Wine maps to COM<n>.
# Its pid in sim_pid_<name>, its log $ARTIFACTS/$tag.<name>.sim.log, its flash .flash.bin.
sim() {
    local name=$1 model=$2 com=$3 image=$4
    shift 4
    local simlog="$ARTIFACTS/$tag.$name.sim.log" link="$WINEPREFIX/dosdevices/${com,,}"
    # The log goes first: the shell truncates it only once the job runs, and the wait below
    # would read the last controller's "on /dev/" line of the same name.
    rm -f "$link" "$simlog" "$ARTIFACTS/$tag.$name.flash.bin"
    "$PLCSIM" --model "$model" --image "$image" --link "$link" \
        --flash-out "$ARTIFACTS/$tag.$name.flash.bin" --exit-after-update -v "$@" >"$simlog" 2>&1 &
    local pid=$!
    started+=($pid)
    printf -v "sim_pid_$name" %s "$pid"
    local until=$((SECONDS + 60))
    until grep -q "^plcsim: .* on /dev/" "$simlog"; do
        kill -0 "$pid" 2>/dev/null && [ $SECONDS -le $until ] ||
            fail "plcsim $name did not start: $(cat "$simlog")"
        sleep 0.1
    done
}

# sim_done <name>: plcsim ended by itself (the host closed the port after the update) with 0.
sim_done() {
    local pid_var="sim_pid_$1"
    wait_exit "${!pid_var}" 60 || fail "plcsim $1 did not end after the update"
    [ "$exit_status" -eq 0 ] ||
        fail "plcsim $1 ended with $exit_status: $(tail -n 12 "$ARTIFACTS/$tag.$1.sim.log")"
}

# flash_matches <name> <image> <tail>: plcsim's flash is the image less its last <tail> bytes
# (the ZL500 never gets its last 4096), byte for byte.
flash_matches() {
    python3 - "$ARTIFACTS/$tag.$1.flash.bin" "$2" "$3" <<'PY' | tee -a "$log"
import sys
flash, image, tail = open(sys.argv[1], "rb").read(), open(sys.argv[2], "rb").read(), int(sys.argv[3])
want = image[:len(image) - tail]
if flash != want:
    first = next((i for i, (a, b) in enumerate(zip(flash, want)) if a != b), min(len(flash), len(want)))
    sys.exit("flash differs: %d bytes, %d expected, first difference at %d" % (len(flash), len(want), first))
print("flash matches the image byte for byte (%d bytes)" % len(flash))
PY
    [ "${PIPESTATUS[0]}" -eq 0 ] || fail "flash of $1"
}

# cli <name> <program> <arguments...>: runs a console program; stdout and stderr in
# $ARTIFACTS/$tag.<name>.out / .err, its status in cli_status.
# 137 is no status a Windows program ends with: Wine's server killed the process after its threads
# had ended, its Unix exit late on a busy host (seen once with --version). Such a run is made
# once more; what the second run does is judged as any run is.
cli() {
    local name=$1 program=$2 again=1
    shift 2
    while :; do
        "$WINE" "$program" "$@" >"$ARTIFACTS/$tag.$name.out" 2>"$ARTIFACTS/$tag.$name.err" </dev/null
        cli_status=$?
        note "$(basename "$program") $*: exit $cli_status"
        [ "$cli_status" -eq 137 ] && [ $((again--)) -gt 0 ] || break
    done
}

# under_way <name> <program> <com> <text>: the program's update on COM<n> with --json, in the
# background (its pid in run_pid), once its stdout has the text; its lines as cli's.
under_way() {
    local name=$1 program=$2 com=$3 text=$4 until=$((SECONDS + 120))
    rm -f "$ARTIFACTS/$tag.$name".*  # a last run's lines must not count for this one's
    "$WINE" "$program" --port "$com" --yes --allow-stand-in --json \
        >"$ARTIFACTS/$tag.$name.out" 2>"$ARTIFACTS/$tag.$name.err" </dev/null &
    run_pid=$!
    started+=($run_pid)
    until grep -qF -- "$text" "$ARTIFACTS/$tag.$name.out"; do
        kill -0 "$run_pid" 2>/dev/null && [ $SECONDS -le $until ] ||
            fail "the transfer never got under way: $(tail -n 3 "$ARTIFACTS/$tag.$name.out")"
        sleep 0.2
    done
}

# expect_status <name> <status>, has <name> <out|err> <text>, lacks <name> <out|err> <text>
expect_status() {
    [ "$cli_status" -eq "$2" ] || fail "$1 ended with $cli_status, expected $2:
$(cat "$ARTIFACTS/$tag.$1.out" "$ARTIFACTS/$tag.$1.err")"
}
has() {
    grep -qF -- "$3" "$ARTIFACTS/$tag.$1.$2" ||
        fail "$1's $2 lacks [$3]: $(cat "$ARTIFACTS/$tag.$1.$2")"
}
lacks() {
    grep -qF -- "$3" "$ARTIFACTS/$tag.$1.$2" && fail "$1's $2 has [$3]"
    return 0
}

# json_check <name> <python expression over `events`, the parsed lines>: every stdout line is
# one JSON object, and the expression holds.
json_check() {
    python3 - "$ARTIFACTS/$tag.$1.out" "$2" <<'PY' | tee -a "$log"
import json, sys
lines = open(sys.argv[1], encoding="utf-8").read().splitlines()
events = [json.loads(line) for line in lines]
if not events or not all(isinstance(e, dict) for e in events):
    sys.exit("not one JSON object per line")
if not eval(sys.argv[2]):
    sys.exit("does not hold: " + sys.argv[2] + "\n" + "\n".join(lines[-6:]))
print("%d JSON lines parse; %s" % (len(events), sys.argv[2]))
PY
    [ "${PIPESTATUS[0]}" -eq 0 ] || fail "JSON of $1"
}

# A full update of a delivered model through --port against plcsim: the first full update of a
# USB-linked model through the Win32 link. ZL500 as an operator reads it (plain lines), on a COM
# port whose device is the controller's USB device (pinned by its instance); ZL500-AIO as a
# script reads it (--json).
console_update() {
    local program=$1 model=$2 com=$3 image=$4 tail=$5 form=$6 name
    name=$(basename "$program" .exe)
    console_case
    if [ "$form" = plain ]; then
        local key="HKLM\\System\\CurrentControlSet\\Enum\\USB\\VID_3B9E&PID_0001\\ZL5-$com"
        "$WINE" reg add "$key" /v ClassGUID /t REG_SZ \
            /d "{4D36E978-E325-11CE-BFC1-08002BE10318}" /f >>"$log" 2>&1 &&
            "$WINE" reg add "$key" /v FriendlyName /t REG_SZ /d "Korvan PLC ($com)" /f \
                >>"$log" 2>&1 || fail "registry fixture $com"
    fi
    sim plc "$model" "$com" "$image"
    local json=() trace="$ARTIFACTS/$tag.trace.txt"
    rm -f "$trace"
    [ "$form" = json ] && json=(--json --trace "Z:${trace//\//\\}")
    cli update "$program" --port "$com" --yes --allow-stand-in "${json[@]}"
    expect_status update 0
    sim_done plc
    flash_matches plc "$image" "$tail"
    has update err "Please REPLUG the USB Cable, and then press Enter to continue [--yes]"
    if [ "$form" = plain ]; then
        has update out "Port: $com"
        has update out "Port reopened: $com"
        has update out "Programming: 100%"
        has update out "Information: Firmware update is SUCCESSFUL!, please REPLUG the USB cable"
        lacks update out $'\r'
        note "transcript: $ARTIFACTS/$tag.update.out"
        # The port's device is the controller's USB device: listed with its instance and serial.
        cli list "$(dirname "$program")/fwburn-rv7g-cli.exe" --list-ports
        has list out "$com  Korvan PLC ($com)  3b9e:0001  serial ZL5-$com  usb USB\VID_3B9E&PID_0001\ZL5-$com"
        # Another name Windows reads as the port: the same controller, pinned (and locked) alike,
        # updated through its port. COM39 is nobody's: the worst outcome is its open's.
        sim plc "$model" "$com" "$image"
        cli pinned "$program" --yes --allow-stand-in --port "//./Global/${com,,}" --port COM39
        expect_status pinned 4
        sim_done plc
        has pinned out "[USB\VID_3B9E&PID_0001\ZL5-$com] Port reopened: $com"
    else
        json_check update "events[0]['event'] == 'start' and events[0]['port'] == '$com' and \
any(e['event'] == 'open' and e['path'] == '$com' and e['reopen'] for e in events) and \
[e['phase'] for e in events if e['event'] == 'phase'] == ['erase', 'program'] and \
events[-1]['event'] == 'outcome' and events[-1]['exitCode'] == 0 and \
events[-1]['result'] == 'success' and events[-1]['erased']"
        # The trace holds the whole conversation: both opens, the closes, the blocks.
        [ "$(grep -c " open $com\$" "$trace")" -eq 2 ] && grep -q " close $com\$" "$trace" &&
            [ "$(wc -l <"$trace")" -gt 100 ] || fail "--trace: $(head -n 5 "$trace")"
        # The controller's USB serial device keeps DTR and RTS up through the switch to 115200,
        # as on Linux: each open of the USB-linked model's port says so.
        [ "$(grep -c " note DTR and RTS kept raised (the USB link)\$" "$trace")" -eq 2 ] ||
            fail "--trace: no modem lines kept: $(grep -m 3 " note " "$trace")"
    fi
    echo "PASS: $name updated a $model through $com ($form) against plcsim, flash byte for byte"
}

# Three controllers at once, one failing after its erase: the others succeed, the summary and
# the exit status (7, the worst) say so; then the same with --json.
console_fleet() {
    local program=$1 image=$2 form
    console_case
    for form in plain json merged; do
        sim a ZL500-AIO COM41 "$image"
        sim b ZL500-AIO COM42 "$image"
        sim c ZL500-AIO COM43 "$image" --fault nak@block:20x100
        local json=()
        [ "$form" = json ] && json=(--json)
        if [ "$form" = merged ]; then
            # stdout and stderr into one file (`>log 2>&1`): two descriptors Wine makes two
            # handles of, still one destination whose lines keep their order.
            : >"$ARTIFACTS/$tag.fleet-merged.err"
            "$WINE" "$program" --port COM41 --port COM42 --port COM43 --yes --allow-stand-in \
                >"$ARTIFACTS/$tag.fleet-merged.out" 2>&1 </dev/null
            cli_status=$?
        else
            cli "fleet-$form" "$program" --port COM41 --port COM42 --port COM43 --yes \
                --allow-stand-in "${json[@]}"
        fi
        expect_status "fleet-$form" 7
        sim_done a
        sim_done b
        flash_matches a "$image" 0
        flash_matches b "$image" 0
        wait_exit "$sim_pid_c" 60 || fail "plcsim c did not end"
        grep -qE "transfer complete: +no" "$ARTIFACTS/$tag.c.sim.log" || fail "c completed"
        if [ "$form" = plain ]; then
            has fleet-plain out "[COM41] Information: Firmware update is SUCCESSFUL!"
            grep -qE "^COM41 +success .*SUCCESSFUL" "$ARTIFACTS/$tag.fleet-plain.out" &&
                grep -qE "^COM42 +success " "$ARTIFACTS/$tag.fleet-plain.out" &&
                grep -qE "^COM43 +update-failed .*Firmware update is FAILED" \
                    "$ARTIFACTS/$tag.fleet-plain.out" ||
                fail "summary: $(tail -n 5 "$ARTIFACTS/$tag.fleet-plain.out")"
            has fleet-plain err "[COM43] ERROR: Firmware update is FAILED"
        elif [ "$form" = merged ]; then
            # Each prompt (stderr) before the wait that follows it (stdout).
            python3 - "$ARTIFACTS/$tag.fleet-merged.out" <<'PY' || fail "fleet-merged: out of order"
import sys
lines = open(sys.argv[1], encoding="utf-8").read().splitlines()
def at(text):
    found = [i for i, line in enumerate(lines) if text in line]
    if not found:
        sys.exit("no line with [%s]" % text)
    return found[0]
for com in ("COM41", "COM42", "COM43"):
    if at("[%s] Information: Please REPLUG the USB Cable" % com) > at("[%s] Waiting 5 s" % com):
        sys.exit("%s: its wait before its prompt\n%s" % (com, "\n".join(lines[:12])))
PY
        else
            json_check fleet-json "events[-1]['event'] == 'summary' and \
events[-1]['exitCode'] == 7 and \
sorted((c['port'], c['exitCode']) for c in events[-1]['controllers']) == \
[('COM41', 0), ('COM42', 0), ('COM43', 7)] and \
all(e.get('port') in ('COM41', 'COM42', 'COM43') for e in events[:-1])"
        fi
    done
    echo "PASS: three controllers at once, one failing: 0, 0, 7 in the summary, exit 7, JSON lines" \
        "parse, stdout and stderr in one file in order"
}

# --info on a ZL500 and on another model's controller, --list-ports, --version, a usage error,
# a port that is not there, and --extract-image, safe or refused.
console_looks() {
    local program=$1 serial_program=$2 image=$3
    console_case
    sim zl500 ZL500 COM44 "$image"
    sim zl600 ZL600 COM45 "$image"
    cli info "$program" --info --port COM44 --port COM45
    expect_status info 0
    grep -qE "^COM44 +application +ZL500 +0x3010 .* yes" "$ARTIFACTS/$tag.info.out" &&
        grep -qE "^COM45 +application +ZL600 " "$ARTIFACTS/$tag.info.out" ||
        fail "--info table: $(cat "$ARTIFACTS/$tag.info.out")"
    has info out "COM45: the PLC is a ZL600 (ID 0x3000, address 0x59); this program's image is for ZL500"
    for s in zl500 zl600; do
        wait_exit "$(eval echo "\$sim_pid_$s")" 30 || fail "plcsim $s did not end"
        grep -qE "blocks taken: +0 " "$ARTIFACTS/$tag.$s.sim.log" || fail "--info wrote to $s"
    done
    sim zl500 ZL500 COM44 "$image"
    local trace="$ARTIFACTS/$tag.info.trace"
    cli info-json "$program" --info --port COM44 --json --trace "Z:${trace//\//\\}"
    expect_status info-json 0
    json_check info-json "events[0]['event'] == 'info' and events[0]['port'] == 'COM44' and \
events[0]['mode'] == 'application' and events[0]['fits'] and events[0]['exitCode'] == 0"
    grep -q " tx model-ID-query " "$trace" && tail -n 1 "$trace" | grep -q " note close COM44$" ||
        fail "--info --trace: $(tail -n 3 "$trace")"
    # The record into the file stdout goes to: neither empties the file nor writes over the
    # other's lines.
    sim zl500 ZL500 COM44 "$image"
    local both="$ARTIFACTS/$tag.info-same.out"
    cli info-same "$program" --info --port COM44 --trace "Z:${both//\//\\}"
    expect_status info-same 0
    grep -qx "# fwburn link trace 1" "$both" && grep -qE "^COM44 +application +ZL500 " "$both" &&
        grep -qE "^[0-9]+ note close COM44$" "$both" ||
        fail "--trace into stdout's file: $(cat "$both")"

    cli missing "$program" --port COM46 --yes --allow-stand-in
    expect_status missing 4
    has missing err "COM46: no such port"
    has missing err "ERROR: CANNOT open USB Port!!!"
    cli usage "$program" --all --port COM44
    expect_status usage 2
    cli help "$program" --help
    expect_status help 0
    ! grep -q $'\r' "$ARTIFACTS/$tag.usage.err" "$ARTIFACTS/$tag.help.out" ||
        fail "a line ends in CR LF: $(grep -l $'\r' "$ARTIFACTS/$tag".{usage.err,help.out})"
    cli twice "$program" --port COM44 --port '\\.\com44' --allow-stand-in
    expect_status twice 2
    has twice err "are one port"
    cli twice-nt "$program" --port COM44 --port '\??\com44' --allow-stand-in
    expect_status twice-nt 2
    has twice-nt err "are one port"
    # AUX is another name of COM1 (a link among the DOS devices): the same port, one lock.
    cli twice-aux "$program" --port COM1 --port aux.log --allow-stand-in
    expect_status twice-aux 2
    has twice-aux err "are one port"
    # Past the DOS devices from the namespace's root: refused before the open, whatever it opens.
    cli root "$program" --info --port '\\.\GLOBALROOT\Device\Serial0'
    expect_status root 4
    has root out '\\.\GLOBALROOT\Device\Serial0: not a port name'
    # "\??\" and "\\?\" names are opened as written, and read so: this one is no COM4, though
    # a Win32 reading of it would make it one.
    sim dos ZL500 COM4 "$image"
    cli verbatim "$program" --info --port '\??\x\com4'
    expect_status verbatim 4
    has verbatim out '\??\x\com4: no such port'
    kill -TERM "$sim_pid_dos"
    wait_exit "$sim_pid_dos" 30 || fail "plcsim dos did not end"
    # Windows opens the port for this name too: no record written into it.
    cli trace-port "$program" --port COM44 --trace '//./com44' --yes --allow-stand-in
    expect_status trace-port 2
    has trace-port err "is the PLC's port COM44"

    cli version "$program" --version --json
    expect_status version 0
    json_check version "events[0]['standIn'] and events[0]['notice'] == 'TEST BUILD: STAND-IN IMAGE'"
    # stdout on a full disk: the status stands, and stderr says the lines are missing.
    "$WINE" "$program" --version >/dev/full 2>"$ARTIFACTS/$tag.version-full.err" </dev/null
    cli_status=$?
    expect_status version-full 0
    has version-full err "stdout: Disk full; lines of this run are missing there"
    local key="HKLM\\System\\CurrentControlSet\\Enum\\ACPI\\PNP0501\\47"
    "$WINE" reg add "$key" /v ClassGUID /t REG_SZ /d "{4D36E978-E325-11CE-BFC1-08002BE10318}" \
        /f >>"$log" 2>&1 && "$WINE" reg add "$key" /v FriendlyName /t REG_SZ \
        /d "Communications Port (COM47)" /f >>"$log" 2>&1 || fail "registry fixture COM47"
    # Names beyond ASCII, which Windows reads in its code page: shown in UTF-8, in lines and in
    # JSON. Imported from UTF-16, as an argument to Wine passes through the Unix locale first.
    local names="$ARTIFACTS/$tag.names.reg"
    python3 - "$names" <<'PY' || fail "registry fixture $names"
import sys
enum = "HKEY_LOCAL_MACHINE\\System\\CurrentControlSet\\Enum\\"
text = ("Windows Registry Editor Version 5.00\r\n\r\n[" + enum + "ACPI\\PNP0501\\52]\r\n"
        '"ClassGUID"="{4D36E978-E325-11CE-BFC1-08002BE10318}"\r\n'
        '"FriendlyName"="P\u00e9riph\u00e9rique s\u00e9rie USB (COM52)"\r\n\r\n'
        "[" + enum + "USB\\VID_3B9E&PID_0001\\ZL5-0077]\r\n"
        '"DeviceDesc"="Korvan ZL500 Steuerger\u00e4t"\r\n')
open(sys.argv[1], "wb").write(("\ufeff" + text).encode("utf-16-le"))
PY
    "$WINE" regedit /s "Z:${names//\//\\}" >>"$log" 2>&1 || fail "registry fixture $names"
    cli list "$serial_program" --list-ports
    expect_status list 0
    has list out "COM47  Communications Port (COM47)"
    has list out $'COM52  P\xc3\xa9riph\xc3\xa9rique s\xc3\xa9rie USB (COM52)'
    cli list-json "$serial_program" --list-ports --json
    expect_status list-json 0
    json_check list-json "{'port': 'COM52', 'name': 'P\u00e9riph\u00e9rique s\u00e9rie USB (COM52)', \
'product': None, 'usbId': None, 'serial': None, 'usbPath': None} in events"
    # The controller's USB device as the window finds it: listed with its instance and serial;
    # --all pins it by its instance. Wine opens no USB device path with the separator the window
    # appends: the open fails there, naming the controller.
    local class="{a5dcbf10-6530-11d2-901f-00c04fb951ed}" inst="USB\\VID_3B9E&PID_0001\\ZL5-0077"
    local iface="HKLM\\System\\CurrentControlSet\\Control\\DeviceClasses\\$class\\##?#usb#vid_3b9e&pid_0001#ZL5-0077#$class"
    "$WINE" reg add "$iface" /v DeviceInstance /t REG_SZ /d "$inst" /f >>"$log" 2>&1 &&
        "$WINE" reg add "$iface\\#\\Control" /v Linked /t REG_DWORD /d 1 /f >>"$log" 2>&1 &&
        "$WINE" reg add "HKLM\\System\\CurrentControlSet\\Enum\\$inst" /v ClassGUID /t REG_SZ \
            /d "{36FC9E60-C465-11CF-8056-444553540000}" /f >>"$log" 2>&1 ||
        fail "registry fixture ZL5-0077"
    cli usb-list "$program" --list-ports --json
    expect_status usb-list 0
    json_check usb-list "events == [{'port': '\\\\\\\\?\\\\usb#vid_3b9e&pid_0001#zl5-0077#$class', \
'product': 'Korvan ZL500 Steuerger\u00e4t', 'usbId': '3b9e:0001', 'serial': 'ZL5-0077', \
'usbPath': 'USB\\\\VID_3B9E&PID_0001\\\\ZL5-0077'}]"
    cli all "$program" --all --yes --allow-stand-in
    expect_status all 4
    has all err "USB\\VID_3B9E&PID_0001\\ZL5-0077: the controller is not attached, or it cannot be opened"

    # --extract-image: a new file, an existing one replaced, devices and a read-only file not.
    local dir="$ARTIFACTS/$tag.extract" win
    rm -rf "$dir" && mkdir -p "$dir/sub" || fail "mkdir $dir"
    win="Z:${dir//\//\\}"
    cli extract "$program" --extract-image "$win\\image.bin"
    expect_status extract 0
    cmp -s "$dir/image.bin" "$image" || fail "--extract-image wrote other bytes"
    echo old >"$dir/old.bin"
    cli replace "$program" --extract-image "$win\\old.bin"
    expect_status replace 0
    cmp -s "$dir/old.bin" "$image" || fail "--extract-image did not replace the file"
    local n=0 target
    for target in NUL COM1 "$win\\nul.txt" '\\.\COM44' "$win\\sub"; do
        n=$((n + 1))
        cli "refused-$n" "$program" --extract-image "$target"
        expect_status "refused-$n" 1
        [ $n -eq 5 ] || has "refused-$n" err "a device, not a file; only a regular file is replaced"
    done
    has refused-5 err "not a regular file; only a regular file is replaced"
    echo keep >"$dir/readonly.bin"
    chmod a-w "$dir/readonly.bin"  # what Wine shows as the read-only attribute
    cli readonly "$program" --extract-image "$win\\readonly.bin"
    expect_status readonly 1
    [ "$(cat "$dir/readonly.bin")" = keep ] || fail "a read-only file was replaced"
    # A symbolic link of the system beneath, which Wine shows as the file it points to.
    echo keep >"$dir/kept.txt" && ln -s kept.txt "$dir/link.bin" || fail "ln -s in $dir"
    cli link "$program" --extract-image "$win\\link.bin"
    expect_status link 1
    [ -L "$dir/link.bin" ] && [ "$(cat "$dir/kept.txt")" = keep ] ||
        fail "a link was replaced, or the file it points to lost: $(ls -l "$dir")"
    [ -z "$(find "$dir" -name '.fwburn-*')" ] || fail "a temporary file stayed: $(ls -a "$dir")"
    echo "PASS: --info (ZL500, ZL600), --list-ports, --version, usage errors, a missing port (4), --extract-image"
}

# Ctrl+C mid-transfer (Wine turns SIGINT into the console's CTRL_C_EVENT): exit 130, the
# interruption said (JSON: the outcome with its signal), the port closed as plcsim sees it, and
# the lock released: the next run on that port is not refused.
console_interrupt() {
    local program=$1 image=$2 pid
    console_case
    # Every byte at its line time, the controller's answers at once: the erase goes quickly, the
    # transfer lasts minutes however fast the machine is.
    sim plc ZL500 COM48 "$image" --wire --instant
    under_way ctrl-c "$program" COM48 '"phase":"program","percent":1,'
    pid=$run_pid
    # Another program on the same port by another of its names: refused by the lock, which holds
    # the port between an update's close and its reopen as well, where the open alone would not.
    cli other "$program" --port '\??\com48' --yes --allow-stand-in
    expect_status other 4
    has other err "in use by another fwburn program (process "
    kill -INT "$pid"
    wait_exit "$pid" 30 || fail "Ctrl+C did not end the program"
    [ "$exit_status" -eq 130 ] || fail "Ctrl+C: exit $exit_status, expected 130"
    cli_status=130
    has ctrl-c err "interrupted by Ctrl+C; the port is released; the erase had begun"
    json_check ctrl-c "events[-1]['event'] == 'outcome' and events[-1]['signal'] == 'Ctrl+C' \
and events[-1]['exitCode'] == 130 and events[-1]['phase'] == 'program'"
    wait_exit "$sim_pid_plc" 30 || fail "plcsim did not see the port close"
    grep -qF "the host closed the port" "$ARTIFACTS/$tag.plc.sim.log" || fail "plcsim saw no close"
    grep -qE "transfer complete: +no" "$ARTIFACTS/$tag.plc.sim.log" || fail "the transfer completed"
    # The lock comes before the open: a look finds the port gone, not held.
    cli after "$program" --info --port COM48
    expect_status after 4
    has after out "COM48: no such port"
    lacks after err "another update"
    echo "PASS: Ctrl+C mid-transfer: exit 130, said, the port closed for plcsim, the lock released"

    # Ctrl+C 300 ms before the bootloader's version comes, late, while the program's end waits for
    # a stdout nobody reads: the reply must not lead the worker on to an erase the last words
    # leave out.
    local fifo="$ARTIFACTS/$tag.held.fifo" trace="$ARTIFACTS/$tag.held.trace" held until
    rm -f "$fifo" "$trace" "$ARTIFACTS/$tag.held.summary" && mkfifo "$fifo" || fail "mkfifo"
    exec {held}<>"$fifo"
    python3 -c 'import fcntl, os, sys
fd = int(sys.argv[1])
fcntl.fcntl(fd, fcntl.F_SETFL, fcntl.fcntl(fd, fcntl.F_GETFL) | os.O_NONBLOCK)
try:
    while True:
        os.write(fd, b"x" * 4096)
except BlockingIOError:
    pass' "$held" || fail "the pipe was not filled"
    sim held ZL500 COM47 "$image" --fault boot-at-power-on --fault late=1000@boot-version \
        --summary-json "$ARTIFACTS/$tag.held.summary"
    "$WINE" "$program" --port COM47 --yes --allow-stand-in --trace "Z:${trace//\//\\}" \
        >"$fifo" 2>"$ARTIFACTS/$tag.held.err" </dev/null &
    pid=$!
    started+=($pid)
    until=$((SECONDS + 60))
    until grep -qF " tx VERSION " "$trace" 2>/dev/null; do
        kill -0 "$pid" 2>/dev/null && [ $SECONDS -le $until ] ||
            fail "the version was never asked: $(cat "$ARTIFACTS/$tag.held.err")"
        sleep 0.05
    done
    sleep 0.7
    kill -INT "$pid"
    wait_exit "$pid" 30 || fail "Ctrl+C did not end the held program"
    exec {held}<&-
    [ "$exit_status" -eq 130 ] || fail "held Ctrl+C: exit $exit_status, expected 130"
    kill -TERM "$sim_pid_held" 2>/dev/null
    wait_exit "$sim_pid_held" 30 || fail "plcsim did not end"
    local steps
    steps=$(python3 -c 'import json, sys
print(json.load(open(sys.argv[1]))["requests"]["erase-step"])' "$ARTIFACTS/$tag.held.summary") ||
        fail "no summary of the held run"
    # On a busy machine Ctrl+C may be taken after the reply: the erase had begun before it, and
    # the last words say so. Never may an erase step reach the PLC that they leave out.
    if [ "$steps" -eq 0 ]; then
        lacks held err "the erase had begun"
    else
        has held err "the erase had begun"
        note "Ctrl+C was taken after the late reply: $steps erase steps went before it"
    fi
    echo "PASS: Ctrl+C before a late reply, the end held up: what reached the PLC is said"
}

# The controller's line gone before the erase (plcsim killed, as a cable pulled): Wine's reads then
# return nothing and only the writes fail. Told as the line hung up, never as a controller of
# another model or one that does not answer.
console_hung_up() {
    local program=$1 image=$2
    console_case
    sim plc ZL500-AIO COM53 "$image" --fault silence@version-query
    under_way gone "$program" COM53 '"event":"open"'
    kill -KILL "$sim_pid_plc"
    wait_exit "$run_pid" 60 || fail "the program did not end after its line went away"
    cli_status=$exit_status
    expect_status gone 6
    has gone err "the port went away under the update (the line hung up"
    lacks gone err "a controller of another model"
    echo "PASS: the line gone before the erase: exit 6, told as hung up"
}

# The session's end mid-transfer: Windows tells a console program that has user32 loaded (SetupAPI
# loads it) through a top-level window, never through its console handler. Exit 143, the ending
# said, the port closed for plcsim. From the window's suite: that window needs a display, which
# the console prefix never opens.
console_session_end() {
    local program=$1 image=$2 pid
    [ -n "${PLCSIM:-}" ] && [ -x "$PLCSIM" ] || skip "needs plcsim (build the native preset)"
    wineserver -p5 >/dev/null 2>&1  # its state on a hangup goes nowhere (console_case)
    start_xvfb
    # Every byte at its line time: the transfer lasts minutes.
    sim plc ZL500 COM48 "$image" --wire
    under_way end "$program" COM48 '"phase":"program"'
    pid=$run_pid
    timeout 60 "$WINE" wineboot --end-session >>"$log" 2>&1
    wait_exit "$pid" 30 || fail "the session's end did not end the program"
    [ "$exit_status" -eq 143 ] || fail "the session's end: exit $exit_status, expected 143"
    cli_status=143
    has end err "interrupted by shutdown; the port is released; the erase had begun"
    json_check end "events[-1]['event'] == 'outcome' and events[-1]['signal'] == 'shutdown' \
and events[-1]['exitCode'] == 143"
    wait_exit "$sim_pid_plc" 30 || fail "plcsim did not see the port close"
    grep -qE "transfer complete: +no" "$ARTIFACTS/$tag.plc.sim.log" || fail "the transfer completed"
    echo "PASS: the session ended mid-transfer: exit 143, said, the port closed for plcsim"
}

# stdout's reader goes away mid-transfer (`| head`): the program ends as the Linux one does on
# SIGPIPE, with 141 and the port released, instead of updating on with nobody told. Wine gives a
# write into a Linux pipe without a reader an error of its own, which must count as well.
console_reader_gone() {
    local program=$1 image=$2 pid fifo="$ARTIFACTS/$tag.fifo"
    console_case
    # Every byte at its line time: the transfer lasts minutes.
    sim plc ZL500 COM49 "$image" --wire
    rm -f "$fifo" "$ARTIFACTS/$tag".gone.* && mkfifo "$fifo" || fail "mkfifo $fifo"
    "$WINE" "$program" --port COM49 --yes --allow-stand-in --json >"$fifo" \
        2>"$ARTIFACTS/$tag.gone.err" </dev/null &
    pid=$!
    started+=($pid)
    timeout 120 grep -m 1 -q '"phase":"program"' <"$fifo" ||
        fail "the transfer never got under way: $(cat "$ARTIFACTS/$tag.gone.err")"
    wait_exit "$pid" 30 || fail "the program went on with nobody reading its output"
    [ "$exit_status" -eq 141 ] || fail "a reader that left: exit $exit_status, expected 141"
    cli_status=141
    has gone err "interrupted by broken pipe; the port is released; the erase had begun"
    wait_exit "$sim_pid_plc" 30 || fail "plcsim did not see the port close"
    grep -qE "transfer complete: +no" "$ARTIFACTS/$tag.plc.sim.log" || fail "the transfer completed"
    echo "PASS: stdout's reader left mid-transfer: exit 141, said on stderr, the port closed"
}

# One update per controller, from the window's suite: while the window's update waits at its
# power-cycle prompt (its port closed), a console run and a look on that port are refused with 4
# and the window named; the window's side of the lock is in operator_test.cpp.
console_refused() {
    local program=$1 port=$2 holder=$3
    cli refused "$program" --port "$port" --yes --allow-stand-in
    expect_status refused 4
    has refused err "$port: in use by another fwburn program (process "
    has refused err ", $holder; lock Global\\fwburn-update-$port)"
    has refused err "ERROR: CANNOT open $port Port!!!"
    cli look "$program" --info --port "$port"
    expect_status look 4
    note "the window's update held $port against the console: $(head -n 1 "$ARTIFACTS/$tag.refused.err")"
}

# In a console (Wine's, on a pseudo-terminal of 60 columns) the program finds virtual-terminal
# processing: the status line is redrawn in place within the console's width and the result is
# coloured.
console_terminal() {
    local program=$1 image=$2 typescript="$ARTIFACTS/$tag.typescript"
    console_case
    command -v script >/dev/null || skip "needs script (util-linux)"
    sim plc RV7-G COM51 "$image"
    script -qec "stty cols 60 rows 30; exec '$WINE' '$program' --port COM51 --yes --allow-stand-in" \
        "$typescript" >/dev/null 2>&1 </dev/null
    local status=$?
    [ "$status" -eq 0 ] || fail "exit $status in a console: $(tail -c 600 "$typescript")"
    sim_done plc
    grep -qaF $'\e[32msuccess\e[0m' "$typescript" || fail "no coloured result in $typescript"
    grep -qaE $'\rProgramming +[0-9]+% +[0-9]+/313 blocks' "$typescript" ||
        fail "no status line redrawn in place in $typescript"
    # 60 columns: the start line is broken between words, its image name whole (no cut it can
    # bear would make the line fit), and the bar gave way to the counts.
    grep -qaE $'image RV7-G_wine_test\\.bin\r*$' "$typescript" ||
        fail "the start line was not broken to 60 columns"
    grep -qaF "[####" "$typescript" && fail "a bar in 60 columns"
    echo "PASS: in a console the status line is redrawn in place and the result coloured"
}
