// The Win32 implementations of the disk layer's two seams: each member is
// the platform call of the same purpose and nothing more.
#include <windows.h>
#include <initguid.h>
#include <setupapi.h>
#include <shlobj.h>
#include <shlwapi.h>
#include <winioctl.h>
#include <restartmanager.h>

#include <vector>

#include "core/dll_search.h"
#include "core/fixed_texts.h"
#include "core/process_file_utils.h"
#include "core/text_utils.h"
#include "core/work_folder.h"
#include "controls/message_box.h"
#include "core/ini.h"
#include "core/md5.h"
#include "disk/disk_calls.h"

// The application's 64-bit query (core/tarvel_app.h, whose headers would
// bring winioctl.h in a second time after initguid.h).
BOOL DetectWow64(const wchar_t* moduleName, const char* functionName);

namespace {

class Win32Storage : public IStorageCalls {
public:
    int EnumerateDiskInterfaces(CString* paths, int maxPaths) override {
        HDEVINFO set = SetupDiGetClassDevsW(&GUID_DEVINTERFACE_DISK, nullptr, nullptr,
                                            DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
        if (set == INVALID_HANDLE_VALUE) return 0;
        const DWORD blockSize = 1024;
        BYTE* block = static_cast<BYTE*>(calloc(1, blockSize + sizeof(wchar_t)));
        if (!block) {
            SetupDiDestroyDeviceInfoList(set);
            return 0;
        }
        SP_DEVICE_INTERFACE_DETAIL_DATA_W* detail = reinterpret_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_W*>(block);
        int count = 0;
        for (DWORD index = 0; count < maxPaths; ++index) {
            SP_DEVICE_INTERFACE_DATA data = {};
            data.cbSize = sizeof(data);
            if (!SetupDiEnumDeviceInterfaces(set, nullptr, &GUID_DEVINTERFACE_DISK, index, &data)) break;
            memset(block, 0, blockSize);
            detail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W);  // 6 in a 32-bit process
            if (!SetupDiGetDeviceInterfaceDetailW(set, &data, detail, blockSize, nullptr, nullptr)) break;
            // The block keeps one spare terminator beyond the size we offered.
            paths[count++] = detail->DevicePath;
        }
        free(block);
        SetupDiDestroyDeviceInfoList(set);
        return count;
    }
    HANDLE OpenDevice(const wchar_t* path) override {
        return CreateFileW(path, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                           OPEN_EXISTING, 0, nullptr);
    }
    void CloseDevice(HANDLE device) override { CloseHandle(device); }
    BOOL IoControl(HANDLE device, DWORD code, const void* in, DWORD inSize, void* out, DWORD outSize,
                   DWORD* returned) override {
        return DeviceIoControl(device, code, const_cast<void*>(in), inSize, out, outSize, returned, nullptr);
    }
    DWORD LogicalDriveStrings(DWORD length, wchar_t* buffer) override {
        return GetLogicalDriveStringsW(length, buffer);
    }
    UINT DriveType(const wchar_t* root) override { return GetDriveTypeW(root); }
    BOOL VolumeInformation(const wchar_t* root, wchar_t* label, DWORD labelSize, wchar_t* fileSystem,
                           DWORD fileSystemSize) override {
        return GetVolumeInformationW(root, label, labelSize, nullptr, nullptr, nullptr, fileSystem,
                                     fileSystemSize);
    }
    BOOL FreeBytesForCaller(const wchar_t* root, ULONGLONG* freeBytes) override {
        ULARGE_INTEGER caller = {}, total = {}, totalFree = {};
        if (!GetDiskFreeSpaceExW(root, &caller, &total, &totalFree)) return FALSE;
        *freeBytes = caller.QuadPart;
        return TRUE;
    }
    DWORD VolumeGuidPath(const wchar_t* root, CString& path) override {
        wchar_t name[MAX_PATH] = {};  // 49 characters and a terminator are enough
        if (!GetVolumeNameForVolumeMountPointW(root, name, MAX_PATH)) return GetLastError();
        path = name;
        return ERROR_SUCCESS;
    }
    BOOL DefineDosDevice(DWORD flags, const wchar_t* name, const wchar_t* target) override {
        return DefineDosDeviceW(flags, name, target);
    }
    BOOL FindFile(const wchar_t* path) override {
        WIN32_FIND_DATAW data;
        HANDLE find = FindFirstFileW(path, &data);
        if (find == INVALID_HANDLE_VALUE) return FALSE;
        FindClose(find);
        return TRUE;
    }
    BOOL ProductVersion(const wchar_t* path, CString& version) override;
    BOOL RunningWindows(CString& windowsFolder, BOOL& wow64, BOOL& sysnative) override;
    BOOL RunningSystemVersion(CString& version) override;
    HANDLE OpenDeviceForQuery(const wchar_t* path) override {
        return CreateFileW(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                           OPEN_EXISTING, 0, nullptr);
    }
    BOOL ReadDevice(HANDLE device, LONGLONG offset, void* buffer, DWORD size) override {
        return Transfer(device, offset, buffer, size, false);
    }
    BOOL WriteDevice(HANDLE device, LONGLONG offset, const void* buffer, DWORD size) override {
        return Transfer(device, offset, const_cast<void*>(buffer), size, true);
    }
    BOOL SetVolumeLabel(const wchar_t* root, const wchar_t* label) override { return SetVolumeLabelW(root, label); }
    BOOL SystemPartitionDevice(CString& device) override {
        wchar_t value[MAX_PATH + 1] = {};
        DWORD size = sizeof(value) - sizeof(wchar_t);
        if (RegGetValueW(HKEY_LOCAL_MACHINE, FixedText::kSetupRegistryKey, FixedText::kSystemPartitionValue,
                         RRF_RT_REG_SZ, nullptr, value, &size) != ERROR_SUCCESS)
            return FALSE;
        device = value;
        return !device.IsEmpty();
    }
    BOOL EnumerateVolumeGuidPaths(std::vector<CString>& paths) override {
        paths.clear();
        wchar_t name[MAX_PATH] = {};  // 49 characters and a terminator are enough
        HANDLE find = FindFirstVolumeW(name, MAX_PATH);
        if (find == INVALID_HANDLE_VALUE) return FALSE;
        do {
            paths.push_back(name);
        } while (FindNextVolumeW(find, name, MAX_PATH));
        const BOOL whole = GetLastError() == ERROR_NO_MORE_FILES;
        FindVolumeClose(find);
        return whole;
    }
    BOOL MountVolume(const wchar_t* root, const wchar_t* guidPath) override {
        return SetVolumeMountPointW(root, guidPath);
    }

private:
    static BOOL Transfer(HANDLE device, LONGLONG offset, void* buffer, DWORD size, bool write) {
        LARGE_INTEGER at;
        at.QuadPart = offset;
        if (!SetFilePointerEx(device, at, nullptr, FILE_BEGIN)) return FALSE;
        DWORD done = 0;
        BOOL ok = write ? WriteFile(device, buffer, size, &done, nullptr) : ReadFile(device, buffer, size, &done, nullptr);
        return ok && done == size;
    }
};

class Win32Host : public IBootHost {
public:
    // GetFileAttributesW, not the shell's path calls: these take the long
    // form, which the backup uses past 260 characters.
    BOOL PathExists(const wchar_t* path) override {
        return path && *path && GetFileAttributesW(path) != INVALID_FILE_ATTRIBUTES;
    }
    BOOL IsFolder(const wchar_t* path) override {
        const DWORD attributes = path && *path ? GetFileAttributesW(path) : INVALID_FILE_ATTRIBUTES;
        return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
    }
    BOOL CreateFolder(const wchar_t* path) override { return CreateDirectoryW(path, nullptr); }
    int CopyFileEnsureFolder(const wchar_t* source, const wchar_t* destination, BOOL failIfExists) override;
    BOOL SetAttributes(const wchar_t* path, DWORD attributes) override { return SetFileAttributesW(path, attributes); }
    BOOL WriteIniString(const wchar_t* path, const wchar_t* section, const wchar_t* key,
                        const wchar_t* value) override;
    int RunProcessAndWait(const wchar_t* program, const wchar_t* arguments) override;
    int RunProcessAndRead(const wchar_t* program, const wchar_t* arguments, std::string& output) override;
    int RunProcessWithInput(const wchar_t* program, const wchar_t* arguments, const std::string& input) override;
    void LocalTime(SYSTEMTIME* time) override { GetLocalTime(time); }
    void ShowDebugBox(const wchar_t* text) override;
    BOOL ReadFileBytes(const wchar_t* path, void* buffer, DWORD size, DWORD* got) override;
    ULONGLONG FileSize(const wchar_t* path) override { return GetFileSize64(path); }
    BOOL CopyFileProgress(const wchar_t* source, const wchar_t* target, LPPROGRESS_ROUTINE routine,
                          void* data) override {
        return CopyFileSharingHold(source, target, TRUE, routine, data);
    }
    BOOL CreateFolderTree(const wchar_t* path) override {
        SHCreateDirectoryExW(nullptr, path, nullptr);
        return PathIsDirectoryW(path) ? TRUE : FALSE;
    }
    BOOL WriteTextFile(const wchar_t* path, const CStringA& text) override;
    BOOL RemoveFile(const wchar_t* path) override { return DeleteFileW(path); }
    HANDLE HoldNewTextFile(const wchar_t* path, const CStringA& text) override;
    void ReleaseHeldFile(HANDLE hold, const wchar_t* path) override {
        if (hold != INVALID_HANDLE_VALUE && hold) CloseHandle(hold);
        DeleteFileW(path);
    }
    void Wait(DWORD milliseconds) override { Sleep(milliseconds); }
    BOOL RealHostRule() override { return TRUE; }
    CString FileDigest(const wchar_t* path) override {
        CString digest = FileMd5Hex(path);
        return digest.GetLength() == 32 ? digest : CString();
    }
    DWORD ListFolder(const wchar_t* folder, std::vector<WIN32_FIND_DATAW>& entries) override {
        return ListFolderEntries(folder, entries);
    }
    DWORD CopyUserFile(const wchar_t* source, const wchar_t* target, bool* readFailed) override {
        return CopyFileSharingReadOnly(source, target, readFailed);
    }
    CString LinkTarget(const wchar_t* path) override { return LinkFinalPath(path); }
    CString FileUsers(const wchar_t* path) override;
    void DebugLog(const wchar_t* line) override { OutputDebugStringW(line); }
};

Win32Storage g_win32Storage;
Win32Host g_win32Host;
IStorageCalls* g_storage = &g_win32Storage;
IBootHost* g_host = &g_win32Host;

}  // namespace

IStorageCalls& Win32StorageCalls() { return g_win32Storage; }
IBootHost& Win32BootHost() { return g_win32Host; }
IStorageCalls& CurrentStorageCalls() { return *g_storage; }
IBootHost& CurrentBootHost() { return *g_host; }

IStorageCalls* SetStorageCalls(IStorageCalls* calls) {
    IStorageCalls* previous = g_storage;
    g_storage = calls ? calls : &g_win32Storage;
    return previous;
}

IBootHost* SetBootHost(IBootHost* host) {
    IBootHost* previous = g_host;
    g_host = host ? host : &g_win32Host;
    return previous;
}

BOOL Win32Storage::ProductVersion(const wchar_t* path, CString& version) {
    CString text = GetFileVersionText(path);
    if (text == FixedText::kNoVersionText || text == FixedText::kNoVersionResourceText) return FALSE;
    version = text;
    return TRUE;
}

BOOL Win32Storage::RunningWindows(CString& windowsFolder, BOOL& wow64, BOOL& sysnative) {
    wchar_t windows[MAX_PATH + 1] = {};
    const UINT n = GetSystemWindowsDirectoryW(windows, MAX_PATH);
    if (n == 0 || n >= MAX_PATH) return FALSE;
    windowsFolder = windows;
    windowsFolder.TrimRight(L'\\');
    // The same query that gives the program its 64-bit flag.
    wow64 = DetectWow64(FixedText::kWow64QueryModule, FixedText::kWow64QueryFunction);
    // The alias is no entry of the Windows folder (a listing never shows
    // it), but its path opens: ask for its attributes.
    const DWORD attributes =
        wow64 ? GetFileAttributesW(windowsFolder + FixedText::kPathSeparator + FixedText::kSysnativeFolder)
              : INVALID_FILE_ATTRIBUTES;
    sysnative = attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
    return TRUE;
}

BOOL Win32Storage::RunningSystemVersion(CString& version) {
    // The kernel's own answer: unlike GetVersionEx it is not shimmed to an
    // older version for a program without a compatibility manifest entry.
    typedef LONG(WINAPI * VersionQuery)(OSVERSIONINFOW*);
    HMODULE module = GetModuleHandleW(FixedText::kRunningVersionModule);
    VersionQuery query = module ? reinterpret_cast<VersionQuery>(reinterpret_cast<void*>(
                                      GetProcAddress(module, FixedText::kRunningVersionFunction)))
                                : nullptr;
    if (!query) return FALSE;
    OSVERSIONINFOW info = {};
    info.dwOSVersionInfoSize = sizeof info;
    if (query(&info) != 0) return FALSE;  // not STATUS_SUCCESS
    version.Format(FixedText::kRunningVersionFormat, info.dwMajorVersion, info.dwMinorVersion, info.dwBuildNumber);
    return TRUE;
}

int Win32Host::CopyFileEnsureFolder(const wchar_t* source, const wchar_t* destination, BOOL failIfExists) {
    return ::CopyFileEnsureFolder(source, destination, failIfExists);
}

// Through a CIni object for its path rules; the values are plain.
BOOL Win32Host::WriteIniString(const wchar_t* path, const wchar_t* section, const wchar_t* key,
                               const wchar_t* value) {
    CIni ini(path);
    ini.SetSection(section);
    return ini.WriteString(key, value);
}

int Win32Host::RunProcessAndWait(const wchar_t* program, const wchar_t* arguments) {
    return ::RunProcessAndWait(program, arguments);
}

// The Restart Manager (Vista and later) names the programs that have a file
// open; looked up at run time, from the system folder.
CString Win32Host::FileUsers(const wchar_t* path) {
    typedef DWORD(WINAPI * StartFn)(DWORD*, DWORD, WCHAR*);
    typedef DWORD(WINAPI * RegisterFn)(DWORD, UINT, LPCWSTR*, UINT, RM_UNIQUE_PROCESS*, UINT, LPCWSTR*);
    typedef DWORD(WINAPI * ListFn)(DWORD, UINT*, UINT*, RM_PROCESS_INFO*, LPDWORD);
    typedef DWORD(WINAPI * EndFn)(DWORD);
    const CString dll = SystemFolderDllPath(L"rstrtmgr.dll");
    HMODULE module = dll.IsEmpty() ? nullptr : LoadLibraryFromItsFolder(dll);
    if (!module) return CString();
    StartFn start = reinterpret_cast<StartFn>(reinterpret_cast<void*>(GetProcAddress(module, "RmStartSession")));
    RegisterFn add = reinterpret_cast<RegisterFn>(reinterpret_cast<void*>(GetProcAddress(module, "RmRegisterResources")));
    ListFn list = reinterpret_cast<ListFn>(reinterpret_cast<void*>(GetProcAddress(module, "RmGetList")));
    EndFn end = reinterpret_cast<EndFn>(reinterpret_cast<void*>(GetProcAddress(module, "RmEndSession")));
    CString names;
    DWORD session = 0;
    WCHAR key[CCH_RM_SESSION_KEY + 1] = {};
    if (start && add && list && end && start(&session, 0, key) == ERROR_SUCCESS) {
        const CString plain = PathFromFinalName(path);
        LPCWSTR files[1] = {plain};
        std::vector<RM_PROCESS_INFO> found(8);
        UINT needed = 0, count = (UINT)found.size();
        DWORD reasons = 0;
        if (add(session, 1, files, 0, nullptr, 0, nullptr) == ERROR_SUCCESS &&
            list(session, &needed, &count, found.data(), &reasons) == ERROR_SUCCESS) {
            for (UINT i = 0; i < count && i < found.size(); ++i) {
                if (!found[i].strAppName[0]) continue;
                if (!names.IsEmpty()) names += FixedText::kFileUsersSeparator;
                names += found[i].strAppName;
            }
        }
        end(session);
    }
    FreeLibrary(module);
    return names;
}

int Win32Host::RunProcessAndRead(const wchar_t* program, const wchar_t* arguments, std::string& output) {
    return ::RunProcessAndRead(program, arguments, output);
}

int Win32Host::RunProcessWithInput(const wchar_t* program, const wchar_t* arguments, const std::string& input) {
    return ::RunProcessWithInput(program, arguments, input);
}

// The program's own message box over the main window, without a countdown.
void Win32Host::ShowDebugBox(const wchar_t* text) { MyMessageBox(MB_ICONINFORMATION, FALSE, text, 0); }

BOOL Win32Host::ReadFileBytes(const wchar_t* path, void* buffer, DWORD size, DWORD* got) {
    *got = 0;
    HANDLE file = CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return FALSE;
    BOOL ok = ReadFile(file, buffer, size, got, nullptr);
    CloseHandle(file);
    return ok;
}

BOOL Win32Host::WriteTextFile(const wchar_t* path, const CStringA& text) {
    HANDLE file = CreateFileW(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return FALSE;
    DWORD written = 0;
    BOOL ok = WriteFile(file, text.GetString(), (DWORD)text.GetLength(), &written, nullptr) &&
              written == (DWORD)text.GetLength();
    CloseHandle(file);
    return ok;
}

// The file is written through a handle that shares nothing, then held
// through a read handle that shares reading only: from then on no process
// can open it for writing or deleting (a sharing violation), while a reader
// that shares reading itself gets in. Between the two handles someone with
// rights on the folder could touch it; so the held file must be the same
// file (volume and file index) and hold exactly the text, or nothing is held.
HANDLE Win32Host::HoldNewTextFile(const wchar_t* path, const CStringA& text) {
    HANDLE file = CreateFileW(path, GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return INVALID_HANDLE_VALUE;
    const DWORD length = (DWORD)text.GetLength();
    DWORD written = 0;
    BY_HANDLE_FILE_INFORMATION made = {};
    BOOL ok = WriteFile(file, text.GetString(), length, &written, nullptr) && written == length &&
              FlushFileBuffers(file) && GetFileInformationByHandle(file, &made);
    CloseHandle(file);
    HANDLE hold = ok ? CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL,
                                   nullptr)
                     : INVALID_HANDLE_VALUE;
    BY_HANDLE_FILE_INFORMATION held = {};
    ok = hold != INVALID_HANDLE_VALUE && GetFileInformationByHandle(hold, &held) &&
         held.dwVolumeSerialNumber == made.dwVolumeSerialNumber && held.nFileIndexHigh == made.nFileIndexHigh &&
         held.nFileIndexLow == made.nFileIndexLow && held.nFileSizeHigh == 0 && held.nFileSizeLow == length;
    if (ok) {
        // One byte more than the text: a longer file shows up as a mismatch.
        std::vector<char> back(length + 1);
        DWORD got = 0;
        ok = ReadFile(hold, back.data(), length + 1, &got, nullptr) && got == length &&
             memcmp(back.data(), text.GetString(), length) == 0;
    }
    if (ok) return hold;
    if (hold != INVALID_HANDLE_VALUE) CloseHandle(hold);
    DeleteFileW(path);  // the name was free: CREATE_NEW made it
    return INVALID_HANDLE_VALUE;
}
