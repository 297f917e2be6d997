#!/usr/bin/env python3
"""The tables of scripts/bench-e2e.sh: medians per (program, size, kind) of the
runs meter.exe measured, their ratios against NSIS, the launcher's phases, the
writing phase against its floor (what floors.exe measured), the stub sizes,
and the goals with met or missed. Prints Markdown; with --doc it
also replaces the results between the bench-e2e markers of that file (adding
the section at the end when it has none)."""
import argparse
import csv
import statistics
import struct
import sys

SECTION = "## End-to-end under Wine, against NSIS"
BEGIN = "<!-- bench-e2e results: written by scripts/bench-e2e.sh, do not edit by hand -->"
END = "<!-- bench-e2e results end -->"
MIB = 1048576

LABELS = {
    "appended": "launcher, appended (whole file)",
    "certtable": "launcher, certificate table",
    "certext": "launcher, certificate extension",
    "nsis": "NSIS",
    "before-appended": "before: launcher, appended",
    "before-certtable": "before: launcher, certificate table",
}
ORDER = ["before-appended", "before-certtable", "appended", "certtable", "certext", "nsis"]
LAUNCHERS = ["appended", "certtable", "certext"]
# Forms the flat-memory goal applies to; the certificate-extension form keeps
# its payload in memory by design.
FLAT_FORMS = ["appended", "certtable"]
# Time against NSIS: text-like content at most as long; random content, whose
# floor under Wine is the software SHA-256 alone, at most 10% longer.
TIME_GOAL = {"text": 1.00, "random": 1.10}
MEMORY_GOAL_MIB = 8
FLOOR_GOAL = 1.15


def read_tsv(path):
    with open(path, newline="") as f:
        return list(csv.DictReader(f, delimiter="\t"))


def number(value):
    return None if value in ("", "-", None) else float(value)


def median(values):
    values = [v for v in values if v is not None]
    return statistics.median(values) if values else None


def seconds(ms):
    return "-" if ms is None else "%.2f" % (ms / 1000)


def pe_sections(path):
    """(name, raw size) of each section of a PE file, and the bytes after them."""
    data = open(path, "rb").read()
    pe = struct.unpack_from("<I", data, 60)[0]
    count = struct.unpack_from("<H", data, pe + 6)[0]
    optional = struct.unpack_from("<H", data, pe + 20)[0]
    table = pe + 24 + optional
    sections, end = [], 0
    for i in range(count):
        name = data[table + 40 * i:table + 40 * i + 8].rstrip(b"\0").decode("ascii", "replace")
        raw_size, raw_pos = struct.unpack_from("<II", data, table + 40 * i + 16)
        sections.append((name, raw_size))
        end = max(end, raw_pos + raw_size)
    return sections, len(data) - end


def summarise(runs):
    """Medians per (program, size, kind)."""
    groups = {}
    for r in runs:
        groups.setdefault((r["program"], int(r["size"]), r["kind"]), []).append(r)
    out = {}
    for key, rs in groups.items():
        wall = [number(r["wall_ms"]) for r in rs]
        first = [number(r["first_byte_ms"]) for r in rs]
        written = [number(r["written_ms"]) for r in rs]
        handoff = [number(r["handoff_ms"]) for r in rs]
        out[key] = {
            "n": len(rs),
            "wall": median(wall),
            "wall_min": min(w for w in wall if w is not None),
            "wall_max": max(w for w in wall if w is not None),
            "peak": median([number(r["peak_ws"]) for r in rs]),
            "first": median(first),
            "writing": median([w - f for f, w in zip(first, written) if f is not None and w is not None]),
            "handoff": median([h - w for w, h in zip(written, handoff) if w is not None and h is not None]),
            "after": median([e - h for h, e in zip(handoff, wall) if h is not None and e is not None]),
        }
    return out


def floors_of(rows):
    """Median floors per (size, kind): hash, copy, inflate and the writing
    phase's floor, max(hash, inflate + copy)."""
    groups = {}
    for r in rows:
        groups.setdefault((int(r["size"]), r["kind"]), []).append(r)
    out = {}
    for key, rs in groups.items():
        f = {step: median([number(r[step + "_ms"]) for r in rs]) for step in ("hash", "copy", "inflate")}
        if None not in f.values():
            f["floor"] = max(f["hash"], f["inflate"] + f["copy"])
        else:
            f["floor"] = None
        out[key] = f
    return out


def report(args):
    runs = read_tsv(args.results)
    floors = floors_of(read_tsv(args.floors)) if args.floors else {}
    cases = read_tsv(args.cases)
    failures = read_tsv(args.failures)
    machine = {r[0]: r[1] for r in (line.rstrip("\n").split("\t", 1) for line in open(args.machine)) if len(r) == 2}
    med = summarise(runs)
    lines = []
    add = lines.append

    add("Measured on %s at commit %s: %s (%s CPUs), %s, %s; %s; makensis %s. "
        "Load average when the run ended: %s. Median of %s rounds per row; other work on the "
        "machine moves single figures, so compare within a row group and read the ratios." % (
            machine.get("date"), machine.get("commit"), machine.get("cpu"), machine.get("cpus"),
            machine.get("memory"), machine.get("os"), machine.get("wine"), machine.get("makensis"),
            machine.get("load"), machine.get("rounds")))
    add("")
    add("| payload | content (zlib ratio) | program | wall (s) | min-max (s) | x NSIS | "
        "peak working set (MiB) | minus NSIS (MiB) | to first byte (s) | writing (s) | "
        "to msiexec (s) | after msiexec (s) |")
    add("|---|---|---|---|---|---|---|---|---|---|---|---|")
    notes = []
    for c in cases:
        size, kind = int(c["size"]), c["kind"]
        total, payload = int(c["total"]), int(c["payload"] or 0)
        ratio = "%.2f:1" % (total / payload) if payload else "?"
        content = "%s (%s)" % ("incompressible" if kind == "random" else "text-like", ratio)
        nsis = med.get(("nsis", size, kind))
        for program in ORDER:
            m = med.get((program, size, kind))
            if not m:
                continue
            x = "%.2f" % (m["wall"] / nsis["wall"]) if nsis and program != "nsis" else ""
            dpeak = "%+.1f" % ((m["peak"] - nsis["peak"]) / MIB) if nsis and program != "nsis" else ""
            add("| %d MiB | %s | %s | %s | %s-%s | %s | %.1f | %s | %s | %s | %s | %s |" % (
                size, content, LABELS[program], seconds(m["wall"]), seconds(m["wall_min"]),
                seconds(m["wall_max"]), x, m["peak"] / MIB, dpeak, seconds(m["first"]),
                seconds(m["writing"]), seconds(m["handoff"]), seconds(m["after"])))
        if c["certext"] != "ok":
            notes.append("%d MiB %s: no certificate-extension form (%s)" % (size, kind, c["certext"]))
        for f in failures:
            if int(f["size"]) == size and f["kind"] == kind:
                notes.append("%d MiB %s: **%s failed** in its %s and was left out of the rest of "
                             "the case: %s" % (size, kind, LABELS[f["program"]],
                                               "warm-up" if f["round"] == "0" else "round " + f["round"],
                                               f["problem"]))
    add("")
    for n in notes:
        add("- " + n)
    if notes:
        add("")

    if floors:
        add("The writing phase against its floor: each step timed alone by `floors.exe` in the "
            "same prefix during the same run (medians), on the package's bytes. The floor is the "
            "larger of SHA-256 alone and inflate plus copy, since the launcher hashes on a second "
            "thread beside the one that inflates and writes.")
        add("")
        add("| payload | content | SHA-256 through CNG (s) | inflate (s) | copy (s) | floor (s) | "
            "program | writing (s) | x floor |")
        add("|---|---|---|---|---|---|---|---|---|")
        for c in cases:
            size, kind = int(c["size"]), c["kind"]
            f = floors.get((size, kind))
            if not f or f["floor"] is None:
                continue
            for program in ORDER:
                m = med.get((program, size, kind))
                if not m or m["writing"] is None:
                    continue
                add("| %d MiB | %s | %s | %s | %s | %s | %s | %s | %.2f |" % (
                    size, kind, seconds(f["hash"]), seconds(f["inflate"]), seconds(f["copy"]),
                    seconds(f["floor"]), LABELS[program], seconds(m["writing"]),
                    m["writing"] / f["floor"]))
        add("")

    sections, overlay = pe_sections(args.launcher)
    launcher_size = int(machine["launcher_size"])
    add("Stub sizes: `launcher.exe` %s bytes (%s); the NSIS stub (the same script around two "
        "1-byte files) %s bytes." % (
            "{:,}".format(launcher_size),
            ", ".join("%s %s" % (n, "{:,}".format(s)) for n, s in sections if s) +
            (", after the sections %s" % "{:,}".format(overlay) if overlay else ""),
            "{:,}".format(int(machine["nsis_stub_size"]))))
    if machine.get("baseline_size"):
        add("")
        add("The launcher measured as \"before\": %s bytes." % "{:,}".format(int(machine["baseline_size"])))
    add("")

    # Goals, at every size and kind measured.
    add("| goal | case | measured | |")
    add("|---|---|---|---|")

    def failed(program, size, kind):
        return any(f["program"] == program and int(f["size"]) == size and f["kind"] == kind
                   for f in failures)

    def goal(name, case, measured, met):
        add("| %s | %s | %s | %s |" % (name, case, measured, "met" if met else "**missed**"))

    sizes = sorted({int(c["size"]) for c in cases})
    kinds = []
    for c in cases:
        if c["kind"] not in kinds:
            kinds.append(c["kind"])
    for size in sizes:
        for kind in kinds:
            nsis = med.get(("nsis", size, kind))
            if not nsis:
                continue
            limit = TIME_GOAL[kind]
            for program in LAUNCHERS:
                m = med.get((program, size, kind))
                if not m:
                    if failed(program, size, kind):
                        goal("time <= %.2fx NSIS" % limit,
                             "%d MiB %s, %s" % (size, kind, LABELS[program]), "failed to run", False)
                    continue
                r = m["wall"] / nsis["wall"]
                goal("time <= %.2fx NSIS" % limit, "%d MiB %s, %s" % (size, kind, LABELS[program]),
                     "%.2fx" % r, r <= limit)
    for size in sizes:
        for kind in kinds:
            f = floors.get((size, kind))
            if not f or f["floor"] is None:
                continue
            for program in LAUNCHERS:
                m = med.get((program, size, kind))
                if not m or m["writing"] is None:
                    continue
                r = m["writing"] / f["floor"]
                goal("writing <= %.2fx its floor" % FLOOR_GOAL,
                     "%d MiB %s, %s" % (size, kind, LABELS[program]), "%.2fx" % r, r <= FLOOR_GOAL)
    for size in sizes:
        for kind in kinds:
            nsis = med.get(("nsis", size, kind))
            if not nsis:
                continue
            for program in FLAT_FORMS:
                m = med.get((program, size, kind))
                if not m:
                    if failed(program, size, kind):
                        goal("peak <= NSIS + %d MiB" % MEMORY_GOAL_MIB,
                             "%d MiB %s, %s" % (size, kind, LABELS[program]), "failed to run", False)
                    continue
                d = (m["peak"] - nsis["peak"]) / MIB
                goal("peak <= NSIS + %d MiB" % MEMORY_GOAL_MIB,
                     "%d MiB %s, %s" % (size, kind, LABELS[program]),
                     "%+.1f MiB (%.1f against %.1f)" % (d, m["peak"] / MIB, nsis["peak"] / MIB),
                     d <= MEMORY_GOAL_MIB)
    if len(sizes) > 1:
        small, large = sizes[0], sizes[-1]
        for kind in kinds:
            for program in FLAT_FORMS:
                a, b = med.get((program, small, kind)), med.get((program, large, kind))
                if not a or not b:
                    if failed(program, small, kind) or failed(program, large, kind):
                        goal("peak flat from %d to %d MiB (within %d MiB)" % (small, large, MEMORY_GOAL_MIB),
                             "%s, %s" % (kind, LABELS[program]), "failed to run", False)
                    continue
                d = (b["peak"] - a["peak"]) / MIB
                goal("peak flat from %d to %d MiB (within %d MiB)" % (small, large, MEMORY_GOAL_MIB),
                     "%s, %s" % (kind, LABELS[program]), "%+.1f MiB" % d, abs(d) <= MEMORY_GOAL_MIB)
    nsis_stub = int(machine["nsis_stub_size"])
    goal("`launcher.exe` smaller than the NSIS stub", "", "{:,} bytes against {:,}".format(
        launcher_size, nsis_stub), launcher_size < nsis_stub)
    return "\n".join(lines) + "\n"


def update_doc(path, text):
    doc = open(path).read()
    block = BEGIN + "\n\n" + text + "\n" + END
    if BEGIN in doc and END in doc:
        head, rest = doc.split(BEGIN, 1)
        tail = rest.split(END, 1)[1]
        doc = head + block + tail
    else:
        doc = doc.rstrip("\n") + "\n\n" + SECTION + "\n\n" + block + "\n"
    with open(path, "w") as f:
        f.write(doc)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--results", required=True)
    parser.add_argument("--cases", required=True)
    parser.add_argument("--failures", required=True)
    parser.add_argument("--floors")
    parser.add_argument("--machine", required=True)
    parser.add_argument("--launcher", required=True)
    parser.add_argument("--doc")
    args = parser.parse_args()
    text = report(args)
    sys.stdout.write(text)
    if args.doc:
        update_doc(args.doc, text)


if __name__ == "__main__":
    main()
