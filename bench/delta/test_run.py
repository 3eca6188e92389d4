#!/usr/bin/env python3
"""run.sh end to end without the registry: two releases made here are put in
its cache under npm's names, and a stand-in mkpatch answers `diff --json`,
`verify` and `extract`.

Run: python3 -m unittest discover -s bench/delta -p 'test_*.py' (the host
build's ctest runs them as delta_bench_scripts)
"""

import csv
import os
import random
import shutil
import subprocess
import tarfile
import tempfile
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))

# `diff`: lists the new tree's files as a diff would, each stored at a tenth
# of its size, writes the stub with some bytes after it as the updater, and
# keeps the new tree's path beside it. `extract --base-dir OLD`: writes the
# new tree's changed and new files, as the real one would; with
# FAKE_EXTRACT_DAMAGE set, one of them comes out wrong. `verify`: succeeds.
FAKE_MKPATCH = r"""#!/usr/bin/env bash
set -euo pipefail
case $1 in
  verify) exit 0 ;;
  extract)
    updater=$2 out=$3 old=$5
    read -r new <"$updater.new-tree"
    mkdir -p "$out"
    while IFS= read -r -d '' rel; do
      cmp -s "$old/$rel" "$new/$rel" && continue
      mkdir -p "$out/$(dirname "$rel")"
      cp "$new/$rel" "$out/$rel"
      if [ -n "${FAKE_EXTRACT_DAMAGE:-}" ]; then printf x >>"$out/$rel"; FAKE_EXTRACT_DAMAGE=; fi
    done < <(cd "$new" && find . -type f -printf '%P\0')
    exit 0 ;;
esac
args=("$@"); n=${#args[@]}
old=${args[$((n - 3))]} new=${args[$((n - 2))]}
out=$3 stub=$5
{ cat "$stub"; printf 'payload'; } >"$out"
echo "$new" >"$out.new-tree"
printf '{"files": ['
sep=""
while IFS= read -r -d '' rel; do
  size=$(stat -c %s "$new/$rel")
  action=whole; [ -f "$old/$rel" ] || action=new
  printf '%s{"path": "%s", "action": "%s", "newSize": %s, "stored": %s}' \
    "$sep" "${rel//\//\\\\}" "$action" "$size" $((size / 10))
  sep=", "
done < <(cd "$new" && find . -type f -printf '%P\0')
printf ']}\n'
"""

# The programs run.sh measures; ./dev setup installs them.
TOOLS = ("bsdiff", "bspatch", "xdelta3", "zstd", "xz")


def release(folder, files):
    """A tarball laid out as npm packs one: everything under package/."""
    path = folder + ".tgz"
    with tarfile.open(path, "w:gz") as tar:
        for name, data in files.items():
            file = os.path.join(folder, name)
            os.makedirs(os.path.dirname(file), exist_ok=True)
            with open(file, "wb") as f:
                f.write(data)
            tar.add(file, arcname="package/" + name)
    return path


class RunScriptTest(unittest.TestCase):
    def setUp(self):
        missing = [tool for tool in TOOLS if shutil.which(tool) is None]
        if missing:
            # A failure, not a skip: run.sh would install them itself.
            self.fail(f"{', '.join(missing)} missing: run ./dev setup")
        tmp = tempfile.TemporaryDirectory()
        self.addCleanup(tmp.cleanup)
        self.build = os.path.join(tmp.name, "build")
        self.dist = os.path.join(tmp.name, "dist")
        cache = os.path.join(self.build, "bench", "delta", "cache")
        os.makedirs(cache)
        rng = random.Random(7)
        program = bytes(rng.getrandbits(8) for _ in range(60000))
        changed = program[:30000] + b"fixed" + program[30005:]
        same = b"unchanged\n" * 100
        release(os.path.join(cache, "t-app-1.0.0"),
                {"bin/app.exe": program, "readme.txt": same, "gone.txt": b"old\n"})
        release(os.path.join(cache, "t-app-1.0.1"),
                {"bin/app.exe": changed, "readme.txt": same, "lib/extra.dll": program[:9000]})
        os.makedirs(self.dist)
        with open(os.path.join(self.dist, "Update.exe"), "wb") as f:
            f.write(b"MZ" + bytes(998))
        mkpatch = os.path.join(self.dist, "mkpatch")
        with open(mkpatch, "w") as f:
            f.write(FAKE_MKPATCH)
        os.chmod(mkpatch, 0o755)
        self.pairs = os.path.join(tmp.name, "pairs.txt")
        with open(self.pairs, "w") as f:
            f.write("# a comment line\n@t/app 1.0.0 1.0.1  # and one after\n")
        self.work = os.path.join(self.build, "bench", "delta")

    def run_script(self, **env):
        # No HDiffPatch here (building it takes a minute): its column stays empty.
        env = dict(os.environ, BUILD=self.build, DIST=self.dist, DELTA_BENCH_PAIRS=self.pairs,
                   ANCHORS=os.path.join(os.path.dirname(self.build), "no-anchors"), **env)
        return subprocess.run([os.path.join(HERE, "run.sh")], env=env, capture_output=True,
                              text=True, timeout=300)

    def test_measures_changed_and_new_files_and_reads_ours(self):
        run = self.run_script()
        self.assertEqual(run.returncode, 0, run.stderr)

        with open(os.path.join(self.work, "results.tsv")) as f:
            rows = list(csv.DictReader(f, delimiter="\t"))
        made = {(r["path"], r["tool"]): r for r in rows}
        self.assertEqual(sorted({(r["path"], r["kind"]) for r in rows}),
                         [("bin/app.exe", "changed"), ("lib/extra.dll", "new")])
        self.assertEqual(sorted(t for p, t in made if p == "lib/extra.dll"), ["xz", "zstd"])
        self.assertTrue(all(r["verified"] == "1" for r in rows), rows)
        # Five changed bytes in 60000 random ones: a delta is tiny, compression is not.
        for tool in ("bsdiff", "xdelta3", "zstd-patch"):
            self.assertLess(int(made[("bin/app.exe", tool)]["bytes"]), 1000, tool)
        self.assertGreater(int(made[("bin/app.exe", "xz")]["bytes"]), 55000)

        with open(os.path.join(self.work, "report.md")) as f:
            text = f.read()
        self.assertEqual(text.strip(), run.stdout.strip())
        self.assertIn("files changed 1, new 1, removed 1, unchanged 1.", text)
        self.assertIn("| 6,000 (whole) |", text)
        self.assertIn("| 900 (new) |", text)
        self.assertIn("| 1,007 (7) |", text)
        self.assertIn("- mkpatch diff: `$DIST/mkpatch diff -o OUT --stub $DIST/Update.exe "
                      "--base 1.0.0.1 --target 1.0.0.2 OLD NEW --json`", text)
        self.assertIn("- bsdiff: `bsdiff OLD NEW OUT`", text)

    def test_a_patch_that_extracts_to_other_bytes_fails_the_run(self):
        run = self.run_script(FAKE_EXTRACT_DAMAGE="1")
        self.assertEqual(run.returncode, 1, run.stderr)
        self.assertIn("1 outputs failed", run.stderr)
        ours = os.path.join(self.work, "pairs", "t-app_1.0.0_1.0.1", "ours", "status")
        with open(ours) as f:
            self.assertEqual(f.read().strip(),
                             "mkpatch extract exit 0, 1 files differ from the new release")


if __name__ == "__main__":
    unittest.main()
