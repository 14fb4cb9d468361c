#!/usr/bin/env python3
"""Writes the uncompressed kernel (an ELF file QEMU boots directly, without the BIOS's slow
decompression) found in a compressed x86 kernel image: the first xz stream inside it.

    vmlinux_from.py VMLINUZ OUT
"""
import lzma
import sys

XZ_MAGIC = b"\xfd7zXZ\x00"


def main():
    if len(sys.argv) != 3:
        sys.exit(__doc__)
    data = open(sys.argv[1], "rb").read()
    at = data.find(XZ_MAGIC)
    while at >= 0:
        try:
            out = lzma.LZMADecompressor(format=lzma.FORMAT_XZ).decompress(data[at:])
        except lzma.LZMAError:
            out = b""
        if out.startswith(b"\x7fELF"):
            with open(sys.argv[2], "wb") as f:
                f.write(out)
            return
        at = data.find(XZ_MAGIC, at + 1)
    sys.exit("vmlinux_from: no xz-compressed ELF kernel in " + sys.argv[1])


if __name__ == "__main__":
    main()
