#!/usr/bin/env python3
"""Cross-checks every application-mode request against pymodbus's Modbus ASCII LRC.

Usage: lrc_pymodbus_test.py REQUEST_DUMP_PROGRAM [EMULATOR...]
"""
import subprocess
import sys

from pymodbus.utilities import checkLRC, computeLRC

EXPECTED_REQUESTS = {
    ":007F81", ":006401590141", ":0064015B013F", ":006401594944B5", ":0064015B4944B3",
    ":0003156A00017D", ":0003147C00016C", ":00640159053D", ":006401594552415345D2",
    ":0064015B4552415345D0", ":00640159063C", ":0064015B063A",
}


def main() -> int:
    out = subprocess.run(sys.argv[1:], check=True, capture_output=True, text=True).stdout
    failures = []
    seen = set()
    for line in out.splitlines():
        name, text, ending, ours = line.split("|")
        if ending != "CRLF" or not text.startswith(":"):
            failures.append(f"{name}: not framed as ':' ... CR LF: {text!r}")
            continue
        body = text[1:]
        seen.add(text)
        if body != body.upper():
            failures.append(f"{name}: lower-case hex in {body}")
        data = bytes.fromhex(body)
        message, lrc = data[:-1], data[-1]
        theirs = computeLRC(message)
        if theirs != lrc or not checkLRC(message, lrc):
            failures.append(f"{name}: frame LRC {lrc:02X}, pymodbus {theirs:02X}")
        if int(ours, 16) != theirs:
            failures.append(f"{name}: updater LRC {ours}, pymodbus {theirs:02X}")
    missing = EXPECTED_REQUESTS - seen
    if missing:
        failures.append(f"requests not checked: {sorted(missing)}")
    for f in failures:
        print("FAIL", f)
    print(f"{len(seen)} requests checked against pymodbus, {len(failures)} failures")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
