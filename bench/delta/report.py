#!/usr/bin/env python3
"""Markdown tables from a run of bench/delta/run.sh.

Reads WORK/pairs.tsv and WORK/results.tsv (one row per file and tool), the
command lines in WORK/commands.tsv, what `mkpatch diff --json` left in
WORK/pairs/<pair>/ours/, and WORK/ours_files.tsv (the codec alone per
changed file: with and without the reference model, decoding timed). Sizes
are bytes. "Best" is the smallest output of any general-purpose tool for
that file; ours is the entry's "stored" bytes.

Usage: report.py WORK
"""

import csv
import json
import os
import sys

DELTA_TOOLS = ["bsdiff", "xdelta3", "zstd-patch", "zstd-ultra", "hdiffz"]
WHOLE_TOOLS = ["zstd", "xz"]
TOOLS = DELTA_TOOLS + WHOLE_TOOLS
HEADINGS = {
    "bsdiff": "bsdiff",
    "xdelta3": "xdelta3 -9",
    "zstd-patch": "zstd -19 --patch-from",
    "zstd-ultra": "zstd -22 --patch-from",
    "hdiffz": "hdiffz -m-6 -SD",
    "zstd": "zstd -19",
    "xz": "xz -9",
    "mkpatch": "mkpatch diff",
}


def read_tsv(path):
    with open(path, newline="", encoding="utf-8") as f:
        return list(csv.DictReader(f, delimiter="\t", quoting=csv.QUOTE_NONE))


def number(text):
    """An integer or float from a TSV cell or JSON value; None when absent."""
    if text is None or isinstance(text, bool):
        return None
    if isinstance(text, (int, float)):
        return text
    try:
        return int(text)
    except ValueError:
        try:
            return float(text)
        except ValueError:
            return None


def size(n):
    return "" if n is None else f"{n:,}"


def ratio(a, b):
    return "" if a is None or not b else f"{a / b:.3f}"


def normal_path(path):
    """Entry names may use '\\'; the trees use '/'."""
    path = str(path).replace("\\", "/")
    while path.startswith("./"):
        path = path[2:]
    return path.lstrip("/")


def first_key(item, *keys):
    for key in keys:
        if key in item:
            return item[key]
    return None


def parse_ours_json(text):
    """The files array of mkpatch diff --json, as {path: item}.

    Tolerates text around the object (progress lines) and a few spellings,
    since the format is young. Raises ValueError when nothing usable is found.
    """
    text = text.strip()
    try:
        doc = json.loads(text)
    except json.JSONDecodeError:
        start, end = text.find("{"), text.rfind("}")
        if start < 0 or end <= start:
            raise ValueError("no JSON object in its output")
        doc = json.loads(text[start:end + 1])
    files = doc if isinstance(doc, list) else first_key(doc, "files", "entries")
    if not isinstance(files, list):
        raise ValueError('no "files" array in its JSON')
    result = {}
    for item in files:
        if not isinstance(item, dict):
            continue
        path = first_key(item, "path", "name")
        if path is None:
            continue
        result[normal_path(path)] = {
            "action": str(first_key(item, "action", "kind") or "?"),
            "stored": number(first_key(item, "stored", "storedBytes", "stored_bytes")),
            "shipped": first_key(item, "shipped"),
            "oldSize": number(first_key(item, "oldSize", "old_size")),
            "newSize": number(first_key(item, "newSize", "new_size")),
        }
    return result


def read_text(path):
    try:
        with open(path, encoding="utf-8", errors="replace") as f:
            return f.read()
    except OSError:
        return None


def time_and_memory(path):
    """(seconds, kB) from a /usr/bin/time -f '%e %M' file."""
    text = read_text(path)
    if not text or not text.strip():
        return None, None
    fields = text.strip().splitlines()[-1].split()
    if len(fields) != 2:
        return None, None
    return number(fields[0]), number(fields[1])


def load_ours(work, pair):
    """What mkpatch diff did for one pair."""
    folder = os.path.join(work, "pairs", pair, "ours")
    status = (read_text(os.path.join(folder, "status")) or "not run").strip()
    ours = {"status": status, "files": None, "seconds": None, "kb": None,
            "out_bytes": None, "payload_bytes": None}
    ours["seconds"], ours["kb"] = time_and_memory(os.path.join(folder, "time"))
    if status != "ok":
        return ours
    try:
        ours["files"] = parse_ours_json(read_text(os.path.join(folder, "stdout")) or "")
    except ValueError as e:
        ours["status"] = f"mkpatch diff output unreadable: {e}"
        return ours
    out = os.path.join(folder, "Update.exe")
    if os.path.exists(out):
        ours["out_bytes"] = os.path.getsize(out)
        stub = number((read_text(os.path.join(folder, "stub_bytes")) or "").strip())
        if stub is not None:
            ours["payload_bytes"] = ours["out_bytes"] - stub
    return ours


class File:
    def __init__(self, row):
        self.path = row["path"]
        self.kind = row["kind"]
        self.old_size = number(row["old_size"])
        self.new_size = number(row["new_size"])
        self.bytes = {}     # tool -> output bytes (verified outputs only)
        self.failed = []    # tools whose output did not give the new file back
        self.ours = None    # the mkpatch entry, if any
        self.codec = None   # the codec alone: with and without references, timed

    def best(self):
        sizes = [(self.bytes[t], t) for t in TOOLS if t in self.bytes]
        return min(sizes) if sizes else (None, None)


class Pair:
    def __init__(self, row, work):
        self.id = row["pair"]
        self.title = f'{row["package"]} {row["old_version"]} → {row["new_version"]}'
        self.release = row.get("release") or ""
        self.row = row
        self.files = []
        self.make = {t: [0.0, 0] for t in TOOLS}    # tool -> [seconds, peak kB]
        self.apply = {t: [0.0, 0] for t in TOOLS}
        self.apply_rows = []  # hdiffz's rows: its making and hpatchz's applying, per file
        self.ours = load_ours(work, self.id)

    def add(self, row):
        path = row["path"]
        if not self.files or self.files[-1].path != path:
            self.files.append(File(row))
        f = self.files[-1]
        tool = row["tool"]
        if tool == "hdiffz":
            self.apply_rows.append(row)
        if row["verified"] == "1":
            f.bytes[tool] = number(row["bytes"])
        else:
            f.failed.append(tool)
        for table, s, kb in ((self.make, row["make_s"], row["make_kb"]),
                             (self.apply, row["apply_s"], row["apply_kb"])):
            s, kb = number(s), number(kb)
            if s is not None:
                table[tool][0] += s
            if kb is not None:
                table[tool][1] = max(table[tool][1], kb)

    def attach_ours(self):
        entries = self.ours["files"]
        if entries is None:
            return
        for f in self.files:
            f.ours = entries.get(normal_path(f.path))


def load_codec(work, by_id):
    """Attaches ours_files.tsv's rows to their files."""
    path = os.path.join(work, "ours_files.tsv")
    if not os.path.exists(path):
        return
    for row in read_tsv(path):
        pair = by_id.get(row["pair"])
        if pair is None:
            continue
        for f in pair.files:
            if f.path == row["path"]:
                f.codec = {key: number(row[key]) for key in (
                    "bytes", "without_references", "encode_s", "encode_kb", "decode_s",
                    "decode_kb", "verified")}


def saved_cell(f):
    """What the reference model saved on one file: bytes and share."""
    if not f.codec or f.codec["without_references"] is None or f.codec["bytes"] is None:
        return ""
    plain, with_ = f.codec["without_references"], f.codec["bytes"]
    share = f" ({(plain - with_) / plain:.0%})" if plain else ""
    return f"{size(plain)}: {size(plain - with_)}{share}"


def ours_cell(f, ours_ran):
    if not ours_ran:
        return ""
    if f.ours is None:
        return "missing"
    return f'{size(f.ours["stored"])} ({f.ours["action"]})'


def file_table(pair):
    ours_ran = pair.ours["files"] is not None
    head = ["file", "kind", "old", "new"] + [HEADINGS[t] for t in TOOLS] + [
        "best", "ours", "ours/best", "without references: saved"]
    lines = ["| " + " | ".join(head) + " |", "|" + "---|" * 2 + "---:|" * (len(head) - 2)]
    for f in pair.files:
        cells = [f"`{f.path}`", f.kind, size(f.old_size), size(f.new_size)]
        for t in TOOLS:
            if t in f.bytes:
                cells.append(size(f.bytes[t]))
            elif t in f.failed:
                cells.append("FAILED")
            else:
                cells.append("")
        best_bytes, best_tool = f.best()
        stored = f.ours["stored"] if f.ours else None
        cells += [HEADINGS.get(best_tool, ""), ours_cell(f, ours_ran), ratio(stored, best_bytes),
                  saved_cell(f)]
        lines.append("| " + " | ".join(cells) + " |")
    return lines


def pair_totals(pair):
    """tool -> bytes over the files that tool covers; best per file; ours."""
    totals = {t: sum(f.bytes.get(t, 0) for f in pair.files) for t in TOOLS}
    best = sum(f.best()[0] or 0 for f in pair.files)
    ours = None
    if pair.ours["files"] is not None:
        stored = [f.ours["stored"] if f.ours else None for f in pair.files]
        ours = None if any(s is None for s in stored) else sum(stored)
    return totals, best, ours


def totals_table(pairs):
    head = ["pair", "changed + new files", "new size"] + [HEADINGS[t] for t in TOOLS] + [
        "best per file", "ours (stored)", "ours/best", "our updater (payload)"]
    lines = ["| " + " | ".join(head) + " |", "|---|" + "---:|" * (len(head) - 1)]
    overall = {t: 0 for t in TOOLS}
    overall_best, overall_new, overall_ours, ours_complete = 0, 0, 0, True
    for pair in pairs:
        totals, best, ours = pair_totals(pair)
        changed = sum(1 for f in pair.files if f.kind == "changed")
        added = len(pair.files) - changed
        new_size = sum(f.new_size or 0 for f in pair.files)
        cells = [pair.title, f"{changed} + {added}", size(new_size)]
        for t in TOOLS:
            mark = " †" if t in DELTA_TOOLS and added else ""
            cells.append(size(totals[t]) + mark)
            overall[t] += totals[t]
        out = pair.ours["out_bytes"]
        updater = "" if out is None else f'{size(out)} ({size(pair.ours["payload_bytes"])})'
        cells += [size(best), size(ours), ratio(ours, best), updater]
        lines.append("| " + " | ".join(cells) + " |")
        overall_best += best
        overall_new += new_size
        if ours is None:
            ours_complete = False
        else:
            overall_ours += ours
    ours_all = overall_ours if ours_complete and pairs else None
    cells = ["**all pairs**", "", size(overall_new)] + [size(overall[t]) for t in TOOLS] + [
        size(overall_best), size(ours_all), ratio(ours_all, overall_best), ""]
    lines.append("| " + " | ".join(cells) + " |")
    return lines


def release_table(pairs):
    """Ours against bsdiff and hdiffz on the changed files, by kind of release."""
    kinds = []
    for pair in pairs:
        if pair.release not in kinds:
            kinds.append(pair.release)
    head = ["releases", "changed files", "bsdiff", "hdiffz -m-6 -SD", "best per file", "ours",
            "ours / bsdiff", "ours / hdiffz", "ours / best", "files above the best by more "
            "than 1 %"]
    lines = ["| " + " | ".join(head) + " |", "|---|" + "---:|" * (len(head) - 1)]
    for kind in kinds + ["all"]:
        chosen = [p for p in pairs if kind == "all" or p.release == kind]
        files = [f for p in chosen for f in p.files
                 if f.kind == "changed" and f.ours is not None and f.ours["stored"] is not None]
        if not files:
            continue
        bsdiff = sum(f.bytes.get("bsdiff", 0) for f in files)
        hdiffz = sum(f.bytes.get("hdiffz", 0) for f in files)
        best = sum(f.best()[0] or 0 for f in files)
        ours = sum(f.ours["stored"] for f in files)
        above = [f for f in files if f.best()[0] and f.ours["stored"] > f.best()[0] * 1.01]
        cells = [kind or "-", str(len(files)), size(bsdiff), size(hdiffz), size(best), size(ours),
                 ratio(ours, bsdiff), ratio(ours, hdiffz), ratio(ours, best),
                 ", ".join(f"`{f.path}` {ratio(f.ours['stored'], f.best()[0])}" for f in above)
                 or "none"]
        lines.append("| " + " | ".join(cells) + " |")
    return lines


def decode_table(pairs):
    """The codec's decoding of each changed file against hpatchz applying hdiffz's patch."""
    head = ["pair", "file", "new size", "ours: decode", "hpatchz", "hpatchz / ours",
            "ours: encode", "hdiffz", "ours / hdiffz"]
    lines = ["| " + " | ".join(head) + " |", "|---|---|" + "---:|" * (len(head) - 2)]
    for pair in pairs:
        for f in pair.files:
            if not f.codec or f.codec["decode_s"] is None:
                continue
            hp = next((r for r in pair.apply_rows if r["path"] == f.path), None)
            hp_s = number(hp["apply_s"]) if hp else None
            hd_s = number(hp["make_s"]) if hp else None
            enc = f.codec["encode_s"]
            cells = [pair.title, f"`{f.path}`", size(f.new_size),
                     seconds_and_memory(f.codec["decode_s"], f.codec["decode_kb"]),
                     seconds_and_memory(hp_s, number(hp["apply_kb"]) if hp else None),
                     ratio(hp_s, f.codec["decode_s"]),
                     seconds_and_memory(enc, f.codec["encode_kb"]),
                     seconds_and_memory(hd_s, number(hp["make_kb"]) if hp else None),
                     ratio(enc, hd_s)]
            lines.append("| " + " | ".join(cells) + " |")
    return lines


def seconds_and_memory(s, kb):
    if s is None and not kb:
        return ""
    parts = [] if s is None else [f"{s:.2f} s"]
    if kb:
        parts.append(f"{kb / 1024:.0f} MiB")
    return ", ".join(parts)


def time_table(pairs):
    tools = TOOLS + ["mkpatch"]
    head = ["pair"] + [HEADINGS[t] for t in tools]
    lines = ["| " + " | ".join(head) + " |", "|---|" + "---:|" * len(tools)]
    for pair in pairs:
        cells = [pair.title]
        for t in TOOLS:
            s, kb = pair.make[t]
            covered = any(t in f.bytes or t in f.failed for f in pair.files)
            cells.append(seconds_and_memory(s, kb) if covered else "")
        cells.append(seconds_and_memory(pair.ours["seconds"], pair.ours["kb"])
                     if pair.ours["status"] == "ok" else "")
        lines.append("| " + " | ".join(cells) + " |")
    lines += ["", "Applying each output again (bspatch, xdelta3 -d, zstd -d, xz -d), summed "
              "per pair, with the peak memory of the largest:", ""]
    lines += ["| " + " | ".join(["pair"] + [HEADINGS[t] for t in TOOLS]) + " |",
              "|---|" + "---:|" * len(TOOLS)]
    for pair in pairs:
        cells = [pair.title]
        for t in TOOLS:
            covered = any(t in f.bytes for f in pair.files)
            cells.append(seconds_and_memory(*pair.apply[t]) if covered else "")
        lines.append("| " + " | ".join(cells) + " |")
    return lines


def pair_summary(pair):
    r = pair.row
    text = (f'Releases: {size(number(r["old_tgz"]))} + {size(number(r["new_tgz"]))} bytes '
            f'downloaded, trees of {size(number(r["old_tree"]))} and '
            f'{size(number(r["new_tree"]))} bytes; files changed {r["changed"]}, new '
            f'{r["added"]}, removed {r["removed"]}, unchanged {r["unchanged"]}.')
    status = pair.ours["status"]
    if status != "ok":
        text += f" Ours: not measured ({status})."
    return text


def render(work):
    """The whole report as markdown text."""
    pairs = [Pair(row, work) for row in read_tsv(os.path.join(work, "pairs.tsv"))]
    by_id = {p.id: p for p in pairs}
    for row in read_tsv(os.path.join(work, "results.tsv")):
        if row["pair"] in by_id:
            by_id[row["pair"]].add(row)
    for pair in pairs:
        pair.attach_ours()
    load_codec(work, by_id)

    out = ["# Patch sizes: general-purpose tools and mkpatch diff", ""]
    out.append("Per file that differs between two releases (same path, other bytes) and per "
               "file new in the second; sizes in bytes. Every tool's output was applied again "
               "and compared with the new file. Commands:")
    out.append("")
    commands = os.path.join(work, "commands.tsv")
    if os.path.exists(commands):
        with open(commands, encoding="utf-8") as f:
            for line in f:
                tool, _, command = line.rstrip("\n").partition("\t")
                out.append(f"- {HEADINGS.get(tool, tool)}: `{command}`")
    versions = (read_text(os.path.join(work, "versions.txt")) or "").split("\n")
    versions = [v for v in versions if v.strip()]
    if versions:
        out += ["", "Versions: " + ", ".join(versions) + "."]
    for pair in pairs:
        out += ["", f"## {pair.title}", "", pair_summary(pair), ""]
        out += file_table(pair)
    out += ["", "## Totals", "",
            "Delta tools apply to changed files only: a † total leaves out the pair's new "
            "files, which the whole-file columns and \"best per file\" include. \"Best per "
            "file\" adds up the smallest output of each file; ours adds up the entries' "
            "stored bytes for the same files; the updater column is the whole file "
            "mkpatch wrote and, in brackets, what it holds beyond the stub.", ""]
    out += totals_table(pairs)
    out += ["", "## By kind of release", "",
            "The changed files only (a delta tool needs an old file), ours as the entries' "
            "stored bytes:", ""]
    out += release_table(pairs)
    out += ["", "## Decoding and encoding per file: the codec against HDiffPatch", "",
            "Ours is `codec_bench` (the updater's decoder, reading the installed file where "
            "it asks; the encoder mkpatch runs), hpatchz and hdiffz as above, each a whole "
            "process, wall time and peak memory:", ""]
    out += decode_table(pairs)
    out += ["", "## Time and peak memory per pair", "",
            "Making the outputs: wall time summed over the pair's files, peak resident memory "
            "of the largest (one mkpatch call per pair):", ""]
    out += time_table(pairs)
    return "\n".join(out)


def main():
    if len(sys.argv) != 2:
        sys.exit(__doc__)
    print(render(sys.argv[1]))


if __name__ == "__main__":
    main()
