#!/usr/bin/env python3
"""The exit statuses every document lists against the console programs' own:
    exit_status_test.py SOURCE_DIR PROGRAM
The statuses below 128 are the ExitCode values of ui/console/session/outcome.hpp; the program's
--help, both READMEs' tables, the man page's section and the Windows archive's README.txt must
list each of them and no other, and each must give the signals' 128 + N."""
import pathlib
import re
import subprocess
import sys

root, program = pathlib.Path(sys.argv[1]), sys.argv[2]
SIGNALS = "128+N"


def read(path):
    return (root / path).read_text(encoding="utf-8")


def table_after(text, heading):
    """First cells of the Markdown table that follows HEADING."""
    rest = text.split(heading, 1)[1].split("\n\n", 2)[1]
    cells = [line.split("|")[1].strip() for line in rest.splitlines()[2:]]
    return [c.replace(" ", "") for c in cells]


def statuses(cells):
    return {c for c in cells if c == SIGNALS or (c.isdigit() and int(c) < 128)}


own = {v for v in re.findall(r"kExit\w+ = (\d+)", read("ui/console/session/outcome.hpp"))
       if int(v) < 128} | {SIGNALS}

help_text = subprocess.run([program, "--help"], capture_output=True, text=True,
                           check=True).stdout
footer = help_text.split("Exit status:", 1)[1]
listed = {
    "--help": statuses(re.findall(r"(?:^|,)\s*(\d+|128\+N) ", footer)),
    "README.md": statuses(table_after(read("README.md"), "### Exit statuses")),
    "ui/console/README.md": statuses(table_after(read("ui/console/README.md"),
                                                 "## Exit statuses")),
    "packaging/man/fwburn-cli.h2m": statuses(re.findall(
        r"^\.B (\S+)$", read("packaging/man/fwburn-cli.h2m").split("[EXIT STATUS]")[1]
        .split("[", 1)[0], re.M)),
    # Windows' ending events stand there by their own statuses, each above 128.
    "packaging/windows/README.txt": statuses(re.findall(
        r"^  (\d+) ", read("packaging/windows/README.txt"), re.M)) | {SIGNALS},
}
failures = 0
for name, found in listed.items():
    if found != own:
        failures += 1
        print(f"FAIL: {name} lists {sorted(found)}; the program has {sorted(own)}")
if failures:
    sys.exit(1)
print(f"exit statuses listed alike: {sorted(own)}")
