#!/usr/bin/env bash
# Patch sizes on real software nobody here wrote: for each pair of releases in
# pairs.txt (npm packages that ship Windows programs and DLLs), every file
# that changed is turned into a patch by bsdiff, xdelta3, zstd --patch-from
# (at -19, and at --ultra -22 as the strongest zstd), and HDiffPatch's hdiffz
# at its own strong setting, and compressed whole by zstd and xz; a file new
# in the second release is only compressed whole. Each output is applied
# again and compared with the new file, so that no size comes from a broken
# patch. Then `mkpatch diff` makes one updater per pair from the same two
# trees (verified, and extracted against the old tree to compare with the new
# one); and per changed file the codec on its own (codec_bench) encodes it
# with and without the reference model (what the references saved) and
# decodes it again, timed beside hpatchz. report.py sets everything side by
# side in $BUILD/bench/delta/report.md.
# Env: BUILD (build root), DIST (mkpatch and Update.exe), DELTA_BENCH_PAIRS
# (another pairs file), ANCHORS (the folder with build-hdiffz.sh, default
# ../shared/anchors beside the work tree; HDiffPatch is built into
# $BUILD/anchors, a comparison anchor only). The releases are cached in
# $BUILD/bench/delta/cache.
set -euo pipefail
ROOT=$(cd "$(dirname "$0")/../.." && pwd)
BUILD=$(mkdir -p "${BUILD:-$ROOT/build}" && cd "${BUILD:-$ROOT/build}" && pwd)
DIST=$(cd "${DIST:-$ROOT/dist}" 2>/dev/null && pwd || echo "${DIST:-$ROOT/dist}")
PAIRS=${DELTA_BENCH_PAIRS:-$ROOT/bench/delta/pairs.txt}
ANCHORS=${ANCHORS:-$ROOT/../shared/anchors}
CODEC_BENCH="$BUILD/host/bench/codec/codec_bench"
WORK="$BUILD/bench/delta"
CACHE="$WORK/cache"
RESULTS="$WORK/results.tsv"
PAIR_LIST="$WORK/pairs.tsv"
COMMANDS="$WORK/commands.tsv"
OURS_FILES="$WORK/ours_files.tsv"
# Beyond 128 MiB zstd --patch-from needs a larger memory limit for the
# reference as well as long-distance matching.
ZSTD_REFERENCE_LIMIT=$((128 << 20))

say() { printf 'delta bench: %s\n' "$*" >&2; }

as_root() {
  if [ "$(id -u)" = 0 ]; then "$@"
  elif command -v sudo >/dev/null; then sudo "$@"
  else say "needs root to run: $*"; return 1
  fi
}

install_tools() {
  local need=()
  command -v bsdiff >/dev/null && command -v bspatch >/dev/null || need+=(bsdiff)
  command -v xdelta3 >/dev/null || need+=(xdelta3)
  command -v zstd >/dev/null || need+=(zstd)
  command -v xz >/dev/null || need+=(xz-utils)
  [ -x /usr/bin/time ] || need+=(time)
  command -v npm >/dev/null || need+=(npm)
  command -v python3 >/dev/null || need+=(python3)
  [ ${#need[@]} -eq 0 ] && return 0
  say "installing ${need[*]}"
  # A mirror in the middle of a sync fails one index; the others still serve.
  as_root apt-get update -qq || say "some package indexes could not be fetched; going on"
  DEBIAN_FRONTEND=noninteractive as_root apt-get install -y -qq "${need[@]}" >/dev/null
}

# The releases: npm_release and npm_slug.
source "$ROOT/bench/npm_release.sh"
fetch() { npm_release "$CACHE" "$@"; }

unpack() { # tarball, folder
  rm -rf "$2"
  mkdir -p "$2"
  tar -xzf "$1" -C "$2" --strip-components=1 --no-same-owner
}

tree_bytes() { find "$1" -type f -printf '%s\n' | awk '{s += $1} END {print s + 0}'; }

# Runs a command under /usr/bin/time; stdout goes to $1. Prints "seconds kB",
# or nothing when the command failed (its messages are kept in $STEP_ERR).
timed() { # stdout target, command...
  local target=$1; shift
  if /usr/bin/time -f '%e %M' -o "$STEP_TIME" "$@" >"$target" 2>"$STEP_ERR"; then
    tail -n 1 "$STEP_TIME"
  else
    say "failed: $* ($(head -c 300 "$STEP_ERR" | tr '\n' ' '))"
  fi
}

tsv_row() { local IFS=$'\t'; echo "$*"; }

# The first command line of each tool, with its files named OLD, NEW and OUT,
# for the report.
declare -A RECORDED
record_command() { # tool, old, new, out, stdout target, command...
  local tool=$1 old=$2 new=$3 out=$4 target=$5
  shift 5
  [ -n "${RECORDED[$tool]:-}" ] && return 0
  RECORDED[$tool]=1
  local line="$*"
  [ "$target" = /dev/null ] || line+=" > $target"
  line=${line//"$out"/OUT}
  line=${line//"$new"/NEW}
  [ -z "$old" ] || line=${line//"$old"/OLD}
  line=${line//"$DIST/"/\$DIST/}
  line=${line//"$BUILD/"/\$BUILD/}
  printf '%s\t%s\n' "$tool" "$line" >>"$COMMANDS"
}

# Makes one tool's output for one file and applies it again. Appends a row.
run_tool() { # tool, old file or "", new file, output
  local tool=$1 old=$2 new=$3 out=$4 make apply
  local check="$out.check"
  local -a make_cmd apply_cmd mem=()
  if [ -n "$old" ] && [ "$(stat -c %s "$old")" -gt "$ZSTD_REFERENCE_LIMIT" ]; then
    mem=("--memory=$((($(stat -c %s "$old") >> 20) + 1))MB")
  fi
  local stdout_make=/dev/null stdout_apply=/dev/null
  case $tool in
    bsdiff)
      make_cmd=(bsdiff "$old" "$new" "$out")
      apply_cmd=(bspatch "$old" "$check" "$out") ;;
    xdelta3)
      make_cmd=(xdelta3 -9 -e -f -s "$old" "$new" "$out")
      apply_cmd=(xdelta3 -d -f -s "$old" "$out" "$check") ;;
    zstd-patch)
      make_cmd=(zstd -q -f -19 --long=31 "${mem[@]}" "--patch-from=$old" "$new" -o "$out")
      apply_cmd=(zstd -q -d -f --long=31 "${mem[@]}" "--patch-from=$old" "$out" -o "$check") ;;
    zstd-ultra)
      make_cmd=(zstd -q -f --ultra -22 --long=31 "${mem[@]}" "--patch-from=$old" "$new" -o "$out")
      apply_cmd=(zstd -q -d -f --long=31 "${mem[@]}" "--patch-from=$old" "$out" -o "$check") ;;
    hdiffz)
      make_cmd=("$BUILD/anchors/hdiffz" -m-6 -SD -f -p-1 -c-zstd-21-24 "$old" "$new" "$out")
      apply_cmd=("$BUILD/anchors/hpatchz" -f "$old" "$out" "$check") ;;
    zstd)
      make_cmd=(zstd -q -f -19 "$new" -o "$out")
      apply_cmd=(zstd -q -d -f "$out" -o "$check") ;;
    xz)
      make_cmd=(xz -9 -k -c "$new"); stdout_make=$out
      apply_cmd=(xz -d -c "$out"); stdout_apply=$check ;;
  esac
  record_command "$tool" "$old" "$new" "$out" "$stdout_make" "${make_cmd[@]}"
  make=$(timed "$stdout_make" "${make_cmd[@]}")
  local bytes="" verified=0
  apply=""
  if [ -n "$make" ]; then
    bytes=$(stat -c %s "$out")
    apply=$(timed "$stdout_apply" "${apply_cmd[@]}")
    if [ -n "$apply" ] && cmp -s "$check" "$new"; then
      verified=1
    else
      say "$tool: applying $out did not give back $new"
      FAILURES=$((FAILURES + 1))
    fi
  else
    FAILURES=$((FAILURES + 1))
  fi
  rm -f "$check"
  read -r make_s make_kb <<<"${make:-- -}"
  read -r apply_s apply_kb <<<"${apply:-- -}"
  tsv_row "$PAIR_ID" "$REL" "$KIND" "$OLD_SIZE" "$NEW_SIZE" "$tool" "${bytes:--}" "$make_s" \
    "$make_kb" "$apply_s" "$apply_kb" "$verified" >>"$RESULTS"
}

# One updater for the whole pair; report.py reads its JSON. A mkpatch that
# cannot do this yet leaves its exit code and message, and the report keeps
# that column empty.
run_ours() { # pair folder
  local dir="$1/ours"
  rm -rf "$dir"
  mkdir -p "$dir"
  if [ ! -x "$DIST/mkpatch" ] || [ ! -f "$DIST/Update.exe" ]; then
    echo "no $DIST/mkpatch or $DIST/Update.exe" >"$dir/status"
    return 0
  fi
  local rc=0
  local -a cmd=("$DIST/mkpatch" diff -o "$dir/Update.exe" --stub "$DIST/Update.exe"
                --base 1.0.0.1 --target 1.0.0.2 "$1/old" "$1/new" --json)
  record_command mkpatch "$1/old" "$1/new" "$dir/Update.exe" /dev/null "${cmd[@]}"
  /usr/bin/time -f '%e %M' -o "$dir/time" "${cmd[@]}" >"$dir/stdout" 2>"$dir/stderr" || rc=$?
  if [ "$rc" -ne 0 ]; then
    echo "mkpatch diff exit $rc: $(grep -m 1 . "$dir/stderr" || true)" >"$dir/status"
    return 0
  fi
  stat -c %s "$DIST/Update.exe" >"$dir/stub_bytes"
  rc=0
  "$DIST/mkpatch" verify "$dir/Update.exe" >"$dir/verify" 2>&1 || rc=$?
  if [ "$rc" -ne 0 ]; then
    echo "mkpatch verify exit $rc" >"$dir/status"
    FAILURES=$((FAILURES + 1))
    return 0
  fi
  # Applied again, as the other tools' outputs are: the files extracted
  # against the old tree must be the new tree's changed and new files.
  rm -rf "$dir/extracted"
  "$DIST/mkpatch" extract "$dir/Update.exe" "$dir/extracted" --base-dir "$1/old" \
    >"$dir/extract" 2>&1 || rc=$?
  local rel wrong=0
  while IFS= read -r -d '' rel; do
    cmp -s "$dir/extracted/$rel" "$1/new/$rel" || wrong=$((wrong + 1))
  done < <(cd "$dir/extracted" 2>/dev/null && find . -type f -printf '%P\0')
  if [ "$rc" -eq 0 ] && [ "$wrong" -eq 0 ]; then echo ok >"$dir/status"
  else
    echo "mkpatch extract exit $rc, $wrong files differ from the new release" >"$dir/status"
    FAILURES=$((FAILURES + 1))
  fi
  rm -rf "$dir/extracted"
}

# The codec alone on one changed file: the entry data with the reference
# model and without it, and the first decoded again (timed as a whole
# process reading the installed file where it asks, beside hpatchz in the
# results). Appends a row to ours_files.tsv.
run_codec() { # old file, new file, output prefix
  [ -x "$CODEC_BENCH" ] || return 0
  local with without decode bytes plain verified=0
  record_command codec "$1" "$2" "$3" /dev/null "$CODEC_BENCH" encode "$1" "$2" "$3"
  with=$(timed /dev/null "$CODEC_BENCH" encode "$1" "$2" "$3")
  without=$(timed /dev/null "$CODEC_BENCH" encode "$1" "$2" "$3.plain" --no-references)
  bytes=$(( $(stat -c %s "$3") - 5 ))
  plain=$(( $(stat -c %s "$3.plain") - 5 ))
  record_command codec-decode "$1" "$2" "$3" /dev/null "$CODEC_BENCH" decode "$1" "$3" "$3.check"
  decode=$(timed /dev/null "$CODEC_BENCH" decode "$1" "$3" "$3.check")
  if [ -n "$decode" ] && cmp -s "$3.check" "$2"; then verified=1
  else
    say "codec: decoding $3 did not give back $2"
    FAILURES=$((FAILURES + 1))
  fi
  rm -f "$3.check" "$3.plain"
  read -r with_s with_kb <<<"${with:-- -}"
  read -r decode_s decode_kb <<<"${decode:-- -}"
  tsv_row "$PAIR_ID" "$REL" "$bytes" "$plain" "$with_s" "$with_kb" "$decode_s" "$decode_kb" \
    "$verified" >>"$OURS_FILES"
}

bench_pair() { # package, old version, new version, release kind
  local name=$1 old_ver=$2 new_ver=$3 release=${4:-} old_tgz new_tgz
  PAIR_ID="$(npm_slug "$name")_${old_ver}_${new_ver}"
  local dir="$WORK/pairs/$PAIR_ID"
  old_tgz=$(fetch "$name" "$old_ver")
  new_tgz=$(fetch "$name" "$new_ver")
  unpack "$old_tgz" "$dir/old"
  unpack "$new_tgz" "$dir/new"
  rm -rf "$dir/out"
  mkdir -p "$dir/out"
  STEP_TIME="$dir/out/time"
  STEP_ERR="$dir/out/stderr"
  local changed=0 added=0 removed=0 same=0 tool
  while IFS= read -r -d '' REL; do
    NEW_SIZE=$(stat -c %s "$dir/new/$REL")
    if [ -f "$dir/old/$REL" ]; then
      if cmp -s "$dir/old/$REL" "$dir/new/$REL"; then same=$((same + 1)); continue; fi
      KIND=changed; changed=$((changed + 1)); OLD_SIZE=$(stat -c %s "$dir/old/$REL")
    else
      KIND=new; added=$((added + 1)); OLD_SIZE=-
    fi
    say "$PAIR_ID: $REL ($KIND)"
    local out="$dir/out/${REL//\//__}"
    if [ "$KIND" = changed ]; then
      for tool in bsdiff xdelta3 zstd-patch zstd-ultra ${HDIFFZ:+hdiffz}; do
        run_tool "$tool" "$dir/old/$REL" "$dir/new/$REL" "$out.$tool"
      done
      run_codec "$dir/old/$REL" "$dir/new/$REL" "$out.codec"
    fi
    for tool in zstd xz; do run_tool "$tool" "" "$dir/new/$REL" "$out.$tool"; done
  done < <(cd "$dir/new" && find . -type f -printf '%P\0' | sort -z)
  while IFS= read -r -d '' REL; do
    [ -f "$dir/new/$REL" ] || removed=$((removed + 1))
  done < <(cd "$dir/old" && find . -type f -printf '%P\0')
  say "$PAIR_ID: mkpatch diff"
  run_ours "$dir"
  tsv_row "$PAIR_ID" "$name" "$old_ver" "$new_ver" "$(stat -c %s "$old_tgz")" \
    "$(stat -c %s "$new_tgz")" "$(tree_bytes "$dir/old")" "$(tree_bytes "$dir/new")" \
    "$changed" "$added" "$removed" "$same" "$release" >>"$PAIR_LIST"
}

install_tools
HDIFFZ=
if [ -x "$ANCHORS/build-hdiffz.sh" ] && "$ANCHORS/build-hdiffz.sh" "$BUILD/anchors" >&2; then
  HDIFFZ=1
else
  say "no HDiffPatch anchor ($ANCHORS/build-hdiffz.sh): its column stays empty"
fi
mkdir -p "$CACHE"
rm -rf "$CACHE"/.pack.*
tsv_row pair path kind old_size new_size tool bytes make_s make_kb apply_s apply_kb verified \
  >"$RESULTS"
tsv_row pair package old_version new_version old_tgz new_tgz old_tree new_tree changed added \
  removed unchanged release >"$PAIR_LIST"
tsv_row pair path bytes without_references encode_s encode_kb decode_s decode_kb verified \
  >"$OURS_FILES"
: >"$COMMANDS"
dpkg-query -W -f '${Package} ${Version}\n' bsdiff xdelta3 zstd xz-utils >"$WORK/versions.txt" \
  2>/dev/null || true
FAILURES=0
while read -r name old_ver new_ver release _; do
  bench_pair "$name" "$old_ver" "$new_ver" "$release"
done < <(sed -e 's/#.*//' -e '/^[[:space:]]*$/d' "$PAIRS")

python3 "$ROOT/bench/delta/report.py" "$WORK" | tee "$WORK/report.md"
if [ "$FAILURES" -gt 0 ]; then
  say "$FAILURES outputs failed to build or to give the new file back (see above)"
  exit 1
fi
