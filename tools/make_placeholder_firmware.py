#!/usr/bin/env python3
"""Writes the placeholder CPU image that stands in for the real firmware.

59,862 bytes from a fixed xorshift32 sequence, so that every byte value
occurs and a corrupted or misplaced byte shows up in an upload check.
The result is committed as firmware/placeholder_image.bin; run this only
to recreate it.
"""
import sys

LENGTH = 59862


def main(path):
    state = 0x2545F491
    out = bytearray()
    while len(out) < LENGTH:
        state ^= (state << 13) & 0xFFFFFFFF
        state ^= state >> 17
        state ^= (state << 5) & 0xFFFFFFFF
        out.append(state & 0xFF)
    if len(set(out)) != 256:
        raise SystemExit("sequence misses some byte values")
    with open(path, "wb") as f:
        f.write(out)


if __name__ == "__main__":
    main(sys.argv[1] if len(sys.argv) > 1 else "firmware/placeholder_image.bin")
