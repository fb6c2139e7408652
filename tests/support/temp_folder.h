// A fresh folder under the temporary folder for one test; removed with
// everything in it when the object goes away.
#pragma once

#include <windows.h>

#include <string>

#include "support/test_files.h"

class TempFolder {
public:
    // Under the temporary folder; beside the test program when that folder
    // is missing (a test may have pointed TEMP elsewhere).
    TempFolder() {
        wchar_t temp[MAX_PATH + 1] = {};
        GetTempPathW(MAX_PATH, temp);
        std::wstring program = TestProgramDirectory() + L"\\";
        for (const std::wstring& base : {std::wstring(temp), program}) {
            for (int attempt = 0; attempt < 100 && m_path.empty(); ++attempt) {
                std::wstring candidate = base + L"kvt-test-" + std::to_wstring(GetCurrentProcessId()) + L"-" +
                                         std::to_wstring(GetTickCount()) + L"-" + std::to_wstring(attempt);
                if (CreateDirectoryW(candidate.c_str(), nullptr)) m_path = candidate;
            }
        }
    }
    ~TempFolder() {
        if (!m_path.empty()) RemoveTree(m_path);
    }
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;

    const std::wstring& Path() const { return m_path; }
    std::wstring File(const std::wstring& name) const { return m_path + L"\\" + name; }

    // Writes bytes into a file of the folder and returns its path.
    std::wstring Write(const std::wstring& name, const std::string& bytes) const {
        std::wstring path = File(name);
        HANDLE h = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
        DWORD written = 0;
        if (h != INVALID_HANDLE_VALUE) {
            WriteFile(h, bytes.data(), (DWORD)bytes.size(), &written, nullptr);
            CloseHandle(h);
        }
        return path;
    }
    // The bytes of a file, or "<missing>" when it cannot be opened.
    static std::string Read(const std::wstring& path) {
        // Shares deleting too: the program holds the files it accepted so.
        HANDLE h = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                               nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (h == INVALID_HANDLE_VALUE) return "<missing>";
        std::string bytes;
        char chunk[65536];
        DWORD n = 0;
        while (ReadFile(h, chunk, sizeof(chunk), &n, nullptr) && n > 0) bytes.append(chunk, n);
        CloseHandle(h);
        return bytes;
    }
    static bool Exists(const std::wstring& path) { return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

    // The number of entries in the folder (without "." and "..").
    size_t Count() const {
        WIN32_FIND_DATAW data;
        HANDLE find = FindFirstFileW((m_path + L"\\*").c_str(), &data);
        if (find == INVALID_HANDLE_VALUE) return 0;
        size_t n = 0;
        do {
            std::wstring name = data.cFileName;
            if (name != L"." && name != L"..") ++n;
        } while (FindNextFileW(find, &data));
        FindClose(find);
        return n;
    }

private:
    std::wstring m_path;
};
