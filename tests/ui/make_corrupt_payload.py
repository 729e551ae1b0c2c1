#!/usr/bin/env python3
"""Writes a payload archive whose one entry cannot be decompressed.

The archive is well formed up to the entry data: a plain 16-byte key, then
the RC4-enciphered entry count and a 592-byte header whose compressed length
is 1. That one byte, 0x80, opens a back-reference whose second byte is
missing, which every conforming decoder rejects. A setup program carrying it
has to stop with its fatal error while the welcome page loads the payload.

Usage: make_corrupt_payload.py OUTPUT
"""
import struct
import sys

KEY = bytes(range(0x40, 0x50))
HEADER_SIZE = 592
NAME_OFFSET = 44


def rc4(key: bytes, data: bytes) -> bytes:
    s = list(range(256))
    j = 0
    for i in range(256):
        j = (j + s[i] + key[i % len(key)]) % 256
        s[i], s[j] = s[j], s[i]
    i = j = 0
    out = bytearray()
    for byte in data:
        i = (i + 1) % 256
        j = (j + s[i]) % 256
        s[i], s[j] = s[j], s[i]
        out.append(byte ^ s[(s[i] + s[j]) % 256])
    return bytes(out)


def main() -> None:
    data = bytes([0x80])  # a back-reference without its distance byte
    header = bytearray(HEADER_SIZE)
    struct.pack_into("<I", header, 0, 0x20)              # FILE_ATTRIBUTE_ARCHIVE
    struct.pack_into("<I", header, 28, len(data))        # compressed length
    struct.pack_into("<I", header, 32, 16)               # decompressed length
    name = "Quentar.exe".encode("utf-16-le")
    header[NAME_OFFSET:NAME_OFFSET + len(name)] = name
    body = struct.pack("<I", 1) + bytes(header) + data
    with open(sys.argv[1], "wb") as out:
        out.write(KEY + rc4(KEY, body))


if __name__ == "__main__":
    main()
