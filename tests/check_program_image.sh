#!/bin/sh
# Checks that the built program is a 32-bit i686 GUI program whose imports are
# DLLs that every Windows has, and that it ships without debug sections or a
# symbol table (those are kept in "<image>.debug" beside it). With a second
# argument "dll" the image is a DLL, and the subsystem is not checked.
set -eu
# objdump's words are read below: in its own language, whatever the host's locale.
export LC_ALL=C
exe="$1"
dump=$(i686-w64-mingw32-objdump -p "$exe")
echo "$dump" | grep -q 'file format pei-i386' || { echo "not a PE32 i386 image: $exe"; exit 1; }
if [ "${2:-}" = dll ]; then
  echo "$dump" | grep -q 'DLL' || { echo "not a DLL: $exe"; exit 1; }
else
  echo "$dump" | grep -Eq 'Subsystem[[:space:]]+0*2[[:space:]]' || { echo "not a GUI program (subsystem 2)"; exit 1; }
fi
sections=$(i686-w64-mingw32-objdump -h "$exe" | awk '$1 ~ /^[0-9]+$/ {print $2}')
debug=$(echo "$sections" | grep -E '^\.(debug|zdebug)' || true)
if [ -n "$debug" ]; then
  echo "carries debug sections:"; echo "$debug"; exit 1
fi
echo "$dump" | grep -q 'symbols stripped' || { echo "carries a symbol table"; exit 1; }
echo "$sections" | grep -qx '\.gnu_debuglink' || { echo "no link to its debug file"; exit 1; }
[ -s "$exe.debug" ] || { echo "no debug file beside it: $exe.debug"; exit 1; }
allowed='^(kernel32|user32|gdi32|gdiplus|advapi32|shell32|shlwapi|ole32|oleaut32|comctl32|comdlg32|crypt32|bcrypt|ws2_32|wininet|setupapi|wbemuuid|version|msvcrt|uuid|rpcrt4|winmm|imm32|cfgmgr32|iphlpapi|secur32|normaliz|wldap32|userenv|winspool)\.dll$'
imports=$(echo "$dump" | sed -n 's/^[[:space:]]*DLL Name: //p' | tr 'A-Z' 'a-z')
[ -n "$imports" ] || { echo "no imports found"; exit 1; }
bad=$(echo "$imports" | grep -Ev "$allowed" || true)
if [ -n "$bad" ]; then
  echo "imports DLLs that are not part of Windows:"; echo "$bad"; exit 1
fi
# A program runs elevated from folders its users can write, and Windows looks
# for a DLL it imports beside it first, before any code of ours can restrict
# the search, unless the DLL is one of Windows' known DLLs (those in the
# KnownDLLs list of both Windows 7 and Windows 10 and later, which the
# loader always takes from the system folder). Every other system DLL is
# imported delay-loaded (cmake/delay_imports.cmake).
if [ "${2:-}" != dll ]; then
  known='^(kernel32|user32|gdi32|advapi32|shell32|shlwapi|ole32|oleaut32|comdlg32|msvcrt|ws2_32|setupapi|imm32|rpcrt4|normaliz|wldap32|psapi|imagehlp|msctf|nsi|sechost|clbcatq|difxapi)\.dll$'
  unknown=$(echo "$imports" | grep -Ev "$known" || true)
  if [ -n "$unknown" ]; then
    echo "imports DLLs statically that are not known DLLs (Windows would look for them beside the program):"
    echo "$unknown"; exit 1
  fi
fi
# The program runs elevated: what it opens for the user (web pages) goes
# through the desktop's shell, as the user signed in. A command line run by
# WinExec would start with the administrator's rights.
if [ "${2:-}" != dll ] && echo "$dump" | grep -Eq '[[:space:]]WinExec$'; then
  echo "imports WinExec: a program it starts that way runs with its own (administrator's) rights"; exit 1
fi
echo "PE32 i686 image without debug sections ($(stat -c %s "$exe") bytes); imports: $(echo $imports)"
