#!/usr/bin/env python3
"""Checks of report.py on small hand-made runs.

Run: python3 -m unittest discover -s bench/delta -p 'test_*.py' (the host
build's ctest runs them as delta_bench_scripts)
"""

import os
import tempfile
import unittest

import report

RESULTS_HEAD = ("pair\tpath\tkind\told_size\tnew_size\ttool\tbytes\tmake_s\tmake_kb\t"
                "apply_s\tapply_kb\tverified\n")
PAIRS_HEAD = ("pair\tpackage\told_version\tnew_version\told_tgz\tnew_tgz\told_tree\t"
              "new_tree\tchanged\tadded\tremoved\tunchanged\n")


def write(path, text):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "w", encoding="utf-8") as f:
        f.write(text)


def result_rows(pair, path, kind, old, new, sizes, failed=()):
    rows = []
    for tool, size in sizes.items():
        verified = "0" if tool in failed else "1"
        rows.append(f"{pair}\t{path}\t{kind}\t{old}\t{new}\t{tool}\t{size}\t1.50\t2048\t"
                    f"0.10\t1024\t{verified}\n")
    return "".join(rows)


def table_row(text, first_cell):
    for line in text.splitlines():
        if line.startswith(f"| {first_cell} |"):
            return [c.strip() for c in line.strip("|").split("|")]
    raise AssertionError(f"no row for {first_cell} in:\n{text}")


class ParseOursJsonTest(unittest.TestCase):
    def test_reads_files_with_either_separator_and_text_around(self):
        text = ('building...\n{"files": [\n'
                ' {"path": "lib\\\\app.dll", "action": "delta", "oldSize": 10, "newSize": 12,'
                '  "stored": "7", "shipped": true},\n'
                ' {"path": "./readme.txt", "action": "whole", "stored": 3},\n'
                ' "not an entry", {"action": "new"}]}\ndone\n')
        files = report.parse_ours_json(text)
        self.assertEqual(sorted(files), ["lib/app.dll", "readme.txt"])
        self.assertEqual(files["lib/app.dll"]["stored"], 7)
        self.assertEqual(files["lib/app.dll"]["action"], "delta")
        self.assertEqual(files["readme.txt"]["stored"], 3)

    def test_refuses_output_without_a_files_array(self):
        for text in ("", "mkpatch: unknown command diff", '{"entries": 3}', '{"count": 1}'):
            with self.subTest(text=text), self.assertRaises(ValueError):
                report.parse_ours_json(text)


class RenderTest(unittest.TestCase):
    def setUp(self):
        self.work = tempfile.TemporaryDirectory()
        self.addCleanup(self.work.cleanup)

    def make_run(self, ours_stdout=None, ours_status="ok"):
        w = self.work.name
        write(os.path.join(w, "pairs.tsv"),
              PAIRS_HEAD + "p1\t@x/win32\t1.0.0\t1.0.1\t100\t110\t1000\t1200\t1\t1\t2\t3\n")
        rows = result_rows("p1", "bin/app.exe", "changed", 1000, 1100,
                           {"bsdiff": 50, "xdelta3": 70, "zstd-patch": 60, "zstd": 400,
                            "xz": 380}, failed=("xdelta3",))
        rows += result_rows("p1", "extra.dll", "new", "-", 100, {"zstd": 40, "xz": 30})
        write(os.path.join(w, "results.tsv"), RESULTS_HEAD + rows)
        ours = os.path.join(w, "pairs", "p1", "ours")
        write(os.path.join(ours, "status"), ours_status + "\n")
        write(os.path.join(ours, "time"), "3.25 20480\n")
        if ours_stdout is not None:
            write(os.path.join(ours, "stdout"), ours_stdout)
            write(os.path.join(ours, "Update.exe"), "x" * 700)
            write(os.path.join(ours, "stub_bytes"), "500\n")
        return report.render(w)

    def test_sets_ours_beside_the_best_tool_per_file_and_in_totals(self):
        text = self.make_run('{"files": [{"path": "bin\\\\app.exe", "action": "delta", '
                             '"stored": 45}, {"path": "extra.dll", "action": "new", '
                             '"stored": 33}, {"path": "old.txt", "action": "removed", '
                             '"stored": 0}]}')
        app = table_row(text, "`bin/app.exe`")
        # Columns: the five delta tools (zstd -22 and hdiffz not run here), the two
        # whole-file ones, the best, ours and its ratio.
        self.assertEqual(app[4:14], ["50", "FAILED", "60", "", "", "400", "380", "bsdiff",
                                     "45 (delta)", "0.900"])
        extra = table_row(text, "`extra.dll`")
        self.assertEqual(extra[4:14], ["", "", "", "", "", "40", "30", "xz -9", "33 (new)",
                                       "1.100"])
        total = table_row(text, "@x/win32 1.0.0 → 1.0.1")
        # The failed xdelta3 output counts for nothing; delta totals leave the new file out.
        self.assertEqual(total[1:], ["1 + 1", "1,200", "50 †", "0 †", "60 †", "0 †", "0 †",
                                     "440", "410", "80", "78", "0.975", "700 (200)"])
        self.assertEqual(table_row(text, "**all pairs**")[11:13], ["78", "0.975"])
        self.assertIn("3.25 s, 20 MiB", text)

    def test_leaves_ours_empty_when_mkpatch_could_not_diff(self):
        text = self.make_run(ours_status="mkpatch diff exit 2: unknown option -o")
        self.assertIn("Ours: not measured (mkpatch diff exit 2: unknown option -o)", text)
        app = table_row(text, "`bin/app.exe`")
        self.assertEqual(app[11:14], ["bsdiff", "", ""])
        total = table_row(text, "@x/win32 1.0.0 → 1.0.1")
        self.assertEqual(total[10:], ["80", "", "", ""])
        self.assertEqual(table_row(text, "**all pairs**")[10:12], ["80", ""])

    def test_marks_a_file_missing_from_our_output_and_gives_no_total(self):
        text = self.make_run('{"files": [{"path": "extra.dll", "action": "new", "stored": 33}]}')
        self.assertEqual(table_row(text, "`bin/app.exe`")[12], "missing")
        self.assertEqual(table_row(text, "@x/win32 1.0.0 → 1.0.1")[11:13], ["", ""])

    def test_reports_unreadable_json_as_the_reason(self):
        text = self.make_run("Segmentation fault")
        self.assertIn("Ours: not measured (mkpatch diff output unreadable: no JSON object", text)


if __name__ == "__main__":
    unittest.main()
