"""Reads what a Windows program carries straight from its PE file, without
running it: the DLLs it links at start and its resources. For the checks
that must hold on machines where the program cannot run."""

RT_ICON, RT_DIALOG, RT_GROUP_ICON, RT_VERSION, RT_MANIFEST = 3, 5, 14, 16, 24


class PeFile:
    def __init__(self, path):
        with open(path, "rb") as f:
            self.data = f.read()
        pe = self.u32(0x3c)
        if self.data[pe:pe + 4] != b"PE\0\0":
            raise ValueError("%s is not a PE file" % path)
        optional = pe + 24
        self.directories = optional + (96 if self.u16(optional) == 0x10b else 112)
        first_section = optional + self.u16(pe + 20)
        self.sections = [(self.u32(s + 12), max(self.u32(s + 8), self.u32(s + 16)), self.u32(s + 20))
                         for s in (first_section + 40 * i for i in range(self.u16(pe + 6)))]

    def u16(self, at):
        return int.from_bytes(self.data[at:at + 2], "little")

    def u32(self, at):
        return int.from_bytes(self.data[at:at + 4], "little")

    def offset(self, rva):
        for start, size, raw in self.sections:
            if start <= rva < start + size:
                return raw + rva - start
        raise ValueError("rva %#x outside the sections" % rva)

    def directory(self, index):
        """RVA and size of a data directory (1 imports, 2 resources)."""
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
