// The application object: the run-wide state of the process, start-up and exit.
#pragma once

#include <windows.h>

#include "core/catalogue.h"
#include "core/down_wrapper.h"
#include "core/fixed_texts.h"
#include "core/resource_zip.h"
#include "disk/disk_inventory.h"
#include "winlib/winlib.h"

class CIni;
class CTarvelDlg;

class CTarvelApp : public CWinApp {
public:
    CTarvelApp();
    ~CTarvelApp() override;

    BOOL InitInstance() override;
    int ExitInstance() override;

    // Fills m_modulePath, m_moduleFolder and m_moduleFileName.
    void InitModulePaths();
    // Creates the work folder, starts the unpack thread and loads the skin archive.
    void PrepareWorkFolder();
    // Waits up to `milliseconds` for the unpack thread: TRUE when it has ended
    // and the tools were extracted into the work folder. Users of the
    // extracted files (engine, tools, boot setup) call it before using them.
    BOOL WaitForTools(DWORD milliseconds);
    // Called by the unpack thread as it ends, on every path.
    void FinishUnpack(BOOL unpacked);
    // Binds and initialises the download engine from the work folder on first
    // need: 1 when m_downloadEngine is ready, 0 when it cannot be used (a later
    // call tries again). Only from a work folder this process created, after
    // its unpack thread has extracted the tools there. Called by the queue builders on their worker threads;
    // only one of them binds.
    int EnsureDownloadEngine();
    // The three boot-environment records (7pe, 8pe, 10pe) in m_peImages; a
    // second call keeps the list as it is.
    void BuildPeList();
    // Deciphers the built-in mirror entries in place; entries already plain
    // are left alone, so a second call changes nothing.
    void DecipherMirrorList();
    // Leaves the hidden hand-over INI with its five enciphered values in the
    // data folder; nothing when the folder cannot be written.
    void WriteHandOverIni();

    ULONG_PTR m_gdiplusToken;
    int m_stallLimit;
    CString m_modulePath;
    CString m_moduleFolder;
    CString m_moduleFileName;
    BOOL m_is64BitSystem;
    CDiskInventory* m_diskInventory;
    CString m_systemDrive;
    int m_referencePartition;
    int m_selectedPeIndex;
    int m_usbPeIndex;
    CString m_workFolder;
    CString m_dataFolderName;
    CString m_dataFolder;
    CString m_backupFolder;
    CString m_filePrefix;
    CString m_toolBaseName;
    CStringArray m_mirrorUrls;
    CString m_usbToolFileName;
    CString m_usbVolumeLabel;
    CString m_usbVolumeLabelAlt;
    CString m_headerLinkTarget;
    CString m_webLinkTarget;
    CString m_configMarker;
    CString m_iniPassword;
    CString m_handOverPassword;
    CString m_bootEntryTag;
    CString m_handOverTextA;
    CString m_handOverIniName;
    CString m_restartIniName;
    CString m_bootFileTag;
    CString m_restartIniValue;
    CString m_handOverTextB;
    CString m_handOverTextC;
    CString m_payloadKeyText;
    CString m_skinKeyText;
    CString m_ownVersion;
    CString m_noticeVersion;
    CString m_forcedUpdateVersion;
    CString m_updateTarget;
    int m_selectedImageIndex;
    CResourceZip m_skinZip;
    CString m_bootModeText;
    int m_bootModeFlag;
    int m_storagePass;
    int m_configLoaded;
    int m_usbOnlyMode;
    int m_selectedImageTab;
    CArray<COsCatInfo> m_osCategories;
    CArray<COnlinefileinfo> m_recommendList1;
    CArray<COnlinefileinfo> m_recommendList2;
    CArray<COnlinefileinfo> m_osImages;
    CArray<COnlinefileinfo> m_peImages;
    CArray<COnlinefileinfo> m_linkedFiles;
    COnlinefileinfo m_toolFile;
    COnlinefileinfo m_extraFile1;
    COnlinefileinfo m_extraFile2;
    CArray<CFileLinkInfo> m_fileLinks;
    int m_recommend1Start;
    int m_recommend2Start;
    int m_pickerListOrder;
    int m_pickerShowMain;
    int m_pickerShowRecommended;
    int m_usbListOrder;
    int m_usbShowMain;
    int m_usbShowRecommended;
    DownWrapper* m_downloadEngine;
    int m_deviceWatchEnabled;
    BYTE m_debugMode;
    // Set from the moment the main window takes a restart request; it stays
    // set once the session ends for it, and is cleared when the restart does
    // not happen (RestartNotDone).
    int m_rebootAtExit;
    HANDLE m_instanceMutex;
    HANDLE m_unpackThread;
    // Set when this process created m_workFolder: ExitInstance deletes only
    // such a folder, never one that merely carries the name.
    bool m_workFolderCreated;
    // The work folder held open, without delete sharing, from its creation
    // to just before the exit deletes it: no other process can rename it
    // away and put its own folder or a link in its place.
    HANDLE m_workFolderHandle;
    // Set when the only place left for the work folder (the program's own
    // folder) lies on a volume without access lists: no work folder then.
    bool m_workFolderUnprotected;
    // Where the payloads are read from: null for the program's own file.
    HMODULE m_payloadModule;
    // Set by the unpack thread when it ends; m_toolsUnpacked is 1 when it
    // extracted the tools.
    HANDLE m_toolsReady;
    volatile LONG m_toolsUnpacked;
    // Set by the exit: the unpack thread ends its extraction at the 7-Zip
    // library's next progress report and begins nothing more.
    volatile LONG m_unpackStop;
    // How long the exit waits for the unpack thread it stopped
    // (kUnpackExitWaitMs); past it the work folder stays and the thread is
    // left to end on its own.
    DWORD m_unpackExitWaitMs;
    // Set when the unpack thread outlived that wait.
    bool m_unpackOutlived;
    // Stops the unpack thread and waits for it, at most m_unpackExitWaitMs;
    // true when it has ended. Past the bound the work folder is kept
    // (m_keepWorkFolder) and m_unpackOutlived set.
    bool StopUnpack();
    // Set when a worker still ran after the main window ended: the work
    // folder (its tools) stays, and the machine is not restarted under it.
    bool m_keepWorkFolder;
    // Set with it: what such a worker may still use (the disk inventory and
    // its letters, the download engine) is neither freed nor unloaded; the
    // process ends without them.
    bool m_keepWorkerState;
    // Deletes the disk inventory, which removes the temporary drive letters;
    // nothing while a worker may still use it (m_keepWorkerState).
    void ReleaseDiskInventory();

    // After the main window has ended: waits for the pages' workers (bounded
    // by `workerMs`) and for any disk or boot write (bounded by `diskMs`);
    // when something still runs then, nothing restarts, the work folder
    // stays and the pages are left in memory. A tool the program started
    // that still runs is waited for up to `toolMs`; past that the user is
    // told, nothing restarts and the work folder stays. True when all the
    // pages' work has ended.
    // When a restart was accepted and does not follow, it is undone
    // (RestartNotDone).
    bool FinishAfterMainWindow(CTarvelDlg& dlg, DWORD workerMs, DWORD diskMs,
                               DWORD toolMs = FixedText::kExitToolWaitMs);
    // For a restart the main window took (m_rebootAtExit), while its loop
    // still runs: asks Windows for it while a hidden window of ours pumps
    // the session's messages, and waits up to `endWaitMs` for the session
    // to end. True when it ends (everything stays armed for the boot
    // environment); when Windows refuses, the end is cancelled or does not
    // come in time, the restart counts as not happening (RestartNotDone).
    // Nothing without m_rebootAtExit.
    bool RestartOrUndo(DWORD endWaitMs);
    // The accepted restart will not happen: undoes what armed the next boot,
    // clears m_rebootAtExit and leaves the notice for the user.
    void RestartNotDone();
    // What the exit tells the user once the main window has gone: that the
    // restart did not happen (and whether all was undone), or null.
    const wchar_t* m_restartNotice;

    // ---- Online configuration (core/online_config*.cpp, core/recommend_lists.cpp) ----
    // Fetches the configuration from m_mirrorUrls and parses the first file
    // that carries the marker; sets and returns m_configLoaded.
    int FetchOnlineConfig();
    // Reads a configuration file into the catalogue: 0 when the file does not
    // exist (nothing changes), else 1.
    int ParseOnlineConfig(const CString& path, BOOL enciphered);
    bool ReadCatalogueEntry(CIni& ini, const CString& name, COnlinefileinfo& record, const CString& token);
    bool ReadRecommendedEntry(CIni& ini, COnlinefileinfo& record, const CString& token);
    void ReadPeEntry(CIni& ini, COnlinefileinfo& record);
    int ReadLinkedFile(CIni& ini, const CString& name);
    void ReadLinkedFileRecord(CIni& ini, const CString& name, COnlinefileinfo& record);
    void ReadSingleFileRecords(CIni& ini);
    // Reads the mirrors of the section that the caller selected.
    void ReadMirrorList(CIni& ini, COnlinefileinfo& record);
    // Index of the link in m_fileLinks, appended when it is new (URLs
    // compared without regard to ASCII case, types exactly).
    int AddFileLink(const CFileLinkInfo& link);
    void ReadGeneralSection(CIni& ini);
    // Chooses the recommendation table for the machine, fills m_osCategories
    // and the two recommendation lists, sets m_selectedPeIndex and returns the
    // table's hint.
    CString BuildRecommendLists(const CString& systemKind, ULONGLONG memoryBytes, BOOL systemDiskFlag);

protected:
    DECLARE_MESSAGE_MAP()
};

// The one application object of the program.
CTarvelApp* GetTarvelApp();

// EnumWindows callback of the single-instance hand-shake; lParam points to an
// HWND that receives the window that answered.
BOOL CALLBACK FindRunningInstanceProc(HWND hWnd, LPARAM lParam);

// 1 when the named query function exists and reports a 32-bit process on
// 64-bit Windows; 0 when it is missing or says otherwise.
BOOL DetectWow64(const wchar_t* moduleName, const char* functionName);

// The system drive for a Windows folder: its first two characters, or empty
// when the folder is the boot environment's own.
CString SystemDriveFromWindowsFolder(const CString& windowsFolder);

// The full path of a module. A result that fills the buffer is a truncated
// path, so the buffer grows until the path fits; empty when it never does.
typedef DWORD(WINAPI* ModuleFileNameFn)(HMODULE, LPWSTR, DWORD);
CString QueryModulePath(HMODULE module, ModuleFileNameFn getter = GetModuleFileNameW);

// Splits a full path as the shell's path calls do: the folder keeps the root
// separator ("C:\"), the name is what follows the last separator.
void SplitModulePath(const CString& path, CString& folder, CString& fileName);
