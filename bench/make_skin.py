#!/usr/bin/env python3
"""Writes a stand-in skin of pseudo-random bytes: incompressible, and the same
bytes on every run for the same size.

Usage: make_skin.py FILE MEBIBYTES
"""
import random
import sys


def main():
    if len(sys.argv) != 3:
        sys.exit("usage: make_skin.py FILE MEBIBYTES")
    path, mebibytes = sys.argv[1], int(sys.argv[2])
    generator = random.Random(f"orvanta skin {mebibytes} MiB")
    with open(path, "wb") as skin:
        for _ in range(mebibytes):
            skin.write(generator.randbytes(1 << 20))


if __name__ == "__main__":
    main()
