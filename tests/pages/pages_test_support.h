// Shared pieces of the page tests: the machine the pages see (facts, an empty
// or scripted disk layer, recorded shell calls), the skin archive, and a main
// window made the way the program makes it.
#pragma once

#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "controls/os_lists.h"
#include "core/shell_calls.h"
#include "core/system_facts.h"
#include "support/fake_shell.h"
#include "disk/disk_calls.h"
#include "pages/tarvel_dlg.h"
#include "support/scripted_encryption.h"

// Management facts answered from fields.
class FakeFacts : public ISystemFacts {
public:
    CString os = L"Windows 10 专业版 64位", chassis = L"普通电脑", board = L"KVT-B450", cpu = L"Kavetta CPU @ 3.0GHz";
    ULONGLONG memory = 8ull << 30;
    // No BitLocker unless a test scripts it.
    ScriptedEncryption encryption;
    IFactsQuery* OpenQuery() override;
    void InstalledMemory(ULONGLONG& out, int) override { out = memory; }
    EncryptionAnswer EncryptableVolumes(std::vector<EncryptableVolumeState>& volumes, HRESULT& failure) override {
        return encryption.Read(volumes, failure);
    }
};

// Records every shell call; opens nothing. Whose user folders the backup
// copies and what the desktop's shell answers come from the fake shell.
class ShellRecorder : public FakeShell {
public:
    struct Call {
        std::wstring file;
        std::wstring parameters;
        bool defaultVerb;  // no verb given
        std::wstring folder;
        int show;
    };
    std::vector<Call> executes;
    int iconsAdded = 0, iconsDeleted = 0;
    HINSTANCE Execute(HWND, LPCWSTR, LPCWSTR file, LPCWSTR parameters, LPCWSTR, int) override;
    BOOL NotifyIcon(DWORD message, NOTIFYICONDATAW* data) override;
};

// A machine without disks or drive letters.
class EmptyStorage : public IStorageCalls {
public:
    int EnumerateDiskInterfaces(CString*, int) override { return 0; }
    HANDLE OpenDevice(const wchar_t*) override { return INVALID_HANDLE_VALUE; }
    void CloseDevice(HANDLE) override {}
    BOOL IoControl(HANDLE, DWORD, const void*, DWORD, void*, DWORD, DWORD*) override { return FALSE; }
    DWORD LogicalDriveStrings(DWORD, wchar_t* buffer) override;
    UINT DriveType(const wchar_t*) override { return DRIVE_NO_ROOT_DIR; }
    BOOL VolumeInformation(const wchar_t*, wchar_t*, DWORD, wchar_t*, DWORD) override { return FALSE; }
    BOOL FreeBytesForCaller(const wchar_t*, ULONGLONG*) override { return FALSE; }
    DWORD VolumeGuidPath(const wchar_t*, CString&) override { return ERROR_FILE_NOT_FOUND; }
    BOOL DefineDosDevice(DWORD, const wchar_t*, const wchar_t*) override { return FALSE; }
    BOOL FindFile(const wchar_t*) override { return FALSE; }
    BOOL ProductVersion(const wchar_t*, CString&) override { return FALSE; }
    BOOL RunningWindows(CString&, BOOL&, BOOL&) override { return FALSE; }
    BOOL RunningSystemVersion(CString&) override { return FALSE; }
    HANDLE OpenDeviceForQuery(const wchar_t*) override { return INVALID_HANDLE_VALUE; }
    BOOL ReadDevice(HANDLE, LONGLONG, void*, DWORD) override { return FALSE; }
    BOOL WriteDevice(HANDLE, LONGLONG, const void*, DWORD) override { return FALSE; }
    BOOL SetVolumeLabel(const wchar_t*, const wchar_t*) override { return FALSE; }
    BOOL SystemPartitionDevice(CString&) override { return FALSE; }
};

// The seams every page test runs with, installed by main().
struct PageTestMachine {
    FakeFacts facts;
    ShellRecorder shell;
    EmptyStorage storage;
};
PageTestMachine& TestMachine();

// Loads the built skin archive into the application object.
bool LoadTestSkin();

// A main window made as the program makes it (modeless here, so the test
// keeps its thread), with its check run to the end.
class MainWindowFixture {
public:
    MainWindowFixture();
    ~MainWindowFixture();
    bool Create();
    // Pumps until the system check worker has ended.
    bool WaitForCheck(DWORD ms = 120000);
    std::unique_ptr<CTarvelDlg> dlg;
};

// The top-level window of a program message box on this thread, or null.
HWND FindMessageBox();
// Answers the next program message box of this thread, once it shows, with
// its first (Yes/OK) or second (No) button. A thread timer does it, so the
// answer comes from inside the box's own modal loop.
void AnswerNextMessageBox(bool first);
// How many boxes the timer has answered so far.
int MessageBoxesAnswered();

// While it lives, answers every program message box of this thread as it
// shows, from a script of answers (the first button, Yes/OK, when the
// script is empty), and records each box's text.
class BoxAnswerer {
public:
    BoxAnswerer();
    ~BoxAnswerer();
    std::deque<bool> script;
    std::vector<std::wstring> texts;
    // Each box's style flags, and its countdown as it showed: whether it ends
    // by itself and the seconds it had left (its whole countdown, unless a
    // second passed before it was seen).
    struct Shape {
        int flags;
        BOOL autoClose;
        int seconds;
    };
    std::vector<Shape> shapes;
    // Called as each box shows (its text recorded), before it is answered.
    std::function<void()> onShown;
    // Whether a recorded text holds `part`.
    bool Shown(const wchar_t* part) const;
    std::wstring Last() const { return texts.empty() ? std::wstring() : texts.back(); }

private:
    static void CALLBACK Answer(HWND, UINT, UINT_PTR, DWORD);
    static BoxAnswerer* s_current;
    UINT_PTR m_timer = 0;
    HWND m_last = nullptr;
    BoxAnswerer* m_previous = nullptr;
};

// Clicks the visible row of a list whose id is `id`, as the mouse does;
// false when no shown row has it.
bool ClickListRow(COsListWndBase& list, int id);
