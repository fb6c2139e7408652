#!/usr/bin/env bash
# Creates the private Wine prefix of the tests on first use, without the Mono
# and Gecko installers, and maps the UI's Chinese font names to a font that
# is installed here so that Chinese text does not render as boxes.
set -euo pipefail
prefix="$1"
export WINEPREFIX="$prefix"
export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-mscoree,mshtml=}"
stamp="$prefix/.kavetta-prefix-2"

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

if [ -f "$stamp" ]; then
  own_shell_folders
  exit 0
fi

wineboot -i >/dev/null 2>&1 || true
wineserver -w

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
touch "$stamp"
