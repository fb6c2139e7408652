// An INI settings file through the Windows private-profile calls, with three
// modes: plain; enciphered (section names, keys and values stored as
// EncryptToHex text under a password); UTF-8 (string values read through the
// file's text decoded as UTF-8, whatever the ANSI code page).
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "winlib/strings.h"

class CIni {
public:
    // An empty path names "<program folder>\<program name>.ini"; a path
    // without a drive is taken below the program's folder.
    explicit CIni(const wchar_t* path);
    virtual ~CIni();

    // In enciphered mode the name is enciphered now, so call SetPassword first.
    void SetSection(const wchar_t* name);
    // A non-empty text switches to the enciphered mode for good.
    void SetPassword(const wchar_t* text);

    // The value of a key of the current section, or the default when it is
    // missing (in enciphered mode also when it does not decipher). At most
    // 1023 characters (UTF-8 mode: 1023 bytes) come back.
    CString GetString(const wchar_t* key, const wchar_t* defaultValue);
    // The leading decimal digits of the value (0 for a non-numeric or empty
    // value), or the default when the key is missing. Always read through
    // the wide call.
    int GetInt(const wchar_t* key, int defaultValue);
    // Writes key and value as given, also in enciphered mode: encipher them
    // first where that is wanted. The result of WritePrivateProfileStringW.
    BOOL WriteString(const wchar_t* key, const wchar_t* value);

    // The raw reads behind GetString and GetInt. ReadWideValue also leaves
    // the value in m_valueBuffer. A null default reads as a placeholder text.
    // In UTF-8 mode both read the file's text decoded as UTF-8, from memory
    // (never through a copy on disk), so that what a UTF-8 file means does
    // not depend on the ANSI code page; ReadUtf8Value's default is never
    // converted to it.
    CString ReadWideValue(const wchar_t* key, const wchar_t* defaultValue);
    CString ReadUtf8Value(const wchar_t* key, const wchar_t* defaultValue);

    BYTE m_fromProgramFolder;
    wchar_t m_valueBuffer[1024];
    CString m_path;
    CString m_section;
    CString m_password;
    int m_encrypted;
    int m_utf8;

private:
    CIni(const CIni&) = delete;
    CIni& operator=(const CIni&) = delete;

    // A profile file's sections, keys and values, as the profile calls see them.
    struct ProfileText {
        struct Entry {
            std::wstring name, value;
            bool hasValue = false;
        };
        struct Section {
            std::wstring name;
            std::vector<Entry> entries;
        };
        std::vector<Section> sections;
        void Parse(const CString& text);
        const std::wstring* Find(const wchar_t* section, const wchar_t* key) const;
    };
    // In UTF-8 mode: the file's text, decoded into m_text (again when the
    // file changed; empty when it is missing). False when the reads go to the
    // file itself: not in UTF-8 mode, or the file cannot be read whole.
    bool LoadText();
    // The value as the profile call gives it, from m_text; `fallback` when
    // the key is missing.
    CString ReadFromText(const wchar_t* key, const wchar_t* fallback);

    ProfileText m_text;
    bool m_textLoaded = false;
    FILETIME m_loadedWriteTime = {};
    ULONGLONG m_loadedSize = 0;

    // A value read from the stored (enciphered) key, deciphered; empty when
    // missing or not decipherable.
    CString ReadEnciphered(const wchar_t* key, bool allowUtf8);
};

// Completes a path that has no drive: below the program's folder when
// `fromProgramFolder` is set, else below the current folder. A path with a
// drive, or a network path, stays as it is.
void MakeAbsoluteIniPath(CString& path, BOOL fromProgramFolder);
