#include "core/tarvel_app.h"

#include <commctrl.h>
#include <gdiplus.h>
#include <shlwapi.h>

#include "core/fixed_texts.h"
#include "core/messages.h"
#include "core/platform_seams.h"
#include "core/process_file_utils.h"
#include "controls/message_box.h"
#include "pages/reboot_dlg.h"
#include "pages/tarvel_dlg.h"

UINT RegisterActivateInstanceMessage() { return RegisterWindowMessageW(FixedText::kSingleInstanceName); }

namespace {
// The finder's copy of the hand-shake message id.
const UINT s_activateInstanceMessage = RegisterActivateInstanceMessage();
// How long the exit waits for the unpack it stopped: 7-Zip looks at the stop
// at each progress report, so only a thread that hangs (in the library or
// on the disk) takes longer.
const DWORD kUnpackExitWaitMs = 30000;

// What the session did while the program waited for the restart.
enum SessionEnd { kSessionWaiting, kSessionEnds, kSessionCancelled };

// The hidden top-level window that hears the session end (a message-only
// window would not): it agrees to the end and notes how it came out.
LRESULT CALLBACK SessionWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_QUERYENDSESSION) return TRUE;
    if (message == WM_ENDSESSION) {
        LONG* state = reinterpret_cast<LONG*>(GetWindowLongPtrW(window, GWLP_USERDATA));
        if (state) *state = wParam ? kSessionEnds : kSessionCancelled;
        return 0;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

// Asks for the restart with the window in place and pumps until the session
// ends, is cancelled, or `endWaitMs` passes.
SessionEnd AskForRestart(DWORD endWaitMs) {
    static const ATOM windowClass = [] {
        WNDCLASSW wc = {};
        wc.lpfnWndProc = SessionWindowProc;
        wc.hInstance = GetModuleHandleW(nullptr);
        wc.lpszClassName = FixedText::kSessionWindowClass;
        return RegisterClassW(&wc);
    }();
    LONG state = kSessionWaiting;
    HWND window = windowClass ? CreateWindowExW(0, FixedText::kSessionWindowClass, L"", WS_POPUP, 0, 0, 0, 0, nullptr,
                                                nullptr, GetModuleHandleW(nullptr), nullptr)
                              : nullptr;
    // Without the window a cancelled end would go unheard: no restart then.
    if (!window) return kSessionCancelled;
    SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(&state));
    if (RebootMachine()) {
        const DWORD start = GetTickCount();
        for (;;) {
            MSG msg;
            while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
                TranslateMessage(&msg);
                DispatchMessageW(&msg);
            }
            const DWORD waited = GetTickCount() - start;
            if (state != kSessionWaiting || waited >= endWaitMs) break;
            MsgWaitForMultipleObjects(0, nullptr, FALSE, endWaitMs - waited, QS_ALLINPUT);
        }
    } else {
        state = kSessionCancelled;  // Windows refused
    }
    SetWindowLongPtrW(window, GWLP_USERDATA, 0);
    DestroyWindow(window);
    return state == kSessionEnds ? kSessionEnds : kSessionCancelled;
}
}  // namespace

BEGIN_MESSAGE_MAP(CTarvelApp, CWinApp)
END_MESSAGE_MAP()

CTarvelApp* GetTarvelApp() { return static_cast<CTarvelApp*>(AfxGetApp()); }

BOOL DetectWow64(const wchar_t* moduleName, const char* functionName) {
    typedef BOOL(WINAPI * Wow64Query)(HANDLE, PBOOL);
    HMODULE module = GetModuleHandleW(moduleName);
    if (!module) return 0;
    Wow64Query query = reinterpret_cast<Wow64Query>(reinterpret_cast<void*>(GetProcAddress(module, functionName)));
    if (!query) return 0;
    BOOL wow64 = 0;
    query(GetCurrentProcess(), &wow64);
    return wow64 ? 1 : 0;
}

CString SystemDriveFromWindowsFolder(const CString& windowsFolder) {
    if (windowsFolder.CompareNoCase(FixedText::kBootEnvironmentWindowsFolder) == 0) return CString();
    return windowsFolder.Left(2);
}

CString QueryModulePath(HMODULE module, ModuleFileNameFn getter) {
    // Long paths reach 32767 characters; start with the classic size.
    for (DWORD size = MAX_PATH; size <= 32768; size *= 2) {
        CString path;
        wchar_t* buffer = path.GetBufferSetLength((int)size);
        memset(buffer, 0, size * sizeof(wchar_t));
        DWORD n = getter(module, buffer, size);
        if (n == 0) return CString();
        if (n < size) {
            path.ReleaseBuffer((int)n);
            return path;
        }
        // n == size: the path was cut to fit the buffer.
    }
    return CString();
}

void SplitModulePath(const CString& path, CString& folder, CString& fileName) {
    int slash = path.ReverseFind(L'\\');
    int colon = path.ReverseFind(L':');
    int cut = slash > colon ? slash : colon;
    fileName = path.Mid(cut + 1);
    if (slash < 0) {
        folder = colon >= 0 ? path.Left(colon + 1) : CString();
        return;
    }
    // "C:\name" keeps "C:\"; "\\server\share\name" keeps its share; "C:\a\name" gives "C:\a".
    bool root = (slash == 2 && colon == 1) || slash == 0;
    folder = path.Left(root ? slash + 1 : slash);
}

CTarvelApp::CTarvelApp()
    : CWinApp(),
      m_gdiplusToken(0),
      m_stallLimit(20),
      m_is64BitSystem(0),
      m_diskInventory(nullptr),
      m_referencePartition(-1),
      m_selectedPeIndex(2),
      m_usbPeIndex(2),
      m_workFolder(FixedText::kInitialWorkFolder),
      m_dataFolderName(FixedText::kDataFolderName),
      m_dataFolder(FixedText::kInitialDataFolder),
      m_backupFolder(FixedText::kInitialBackupFolder),
      m_filePrefix(FixedText::kFilePrefix),
      m_toolBaseName(FixedText::kToolBaseName),
      m_usbToolFileName(FixedText::kUsbToolFileName),
      m_usbVolumeLabel(FixedText::kUsbVolumeLabel),
      m_usbVolumeLabelAlt(FixedText::kUsbVolumeLabelAlt),
      m_headerLinkTarget(FixedText::kHeaderLinkTarget),
      m_webLinkTarget(FixedText::kWebLinkTarget),
      m_configMarker(FixedText::kConfigMarker),
      m_iniPassword(FixedText::kIniPassword),
      m_handOverPassword(FixedText::kHandOverPassword),
      m_bootEntryTag(FixedText::kBootEntryTag),
      m_handOverTextA(FixedText::kHandOverTextA),
      m_handOverIniName(FixedText::kHandOverIniName),
      m_restartIniName(FixedText::kRestartIniName),
      m_bootFileTag(FixedText::kBootFileTag),
      m_restartIniValue(FixedText::kRestartIniValue),
      m_handOverTextB(FixedText::kHandOverTextB),
      m_handOverTextC(FixedText::kHandOverTextC),
      m_payloadKeyText(FixedText::kPayloadKeyText),
      m_skinKeyText(FixedText::kSkinKeyText),
      m_selectedImageIndex(-1),
      m_bootModeFlag(0),
      m_storagePass(1),
      m_configLoaded(0),
      m_usbOnlyMode(0),
      m_selectedImageTab(1),
      m_recommend1Start(0),
      m_recommend2Start(0),
      m_pickerListOrder(0),
      m_pickerShowMain(1),
      m_pickerShowRecommended(1),
      m_usbListOrder(0),
      m_usbShowMain(1),
      m_usbShowRecommended(1),
      m_downloadEngine(nullptr),
      m_deviceWatchEnabled(0),
      m_debugMode(0),
      m_rebootAtExit(0),
      m_instanceMutex(nullptr),
      m_unpackThread(nullptr),
      m_workFolderCreated(false),
      m_workFolderHandle(INVALID_HANDLE_VALUE),
      m_workFolderUnprotected(false),
      m_payloadModule(nullptr),
      m_toolsReady(nullptr),
      m_toolsUnpacked(0),
      m_unpackStop(0),
      m_unpackExitWaitMs(kUnpackExitWaitMs),
      m_unpackOutlived(false),
      m_keepWorkFolder(false),
      m_restartNotice(nullptr), m_keepWorkerState(false) {
    m_is64BitSystem = DetectWow64(FixedText::kWow64QueryModule, FixedText::kWow64QueryFunction);
    InitModulePaths();
    m_ownVersion = FixedText::kOwnVersion;

    wchar_t windows[MAX_PATH + 1] = {};
    UINT n = GetWindowsDirectoryW(windows, MAX_PATH);
    m_systemDrive = SystemDriveFromWindowsFolder(n > 0 && n < MAX_PATH ? CString(windows) : CString());

    m_mirrorUrls.Add(CString(FixedText::kBuiltInMirrorHead) + FixedText::kBuiltInMirrorTail);

    m_configLoaded = 0;
    m_selectedImageIndex = -1;
    m_diskInventory = new CDiskInventory;
}

CTarvelApp::~CTarvelApp() {
    // The unpack thread reports its end to this object: let it end first
    // (bounded; not again when the exit already waited it out). A thread
    // that still runs keeps the event; it uses none of what the members own.
    InterlockedExchange(&m_unpackStop, 1);
    if (m_toolsReady &&
        WaitForSingleObject(m_toolsReady, m_unpackOutlived ? 0 : m_unpackExitWaitMs) == WAIT_OBJECT_0) {
        CloseHandle(m_toolsReady);
        m_toolsReady = nullptr;
        if (m_unpackThread) CloseHandle(m_unpackThread);
        m_unpackThread = nullptr;
    }
    ReleaseDiskInventory();  // removes the temporary drive letters
}

void CTarvelApp::ReleaseDiskInventory() {
    if (!m_diskInventory || m_keepWorkerState) return;
    delete m_diskInventory;  // removes the temporary drive letters
    m_diskInventory = nullptr;
}

void CTarvelApp::InitModulePaths() {
    m_modulePath = QueryModulePath(nullptr);
    SplitModulePath(m_modulePath, m_moduleFolder, m_moduleFileName);
}

BOOL CTarvelApp::InitInstance() {
    // Before anything reaches a disk, the shell or the power calls.
    InstallPlatformSeams();
    m_instanceMutex = CreateMutexW(nullptr, TRUE, FixedText::kSingleInstanceName);
    if (GetLastError() == ERROR_ALREADY_EXISTS) {
        CloseHandle(m_instanceMutex);
        m_instanceMutex = nullptr;
        HWND running = nullptr;
        EnumWindows(FindRunningInstanceProc, reinterpret_cast<LPARAM>(&running));
        if (running) return FALSE;
        // Nobody answered: start as a normal copy, without the mutex.
    }

    Gdiplus::GdiplusStartupInput input;  // version 1, no debug callback, nothing suppressed
    Gdiplus::GdiplusStartup(&m_gdiplusToken, &input, nullptr);

    PrepareWorkFolder();
    if (m_workFolderUnprotected) MyMessageBox(MB_OK | MB_ICONWARNING, FALSE, FixedText::kWorkFolderUnprotectedNotice, 0);

    INITCOMMONCONTROLSEX icc = {sizeof(icc), ICC_WIN95_CLASSES};
    InitCommonControlsEx(&icc);

    CWinApp::InitInstance();
    AfxEnableControlContainer();
    SetRegistryKey(FixedText::kCompanyKey);

    {
        CTarvelDlg dlg;
        m_pMainWnd = &dlg;
        dlg.DoModal();
        // Before the exit's clean-ups: an undo needs the letters and the tool.
        // A restart was asked while the window ran; it ended the window only
        // once the session was ending.
        FinishAfterMainWindow(dlg, FixedText::kExitWorkerWaitMs, FixedText::kExitDiskJobWaitMs);
        if (m_instanceMutex) CloseHandle(m_instanceMutex);
        m_instanceMutex = nullptr;
        m_pMainWnd = nullptr;
    }
    if (m_restartNotice) MyMessageBox(MB_OK | MB_ICONWARNING, FALSE, m_restartNotice, 0);
    return FALSE;
}

bool CTarvelApp::FinishAfterMainWindow(CTarvelDlg& dlg, DWORD workerMs, DWORD diskMs, DWORD toolMs) {
    // A worker that ended the window (the restart request) may still be
    // returning; the pages it uses go only once it has ended.
    bool ended = dlg.WaitForWorkers(workerMs);
    // A disk or boot write that began before the pages were stopped is let
    // finish: its end is the disk's, not the program's.
    if (dlg.AnyPageWritesDisk()) ended = dlg.WaitForDiskJobs(diskMs) && dlg.WaitForWorkers(workerMs);
    // A tool that outlived its own wait may still be writing. Waited for,
    // bounded: one hung tool must not keep the program open for ever, and
    // the machine never restarts under it.
    if (!WaitForRunningTools(toolMs)) {
        m_keepWorkFolder = true;  // the tool runs from there
        MyMessageBox(MB_ICONWARNING, FALSE, FixedText::kExitToolStillRunning, 0);
        // No restart follows, so nothing may stay armed for the next boot.
        if (m_rebootAtExit) RestartNotDone();
    }
    if (ended) return true;
    dlg.m_keepPagesAlive = true;
    m_keepWorkFolder = true;
    // Nothing restarts under a worker, so nothing may stay armed either.
    if (m_rebootAtExit) RestartNotDone();
    m_keepWorkerState = true;
    m_rebootAtExit = 0;
    return false;
}

bool CTarvelApp::RestartOrUndo(DWORD endWaitMs) {
    if (!m_rebootAtExit) return false;
    if (AskForRestart(endWaitMs) == kSessionEnds) return true;
    RestartNotDone();
    return false;
}

void CTarvelApp::RestartNotDone() {
    m_rebootAtExit = 0;
    m_restartNotice = UndoNextBoot(*this) ? FixedText::kRestartUndoneNotice : FixedText::kRestartUndoIncompleteNotice;
}

bool CTarvelApp::StopUnpack() {
    InterlockedExchange(&m_unpackStop, 1);
    if (!m_toolsReady || WaitForSingleObject(m_toolsReady, m_unpackExitWaitMs) == WAIT_OBJECT_0) return true;
    // 7-Zip may still write into the work folder: it stays.
    m_unpackOutlived = true;
    m_keepWorkFolder = true;
    return false;
}

int CTarvelApp::ExitInstance() {
    // Before anything is deleted or freed: the unpack thread ends its
    // extraction at the library's next progress report.
    StopUnpack();
    if (m_gdiplusToken) {
        Gdiplus::GdiplusShutdown(m_gdiplusToken);
        m_gdiplusToken = 0;
    }
    // A worker that outlived the wait may still call into the engine.
    if (m_downloadEngine && !m_keepWorkerState) {
        // The download page's destructor may have called it already; the engine accepts a second call.
        if (m_downloadEngine->Uninitialize) m_downloadEngine->Uninitialize();
        delete m_downloadEngine;  // unloads the library
        m_downloadEngine = nullptr;
    }
    // The held handle would keep the folder itself from going.
    if (m_workFolderHandle != INVALID_HANDLE_VALUE) {
        CloseHandle(m_workFolderHandle);
        m_workFolderHandle = INVALID_HANDLE_VALUE;
    }
    if (!m_workFolder.IsEmpty() && m_workFolderCreated && !m_keepWorkFolder) DeleteFolderTree(m_workFolder);
    return CWinApp::ExitInstance();
}

BOOL CALLBACK FindRunningInstanceProc(HWND hWnd, LPARAM lParam) {
    DWORD_PTR result = 0;
    if (!SendMessageTimeoutW(hWnd, s_activateInstanceMessage, 0, 0, SMTO_BLOCK | SMTO_ABORTIFHUNG, 10000, &result))
        return TRUE;
    if (result == s_activateInstanceMessage) {
        *reinterpret_cast<HWND*>(lParam) = hWnd;
        return FALSE;
    }
    return TRUE;
}
