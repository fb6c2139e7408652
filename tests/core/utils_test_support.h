// Helpers of the digest, cipher, utility and INI tests.
#pragma once

#include <windows.h>

#include <string>

#include "winlib/strings.h"

// A fresh folder under the temporary folder, removed with everything in it
// when the object ends. `name` should be unique to the test.
class ScratchFolder {
public:
    explicit ScratchFolder(const wchar_t* name);
    ~ScratchFolder();
    const CString& Path() const { return m_path; }
    // Path() + "\" + relative.
    CString operator/(const wchar_t* relative) const;

private:
    CString m_path;
};

// Writes bytes to a file (created or truncated); true on success.
bool WriteBytes(const CString& path, const std::string& bytes);
// The whole file, or an empty text when it cannot be read.
std::string ReadBytes(const CString& path);
// The folder of the fixtures made by the build (beside the test program).
CString FixtureFolder();
// The lower-case digest that the host md5sum gave for a fixture file.
std::string HostMd5Of(const char* fixtureName);
// Narrow text of a CString (UTF-8), for gtest messages and comparisons.
std::string Narrow(const CString& text);
