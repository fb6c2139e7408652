// The selected boot environment moved, for one test, to a path the boot
// setup refuses to split: a folder part of 256 characters in a path of 259
// characters on the given drive. The file exists; the record and the file
// are put back when the object goes.
#pragma once

#include <windows.h>

#include <string>

#include "core/catalogue.h"
#include "support/test_files.h"

class UnsplittableBootFile {
public:
    UnsplittableBootFile(COnlinefileinfo& record, const CString& drive, const std::string& content)
        : m_record(record), m_folder(record.m_localFolder), m_name(record.m_fileName),
          m_longFolder(drive + L"\\" + CString(L'k', 254)), m_path(m_longFolder + L"\\p") {
        CreateDirectoryW(m_longFolder, nullptr);
        m_made = m_path.GetLength() == 259 && WriteWholeFile((const wchar_t*)m_path, content);
        m_record.m_localFolder = m_longFolder;
        m_record.m_fileName = L"p";
    }
    ~UnsplittableBootFile() {
        m_record.m_localFolder = m_folder;
        m_record.m_fileName = m_name;
        DeleteFileW(m_path);
        RemoveDirectoryW(m_longFolder);
    }
    UnsplittableBootFile(const UnsplittableBootFile&) = delete;
    UnsplittableBootFile& operator=(const UnsplittableBootFile&) = delete;
    bool Made() const { return m_made; }

private:
    COnlinefileinfo& m_record;
    const CString m_folder, m_name, m_longFolder, m_path;
    bool m_made = false;
};
