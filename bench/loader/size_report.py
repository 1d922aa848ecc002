#!/usr/bin/env python3
"""Where the shipping exe's bytes go.

  bench/loader/size_report.py [--build build/i686] [--symbols 20]

Prints the size of each section of KovraLoader.exe as it ships, and its
largest symbols, read from KovraLoader-symbols.exe: the same link keeping its
symbol table (the build makes both). A symbol's size is the distance to the
next symbol of its section, so it includes unnamed data that follows it
(string literals, padding); the libraries' local functions have no symbols
and are left out (the section sizes count them). The report ends with
status 1 when the two exes differ in any loaded section: the symbols would
then not be the shipped program's.
"""

import argparse
import collections
import os
import subprocess
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(os.path.dirname(HERE))
sys.path.insert(0, os.path.join(ROOT, "tests", "harness"))
from pe_file import IMAGE_SCN_CNT_UNINITIALIZED_DATA, PeFile  # noqa: E402

NM = {4: "i686-w64-mingw32-nm", 8: "x86_64-w64-mingw32-nm"}
Section = collections.namedtuple("Section", "name start content offset in_file")


def sections(pe):
    """The section table with both sizes: what the section holds and what it
    takes in the file (rounded up to the file alignment; none for data that
    starts as zeros)."""
    header = pe.u32(0x3c)
    first = header + 24 + pe.u16(header + 20)
    # Longer names are "/offset" into the string table after the symbols.
    strings = pe.u32(header + 12) + 18 * pe.u32(header + 16)
    table = []
    for at in range(first, first + 40 * pe.u16(header + 6), 40):
        name = pe.data[at:at + 8].rstrip(b"\0").decode("ascii", "replace")
        if name.startswith("/") and pe.u32(header + 12):
            start = strings + int(name[1:])
            name = pe.data[start:pe.data.index(b"\0", start)].decode("ascii", "replace")
        in_file = 0 if pe.u32(at + 36) & IMAGE_SCN_CNT_UNINITIALIZED_DATA else pe.u32(at + 16)
        table.append(Section(name, pe.u32(at + 12), pe.u32(at + 8), pe.u32(at + 20), in_file))
    return table


def loaded(pe):
    """Sections whose bytes the file holds and Windows maps, by start."""
    return {s.start: s for s in sections(pe) if s.in_file and not s.name.startswith(".debug")}


def same_code(shipped, symbols):
    """Names of the shipped exe's sections whose bytes the other exe does not
    hold at the same address."""
    theirs = loaded(symbols)
    differ = []
    for start, section in sorted(loaded(shipped).items()):
        other = theirs.get(start)
        if (other is None or other.content != section.content
                or shipped.data[section.offset:section.offset + section.in_file]
                != symbols.data[other.offset:other.offset + other.in_file]):
            differ.append(section.name)
    return differ


def largest_symbols(path, pe, count):
    """[(size, section's start, symbol)] of the count largest symbols."""
    listing = subprocess.run([NM[pe.pointer_size], "--numeric-sort", "--demangle", "--defined-only", path],
                             check=True, capture_output=True, text=True).stdout
    mapped = sorted(loaded(pe).values(), key=lambda s: s.start)
    starts = {}
    for line in listing.splitlines():
        address, _, name = line.split(" ", 2)
        rva = int(address, 16) - pe.image_base
        # A section symbol (.text) marks where an object's part begins, and
        # so ends the symbol before it: the libraries' local functions have
        # no symbols of their own, and are left out.
        if not starts.get(rva):
            starts[rva] = None if name.startswith(".") else name
    found = []
    addresses = sorted(starts)
    for i, rva in enumerate(addresses):
        section = next((s for s in mapped if s.start <= rva < s.start + s.content), None)
        if section is None or not starts[rva]:
            continue
        end = section.start + section.content
        following = addresses[i + 1] if i + 1 < len(addresses) else end
        found.append((min(following, end) - rva, section.start, starts[rva]))
    return sorted(found, key=lambda f: (-f[0], f[2]))[:count]


def report(build, count):
    """The report's lines, and whether its symbols are the shipped exe's."""
    shipped_path = os.path.join(build, "bin", "KovraLoader.exe")
    symbols_path = os.path.join(build, "bin", "KovraLoader-symbols.exe")
    shipped, symbols = PeFile(shipped_path), PeFile(symbols_path)
    size = os.path.getsize(shipped_path)
    lines = ["KovraLoader.exe: %d bytes = %.1f KiB (goal 160 KiB or less)" % (size, size / 1024),
             "  %-10s %10s %12s" % ("section", "bytes", "in the file")]
    for section in sections(shipped):
        lines.append("  %-10s %10d %12d" % (section.name, section.content, section.in_file))
    lines.append("  %-10s %10s %12d" % ("headers", "", size - sum(s.in_file for s in sections(shipped))))
    differ = same_code(shipped, symbols)
    if differ:
        lines.append("KovraLoader-symbols.exe differs from KovraLoader.exe in %s: its symbols are not the "
                     "shipped program's" % ", ".join(differ))
    lines.append("The %d largest symbols (from KovraLoader-symbols.exe%s):"
                 % (count, ", the same bytes" if not differ else ""))
    # Sections by the shipped exe's names (a stripped exe cuts them to 8).
    names = {section.start: section.name for section in sections(shipped)}
    for size_, start, name in largest_symbols(symbols_path, symbols, count):
        lines.append("  %8d  %-8s  %s" % (size_, names.get(start, "?"), name))
    return lines, not differ


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--build", default=os.path.join(ROOT, "build", "i686"))
    parser.add_argument("--symbols", type=int, default=20)
    args = parser.parse_args()
    lines, same = report(os.path.abspath(args.build), args.symbols)
    print("\n".join(lines))
    return 0 if same else 1


if __name__ == "__main__":
    sys.exit(main())
