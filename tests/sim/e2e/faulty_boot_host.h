// The scenario's boot host seen through a test's own: it passes every call
// on, notes at each boot-entry tool run whether the page refuses the exit
// then, and can make chosen copies or tool runs fail, as a real machine's
// full or locked boot partition or a refused store command would.
#pragma once

#include <functional>
#include <string>

#include "disk/disk_calls.h"

class FaultyBootHost : public IBootHost {
public:
    FaultyBootHost(IBootHost& inner, std::function<bool()> writesDisk)
        : m_inner(inner), m_writesDisk(std::move(writesDisk)) {}

    // A copy whose destination ends with this text (letter case ignored) fails.
    std::wstring failCopyEnding;
    // A tool run whose arguments hold this text ends with failRunCode.
    std::wstring failRunHolding;
    int failRunCode = 1;
    int runs = 0;
    int runsWhileExitRefused = 0;
    int failedRuns = 0;

    BOOL PathExists(const wchar_t* path) override { return m_inner.PathExists(path); }
    BOOL IsFolder(const wchar_t* path) override { return m_inner.IsFolder(path); }
    BOOL CreateFolder(const wchar_t* path) override { return m_inner.CreateFolder(path); }
    int CopyFileEnsureFolder(const wchar_t* source, const wchar_t* destination, BOOL failIfExists) override {
        if (EndsWith(destination, failCopyEnding)) return 0;
        return m_inner.CopyFileEnsureFolder(source, destination, failIfExists);
    }
    BOOL SetAttributes(const wchar_t* path, DWORD attributes) override {
        return m_inner.SetAttributes(path, attributes);
    }
    BOOL WriteIniString(const wchar_t* path, const wchar_t* section, const wchar_t* key,
                        const wchar_t* value) override {
        return m_inner.WriteIniString(path, section, key, value);
    }
    int RunProcessAndWait(const wchar_t* program, const wchar_t* arguments) override {
        ++runs;
        if (m_writesDisk && m_writesDisk()) ++runsWhileExitRefused;
        const int code = m_inner.RunProcessAndWait(program, arguments);
        if (!failRunHolding.empty() && arguments && std::wstring(arguments).find(failRunHolding) != std::wstring::npos) {
            ++failedRuns;
            return failRunCode;
        }
        return code;
    }
    void LocalTime(SYSTEMTIME* time) override { m_inner.LocalTime(time); }
    void ShowDebugBox(const wchar_t* text) override { m_inner.ShowDebugBox(text); }
    BOOL ReadFileBytes(const wchar_t* path, void* buffer, DWORD size, DWORD* got) override {
        return m_inner.ReadFileBytes(path, buffer, size, got);
    }
    ULONGLONG FileSize(const wchar_t* path) override { return m_inner.FileSize(path); }
    BOOL CopyFileProgress(const wchar_t* source, const wchar_t* target, LPPROGRESS_ROUTINE routine,
                          void* data) override {
        return m_inner.CopyFileProgress(source, target, routine, data);
    }
    BOOL CreateFolderTree(const wchar_t* path) override { return m_inner.CreateFolderTree(path); }
    BOOL WriteTextFile(const wchar_t* path, const CStringA& text) override { return m_inner.WriteTextFile(path, text); }
    BOOL RemoveFile(const wchar_t* path) override { return m_inner.RemoveFile(path); }
    void Wait(DWORD milliseconds) override { m_inner.Wait(milliseconds); }
    BOOL RealHostRule() override { return m_inner.RealHostRule(); }

private:
    static bool EndsWith(const wchar_t* text, const std::wstring& tail) {
        if (tail.empty() || !text) return false;
        const std::wstring t = text;
        return t.size() >= tail.size() &&
               CompareStringOrdinal(t.c_str() + t.size() - tail.size(), (int)tail.size(), tail.c_str(),
                                    (int)tail.size(), TRUE) == CSTR_EQUAL;
    }

    IBootHost& m_inner;
    std::function<bool()> m_writesDisk;
};
