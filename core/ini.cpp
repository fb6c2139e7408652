#include "core/ini.h"

#include <shlwapi.h>
#include <stdlib.h>

#include "core/fixed_texts.h"
#include "core/rc4_hex.h"
#include "core/tarvel_app.h"
#include "core/text_utils.h"

namespace {

const int kValueCapacity = 1024;

bool EndsWithSlash(const CString& path) {
    if (path.IsEmpty()) return false;
    wchar_t last = path[path.GetLength() - 1];
    return last == L'\\' || last == L'/';
}

// The running program's folder (with a trailing separator) and its file
// name: the application object's when there is one, else the module's.
// Both empty when the module path cannot be had in 259 characters.
void ProgramFolderAndName(CString& folder, CString& name) {
    folder.Empty();
    name.Empty();
    CTarvelApp* app = GetTarvelApp();
    if (app && !app->m_moduleFolder.IsEmpty()) {
        folder = app->m_moduleFolder;
        name = app->m_moduleFileName;
    } else {
        wchar_t module[MAX_PATH] = {};
        DWORD length = GetModuleFileNameW(nullptr, module, MAX_PATH);
        if (length == 0 || length >= MAX_PATH) return;
        name = PathFindFileNameW(module);
        PathRemoveFileSpecW(module);
        folder = module;
    }
    if (!EndsWithSlash(folder)) folder += FixedText::kPathSeparator;
}

// The base of a relative path, ending with a separator; empty when unknown.
CString IniBaseFolder(BOOL fromProgramFolder) {
    CString base, name;
    if (fromProgramFolder) {
        ProgramFolderAndName(base, name);
        return base;
    }
    wchar_t current[MAX_PATH] = {};
    DWORD length = GetCurrentDirectoryW(MAX_PATH, current);
    if (length == 0 || length >= MAX_PATH) return base;
    base = current;
    base.TrimRight(L"\\/");
    return base + FixedText::kPathSeparator;
}

// How many of `length` bytes remain when a UTF-8 character that the buffer
// cut at its end is dropped.
int WithoutCutCharacter(const char* bytes, int length) {
    for (int back = 1; back <= 3 && back <= length; ++back) {
        unsigned char c = (unsigned char)bytes[length - back];
        if (c < 0x80) return length;  // ASCII: nothing is open
        if (c >= 0xC0) {              // the lead byte of the last character
            int needed = c >= 0xF0 ? 4 : c >= 0xE0 ? 3 : 2;
            return needed > back ? length - back : length;
        }
    }
    return length;
}

}  // namespace

void MakeAbsoluteIniPath(CString& path, BOOL fromProgramFolder) {
    if (path.GetLength() >= 2 && path[1] == L':') return;  // has a drive
    if (PathIsUNCW(path)) return;
    CString base = IniBaseFolder(fromProgramFolder);
    if (!path.IsEmpty() && (path[0] == L'\\' || path[0] == L'/')) {
        // Rooted without a drive: the base's drive.
        path = base.Left(base.GetLength() >= 2 && base[1] == L':' ? 2 : 0) + path;
        return;
    }
    path = base + path;
}

CIni::CIni(const wchar_t* path)
    : m_fromProgramFolder(1),
      m_path(path),
      m_password(FixedText::kIniDefaultPassword),
      m_encrypted(0),
      m_utf8(0) {
    m_valueBuffer[0] = 0;
    if (m_path.IsEmpty()) {
        CString folder, name;
        ProgramFolderAndName(folder, name);
        int dot = name.ReverseFind(L'.');
        if (dot > 0) name = name.Left(dot);
        m_path = folder + name + FixedText::kIniDefaultExtension;
    }
    MakeAbsoluteIniPath(m_path, m_fromProgramFolder);
    m_section = AfxGetAppName();
}

CIni::~CIni() {}

void CIni::SetSection(const wchar_t* name) {
    m_section = m_encrypted ? EncryptToHex(name, m_password) : CString(name);
}

void CIni::SetPassword(const wchar_t* text) {
    if (!text || !*text) return;
    m_password = text;
    m_encrypted = 1;
}

CString CIni::ReadWideValue(const wchar_t* key, const wchar_t* defaultValue) {
    wchar_t value[kValueCapacity] = {};
    GetPrivateProfileStringW(m_section, key, defaultValue ? defaultValue : FixedText::kIniPlaceholderDefault, value,
                             kValueCapacity, m_path);
    value[kValueCapacity - 1] = 0;
    memcpy(m_valueBuffer, value, sizeof m_valueBuffer);
    return CString(value);
}

CString CIni::ReadUtf8Value(const wchar_t* key, const wchar_t* defaultValue) {
    CStringA path = WideToThreadAnsi(m_path);
    CStringA fallback = WideToThreadAnsi(defaultValue ? defaultValue : FixedText::kIniPlaceholderDefault);
    CStringA narrowKey = WideToThreadAnsi(key);
    CStringA section = WideToThreadAnsi(m_section);
    char value[kValueCapacity] = {};
    DWORD length = GetPrivateProfileStringA(section, narrowKey, fallback, value, kValueCapacity, path);
    value[kValueCapacity - 1] = 0;
    // A value cut at the buffer's end may end inside a character; without
    // that piece the rest still decodes as UTF-8 instead of falling back.
    if (length >= (DWORD)kValueCapacity - 1) value[WithoutCutCharacter(value, (int)strlen(value))] = 0;
    return Utf8ToWideText(value);
}

CString CIni::ReadEnciphered(const wchar_t* key, bool allowUtf8) {
    CString storedKey = EncryptToHex(key, m_password);
    CString stored = allowUtf8 && m_utf8 ? ReadUtf8Value(storedKey, FixedText::kIniPlaceholderDefault)
                                         : ReadWideValue(storedKey, FixedText::kIniPlaceholderDefault);
    if (stored.IsEmpty() || stored == FixedText::kIniPlaceholderDefault) return CString();
    return DecryptFromHex(stored, m_password);
}

CString CIni::GetString(const wchar_t* key, const wchar_t* defaultValue) {
    if (!m_encrypted) return m_utf8 ? ReadUtf8Value(key, defaultValue) : ReadWideValue(key, defaultValue);
    CString value = ReadEnciphered(key, true);
    return value.IsEmpty() ? CString(defaultValue) : value;
}

int CIni::GetInt(const wchar_t* key, int defaultValue) {
    if (!m_encrypted) {
        wchar_t text[260];
        _snwprintf(text, 260, FixedText::kIniIntFormat, defaultValue);
        text[259] = 0;
        ReadWideValue(key, text);
        return _wtoi(m_valueBuffer);
    }
    CString value = ReadEnciphered(key, false);
    if (value.IsEmpty()) return defaultValue;
    lstrcpynW(m_valueBuffer, value, kValueCapacity);
    return _wtoi(m_valueBuffer);
}

BOOL CIni::WriteString(const wchar_t* key, const wchar_t* value) {
    return WritePrivateProfileStringW(m_section, key, value, m_path);
}
