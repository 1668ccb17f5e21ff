"""The functions a Windows executable asks the loader for, read from its own bytes.

Both the ordinary import table and the delay-load table count: a delay-loaded name that a system
lacks fails later, at its first call, instead of at start-up. A malformed file raises ValueError.
"""
import os
import re
import struct

ORDINAL_FLAG = {4: 1 << 31, 8: 1 << 63}


class Image:
    def __init__(self, data):
        self.data = data
        if data[:2] != b"MZ":
            raise ValueError("no MZ header")
        pe = self.u32(0x3C)
        if data[pe:pe + 4] != b"PE\0\0":
            raise ValueError("no PE signature")
        sections, optional_size = struct.unpack_from("<H12xH", data, pe + 6)
        optional = pe + 24
        magic = struct.unpack_from("<H", data, optional)[0]
        if magic not in (0x10B, 0x20B):
            raise ValueError("unknown optional header %#x" % magic)
        self.width = 4 if magic == 0x10B else 8
        self.image_base = (self.u32(optional + 28) if self.width == 4
                           else struct.unpack_from("<Q", data, optional + 24)[0])
        directories = optional + (96 if self.width == 4 else 112)
        count = self.u32(directories - 4)
        self.directories = [struct.unpack_from("<II", data, directories + 8 * i)
                            for i in range(min(count, 16))]
        table = optional + optional_size
        self.sections = [struct.unpack_from("<8xIIII", data, table + 40 * i)
                         for i in range(sections)]

    def u32(self, offset):
        return struct.unpack_from("<I", self.data, offset)[0]

    def offset(self, rva):
        for virtual_size, address, raw_size, raw in self.sections:
            if address <= rva < address + max(virtual_size, raw_size):
                if rva - address >= raw_size:
                    raise ValueError("RVA %#x lies in no file data" % rva)
                return raw + rva - address
        raise ValueError("RVA %#x lies in no section" % rva)

    def text(self, rva):
        start = self.offset(rva)
        end = self.data.find(b"\0", start)
        if end < 0:
            raise ValueError("unterminated name at RVA %#x" % rva)
        return self.data[start:end].decode("ascii")

    def directory(self, index):
        return self.directories[index] if index < len(self.directories) else (0, 0)

    def thunks(self, rva, base=0):
        """Names ("Name") and ordinals ("#N") of one zero-terminated thunk array."""
        entries = []
        fmt = "<I" if self.width == 4 else "<Q"
        while True:
            value = struct.unpack_from(fmt, self.data, self.offset(rva))[0]
            if value == 0:
                return entries
            if value & ORDINAL_FLAG[self.width]:
                entries.append("#%d" % (value & 0xFFFF))
            else:
                entries.append(self.text((value & 0x7FFFFFFF) - base + 2))  # after the 16-bit hint
            rva += self.width


def imports(path):
    """[(dll, [name or "#ordinal", ...]), ...] from the import and the delay-load tables."""
    with open(path, "rb") as f:
        image = Image(f.read())
    result = []
    rva, size = image.directory(1)
    while size:
        original, _, _, name, first = struct.unpack_from("<5I", image.data, image.offset(rva))
        if name == 0:
            break
        result.append((image.text(name), image.thunks(original or first)))
        rva += 20
    rva, size = image.directory(13)
    while size:
        attributes, name, _, address, names = struct.unpack_from(
            "<5I", image.data, image.offset(rva))
        if name == 0:
            break
        # Old-style descriptors hold addresses, not RVAs.
        base = 0 if attributes & 1 else image.image_base
        result.append((image.text(name - base), image.thunks((names or address) - base, base)))
        rva += 32
    return result


def named_dlls(path):
    """Every DLL file name spelled out in 8-bit characters anywhere in the file, in lower case.

    The GNU linker does not enter delay-load descriptors made by dlltool in the delay-load
    directory, so a DLL named in the file but absent from both tables may be one of those.
    """
    with open(path, "rb") as f:
        data = f.read()
    return {m.decode("ascii").lower() for m in re.findall(rb"[\w.-]+\.dll(?![\w.])", data, re.I)}


def read_export_lists(folder):
    """{dll in lower case: set of names and "#ordinal" entries} from one <dll>.txt per DLL."""
    lists = {}
    for entry in sorted(os.listdir(folder)):
        if entry.endswith(".txt"):
            with open(os.path.join(folder, entry), encoding="ascii") as f:
                lines = [line.strip() for line in f]
            lists[entry[:-4].lower() + ".dll"] = {
                line for line in lines if line and not line.startswith("# ")}
    return lists


def unlisted(path, lists):
    """(number of imports checked, ["FILE: DLL!name", ...] for each one no list vouches for)."""
    checked, missing = 0, []
    for dll, entries in imports(path):
        exported = lists.get(dll.lower())
        if exported is None:
            missing.append("%s: %s (no export list for this DLL)" % (os.path.basename(path), dll))
        for entry in entries:
            checked += 1
            if exported is not None and entry not in exported:
                missing.append("%s: %s!%s" % (os.path.basename(path), dll, entry))
    return checked, missing
