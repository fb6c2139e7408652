#include "core/ini.h"

#include <shlwapi.h>
#include <stdlib.h>

#include <algorithm>
#include <string>

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

// A profile file larger than this is not read into memory (read as it stands).
const ULONGLONG kCopyLimit = 64ull * 1024 * 1024;

// The whole file, or false.
bool ReadFileBytes(const wchar_t* path, ULONGLONG size, std::string& bytes) {
    if (size > kCopyLimit) return false;
    HANDLE file = CreateFileW(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    bytes.assign((size_t)size, '\0');
    DWORD done = 0;
    bool ok = size == 0 || (ReadFile(file, &bytes[0], (DWORD)size, &done, nullptr) && done == size);
    CloseHandle(file);
    return ok;
}

// The text of UTF-8 bytes (a byte-order mark dropped); bytes that are not
// valid UTF-8 are read in the thread's ANSI code page instead.
CString DecodeUtf8File(const std::string& bytes) {
    size_t start = bytes.compare(0, 3, "\xEF\xBB\xBF") == 0 ? 3 : 0;
    const char* text = bytes.data() + start;
    int count = (int)(bytes.size() - start);
    if (count == 0) return CString();
    int units = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text, count, nullptr, 0);
    if (units <= 0) return ThreadAnsiToWide(text, count);
    CString wide;
    wchar_t* out = wide.GetBuffer(units);
    MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text, count, out, units);
    wide.ReleaseBuffer(units);
    return wide;
}

bool IsProfileSpace(wchar_t c) { return c == L' ' || (c >= L'\t' && c <= L'\r'); }

// [begin, end) without the blanks at both ends.
void TrimProfileSpace(const wchar_t*& begin, const wchar_t*& end) {
    while (begin < end && IsProfileSpace(*begin)) ++begin;
    while (end > begin && IsProfileSpace(end[-1])) --end;
}

bool SameProfileName(const std::wstring& stored, const wchar_t* wanted) {
    const wchar_t* end = wanted + wcslen(wanted);
    TrimProfileSpace(wanted, end);
    return CompareStringOrdinal(stored.c_str(), (int)stored.size(), wanted, (int)(end - wanted), TRUE) == CSTR_EQUAL;
}

}  // namespace

// The sections of a profile text as the profile calls read a file: lines
// end at LF or CR, blanks around a line, a section name, a key and a value
// do not count, a section line is "[" up to the last "]", a line without "=" is a key
// without a value, and keys before the first section belong to a nameless
// one.
void CIni::ProfileText::Parse(const CString& text) {
    sections.clear();
    sections.emplace_back();
    const wchar_t* at = text.GetString();
    const wchar_t* const stop = at + text.GetLength();
    while (at < stop) {
        const wchar_t* end = at;
        while (end < stop && *end != L'\n' && *end != L'\r' && *end != 0) ++end;
        const wchar_t* next = end < stop ? end + 1 : end;
        const wchar_t* begin = at;
        at = next;
        TrimProfileSpace(begin, end);
        if (begin == end) continue;
        if (*begin == L'[') {
            const wchar_t* close = end;
            while (close > begin && close[-1] != L']') --close;
            if (close > begin + 1) {
                const wchar_t* nameBegin = begin + 1;
                const wchar_t* nameEnd = close - 1;
                TrimProfileSpace(nameBegin, nameEnd);
                sections.emplace_back();
                sections.back().name.assign(nameBegin, nameEnd);
                continue;
            }
        }
        Entry entry;
        const wchar_t* equals = std::find(begin, end, L'=');
        if (equals == end) {
            entry.name.assign(begin, end);
        } else {
            const wchar_t* nameEnd = equals;
            const wchar_t* valueBegin = equals + 1;
            TrimProfileSpace(begin, nameEnd);
            TrimProfileSpace(valueBegin, end);
            entry.name.assign(begin, nameEnd);
            entry.value.assign(valueBegin, end);
            entry.hasValue = true;
        }
        sections.back().entries.push_back(entry);
    }
}

// As the profile call answers: the first section of the name, its first
// key of the name; a value in matching quotes loses them; at most 1023
// characters. Null when the key is missing or has no value.
const std::wstring* CIni::ProfileText::Find(const wchar_t* section, const wchar_t* key) const {
    for (const Section& s : sections) {
        if (!SameProfileName(s.name, section)) continue;
        for (const Entry& e : s.entries)
            if (SameProfileName(e.name, key)) return e.hasValue ? &e.value : nullptr;
        return nullptr;  // only the first section of the name counts
    }
    return nullptr;
}

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

// The ANSI profile call hands a UTF-8 file over in the ANSI code page's
// reading of it: under a double-byte code page such as 936, a UTF-8 byte
// that is a lead byte there can take the line end with it, so a value takes
// the next line and keys vanish. So the file's text is decoded as UTF-8 and
// read here, from memory, the same under every code page. Never through a
// copy on disk: whoever can write where the copy lies could change the
// configuration between two reads.
bool CIni::LoadText() {
    if (!m_utf8) return false;
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExW(m_path, GetFileExInfoStandard, &data) ||
        (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
        m_text.sections.clear();  // a missing file: every read gives its default
        m_textLoaded = false;
        return true;
    }
    ULONGLONG size = ((ULONGLONG)data.nFileSizeHigh << 32) | data.nFileSizeLow;
    if (m_textLoaded && size == m_loadedSize && CompareFileTime(&data.ftLastWriteTime, &m_loadedWriteTime) == 0)
        return true;
    m_textLoaded = false;
    std::string bytes;
    if (!ReadFileBytes(m_path, size, bytes)) return false;
    m_text.Parse(DecodeUtf8File(bytes));
    m_textLoaded = true;
    m_loadedSize = size;
    m_loadedWriteTime = data.ftLastWriteTime;
    return true;
}

CString CIni::ReadFromText(const wchar_t* key, const wchar_t* fallback) {
    const std::wstring* stored = m_text.Find(m_section, key);
    std::wstring value;
    if (stored) {
        value = *stored;
        if (value.size() >= 2 && (value[0] == L'"' || value[0] == L'\'') && value.back() == value[0])
            value = value.substr(1, value.size() - 2);
    } else {
        value = fallback;
        while (!value.empty() && value.back() == L' ') value.pop_back();  // as the profile call trims a default
    }
    if (value.size() > (size_t)kValueCapacity - 1) value.resize(kValueCapacity - 1);
    return CString(value.c_str());
}

void CIni::SetSection(const wchar_t* name) {
    m_section = m_encrypted ? EncryptToHex(name, m_password) : CString(name);
}

void CIni::SetPassword(const wchar_t* text) {
    if (!text || !*text) return;
    m_password = text;
    m_encrypted = 1;
}

CString CIni::ReadWideValue(const wchar_t* key, const wchar_t* defaultValue) {
    const wchar_t* fallback = defaultValue ? defaultValue : FixedText::kIniPlaceholderDefault;
    wchar_t value[kValueCapacity] = {};
    if (LoadText()) lstrcpynW(value, ReadFromText(key, fallback), kValueCapacity);
    else GetPrivateProfileStringW(m_section, key, fallback, value, kValueCapacity, m_path);
    value[kValueCapacity - 1] = 0;
    memcpy(m_valueBuffer, value, sizeof m_valueBuffer);
    return CString(value);
}

CString CIni::ReadUtf8Value(const wchar_t* key, const wchar_t* defaultValue) {
    const wchar_t* fallback = defaultValue ? defaultValue : FixedText::kIniPlaceholderDefault;
    if (LoadText()) return ReadFromText(key, fallback);
    // The file could not be read whole: its bytes through the ANSI call. The
    // default is given back after the read, so that it never passes through
    // the ANSI code page (which may not hold its characters).
    CStringA narrowPath = WideToThreadAnsi(m_path);
    CStringA narrowKey = WideToThreadAnsi(key);
    CStringA section = WideToThreadAnsi(m_section);
    CStringA placeholder = WideToThreadAnsi(FixedText::kIniPlaceholderDefault);
    char value[kValueCapacity] = {};
    DWORD length = GetPrivateProfileStringA(section, narrowKey, placeholder, value, kValueCapacity, narrowPath);
    value[kValueCapacity - 1] = 0;
    if (placeholder == value) return CString(fallback);
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
    m_textLoaded = false;  // read again, even where the file's time does not move
    return WritePrivateProfileStringW(m_section, key, value, m_path);
}
