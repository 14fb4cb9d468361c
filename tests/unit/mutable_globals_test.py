#!/usr/bin/env python3
"""Fails when a core library holds an object the program can write: anything in .data, .bss or
their thread-local kin (namespace-scope variables, class statics, function-local statics and
their guard variables). Constant tables are allowed: they sit in .rodata or .data.rel.ro.

Usage: mutable_globals_test.py OBJDUMP LIBRARY...
"""
import re
import subprocess
import sys

# Objects the compiler or a sanitizer makes on its own; none of them is the program's state.
TOOL_MADE = ("DW.ref.", "__asan", "___asan", "__odr_asan", "__tsan", "__ubsan", "__sancov",
             "__gcov", "__llvm")


def writable(section):
    if section in ("*COM*", ".data", ".bss", ".tdata", ".tbss"):
        return True
    if section.startswith(".data.rel.ro"):
        return False
    return section.startswith((".data.", ".bss.", ".tdata.", ".tbss."))


SYMBOL = re.compile(r"^[0-9a-f]+ (.{7}) (\S+)\t[0-9a-f]+ +(?:\.hidden +)?(.*)$")
MEMBER = re.compile(r"^(\S+):\s+file format")


def mutable_objects(objdump, library):
    out = subprocess.run([objdump, "-t", "-C", library], capture_output=True, text=True,
                         check=True).stdout
    found = []
    member = "?"
    for line in out.splitlines():
        m = MEMBER.match(line)
        if m:
            member = m.group(1)
            continue
        m = SYMBOL.match(line)
        if not m:
            continue
        flags, section, name = m.groups()
        # Objects, common symbols and thread-local ones; not section, file or function symbols.
        is_object = not any(k in flags for k in "dfF")
        if not is_object or not writable(section) or name.startswith(TOOL_MADE):
            continue
        found.append(f"{member}: {name} ({section})")
    return found


def main():
    if len(sys.argv) < 3:
        print(__doc__)
        return 2
    objdump, libraries = sys.argv[1], sys.argv[2:]
    found = []
    for library in libraries:
        found += [f"{library}: {f}" for f in mutable_objects(objdump, library)]
    for f in found:
        print("mutable global:", f)
    if found:
        print(f"{len(found)} mutable global(s) in the core; one update is one object")
        return 1
    print(f"no mutable global in {len(libraries)} libraries")
    return 0


if __name__ == "__main__":
    sys.exit(main())
