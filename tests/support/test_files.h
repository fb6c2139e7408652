// File helpers for tests: private temporary folders and whole-file reads and writes.
#pragma once

#include <windows.h>

#include <string>

// A new, empty folder under the temporary folder, unique to this process and call.
std::wstring MakeTempFolder(const wchar_t* tag);
// Deletes a folder and everything below it (read-only files included).
void RemoveTree(const std::wstring& folder);
std::string ReadWholeFile(const std::wstring& path);
bool WriteWholeFile(const std::wstring& path, const std::string& data);
bool FileExists(const std::wstring& path);
// The folder of the running test program.
std::wstring TestProgramDirectory();
// UTF-8 of a wide text, for gtest messages and comparisons with file contents.
std::string Utf8Of(const std::wstring& text);
