#!/usr/bin/env python3
"""Writes two damaged copies of a built Setup.exe.

    tamper_setup.py SETUP.EXE FLIPPED.EXE WRONG_DIGEST.EXE

FLIPPED.EXE has one byte of its payload (resource RCDATA 101) changed: a byte
of the first entry's creation time. The archive is a stream cipher over the
plain headers, so the change flips that bit of the time alone and the archive
still decodes without fault; only the SHA-256 stored beside it (RCDATA 103)
shows it is not the archive that was built. WRONG_DIGEST.EXE carries its
payload intact but the first digit of that SHA-256 changed.
"""
import struct
import sys

RT_RCDATA = 10
PAYLOAD_ID = 101
DIGEST_ID = 103
# Key (16 bytes), then enciphered: the entry count (4), the first header,
# whose creation time begins at byte 4.
FLIPPED_OFFSET = 16 + 4 + 4 + 3


def resource_range(data, type_id, name_id):
    """(file offset, size) of the first language of resource type_id/name_id."""
    pe = struct.unpack_from("<I", data, 0x3C)[0]
    if data[pe:pe + 4] != b"PE\0\0":
        raise ValueError("not a PE file")
    section_count, optional_size = struct.unpack_from("<2xH12xH", data, pe + 4)
    optional = pe + 24
    if struct.unpack_from("<H", data, optional)[0] != 0x10B:
        raise ValueError("not a PE32 image")
    resource_rva = struct.unpack_from("<I", data, optional + 96 + 2 * 8)[0]
    sections = [struct.unpack_from("<8xIIII", data, optional + optional_size + 40 * i)
                for i in range(section_count)]

    def offset(rva):
        for vsize, vaddr, raw_size, raw_at in sections:
            if vaddr <= rva < vaddr + max(vsize, raw_size):
                return raw_at + rva - vaddr
        raise ValueError("RVA 0x%x lies in no section" % rva)

    root = offset(resource_rva)

    def child(directory, wanted):
        named, numbered = struct.unpack_from("<12xHH", data, directory)
        for i in range(named + numbered):
            name, target = struct.unpack_from("<II", data, directory + 16 + 8 * i)
            if wanted is None or (not name & 0x80000000 and name == wanted):
                return target
        raise ValueError("resource %r not found" % wanted)

    types = child(root, type_id)
    names = child(root + (types & 0x7FFFFFFF), name_id)
    entry = child(root + (names & 0x7FFFFFFF), None)
    data_rva, size = struct.unpack_from("<II", data, root + entry)
    return offset(data_rva), size


def main():
    source, flipped_path, wrong_digest_path = sys.argv[1:4]
    original = open(source, "rb").read()

    flipped = bytearray(original)
    at, size = resource_range(original, RT_RCDATA, PAYLOAD_ID)
    assert size > FLIPPED_OFFSET, "payload too small to tamper with"
    flipped[at + FLIPPED_OFFSET] ^= 0x01
    open(flipped_path, "wb").write(flipped)

    wrong = bytearray(original)
    at, size = resource_range(original, RT_RCDATA, DIGEST_ID)
    assert size == 64, "the digest resource holds %d bytes" % size
    wrong[at] = ord("1") if wrong[at] == ord("0") else ord("0")
    open(wrong_digest_path, "wb").write(wrong)


if __name__ == "__main__":
    main()
