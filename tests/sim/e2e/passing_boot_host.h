// A boot host that passes every call to another one: the base of the test
// hosts that watch or hold a tool run and leave the rest to the scenario.
#pragma once

#include "disk/disk_calls.h"

class PassingBootHost : public IBootHost {
public:
    explicit PassingBootHost(IBootHost& inner) : m_inner(inner) {}
    BOOL PathExists(const wchar_t* path) override { return m_inner.PathExists(path); }
    BOOL IsFolder(const wchar_t* path) override { return m_inner.IsFolder(path); }
    BOOL CreateFolder(const wchar_t* path) override { return m_inner.CreateFolder(path); }
    int CopyFileEnsureFolder(const wchar_t* source, const wchar_t* destination, BOOL failIfExists) override {
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
        return m_inner.RunProcessAndWait(program, arguments);
    }
    int RunProcessAndRead(const wchar_t* program, const wchar_t* arguments, std::string& output) override {
        return m_inner.RunProcessAndRead(program, arguments, output);
    }
    int RunProcessWithInput(const wchar_t* program, const wchar_t* arguments, const std::string& input) override {
        return m_inner.RunProcessWithInput(program, arguments, input);
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
    HANDLE HoldNewTextFile(const wchar_t* path, const CStringA& text) override {
        return m_inner.HoldNewTextFile(path, text);
    }
    void ReleaseHeldFile(HANDLE hold, const wchar_t* path) override { m_inner.ReleaseHeldFile(hold, path); }
    void Wait(DWORD milliseconds) override { m_inner.Wait(milliseconds); }
    BOOL RealHostRule() override { return m_inner.RealHostRule(); }
    CString FileDigest(const wchar_t* path) override { return m_inner.FileDigest(path); }
    IFolderRule& FolderRule() override { return m_inner.FolderRule(); }
    DWORD ListFolder(const wchar_t* folder, std::vector<WIN32_FIND_DATAW>& entries) override {
        return m_inner.ListFolder(folder, entries);
    }
    DWORD CopyUserFile(const wchar_t* source, const wchar_t* target, bool* readFailed) override {
        return m_inner.CopyUserFile(source, target, readFailed);
    }
    CString LinkTarget(const wchar_t* path) override { return m_inner.LinkTarget(path); }
    CString FileUsers(const wchar_t* path) override { return m_inner.FileUsers(path); }
    void DebugLog(const wchar_t* line) override { m_inner.DebugLog(line); }

protected:
    IBootHost& m_inner;
};
