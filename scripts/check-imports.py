#!/usr/bin/env python3
"""Checks the static imports of a Windows executable against an allowed list.

    check-imports.py EXE --allow kernel32 msvcrt user32 ... [--large-address-aware]

The loader resolves static imports before the program's first line runs,
searching the program's own folder first for every DLL Windows does not
protect. A setup program lives in download folders, so it may import
statically only the DLLs in the allowed list; every other DLL is to be
delay-loaded. Prints the static and the delay-loaded DLLs with the functions
taken from each; exits 1 naming every static import outside the list and
every delay-loaded function whose slot does not lead to its loading stub, 2
when the file is not a PE image. With --large-address-aware it also fails
unless the file header marks the image IMAGE_FILE_LARGE_ADDRESS_AWARE (the
32-bit program then gets 4 GB of address space on 64-bit Windows, where the
whole decoded payload lives).
"""
import argparse
import struct
import sys


IMAGE_FILE_LARGE_ADDRESS_AWARE = 0x0020


class PeImage:
    def __init__(self, data):
        self.data = data
        if data[:2] != b"MZ":
            raise ValueError("no MZ header")
        pe = struct.unpack_from("<I", data, 0x3C)[0]
        if data[pe:pe + 4] != b"PE\0\0":
            raise ValueError("no PE signature")
        sections, optional_size, self.characteristics = struct.unpack_from("<2xH12xHH", data, pe + 4)
        optional = pe + 24
        magic = struct.unpack_from("<H", data, optional)[0]
        if magic not in (0x10B, 0x20B):
            raise ValueError("unknown optional header 0x%x" % magic)
        self.wide = magic == 0x20B
        self.image_base = (struct.unpack_from("<Q", data, optional + 24)[0] if self.wide
                           else struct.unpack_from("<I", data, optional + 28)[0])
        self.image_size = struct.unpack_from("<I", data, optional + 56)[0]
        count_at = optional + (108 if self.wide else 92)
        directory_count = struct.unpack_from("<I", data, count_at)[0]
        self.directories = [struct.unpack_from("<II", data, count_at + 4 + 8 * i)
                            for i in range(min(directory_count, 16))]
        self.sections = []
        for i in range(sections):
            name, vsize, vaddr, raw_size, raw_at = struct.unpack_from(
                "<8sIIII", data, optional + optional_size + 40 * i)
            self.sections.append((name.rstrip(b"\0").decode("ascii", "replace"),
                                  vaddr, max(vsize, raw_size), raw_at, raw_size))

    def offset(self, rva):
        """File offset of `rva`, or None when no section holds it in the file."""
        for _, vaddr, size, raw_at, raw_size in self.sections:
            if vaddr <= rva < vaddr + size:
                # Past the raw data the section is zero-filled memory only.
                return raw_at + rva - vaddr if rva - vaddr < raw_size else None
        return None

    def u32(self, rva):
        at = self.offset(rva)
        return None if at is None or at + 4 > len(self.data) else struct.unpack_from("<I", self.data, at)[0]

    def string(self, rva, limit=256):
        at = self.offset(rva)
        if at is None:
            return None
        end = self.data.find(b"\0", at, at + limit)
        if end < 0:
            return None
        text = self.data[at:end]
        return text.decode("ascii") if text and all(0x20 < c < 0x7F for c in text) else None

    def functions(self, thunks_rva):
        """Names (or #ordinals) of a null-terminated import name table."""
        names = []
        step, ordinal_flag = (8, 1 << 63) if self.wide else (4, 1 << 31)
        rva = thunks_rva
        while True:
            at = self.offset(rva)
            if at is None or at + step > len(self.data):
                break
            entry = struct.unpack_from("<Q" if self.wide else "<I", self.data, at)[0]
            if entry == 0:
                break
            if entry & ordinal_flag:
                names.append("#%d" % (entry & 0xFFFF))
            else:
                names.append(self.string(entry + 2) or "?")  # after the 16-bit hint
            rva += step
        return names

    def static_imports(self):
        """[(dll, [function, ...])] from the import directory."""
        rva, size = self.directories[1] if len(self.directories) > 1 else (0, 0)
        imports = []
        while rva and size:
            lookup, _, _, name, first = (self.u32(rva + 4 * i) for i in range(5))
            if not (lookup or name or first):
                break
            imports.append((self.string(name) or "?", self.functions(lookup or first)))
            rva += 20
        return imports

    def pointers(self, table_rva, count):
        """`count` pointer-sized values from `table_rva` on (None past the file)."""
        step = 8 if self.wide else 4
        values = []
        for i in range(count):
            at = self.offset(table_rva + step * i)
            values.append(None if at is None else struct.unpack_from("<Q" if self.wide else "<I", self.data, at)[0])
        return values

    def delay_imports(self):
        """[(dll, [function, ...], [unbound function, ...])] of the delay-load
        descriptors. A function is unbound when its slot in the delay-load
        address table does not point into the image: before the first call
        the slot must hold the address of the stub that loads the DLL.

        GNU ld leaves the delay-import directory empty, so the descriptors
        are found by their shape: eight 32-bit fields, attributes 1 (RVAs),
        the DLL's name, module handle, address table and name table as RVAs
        into the image, the last three fields 0, and a name ending in .dll.
        """
        rva, size = self.directories[13] if len(self.directories) > 13 else (0, 0)
        if rva and size:
            candidates = range(rva, rva + size, 32)
        else:
            candidates = (vaddr + at for _, vaddr, _, _, raw_size in self.sections
                          for at in range(0, raw_size - 31, 4))
        found = []
        for at in candidates:
            fields = [self.u32(at + 4 * i) for i in range(8)]
            if None in fields or fields[0] != 1 or any(fields[5:8]):
                continue
            if not all(0 < f < self.image_size for f in fields[1:5]):
                continue
            name = self.string(fields[1])
            if name and name.lower().endswith(".dll"):
                functions = self.functions(fields[4])
                slots = self.pointers(fields[3], len(functions))
                inside = range(self.image_base, self.image_base + self.image_size)
                unbound = [f for f, slot in zip(functions, slots) if slot not in inside]
                found.append((name, functions, unbound))
        return found


def base_name(dll):
    name = dll.lower()
    return name[:-4] if name.endswith(".dll") else name


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("exe")
    parser.add_argument("--allow", nargs="+", required=True, metavar="DLL",
                        help="DLLs that may be imported statically (without .dll)")
    parser.add_argument("--large-address-aware", action="store_true",
                        help="also require the IMAGE_FILE_LARGE_ADDRESS_AWARE flag")
    args = parser.parse_args()
    allowed = {base_name(a) for a in args.allow}
    try:
        with open(args.exe, "rb") as f:
            image = PeImage(f.read())
    except (OSError, ValueError, struct.error) as error:
        print("%s: cannot read the import table: %s" % (args.exe, error))
        return 2

    static = image.static_imports()
    if not static:
        print("%s: no import table found" % args.exe)
        return 2
    print("allowed static imports: %s" % " ".join(sorted(allowed)))
    for dll, functions in static:
        print("static  %-14s %s" % (dll, " ".join(functions)))
    delayed = image.delay_imports()
    for dll, functions, _ in delayed:
        print("delayed %-14s %s" % (dll, " ".join(functions)))

    failed = False
    for dll, _ in static:
        if base_name(dll) not in allowed:
            failed = True
            print("%s: imports %s statically, which is not allowed: the loader would look for it beside "
                  "the program before its first line runs; delay-load it instead" % (args.exe, dll))
    for dll, _, unbound in delayed:
        if unbound:
            failed = True
            print("%s: the delay-load slots of %s for %s do not lead to the loading stub, so the first "
                  "call jumps nowhere (a caller compiled with dllimport declarations)"
                  % (args.exe, dll, " ".join(unbound)))
    if args.large_address_aware:
        aware = bool(image.characteristics & IMAGE_FILE_LARGE_ADDRESS_AWARE)
        print("large-address aware: %s (characteristics 0x%04x)" % ("yes" if aware else "no", image.characteristics))
        if not aware:
            failed = True
            print("%s: not large-address aware: a 32-bit process is then held to 2 GB of address space "
                  "(link with --large-address-aware)" % args.exe)
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
