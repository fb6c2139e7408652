// A folder of the test's own in the prefix's desktop, documents and
// favorites, each with a file or two (the desktop's also in a subfolder),
// for the restart worker's user-folder backup to copy.
#pragma once

#include <shlobj.h>

#include <string>

#include "support/test_files.h"

inline std::wstring UserFolder(int csidl) {
    wchar_t path[MAX_PATH] = {};
    return SUCCEEDED(SHGetFolderPathW(nullptr, csidl, nullptr, 0, path)) ? path : L"";
}

struct TestUserFolders {
    // `name` is the test's folder inside each user folder.
    explicit TestUserFolders(const std::wstring& name)
        : desktop(UserFolder(CSIDL_DESKTOPDIRECTORY) + L"\\" + name),
          documents(UserFolder(CSIDL_PERSONAL) + L"\\" + name),
          favorites(UserFolder(CSIDL_FAVORITES) + L"\\" + name) {}
    // Makes the folders afresh with their files; false when a file could not be written.
    bool Make() const {
        for (const std::wstring& folder : {desktop, documents, favorites}) {
            RemoveTree(folder);
            SHCreateDirectoryExW(nullptr, (folder + L"\\子目录").c_str(), nullptr);
        }
        return WriteWholeFile(desktop + L"\\笔记.txt", "desktop note") &&
               WriteWholeFile(desktop + L"\\子目录\\deep.bin", "deep") &&
               WriteWholeFile(documents + L"\\报告.doc", "report") &&
               WriteWholeFile(favorites + L"\\site.url", "[InternetShortcut]");
    }
    void Remove() const {
        for (const std::wstring& folder : {desktop, documents, favorites}) RemoveTree(folder);
    }
    std::wstring desktop, documents, favorites;
};
