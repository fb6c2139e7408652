// File helpers for tests: private temporary folders and whole-file reads and writes.
#pragma once

#include <windows.h>

#include <string>

// A new, empty folder under the temporary folder, unique to this process and call.
std::wstring MakeTempFolder(const wchar_t* tag);
// Deletes a folder and everything below it (read-only files included).
void RemoveTree(const std::wstring& folder);
// Copies a folder's files and subfolders into `to` (made when missing);
// false when anything could not be copied.
bool CopyTree(const std::wstring& from, const std::wstring& to);
std::string ReadWholeFile(const std::wstring& path);
bool WriteWholeFile(const std::wstring& path, const std::string& data);
bool FileExists(const std::wstring& path);
// The folder of the running test program.
std::wstring TestProgramDirectory();
// UTF-8 of a wide text, for gtest messages and comparisons with file contents.
std::string Utf8Of(const std::wstring& text);
// Runs a program (a path, quoted here) with its arguments and waits up to a
// minute; the exit code, -1 when it did not start.
int RunAndWait(const std::wstring& program, const std::wstring& arguments);
// Whether the tests run under Wine (for the places where Wine differs from Windows).
bool RunningUnderWine();
