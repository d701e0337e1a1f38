#!/usr/bin/env python3
"""Writes the payloads that the end-to-end scenario installers carry.

Each is deterministic pseudo-random bytes (with NUL, ^Z and CR LF among them,
which a text-mode write would spoil). Usage: make_fixtures.py OUTPUT_DIR
"""
import os
import random
import sys

FIXTURES = {
    "Winter.ovs": 3000,
    "first.ovs": 3000,
    "second.ovs": 5000,
    "numbered.ovs": 777,
    "Empty.ovs": 0,
    "Big.ovs": 200000,  # more than the 64 KiB test disk holds
}


def main():
    out = sys.argv[1]
    os.makedirs(out, exist_ok=True)
    for index, (name, size) in enumerate(sorted(FIXTURES.items())):
        generator = random.Random(index + 1)
        data = bytes(generator.randrange(256) for _ in range(size))
        if size >= 4:
            data = b"\0\x1a\r\n" + data[4:]
        with open(os.path.join(out, name), "wb") as f:
            f.write(data)


if __name__ == "__main__":
    main()
