#!/usr/bin/env bash
# One patch from several consecutive releases of a real Windows program
# (series.txt) against the patches it replaces: (a) one patch from each
# release to the next, (b) one from each release to the newest, each made by
# `mkpatch diff` from two trees; entries only (every patch carries the same
# program). The cumulative patch is verified and extracted from a copy of
# every release, each compared with the newest tree. Then the apply time of
# the longest chain (from the first release: steps through the later ones)
# against the direct delta from the first release, on the series' largest
# changed file: natively (`mkpatch extract`, the whole process, best of
# CUMULATIVE_BENCH_RUNS) and under Wine with the updater's own run
# (bench/apply's apply_bench.exe) when the Windows build is there.
# Env: BUILD, DIST, WINEPREFIX, CUMULATIVE_BENCH_SERIES (another series
# file), CUMULATIVE_BENCH_RUNS (default 3). Releases are cached with the
# delta benchmark's, in $BUILD/bench/delta/cache.
set -euo pipefail
ROOT=$(cd "$(dirname "$0")/../.." && pwd)
BUILD=$(mkdir -p "${BUILD:-$ROOT/build}" && cd "${BUILD:-$ROOT/build}" && pwd)
DIST=$(cd "${DIST:-$ROOT/dist}" && pwd)
SERIES=${CUMULATIVE_BENCH_SERIES:-$ROOT/bench/cumulative/series.txt}
RUNS=${CUMULATIVE_BENCH_RUNS:-3}
CACHE="$BUILD/bench/delta/cache"
WORK="$BUILD/bench-cumulative"
APPLY="$BUILD/win32/bench/apply/apply_bench.exe"
WINEPREFIX=${WINEPREFIX:-$BUILD/win32/wineprefix}
MKPATCH="$DIST/mkpatch"
STUB="$DIST/Update.exe"

say() { printf 'cumulative bench: %s\n' "$*" >&2; }
for tool in npm python3 /usr/bin/time; do
  command -v "$tool" >/dev/null || { say "$tool is missing (./dev setup installs it)"; exit 1; }
done

# The package's release, as `npm pack` makes it, unpacked into $3.
source "$ROOT/bench/npm_release.sh"
release() { # package, version, folder
  local file
  file=$(npm_release "$CACHE" "$1" "$2")
  rm -rf "$3" && mkdir -p "$3"
  tar -xzf "$file" -C "$3" --strip-components=1 --no-same-owner
}

json() { python3 -c "import json, sys; d = json.load(open(sys.argv[1])); print($2)" "$1"; }
seconds() { /usr/bin/time -f '%e' -o "$WORK/time.txt" "$@" >/dev/null 2>&1 && cat "$WORK/time.txt"; }
smaller() { awk -v a="$1" -v b="$2" 'BEGIN { print (a < b) ? a : b }'; }

# diff of the trees $3.. into $1 (from $2's versions): "entries seconds".
diff_patch() { # out, target version, old, new, [--from DIR]...
  local out=$1 target=$2; shift 2
  /usr/bin/time -f '%e' -o "$WORK/time.txt" "$MKPATCH" diff -o "$out" --stub "$STUB" \
    --base 1.0.0.1 --target "$target" "$@" --json >"$out.json" 2>"$out.log"
  echo "$(json "$out.json" 'd["totals"]["shipped"]') $(cat "$WORK/time.txt")"
}

# Every release's copy updated by extract (and the removals it lists) is
# the newest tree.
round_trips() { # patch, newest tree, trees...
  local patch=$1 newest=$2 tree
  shift 2
  for tree in "$@"; do
    rm -rf "$WORK/game" && cp -r "$tree" "$WORK/game"
    "$MKPATCH" extract "$patch" "$WORK/game" --base-dir "$WORK/game" >"$WORK/extract.txt"
    sed -n 's/^remove \(.*\) (when it holds.*/\1/p' "$WORK/extract.txt" | tr '\\' '/' |
      while IFS= read -r gone; do rm -f "$WORK/game/$gone"; done
    diff -rq "$WORK/game" "$newest" >/dev/null ||
      { say "extracting $patch over $(basename "$tree") does not give the newest tree"; return 1; }
  done
}

# How many entries the way from the first release's bytes of `path` takes.
chain_length() { # report, path, first release's name
  python3 - "$@" <<'PY'
import json, sys
report, path, first = sys.argv[1:]
rows = [r for r in json.load(open(report))["files"] if r["path"] == path]
at, length = first, 0
while True:
    row = next(r for r in rows if at in r["builds"])
    length += 1
    if row["action"] != "step":
        break
    at = row["stepTo"][0]
print(length)
PY
}

rm -rf "$WORK"
mkdir -p "$WORK"
summary="$WORK/summary.md"
chains="$WORK/chains.md"
printf '| series | releases | newest tree | cumulative entries | (a) each to the next | (b) each to the newest | cumulative / min(a, b) | diff time, cumulative / (a) + (b) |\n|---|--:|--:|--:|--:|--:|--:|--:|\n' >"$summary"
printf '| series | file | chain from the first release | cumulative | direct delta | native apply, chain / direct | Wine apply, chain / direct |\n|---|---|--:|--:|--:|--:|--:|\n' >"$chains"
while read -r package rest; do
  case $package in ''|'#'*) continue ;; esac
  versions=(${rest%%#*})
  n=${#versions[@]}
  series="$package ${versions[0]} … ${versions[$((n - 1))]}"
  dir="$WORK/${package//[@\/]/_}"
  trees=()
  for v in "${versions[@]}"; do
    release "$package" "$v" "$dir/$v"
    trees+=("$dir/$v")
  done
  newest=${trees[$((n - 1))]}
  from=()
  for ((i = 1; i < n - 1; ++i)); do from+=(--from "${trees[$i]}"); done
  say "$series: the cumulative patch"
  read -r cumulative cumulative_s <<<"$(diff_patch "$dir/cumulative.exe" "1.0.0.$n" \
    "${trees[0]}" "$newest" "${from[@]}")"
  compared=$(json "$dir/cumulative.exe.json" 'd["totals"]["compared"]')
  "$MKPATCH" verify "$dir/cumulative.exe" >/dev/null
  round_trips "$dir/cumulative.exe" "$newest" "${trees[@]}"
  say "$series: the patches it replaces"
  single=0 direct=0 pairs_s=0
  for ((i = 0; i < n - 1; ++i)); do
    read -r bytes s <<<"$(diff_patch "$dir/step-$i.exe" 1.0.0.2 "${trees[$i]}" "${trees[$((i + 1))]}")"
    single=$((single + bytes)); pairs_s=$(echo "$pairs_s + $s" | bc)
    if ((i + 1 < n - 1)); then
      read -r bytes s <<<"$(diff_patch "$dir/direct-$i.exe" 1.0.0.2 "${trees[$i]}" "$newest")"
      pairs_s=$(echo "$pairs_s + $s" | bc)
    fi
    direct=$((direct + bytes))
  done
  reported="$(json "$dir/cumulative.exe.json" 'd["totals"]["singleSteps"], d["totals"]["direct"]')"
  [ "$reported" = "$single $direct" ] ||
    say "$series: the report says (a) (b) = $reported, the patches made here $single $direct"
  printf '| %s | %d | %d | %d | %d | %d | %.3f | %s s / %s s = %.2f |\n' "$series" "$n" \
    "$(find "$newest" -type f -printf '%s\n' | awk '{s += $1} END {print s}')" "$compared" \
    "$single" "$direct" "$(echo "$compared / $((single < direct ? single : direct))" | bc -l)" \
    "$cumulative_s" "$pairs_s" "$(echo "$cumulative_s / $pairs_s" | bc -l)" >>"$summary"

  # The largest file that changed between every pair of releases: one-file
  # trees of it (as engine.dll, where apply_bench puts the installed file).
  file=$(python3 - "$dir/cumulative.exe.json" <<'PY'
import json, sys
rows = json.load(open(sys.argv[1]))["files"]
steps = [r for r in rows if r["action"] == "step"]
pick = max(steps or [r for r in rows if r["action"] == "delta"], key=lambda r: r["newSize"])
print(pick["path"].replace("\\", "/"))
PY
)
  one=()
  for ((i = 0; i < n; ++i)); do
    mkdir -p "$dir/one/$i"
    cp "${trees[$i]}/$file" "$dir/one/$i/engine.dll"
    one+=("$dir/one/$i")
  done
  onefrom=()
  for ((i = 1; i < n - 1; ++i)); do onefrom+=(--from "${one[$i]}"); done
  read -r chain_bytes _ <<<"$(diff_patch "$dir/chain.exe" "1.0.0.$n" "${one[0]}" "${one[$((n - 1))]}" "${onefrom[@]}")"
  read -r direct_bytes _ <<<"$(diff_patch "$dir/one-direct.exe" "1.0.0.$n" "${one[0]}" "${one[$((n - 1))]}")"
  length=$(chain_length "$dir/chain.exe.json" engine.dll 0)
  best_c=1e9; best_d=1e9
  for round in $(seq "$RUNS"); do
    for turn in 0 1; do
      rm -rf "$WORK/out"
      if (( (round + turn) % 2 == 0 )); then
        t=$(seconds "$MKPATCH" extract "$dir/chain.exe" "$WORK/out" --base-dir "${one[0]}")
        best_c=$(smaller "$t" "$best_c")
      else
        t=$(seconds "$MKPATCH" extract "$dir/one-direct.exe" "$WORK/out" --base-dir "${one[0]}")
        best_d=$(smaller "$t" "$best_d")
      fi
      cmp -s "$WORK/out/engine.dll" "${one[$((n - 1))]}/engine.dll" ||
        { say "extracting the one-file patches does not give the newest file"; exit 1; }
    done
  done
  wine_ratio="-"
  if [ -f "$APPLY" ] && [ -d "$WINEPREFIX" ] && [ -f "$STUB" ]; then
    win() { printf 'Z:%s' "$1" | tr '/' '\\'; }
    line=$(cd "$WORK" && WINEPREFIX=$(cd "$WINEPREFIX" && pwd) "$ROOT/cmake/wine-run.sh" "$APPLY" \
      compare "$(win "${one[0]}/engine.dll")" "$(win "$dir/chain.exe")" \
      "$(win "$dir/one-direct.exe")" "$RUNS" | tr -d '\r' | grep -a "^delta " || true)
    if [ -n "$line" ]; then
      read -r _ wc _ wd _ <<<"$line"
      wine_ratio=$(printf '%s s / %s s = %.2f' "$wc" "$wd" "$(echo "$wc / $wd" | bc -l)")
    fi
  fi
  printf '| %s | %s (%d bytes) | %d entries | %d bytes | %d bytes | %s s / %s s = %.2f | %s |\n' \
    "$series" "$file" "$(stat -c %s "${one[$((n - 1))]}/engine.dll")" "$length" "$chain_bytes" \
    "$direct_bytes" "$best_c" "$best_d" "$(echo "$best_c / $best_d" | bc -l)" "$wine_ratio" >>"$chains"
done <"$SERIES"
cat "$summary"
echo
cat "$chains"
