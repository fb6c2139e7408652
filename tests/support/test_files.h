// File helpers for tests: private temporary folders and whole-file reads and writes.
#pragma once

#include <windows.h>

#include <functional>
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
// A folder of this test run's own (the test command runs several runs side
// by side on one build, each with its own prefix): the run folder named by
// KAVETTA_TEST_RUN_DIR (a host path), made when missing, or the test
// program's folder when no run names one.
std::wstring TestRunDirectory();
// UTF-8 of a wide text, for gtest messages and comparisons with file contents.
std::string Utf8Of(const std::wstring& text);
// Runs a program (a path, quoted here) with its arguments and waits up to a
// few minutes; the exit code, -1 when it did not start.
int RunAndWait(const std::wstring& program, const std::wstring& arguments);
// Asks `ready` every 50 ms until it answers true or `ms` have passed on the
// clock; its last answer.
bool WaitUntil(const std::function<bool()>& ready, DWORD ms);
// The word size of the Windows this test run is on, as the test command
// states it for each run (KAVETTA_TEST_WINDOWS_BITS: 32, or 64 where our
// 32-bit programs run under WoW64); 0 when no run states it.
int RunWindowsBits();
// Whether the tests run under Wine (for the places where Wine differs from Windows).
bool RunningUnderWine();
