#!/usr/bin/env bash
# The differ for large files on a game archive of at least 4.25 GiB made of
# real files: the data packages of three Debian games (fetched with apt-get
# download into the build tree, unpacked with dpkg-deb, the game's own zip
# archives unpacked too), concatenated as an archive holds them, and its next
# release with files replaced, inserted and removed inside it and small edits
# scattered through others (make_archives.py). Side by side in one run:
#   mkpatch's encoding of the changed archive (large_bench encode: the code
#   path of mkpatch diff) against HDiffPatch's block-matching mode
#   (hdiffz -s-64 -SD -c-zstd-21-24): payload, time and peak memory;
#   our decoder (large_bench decode, natively) against hpatchz: time and peak
#   memory, the result compared with the new archive.
# The packages and their files stay in $BUILD/bench/large (about 11 GB); the
# archives and patches (about 10 GB) are removed at the end.
# Env: BUILD, LARGE_BENCH_MIB (the old archive's least size, default 4352),
# LARGE_BENCH_PACKAGES, ANCHORS (the folder of build-hdiffz.sh).
set -euo pipefail
ROOT=$(cd "$(dirname "$0")/../.." && pwd)
BUILD=$(cd "${BUILD:-$ROOT/build}" && pwd)
BENCH="$BUILD/host/bench/large/large_bench"
CACHE="$BUILD/bench/large"
WORK="$BUILD/bench-large"
MIB=${LARGE_BENCH_MIB:-4352}
PACKAGES=${LARGE_BENCH_PACKAGES:-"0ad-data supertuxkart-data redeclipse-data"}
ANCHORS=${ANCHORS:-$ROOT/../shared/anchors}
[ -x "$ANCHORS/build-hdiffz.sh" ] || ANCHORS=/work/shared/anchors
for tool in apt-get dpkg-deb python3 /usr/bin/time; do
  command -v "$tool" >/dev/null || { echo "large bench: $tool is missing" >&2; exit 1; }
done
[ -x "$BENCH" ] || { echo "large bench: build $BENCH first (./dev build)" >&2; exit 1; }
"$ANCHORS/build-hdiffz.sh" "$BUILD/anchors" >/dev/null
HDIFFZ="$BUILD/anchors/hdiffz"
HPATCHZ="$BUILD/anchors/hpatchz"

if [ ! -f "$CACHE/files.done" ]; then
  rm -rf "$CACHE/files"
  mkdir -p "$CACHE/debs" "$CACHE/files"
  # shellcheck disable=SC2086
  (cd "$CACHE/debs" && apt-get download $PACKAGES >/dev/null)
  for deb in "$CACHE"/debs/*.deb; do dpkg-deb -x "$deb" "$CACHE/files"; done
  python3 "$ROOT/bench/large/make_archives.py" extract "$CACHE/files"
  touch "$CACHE/files.done"
fi

rm -rf "$WORK"
mkdir -p "$WORK"
trap 'rm -rf "$WORK"' EXIT
cd "$WORK"
echo "archives: $(python3 "$ROOT/bench/large/make_archives.py" pair "$CACHE/files" old.pak new.pak "$MIB")"
new_md5=$(md5sum <new.pak | cut -d' ' -f1)

# "seconds peak-KiB" of a command, its output kept in NAME.out and NAME.err.
measure() {
  local name=$1; shift
  /usr/bin/time -f '%e %M' -o "$WORK/$name.time" "$@" >"$WORK/$name.out" 2>"$WORK/$name.err" \
    || { cat "$WORK/$name.err" >&2; exit 1; }
  cat "$WORK/$name.time"
}
mib() { echo $(( $1 / 1024 )); }

read -r ot om <<<"$(measure ours "$BENCH" encode old.pak new.pak ours.dat)"
read -r coding stored < ours.out
read -r ht hm <<<"$(measure hdiffz "$HDIFFZ" -s-64 -SD -c-zstd-21-24 -f old.pak new.pak hdiffz.patch)"
hsize=$(stat -c %s hdiffz.patch)

read -r dt dm <<<"$(measure decode "$BENCH" decode old.pak ours.dat out.pak)"
[ "$(md5sum <out.pak | cut -d' ' -f1)" = "$new_md5" ] || { echo "our decode differs from new.pak" >&2; exit 1; }
rm -f out.pak
read -r pt pm <<<"$(measure hpatchz "$HPATCHZ" -f old.pak hdiffz.patch out.pak)"
[ "$(md5sum <out.pak | cut -d' ' -f1)" = "$new_md5" ] || { echo "hpatchz's result differs from new.pak" >&2; exit 1; }

printf '\nold %d bytes, new %d bytes; mkpatch stores a %s entry; its %s\n\n' \
  "$(stat -c %s old.pak)" "$(stat -c %s new.pak)" "$coding" "$(cat ours.err)"
printf '| | payload bytes | diff s | diff peak MiB | apply s | apply peak MiB |\n'
printf '|---|--:|--:|--:|--:|--:|\n'
printf '| mkpatch (block matching) | %d | %s | %d | %s | %d |\n' "$stored" "$ot" "$(mib "$om")" "$dt" "$(mib "$dm")"
printf '| hdiffz -s-64 -SD -c-zstd-21-24 | %d | %s | %d | %s | %d |\n' "$hsize" "$ht" "$(mib "$hm")" "$pt" "$(mib "$pm")"
printf '| mkpatch / hdiffz | %.3f | %.2f | %.2f | %.2f | %.2f |\n' \
  "$(echo "$stored / $hsize" | bc -l)" "$(echo "$ot / $ht" | bc -l)" "$(echo "$om / $hm" | bc -l)" \
  "$(echo "$dt / $pt" | bc -l)" "$(echo "$dm / $pm" | bc -l)"
