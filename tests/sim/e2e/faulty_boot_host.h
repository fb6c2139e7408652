// The scenario's boot host seen through a test's own: it passes every call
// on, notes at each boot-entry tool run whether the page refuses the exit
// then, and can make chosen copies or tool runs fail, as a real machine's
// full or locked boot partition or a refused store command would.
#pragma once

#include <functional>
#include <string>

#include "sim/e2e/passing_boot_host.h"

class FaultyBootHost : public PassingBootHost {
public:
    FaultyBootHost(IBootHost& inner, std::function<bool()> writesDisk)
        : PassingBootHost(inner), m_writesDisk(std::move(writesDisk)) {}

    // A copy whose destination ends with this text (letter case ignored) fails.
    std::wstring failCopyEnding;
    // A tool run whose arguments hold this text ends with failRunCode.
    std::wstring failRunHolding;
    int failRunCode = 1;
    // Called on the worker's thread as each tool run begins.
    std::function<void()> onRun;
    int runs = 0;
    int runsWhileExitRefused = 0;
    int failedRuns = 0;

    int CopyFileEnsureFolder(const wchar_t* source, const wchar_t* destination, BOOL failIfExists) override {
        if (EndsWith(destination, failCopyEnding)) return 0;
        return m_inner.CopyFileEnsureFolder(source, destination, failIfExists);
    }
    int RunProcessAndWait(const wchar_t* program, const wchar_t* arguments) override {
        ++runs;
        if (onRun) onRun();
        if (m_writesDisk && m_writesDisk()) ++runsWhileExitRefused;
        const int code = m_inner.RunProcessAndWait(program, arguments);
        if (!failRunHolding.empty() && arguments && std::wstring(arguments).find(failRunHolding) != std::wstring::npos) {
            ++failedRuns;
            return failRunCode;
        }
        return code;
    }

private:
    static bool EndsWith(const wchar_t* text, const std::wstring& tail) {
        if (tail.empty() || !text) return false;
        const std::wstring t = text;
        return t.size() >= tail.size() &&
               CompareStringOrdinal(t.c_str() + t.size() - tail.size(), (int)tail.size(), tail.c_str(),
                                    (int)tail.size(), TRUE) == CSTR_EQUAL;
    }

    std::function<bool()> m_writesDisk;
};
