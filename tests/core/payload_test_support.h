// Helpers of the payload tests: fixture paths, the built program's payloads,
// a test-side XTEA encoder and file facts.
#pragma once

#include <windows.h>

#include <stdint.h>
#include <string>
#include <vector>

#include "winlib/strings.h"

// bin\fixtures\payloads\<name>.
CString PayloadFixture(const wchar_t* name);
// The built program beside the test program.
CString ProgramPath();

// The built program opened as a data file, for its resources.
class ProgramModule {
public:
    ProgramModule();
    ~ProgramModule();
    HMODULE Get() const { return m_module; }

private:
    HMODULE m_module;
};

// XTEA encipher of one block (two little-endian words), written here from
// the published algorithm independently of the product's decipher.
void TestXteaEncipher(const uint32_t key[4], uint8_t block[8]);
// Enciphers bytes (zero-padded to whole blocks) under a 16-byte key.
std::string TestEncipher(const std::string& plain, const uint8_t key[16]);

// A malloc copy of the bytes, for objects that take ownership.
BYTE* MallocCopy(const std::string& bytes);

// The last-write time of a file (zero when it cannot be read).
ULONGLONG LastWriteTime(const CString& path);
// Whether a path exists as a folder.
bool IsFolder(const CString& path);
// The names in a folder (no "." or "..").
std::vector<std::wstring> FolderEntries(const CString& folder);
