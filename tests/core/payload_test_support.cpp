#include "payload_test_support.h"

#include <stdlib.h>
#include <string.h>

#include "core_test_support.h"
#include "utils_test_support.h"

CString PayloadFixture(const wchar_t* name) { return FixtureFolder() + L"\\payloads\\" + name; }

CString ProgramPath() { return TestProgramFolder() + L"\\kavetta.exe"; }

ProgramModule::ProgramModule() : m_module(LoadLibraryExW(ProgramPath(), nullptr, LOAD_LIBRARY_AS_DATAFILE)) {}

ProgramModule::~ProgramModule() {
    if (m_module) FreeLibrary(m_module);
}

void TestXteaEncipher(const uint32_t key[4], uint8_t block[8]) {
    uint32_t v0, v1;
    memcpy(&v0, block, 4);  // i686 is little-endian
    memcpy(&v1, block + 4, 4);
    uint32_t sum = 0;
    for (int round = 0; round < 32; ++round) {
        v0 += (((v1 << 4) ^ (v1 >> 5)) + v1) ^ (sum + key[sum & 3]);
        sum += 0x9E3779B9u;
        v1 += (((v0 << 4) ^ (v0 >> 5)) + v0) ^ (sum + key[(sum >> 11) & 3]);
    }
    memcpy(block, &v0, 4);
    memcpy(block + 4, &v1, 4);
}

std::string TestEncipher(const std::string& plain, const uint8_t key[16]) {
    uint32_t words[4];
    memcpy(words, key, 16);
    std::string out = plain;
    out.append((8 - out.size() % 8) % 8, '\0');
    for (size_t at = 0; at < out.size(); at += 8) TestXteaEncipher(words, reinterpret_cast<uint8_t*>(&out[at]));
    return out;
}

BYTE* MallocCopy(const std::string& bytes) {
    BYTE* p = static_cast<BYTE*>(malloc(bytes.size() + 1));
    memcpy(p, bytes.data(), bytes.size());
    return p;
}

ULONGLONG LastWriteTime(const CString& path) {
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExW(path, GetFileExInfoStandard, &data)) return 0;
    return ((ULONGLONG)data.ftLastWriteTime.dwHighDateTime << 32) | data.ftLastWriteTime.dwLowDateTime;
}

bool IsFolder(const CString& path) {
    DWORD a = GetFileAttributesW(path);
    return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY);
}

std::vector<std::wstring> FolderEntries(const CString& folder) {
    std::vector<std::wstring> names;
    WIN32_FIND_DATAW fd;
    HANDLE h = FindFirstFileW(folder + L"\\*", &fd);
    if (h == INVALID_HANDLE_VALUE) return names;
    do {
        if (wcscmp(fd.cFileName, L".") && wcscmp(fd.cFileName, L"..")) names.push_back(fd.cFileName);
    } while (FindNextFileW(h, &fd));
    FindClose(h);
    return names;
}
