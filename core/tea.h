// The TEA-family decipher of the built-in mirror entry: a text of decimal
// 32-bit words separated by commas, deciphered (XXTEA by default) under the
// MD5 of a passphrase, one UTF-16 code unit per word.
#pragma once

#include <windows.h>

#include <vector>

#include "winlib/strings.h"

class TeaDecipher {
public:
    enum { kModeTea = 0, kModeXtea = 1, kModeXxtea = 2 };

    // The key is the raw MD5 of the passphrase's ANSI bytes; mode XXTEA.
    explicit TeaDecipher(const CString& passphrase);

    // Replaces the word list by the words of `text`. Parsing ends at the first
    // empty field, at a field without leading digits or with the value 0, and
    // at a value of 4294967295 or more; the words before it stay. An empty
    // text leaves an empty list.
    void Parse(const CString& text);
    // Empties `output`, deciphers the word list in place and appends one code
    // unit per word (modes 0 and 1: per word pair), the low 16 bits of the
    // deciphered word. Returns the number of words; 0 at once for none.
    int Decipher(CString& output);
    // XXTEA decryption of the whole word list in place.
    void XxteaDecipher();

    int m_mode;
    UINT32 m_delta;
    BYTE m_key[16];
    std::vector<UINT32> m_words;

private:
    UINT32 KeyWord(unsigned j) const;
    void TeaDecipherPair(UINT32& v0, UINT32& v1) const;
    void XteaDecipherPair(UINT32& v0, UINT32& v1) const;
};

// The field `index` (from 0) of `text` between `separator` characters; empty
// beyond the last field.
CString ExtractSubstring(const CString& text, int index, wchar_t separator);
