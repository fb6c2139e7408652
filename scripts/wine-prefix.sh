#!/usr/bin/env bash
# Creates the private Wine prefix of the tests on first use, without the Mono
# and Gecko installers, and maps the UI's Chinese font names to a font that
# is installed here so that Chinese text does not render as boxes.
#
# The prefix's architecture is WINEARCH's (win32 when unset: 32-bit Windows;
# win64: 64-bit Windows, on which our 32-bit programs run under WoW64). The
# stamp records it: a prefix of the other architecture, or one from before
# the stamp said, is made anew.
set -euo pipefail
prefix="$1"
export WINEARCH="${WINEARCH:-win32}"
case "$WINEARCH" in
  win32|win64) ;;
  *) echo "WINEARCH must be win32 or win64, not '$WINEARCH'"; exit 2 ;;
esac
export WINEPREFIX="$prefix"
export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-mscoree,mshtml=}"
stamp="$prefix/.kavetta-prefix-3"

# Wine links the user's shell folders (Desktop, Documents, Downloads, ...) to
# the host's home folders. The program writes backups and shortcuts there,
# so in our prefix they are plain folders inside the prefix, never the host's.
own_shell_folders() {
  local link
  for link in "$prefix"/drive_c/users/*/*; do
    if [ -L "$link" ]; then
      rm -f "$link"
      mkdir -p "$link"
    fi
  done
}

# The architecture Wine wrote into the prefix when it made it.
made_as=$(sed -n 's/^#arch=//p' "$prefix/system.reg" 2>/dev/null | head -n 1 || true)
# A complete prefix of the stamp before this one: it was made 32-bit.
if [ -f "$prefix/.kavetta-prefix-2" ] && [ ! -f "$stamp" ] && [ "${made_as:-win32}" = "$WINEARCH" ]; then
  echo "arch=$WINEARCH" >"$stamp"
fi
if [ -f "$stamp" ] && [ "$(cat "$stamp")" = "arch=$WINEARCH" ] && [ "${made_as:-$WINEARCH}" = "$WINEARCH" ]; then
  own_shell_folders
  "$(dirname "$0")/wine-wow64-view.sh" "$prefix"
  exit 0
fi
if [ -d "$prefix/dosdevices" ] || [ -f "$prefix/system.reg" ] || [ -f "$prefix/.kavetta-prefix-2" ]; then
  # A prefix of the other architecture, or one left half made: made anew.
  echo "Wine prefix $prefix is not a complete $WINEARCH prefix of ours: making it anew"
  wineserver -k >/dev/null 2>&1 || true
  rm -rf "$prefix"
fi
mkdir -p "$(dirname "$prefix")"

wineboot -i >/dev/null 2>&1 || true
wineserver -w
# 64-bit Windows as our 32-bit programs see it (a 32-bit prefix stays as it is).
"$(dirname "$0")/wine-wow64-view.sh" "$prefix"

reg="$prefix/kavetta-fonts.reg"
# regedit reads UTF-16LE with a byte-order mark; an ANSI file garbles the names.
{
  printf 'Windows Registry Editor Version 5.00\r\n\r\n'
  printf '[HKEY_CURRENT_USER\\Software\\Wine\\Fonts\\Replacements]\r\n'
  for face in "微软雅黑" "Microsoft YaHei" "宋体" "SimSun" "新宋体" "NSimSun" "黑体" "SimHei"; do
    printf '"%s"="WenQuanYi Micro Hei"\r\n' "$face"
  done
  printf '\r\n'
  # There is no window manager on the test display: without this, Wine waits
  # two seconds for one whenever a top-level window is hidden.
  printf '[HKEY_CURRENT_USER\\Software\\Wine\\X11 Driver]\r\n"Managed"="N"\r\n\r\n'
} | iconv -f UTF-8 -t UTF-16LE | { printf '\xff\xfe'; cat; } >"$reg"
wine regedit /S "$(winepath -w "$reg")" >/dev/null 2>&1
wineserver -w
own_shell_folders
echo "arch=$WINEARCH" >"$stamp"
