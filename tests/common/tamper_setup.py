#!/usr/bin/env python3
"""Writes damaged copies of a built Setup.exe.

    tamper_setup.py SETUP.EXE FLIPPED.EXE WRONG_DIGEST.EXE [NO_DIGEST.EXE]

FLIPPED.EXE has one byte of its payload (resource RCDATA 101) changed: a byte
of the first entry's creation time. The archive is a stream cipher over the
plain headers, so the change flips that bit of the time alone and the archive
still decodes without fault; only the SHA-256 stored beside it (RCDATA 103)
shows it is not the archive that was built. WRONG_DIGEST.EXE carries its
payload intact but the first digit of that SHA-256 changed. NO_DIGEST.EXE
carries its payload intact and no SHA-256 at all: the digest's entry is
taken out of the resource directory (its bytes stay, found by nothing).
"""
import struct
import sys

RT_RCDATA = 10
PAYLOAD_ID = 101
DIGEST_ID = 103
# Key (16 bytes), then enciphered: the entry count (4), the first header,
# whose creation time begins at byte 4.
FLIPPED_OFFSET = 16 + 4 + 4 + 3


def resource_layout(data):
    """The file offset of the resource directory, and a function that maps an
    RVA to its file offset."""
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

    return offset(resource_rva), offset


def entry_index(data, directory, wanted):
    """Index of the entry with the numeric id `wanted` (any entry for None)
    in the resource directory at `directory`, and its target."""
    named, numbered = struct.unpack_from("<12xHH", data, directory)
    for i in range(named + numbered):
        name, target = struct.unpack_from("<II", data, directory + 16 + 8 * i)
        if wanted is None or (not name & 0x80000000 and name == wanted):
            return i, target
    raise ValueError("resource %r not found" % wanted)


def resource_range(data, type_id, name_id):
    """(file offset, size) of the first language of resource type_id/name_id."""
    root, offset = resource_layout(data)
    _, types = entry_index(data, root, type_id)
    _, names = entry_index(data, root + (types & 0x7FFFFFFF), name_id)
    _, entry = entry_index(data, root + (names & 0x7FFFFFFF), None)
    data_rva, size = struct.unpack_from("<II", data, root + entry)
    return offset(data_rva), size


def remove_resource(data, type_id, name_id):
    """Takes the entry type_id/name_id out of its directory: the entries after
    it move up one place and the directory counts one numbered entry less, so
    the ids stay sorted as the loader's search needs them."""
    root, _ = resource_layout(data)
    _, types = entry_index(data, root, type_id)
    directory = root + (types & 0x7FFFFFFF)
    index, _ = entry_index(data, directory, name_id)
    named, numbered = struct.unpack_from("<12xHH", data, directory)
    first = directory + 16
    last = first + 8 * (named + numbered)
    at = first + 8 * index
    data[at:last - 8] = data[at + 8:last]
    data[last - 8:last] = bytes(8)
    struct.pack_into("<H", data, directory + 14, numbered - 1)


def main():
    source, flipped_path, wrong_digest_path = sys.argv[1:4]
    no_digest_path = sys.argv[4] if len(sys.argv) > 4 else None
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

    if no_digest_path:
        without = bytearray(original)
        remove_resource(without, RT_RCDATA, DIGEST_ID)
        try:
            resource_range(without, RT_RCDATA, DIGEST_ID)
        except ValueError:
            pass
        else:
            raise AssertionError("the digest resource is still found")
        resource_range(without, RT_RCDATA, PAYLOAD_ID)  # the payload still is
        open(no_digest_path, "wb").write(without)


if __name__ == "__main__":
    main()
