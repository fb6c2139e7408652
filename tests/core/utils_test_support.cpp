#include "utils_test_support.h"

#include <shellapi.h>

#include <fstream>
#include <sstream>

#include "core_test_support.h"
#include "support/test_files.h"

namespace {

// Removes a tree with the shell's own delete, independent of the code
// under test.
void RemoveTree(const CString& path) {
    if (GetFileAttributesW(path) == INVALID_FILE_ATTRIBUTES) return;
    CString from = path;
    from.AppendChar(L'\0');  // the list ends with a second terminator
    SHFILEOPSTRUCTW op = {};
    op.wFunc = FO_DELETE;
    op.pFrom = from.GetString();
    op.fFlags = FOF_NO_UI;
    SHFileOperationW(&op);
}

// The temporary folder as the process started with it: other tests point
// TMP and TEMP elsewhere for the programs they start.
CString StartTempFolder() {
    wchar_t temp[MAX_PATH] = {};
    GetTempPathW(MAX_PATH, temp);
    return CString(temp);
}
const CString g_startTempFolder = StartTempFolder();

}  // namespace

ScratchFolder::ScratchFolder(const wchar_t* name) {
    m_path.Format(L"%skvt-test-%lu-%s", g_startTempFolder.GetString(), GetCurrentProcessId(), name);
    RemoveTree(m_path);
    CreateDirectoryW(m_path, nullptr);
}

ScratchFolder::~ScratchFolder() { RemoveTree(m_path); }

CString ScratchFolder::operator/(const wchar_t* relative) const { return m_path + L"\\" + relative; }

bool WriteBytes(const CString& path, const std::string& bytes) { return WriteWholeFile(path.GetString(), bytes); }

std::string ReadBytes(const CString& path) { return ReadWholeFile(path.GetString()); }

CString FixtureFolder() { return TestProgramFolder() + L"\\fixtures"; }

std::string HostMd5Of(const char* fixtureName) {
    std::istringstream lines(ReadBytes(FixtureFolder() + L"\\md5sums.txt"));
    std::string digest, name;
    while (lines >> digest >> name)
        if (name == fixtureName) return digest;
    return std::string();
}

std::string Narrow(const CString& text) { return std::string(Utf16ToUtf8(text).GetString()); }
