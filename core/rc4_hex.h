// The hex cipher of the settings files and of the values left for the boot
// environment: RC4 through CryptoAPI under a key derived from the MD5 of a
// password, written as upper-case hexadecimal digits. The boot environment
// reads these values, so neither the derivation nor the text form may change.
#pragma once

#include <windows.h>

#include "winlib/strings.h"

// The cipher-result text followed by two upper-case hex digits per byte of
// the RC4 cipher text of `plain`'s ANSI bytes; the fixed text alone when a
// CryptoAPI step fails.
CString EncryptToHex(const wchar_t* plain, const wchar_t* password);
// The text whose cipher text `hex` holds (either case; other characters are
// skipped, an unpaired last digit is dropped), cut at its first zero byte;
// the decipher-result text when a CryptoAPI step fails.
CString DecryptFromHex(const wchar_t* hex, const wchar_t* password);

// Copies `input` into `buffer` and enciphers it in place. `*length` gives the
// buffer's size on entry and the cipher text's length on return. Nonzero on
// success; a failing step is reported on the debugger output.
BOOL EncryptBuffer(BYTE* buffer, DWORD* length, const BYTE* input, DWORD inputLength, const BYTE* password,
                   DWORD passwordLength);
// Copies `input` into `buffer` (at least inputLength bytes) and deciphers it
// in place; `*length` receives the plain length.
BOOL DecryptBuffer(BYTE* buffer, DWORD* length, const BYTE* input, DWORD inputLength, const BYTE* password,
                   DWORD passwordLength);

// Turns the hex digits of a zero-terminated text into bytes, skipping every
// other character, and writes a zero byte after the last complete one (so
// `output` needs strlen(text) / 2 + 1 bytes). Returns the number of complete
// bytes plus one.
int HexToBytes(const char* text, BYTE* output);

// Writes "caption, step, system text of code" to the debugger output.
void ReportLastError(const wchar_t* caption, const wchar_t* step, DWORD code);
