// Text, size and version utilities: random names, version texts, size and
// duration texts, splitting, UTF-8 decoding and text-encoding probes.
#pragma once

#include <windows.h>

#include "winlib/collections.h"
#include "winlib/strings.h"

// Text <-> bytes in the calling thread's ANSI code page (CP_THREAD_ACP), the
// code page of the INI, cipher and digest texts. No terminator is counted.
CStringA WideToThreadAnsi(const wchar_t* text);
CString ThreadAnsiToWide(const char* bytes, int length = -1);

// Ten random letters of either case and digits, then a terminator, into a
// buffer of at least 11 characters. The generator is seeded once per process
// from the system's random source, so every call gives a new name, on any
// thread.
void MakeRandomName(wchar_t* buffer);

// Four-part dotted versions ("1.2.3.4"; missing parts count as 0): 1 when the
// first is newer, -1 when the second is, 0 when equal, -2 when either is null.
int CompareVersions(const wchar_t* first, const wchar_t* second);

// The product version of a file's version resource as "a.b.c.d"; the
// no-version text for a missing path or a folder, the no-version-resource text
// for a file without a readable version resource.
CString GetFileVersionText(const wchar_t* path);

// Size texts. FormatSizeText: steps of 1024 while above 1023, the value with
// two decimals. FormatByteSize (the disk list's): steps of 1000 while above
// 999, whole numbers, rounded up to GB and down from TB on.
CString FormatSizeText(ULONGLONG count);
CString FormatByteSize(ULONGLONG count);
// Hours, minutes and seconds of `seconds` modulo one day.
CString FormatDuration(DWORD seconds);

// Tokens of `text` separated by any run of the characters of `delimiters`
// (no empty tokens). The array is emptied first.
void SplitString(const CString& text, const wchar_t* delimiters, CStringArray& tokens);
// Fields of `text` between single `delimiter` characters: empty fields
// between two delimiters or before a leading one stay, a trailing delimiter
// adds none. The array is emptied first.
void SplitAtChar(const CString& text, wchar_t delimiter, CStringArray& fields);

// Strict UTF-8 decoding (no overlong forms, nothing above U+10FFFF) into at
// most `capacity` units; stops early, without error, when the next character
// does not fit. The number of units written, or -1 at the first invalid byte.
int Utf8ToWide(const char* input, int count, wchar_t* output, int capacity);
// A narrow text decoded as UTF-8; when it is not valid UTF-8 (or empty), read
// in the thread's ANSI code page instead.
CString Utf8ToWideText(const char* text);

enum TextEncoding {
    kTextCannotOpen = -1,
    kTextAnsi = 1,
    kTextUtf16Le = 2,
    kTextUtf16Be = 3,
    kTextUtf8Bom = 4,
    kTextUtf8 = 5,
};
// The encoding of a text file judged from its first 500 bytes.
int DetectTextEncoding(const wchar_t* path);
// Nonzero when the bytes are UTF-8 and hold at least one non-ASCII byte. With
// `mayEndCut`, a multi-byte sequence left open by the last byte is accepted
// (the bytes are a window cut out of a longer text).
BOOL IsUtf8Text(const BYTE* bytes, int count, BOOL mayEndCut = FALSE);
