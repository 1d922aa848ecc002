"""Reads what a Windows program carries straight from its PE file, without
running it: its sections, the DLLs it links at start, its delay imports and
its resources. For the checks that must hold on machines where the program
cannot run."""

import collections

RT_ICON, RT_DIALOG, RT_GROUP_ICON, RT_VERSION, RT_MANIFEST = 3, 5, 14, 16, 24
IMAGE_SCN_CNT_UNINITIALIZED_DATA, IMAGE_SCN_MEM_WRITE = 0x80, 0x80000000

Section = collections.namedtuple("Section", "name start size raw flags")


class PeFile:
    def __init__(self, path):
        with open(path, "rb") as f:
            self.data = f.read()
        pe = self.u32(0x3c)
        if self.data[pe:pe + 4] != b"PE\0\0":
            raise ValueError("%s is not a PE file" % path)
        optional = pe + 24
        pe32 = self.u16(optional) == 0x10b
        self.pointer_size = 4 if pe32 else 8
        self.image_base = self.u32(optional + 28) if pe32 else int.from_bytes(self.data[optional + 24:optional + 32],
                                                                               "little")
        self.directories = optional + (96 if pe32 else 112)
        first_section = optional + self.u16(pe + 20)
        self.sections = [Section(self.data[s:s + 8].rstrip(b"\0").decode("ascii", "replace"), self.u32(s + 12),
                                 max(self.u32(s + 8), self.u32(s + 16)), self.u32(s + 20), self.u32(s + 36))
                         for s in (first_section + 40 * i for i in range(self.u16(pe + 6)))]

    def u16(self, at):
        return int.from_bytes(self.data[at:at + 2], "little")

    def u32(self, at):
        return int.from_bytes(self.data[at:at + 4], "little")

    def offset(self, rva):
        section = self.section(rva)
        return section.raw + rva - section.start

    def section(self, rva):
        for section in self.sections:
            if section.start <= rva < section.start + section.size:
                return section
        raise ValueError("rva %#x outside the sections" % rva)

    def directory(self, index):
        """RVA and size of a data directory (1 imports, 2 resources, 13 delay imports)."""
        return self.u32(self.directories + 8 * index), self.u32(self.directories + 8 * index + 4)

    def static_imports(self):
        """Names of the DLLs in the import directory (not delay imports), lower case."""
        names = []
        entry = self.offset(self.directory(1)[0])
        while self.u32(entry + 12):
            name = self.offset(self.u32(entry + 12))
            names.append(self.data[name:self.data.index(b"\0", name)].decode("ascii").lower())
            entry += 20
        return names

    def pointer(self, at):
        return int.from_bytes(self.data[at:at + self.pointer_size], "little")

    def delay_import_tables(self):
        """(what, RVA) of what a delay-load helper writes at run time: each
        delay-loaded DLL's module handle and import addresses. GNU ld leaves
        the delay-import directory empty for dlltool's delay-import
        libraries and puts their addresses among the others: those are the
        slots of the import address table that no import descriptor names
        (the system fills only the named ones)."""
        filled = set()
        entry = self.offset(self.directory(1)[0]) if self.directory(1)[1] else None
        while entry is not None and self.u32(entry + 12):
            slot = self.u32(entry + 16)
            while True:
                filled.add(slot)
                if not self.pointer(self.offset(slot)):
                    break
                slot += self.pointer_size
            entry += 20
        tables = []
        start, size = self.directory(12)
        unnamed = [slot for slot in range(start, start + size, self.pointer_size)
                   if slot not in filled and self.pointer(self.offset(slot))]
        if unnamed:
            tables.append(("%d import addresses no descriptor names, %#x to %#x" % (len(unnamed), unnamed[0],
                                                                                  unnamed[-1]), unnamed[0]))
        rva, size = self.directory(13)
        entry = self.offset(rva) if size else None
        # ImgDelayDescr: attributes, name, module handle, IAT, INT, ... (32
        # bytes); addresses are RVAs when bit 0 of the attributes is set,
        # otherwise virtual addresses.
        while entry is not None and self.u32(entry + 4):
            base = 0 if self.u32(entry) & 1 else self.image_base
            name = self.offset(self.u32(entry + 4) - base)
            dll = self.data[name:self.data.index(b"\0", name)].decode("ascii").lower()
            tables += [(dll + " module handle", self.u32(entry + 8) - base),
                       (dll + " import addresses", self.u32(entry + 12) - base)]
            entry += 32
        return tables

    def resources(self):
        """{(type, name, language): bytes}; a type or name given by a string
        is that string, one given by a number that number."""
        base = self.offset(self.directory(2)[0])
        found = {}

        def entries(table):
            count = self.u16(table + 12) + self.u16(table + 14)
            for i in range(count):
                entry = table + 16 + 8 * i
                key, target = self.u32(entry), self.u32(entry + 4)
                if key & 0x80000000:
                    at = base + (key & 0x7FFFFFFF)
                    key = self.data[at + 2:at + 2 + 2 * self.u16(at)].decode("utf-16-le")
                yield key, target

        for kind, types in entries(base):
            for name, names in entries(base + (types & 0x7FFFFFFF)):
                for language, leaf in entries(base + (names & 0x7FFFFFFF)):
                    at = base + leaf
                    data = self.offset(self.u32(at))
                    found[(kind, name, language)] = self.data[data:data + self.u32(at + 4)]
        return found
