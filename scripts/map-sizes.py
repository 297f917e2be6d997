#!/usr/bin/env python3
"""Where a MinGW program's bytes come from, read from its GNU ld link map.

    scripts/map-sizes.py build-win/launcher.map [BEFORE.map]

Sums the input sections placed in the program's loaded sections (.text,
.rdata, .data, .pdata, .xdata, .idata, .CRT, .tls; .bss takes no room in the
file) by where they came from, and prints a Markdown table in bytes (one
column per map given). The sums are before section alignment, so they add up
to a little less than the file."""
import re
import sys
from collections import OrderedDict

LOADED = (".text", ".rdata", ".data", ".pdata", ".xdata", ".idata", ".CRT", ".tls")
GROUPS = OrderedDict([
    ("the launcher's own code", re.compile(r"(CMakeFiles/|liblogic\.a|libplatform_win32\.a)")),
    ("zlib (Debian's libz.a)", re.compile(r"libz\.a")),
    ("libstdc++ and libsupc++", re.compile(r"lib(std|sup)c\+\+\.a")),
    ("libgcc (unwinding, helpers)", re.compile(r"libgcc(_eh|_s)?\.a")),
    ("MinGW C runtime (printf, scanf, gdtoa, start-up)",
     re.compile(r"(libmingwex\.a|libmingw32\.a|crt\w*\.o|libmingwthrd|libwinpthread)")),
    ("import stubs of system DLLs", re.compile(r"lib(kernel32|user32|gdi32|advapi32|shell32|ole32|"
                                               r"comctl32|msvcrt|ucrtbase|api-ms)\w*\.a", re.I)),
])


def sizes(path):
    out = OrderedDict((name, 0) for name in list(GROUPS) + ["other"])
    lines = open(path, errors="replace").read().split("\n")
    try:
        start = next(i for i, l in enumerate(lines) if l.startswith("Linker script and memory map"))
    except StopIteration:
        sys.exit("map-sizes: %s is not a GNU ld map" % path)
    section = None
    pending = None  # an input section name alone on its line
    for line in lines[start:]:
        m = re.match(r"^(\.\S+)\s", line) or re.match(r"^(\.\S+)$", line)
        if m and not line.startswith(" "):
            section = m.group(1)
            continue
        if section not in LOADED:
            continue
        m = re.match(r"^ (\S+)\s+0x([0-9a-f]+)\s+0x([0-9a-f]+)\s+(\S.*)$", line)
        if not m and pending:
            m2 = re.match(r"^\s+0x([0-9a-f]+)\s+0x([0-9a-f]+)\s+(\S.*)$", line)
            if m2:
                m = (pending, m2.group(1), m2.group(2), m2.group(3))
        elif m:
            m = m.groups()
        pending = None
        if not m:
            m3 = re.match(r"^ (\.\S+|COMMON)$", line)
            if m3:
                pending = m3.group(1)
            continue
        size, source = int(m[2], 16), m[3]
        for name, pattern in GROUPS.items():
            if pattern.search(source):
                out[name] += size
                break
        else:
            out["other"] += size
    return out


def main():
    maps = sys.argv[1:]
    if not maps:
        sys.exit(__doc__)
    tables = [sizes(p) for p in maps]
    print("| from | " + " | ".join(maps) + " |")
    print("|---|" + "---:|" * len(maps))
    for name in tables[0]:
        print("| %s | %s |" % (name, " | ".join("{:,}".format(t[name]) for t in tables)))
    print("| sum | %s |" % " | ".join("{:,}".format(sum(t.values())) for t in tables))


if __name__ == "__main__":
    main()
