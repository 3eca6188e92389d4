#!/usr/bin/env bash
# One updater made from three builds of a sample game updates, under Wine,
# a game at the base build and one at the middle build (signed after it was
# built), then a screenshot of the dialog during an interactive run.
#
# Called by `./dev demo` with UPDATE_DEMO_PREFIX (an initialised 32-bit Wine
# prefix), DIST (mkpatch, Update.exe), BUILD (the build folders) and DISPLAY.
# Exits non-zero when the update did not happen.
set -euo pipefail

: "${UPDATE_DEMO_PREFIX:?}" "${DIST:?}" "${BUILD:?}" "${DISPLAY:?}"
ROOT=$(cd "$(dirname "$0")/.." && pwd)
export WINEPREFIX=$UPDATE_DEMO_PREFIX WINEARCH=win32 WINEDEBUG=-all
# A crash must end the program, not leave it waiting for a debugger.
export LANG=zh_CN.UTF-8 LC_ALL=zh_CN.UTF-8 WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe,winedbg.exe=d"

BASE=1.4.1.33960
MIDDLE=1.4.1.34100
TARGET=1.4.1.34242
MKPATCH=$DIST/mkpatch
HOST_EXE=$DIST/Update.exe
LAUNCHER=$BUILD/win32/tests/launcher/launch.exe
DRIVER=$BUILD/win32/tests/gui/update_demo_driver.exe
# Kept out of the work tree: docs/images holds the picture the README shows.
SCREENSHOT=${UPDATE_DEMO_SCREENSHOT:-$BUILD/demo/update-dialog.png}
GAME=$WINEPREFIX/drive_c/Games/Orvenna
GAME_WIN='C:\Games\Orvenna'
WORK=$BUILD/demo/work
# The throw-away certificate and its key, made for this run only.
SIGNING=$BUILD/demo/signing
UNINSTALL_KEY='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\《Orvenna》正式公测版客户端程序'

for f in "$MKPATCH" "$HOST_EXE" "$LAUNCHER" "$DRIVER"; do
  [ -f "$f" ] || { echo "demo: missing $f (run ./dev build first)" >&2; exit 1; }
done

say() { printf '\n\033[1m%s\033[0m\n' "$*"; }
ini_value() { # file key
  tr -d '\r' <"$1" | sed -n "s/^$2=//p" | head -n 1
}
list_game() {
  (cd "$GAME" && find . -type f ! -path './Log/*' | sed 's|^\./||' | sort |
     while read -r f; do printf '    %-28s %9d bytes\n' "$f" "$(stat -c %s "$f")"; done)
}
win_path() { printf 'Z:%s' "$1" | tr '/' '\\'; }

# A game installation at a version (the base one unless told): that build
# (with the launcher stand-in), and the configuration the game keeps beside it.
make_game() {
  local version=${1:-$BASE}
  rm -rf "$GAME"
  mkdir -p "$GAME"
  cp -r "$WORK/build-$version/." "$GAME/"
  mkdir -p "$GAME/Config"
  printf '[Version]\r\nGameVersion=%s\r\n' "$version" >"$GAME/Config/Client.ini"
  printf 'config\r\n' >"$GAME/Config/config.ini"
}

# Runs the signed updater in automatic mode on the game; sets $code.
run_updater() {
  local start
  start=$(date +%s)
  set +e
  (cd "$WORK" && timeout 900 wine "$WORK/Update.exe" "$GAME_WIN")
  code=$?
  set -e
  echo "    ended after $(( $(date +%s) - start )) s with exit code $code"
}

# Fails the demo unless the game is the new build: the version, every file
# byte for byte, the dropped file gone, the package applied. $1 names the
# player for the messages.
check_updated() {
  local who=$1 failed=0 version
  version=$(ini_value "$GAME/Config/Client.ini" GameVersion)
  [ "$code" = 0 ] || { echo "FAIL ($who): exit code $code, not 0 (success)"; failed=1; }
  [ "$version" = "$TARGET" ] || { echo "FAIL ($who): GameVersion is '$version', not $TARGET"; failed=1; }
  cmp -s "$GAME/maps/town.map" "$WORK/package/maps/town.map" ||
    { echo "FAIL ($who): the package was not applied"; failed=1; }
  (cd "$WORK/build-$TARGET" && find . -type f) | while read -r f; do
    cmp -s "$WORK/build-$TARGET/$f" "$GAME/$f" || echo "FAIL ($who): $f is not the new build's"
  done | tee "$WORK/mismatches.txt"
  [ -s "$WORK/mismatches.txt" ] && failed=1
  [ ! -e "$GAME/data/intro.bik" ] ||
    { echo "FAIL ($who): data/intro.bik, dropped by the new build, is still there"; failed=1; }
  return "$failed"
}

rm -rf "$WORK"
mkdir -p "$WORK/package/maps" "$WORK/package/sounds" "$WORK/plain"

say "1. Three builds of the game, and one patch $BASE -> $TARGET made from them with mkpatch diff"
# The release trees as the build machine leaves them: the base build, a
# release in between that some players installed, and the new one.
python3 "$ROOT/demo/make_builds.py" "$WORK/build-$BASE" "$WORK/build-$MIDDLE" "$WORK/build-$TARGET" \
  "$LAUNCHER"
printf 'town map of %s\n' "$TARGET" >"$WORK/package/maps/town.map"
head -c 200000 /dev/urandom >"$WORK/package/sounds/theme.ogg"
"$MKPATCH" build -o "$WORK/content.tpk" --base "$BASE" --target "$TARGET" "$WORK/package" >/dev/null
for from in "$BASE" "$MIDDLE"; do
  echo "    $from and $TARGET differ in:"
  { LC_ALL=C diff -rq "$WORK/build-$from" "$WORK/build-$TARGET" || true; } |
    sed "s|$WORK/||g; s/^/      /"
done
echo "    mkpatch diff --from build-$MIDDLE (what it ships of each file, for which builds):"
"$MKPATCH" diff -o "$WORK/Update-unsigned.exe" --stub "$HOST_EXE" --base "$BASE" \
  --target "$TARGET" "$WORK/build-$BASE" "$WORK/build-$TARGET" "$WORK/content.tpk" \
  --from "$WORK/build-$MIDDLE" 2>&1 | sed 's/^/      /'
new_bytes=$(cd "$WORK/build-$TARGET" && find . -type f -print0 | du -cb --files0-from=- | tail -n 1 | cut -f1)
echo "    The whole new build is $new_bytes bytes; the updater, program included, is" \
  "$(stat -c %s "$WORK/Update-unsigned.exe") bytes."

say "2. Signed as a release engineer would, with a throw-away self-signed certificate"
rm -rf "$SIGNING"
mkdir -p "$SIGNING"
trap 'rm -f "$SIGNING/key.pem"' EXIT
openssl req -x509 -newkey rsa:2048 -nodes -days 1 -subj "/CN=Orvenna demo signer" \
  -keyout "$SIGNING/key.pem" -out "$SIGNING/cert.pem" 2>/dev/null
osslsigncode sign -certs "$SIGNING/cert.pem" -key "$SIGNING/key.pem" -n "Orvenna update" \
  -in "$WORK/Update-unsigned.exe" -out "$WORK/Update.exe" >/dev/null
rm -f "$SIGNING/key.pem"
echo "    osslsigncode verify:"
verified=$(osslsigncode verify -CAfile "$SIGNING/cert.pem" "$WORK/Update.exe" 2>&1) ||
  { echo "$verified"; echo "FAIL: the signed updater does not verify"; exit 1; }
grep -E '^(Calculated message digest|Signature verification)|Subject' \
  <<<"$verified" | awk '!seen[$0]++' | sed 's/^[[:space:]]*/      /'
echo "    mkpatch list (signed):"
"$MKPATCH" list "$WORK/Update.exe" | sed -n '/^signature:/s/^/      /p'
"$MKPATCH" verify "$WORK/Update.exe" | sed 's/^/      /'

say "3. Before: a game installation in the Wine prefix ($GAME_WIN)"
make_game
echo "    GameVersion = $(ini_value "$GAME/Config/Client.ini" GameVersion)"
echo "    MD5         = $(ini_value "$GAME/Config/Client.ini" MD5)"
list_game

say "4. The signed Update.exe \"$GAME_WIN\" (automatic mode: no dialog, no box on success)"
run_updater

say "5. After"
version=$(ini_value "$GAME/Config/Client.ini" GameVersion)
recorded=$(ini_value "$GAME/Config/Client.ini" MD5)
actual=$(md5sum "$WORK/Update.exe" | cut -d' ' -f1)
echo "    GameVersion = $version"
echo "    MD5         = $recorded (recorded)"
echo "    md5sum      = $actual (of the signed updater file, signature included)"
echo "    unsigned    = $(md5sum "$WORK/Update-unsigned.exe" | cut -d' ' -f1) (the same file before signing)"
list_game
echo "    The launcher received:"
tr -d '\r' <"$GAME/launch_received.txt" 2>/dev/null | sed '/^$/d; s/^/      /' || echo "      (nothing)"

failed=0
check_updated "base build" || failed=1
[ "$recorded" = "$actual" ] || { echo "FAIL: the recorded MD5 is not the updater's"; failed=1; }
if [ "$failed" -ne 0 ]; then
  echo "The update did not happen."
  exit 1
fi
echo "    OK: version $TARGET installed, the game's files are the new build's, MD5 matches md5sum."

say "6. A player who installed the middle build $MIDDLE: the same updater"
make_game "$MIDDLE"
echo "    mkpatch check (per file: whose bytes the game holds, and what the updater applies):"
{ "$MKPATCH" check "$WORK/Update.exe" "$GAME" || true; } |
  sed -n '/^applies:/p; /^reason:/p; /^files:/,$p' | sed 's/^/      /'
run_updater
echo "    GameVersion = $(ini_value "$GAME/Config/Client.ini" GameVersion)"
list_game
if ! check_updated "middle build"; then
  echo "The update from the middle build did not happen."
  exit 1
fi
echo "    OK: the game at $MIDDLE is at $TARGET too, every file the new build's."

say "7. The dialog during an interactive run (screenshot)"
make_game
# A large entry keeps the bar moving long enough to be photographed.
head -c $((48 * 1024 * 1024)) /dev/zero >"$WORK/plain/music.pak"
"$MKPATCH" build -o "$WORK/Update-interactive.exe" --stub "$HOST_EXE" --base "$BASE" \
  --target "$TARGET" "$WORK/plain/music.pak" "$WORK/content.tpk" >/dev/null
wine reg add "$UNINSTALL_KEY" /v UninstallString /d "$GAME_WIN\\uninst.exe" /f >/dev/null 2>&1
rm -f "$WORK/ready.txt" "$WORK/done.txt" "$WORK/report.txt"
# Without a window manager Wine draws the caption and frame itself only when told to.
wine reg add 'HKCU\Software\Wine\X11 Driver' /v Decorated /d N /f >/dev/null 2>&1
# The dialog font resolves to SimSun, which Linux lacks; Wine's fallback then
# draws Latin letters as empty boxes under the i386 emulator. One installed
# face that holds both scripts draws the whole dialog.
for face in SimSun NSimSun 宋体 Tahoma "MS Shell Dlg" "MS Sans Serif"; do
  wine reg add 'HKCU\Software\Wine\Fonts\Replacements' /v "$face" /d "WenQuanYi Micro Hei" /f \
    >/dev/null 2>&1
done
# Wine draws the caption buttons (the close box's cross) with its Marlett
# font; this Wine does not search its own font folder, so without a copy in
# the prefix the buttons show plain letters.
wine_fonts=$(dirname "$(readlink -f "$(command -v wine)")")/../share/wine/fonts
for fonts in "$wine_fonts" /usr/share/wine/fonts; do
  if [ -f "$fonts/marlett.ttf" ]; then
    cp -f "$fonts/marlett.ttf" "$WINEPREFIX/drive_c/windows/Fonts/"
    break
  fi
done
[ -f "$WINEPREFIX/drive_c/windows/Fonts/marlett.ttf" ] ||
  echo "    Wine's marlett.ttf not found (package fonts-wine): caption buttons show letters"
wine "$DRIVER" "$(win_path "$WORK/Update-interactive.exe")" "$(win_path "$WORK/ready.txt")" \
  "$(win_path "$WORK/done.txt")" "$(win_path "$WORK/report.txt")" >/dev/null 2>&1 &
driver=$!
for _ in $(seq 600); do [ -f "$WORK/ready.txt" ] && break; sleep 0.5; done
if [ -f "$WORK/ready.txt" ]; then
  mkdir -p "$(dirname "$SCREENSHOT")"
  dialog=$(xwininfo -root -tree | awk '/Orvenna/ {print $1; exit}')
  if [ -n "$dialog" ]; then
    import -window "$dialog" "$SCREENSHOT"
  else
    # The dialog is centred on the screen.
    import -window root -gravity center -crop 620x180+0+0 +repage "$SCREENSHOT"
  fi
  echo "    saved $SCREENSHOT"
else
  echo "    the dialog did not reach a run in progress; no screenshot"
fi
touch "$WORK/done.txt"
wait "$driver" || true
wine reg delete "$UNINSTALL_KEY" /f >/dev/null 2>&1 || true
[ -f "$WORK/report.txt" ] && iconv -f GBK -t UTF-8 "$WORK/report.txt" | tr -d '\r' | sed 's/^/    /'
echo "    GameVersion after the interactive run = $(ini_value "$GAME/Config/Client.ini" GameVersion)"
