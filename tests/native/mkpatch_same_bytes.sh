#!/usr/bin/env bash
# mkpatch.exe under Wine and the Linux mkpatch, given the same two release
# trees (Chinese names, a delta, a growing and a shrinking file, new, removed
# and unchanged files, a package, and two real builds of an x86 DLL for the
# reference model when the cross compiler's runtime is there), must write the
# same patch byte for byte and report the same figures.
#   mkpatch_same_bytes.sh EMULATOR MKPATCH_EXE HOST_MKPATCH WORK_DIR
set -euo pipefail
emulator=$1
exe=$2
host=$3
work=$4
fail() { echo "FAIL: $*" >&2; exit 1; }
[ -x "$host" ] || fail "no Linux mkpatch at $host (./dev build makes it; or set UPDATE_HOST_MKPATCH)"

rm -rf "$work"
mkdir -p "$work"
cd "$work"
mkdir -p old/bin old/数据 old/Config new/bin new/数据/地图 new/sub/deeper out/native out/wine
head -c 200000 /dev/urandom > old/bin/game.exe
cp old/bin/game.exe new/bin/game.exe
for at in 1000 50000 150000; do
  printf 'changed' | dd of=new/bin/game.exe bs=1 seek="$at" conv=notrunc status=none
done
head -c 20000 /dev/urandom >> new/bin/game.exe
seq 1 20000 > old/数据/表.txt
seq 5 20010 > new/数据/表.txt
head -c 3000 /dev/urandom > old/gone.dll
seq 1 5000 > new/数据/地图/新.map
: > new/sub/deeper/empty.dat
printf 'x' > old/shrinks.dat
: > new/shrinks.dat
echo same > old/same.txt
cp old/same.txt new/same.txt
printf '[Version]\nGameVersion=1.0.0.0\n' > old/Config/Client.ini
runtime_old=$(ls -1 /usr/lib/gcc/i686-w64-mingw32/*-win32/libatomic-1.dll 2>/dev/null | sort | tail -n 1)
runtime_new=$(ls -1 /usr/lib/gcc/i686-w64-mingw32/*-posix/libatomic-1.dll 2>/dev/null | sort | tail -n 1)
if [ -n "$runtime_old" ] && [ -n "$runtime_new" ]; then
  cp "$runtime_old" old/bin/runtime.dll
  cp "$runtime_new" new/bin/runtime.dll
fi
seq 1 3000 | sed 's/^/package line /' > patch.tpk
head -c 5000 /dev/urandom > stub.exe

args=(--stub stub.exe --base 1.0.0.0 --target 1.0.0.1 old new patch.tpk --json)
"$host" diff -o out/native/patch.exe "${args[@]}" > native.json 2> native.err ||
  fail "the Linux mkpatch failed: $(cat native.err)"
# Wine maps the current directory, so the same relative paths name the same files.
"$emulator" "$exe" diff -o out/wine/patch.exe "${args[@]}" > wine.out 2> wine.err ||
  fail "mkpatch.exe failed: $(tr -d '\r' < wine.err)"
tr -d '\r' < wine.out > wine.json

cmp out/native/patch.exe out/wine/patch.exe || fail "the two patches differ"
sed 's|"output":"out/native/patch.exe"|"output":"X"|' native.json > native.cmp
sed 's|"output":"out/wine/patch.exe"|"output":"X"|' wine.json > wine.cmp
cmp native.cmp wine.cmp || fail "the reports differ: $(diff native.cmp wine.cmp | head -5)"
grep -q '"action":"delta"' native.json || fail "no delta in the patch: $(cat native.json)"
echo "same bytes: $(stat -c %s out/native/patch.exe) bytes, $(grep -o '"action":"[a-z]*"' native.json | sort | uniq -c | tr -s ' \n' ' ')"
