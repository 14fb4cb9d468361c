#!/usr/bin/env python3
"""Writes a deterministic stand-in firmware image for builds without the real one.

The bytes are SHA-256 in counter mode over a seed, so every block differs from every other and a
shifted, repeated or dropped block shows up in a byte-for-byte comparison. No value repeats more
than twice in a row.
"""
import hashlib
import sys


def standin(size: int, seed: str) -> bytes:
    out = bytearray()
    counter = 0
    while len(out) < size:
        out += hashlib.sha256(f"{seed}:{counter}".encode()).digest()
        counter += 1
    del out[size:]
    for i in range(2, size):
        if out[i] == out[i - 1] == out[i - 2]:
            out[i] ^= 0x55
    return bytes(out)


def main() -> int:
    if len(sys.argv) != 4:
        print("usage: standin_image.py OUTPUT SIZE SEED", file=sys.stderr)
        return 2
    output, size, seed = sys.argv[1], int(sys.argv[2]), sys.argv[3]
    with open(output, "wb") as f:
        f.write(standin(size, seed))
    return 0


if __name__ == "__main__":
    sys.exit(main())
