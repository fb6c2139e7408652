// The Win32 implementations of the disk layer's two seams: each member is
// the platform call of the same purpose and nothing more.
#include <windows.h>
#include <initguid.h>
#include <setupapi.h>
#include <shlobj.h>
#include <shlwapi.h>
#include <winioctl.h>

#include "disk/disk_calls.h"

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
};

class Win32Host : public IBootHost {
public:
    BOOL PathExists(const wchar_t* path) override { return PathFileExistsW(path); }
    BOOL IsFolder(const wchar_t* path) override { return PathIsDirectoryW(path) ? TRUE : FALSE; }
    BOOL CreateFolder(const wchar_t* path) override { return CreateDirectoryW(path, nullptr); }
    int CopyFileEnsureFolder(const wchar_t* source, const wchar_t* destination, BOOL failIfExists) override;
    BOOL SetAttributes(const wchar_t* path, DWORD attributes) override { return SetFileAttributesW(path, attributes); }
    BOOL WriteIniString(const wchar_t* path, const wchar_t* section, const wchar_t* key,
                        const wchar_t* value) override;
    int RunProcessAndWait(const wchar_t* program, const wchar_t* arguments) override;
    void LocalTime(SYSTEMTIME* time) override { GetLocalTime(time); }
    void ShowDebugBox(const wchar_t* text) override;
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

// Until the utilities land, these three stay thin wrappers over the same
// platform calls the utilities make (the version resource, CopyFileW with the
// destination folder rule, CreateProcessW with a five-minute wait).
BOOL Win32Storage::ProductVersion(const wchar_t* path, CString& version) {
    DWORD ignored = 0;
    DWORD size = GetFileVersionInfoSizeW(path, &ignored);
    if (size == 0) return FALSE;
    BYTE* block = static_cast<BYTE*>(calloc(1, (size + 1) * 2));
    if (!block) return FALSE;
    BOOL ok = FALSE;
    VS_FIXEDFILEINFO* info = nullptr;
    UINT infoSize = 0;
    if (GetFileVersionInfoW(path, 0, size, block) &&
        VerQueryValueW(block, L"\\", reinterpret_cast<void**>(&info), &infoSize) && info &&
        infoSize >= sizeof(VS_FIXEDFILEINFO)) {
        version.Format(L"%u.%u.%u.%u", HIWORD(info->dwProductVersionMS), LOWORD(info->dwProductVersionMS),
                       HIWORD(info->dwProductVersionLS), LOWORD(info->dwProductVersionLS));
        ok = TRUE;
    }
    free(block);
    return ok;
}

int Win32Host::CopyFileEnsureFolder(const wchar_t* source, const wchar_t* destination, BOOL failIfExists) {
    if (!PathFileExistsW(source)) return -1;
    if (PathIsDirectoryW(source)) return -2;
    if (failIfExists && PathFileExistsW(destination)) return -3;
    wchar_t folder[MAX_PATH] = {};
    if (wcslen(destination) >= MAX_PATH) return -4;
    wcscpy(folder, destination);
    PathRemoveFileSpecW(folder);
    if (folder[0] && !PathFileExistsW(folder)) {
        SHCreateDirectoryExW(nullptr, folder, nullptr);
        if (!PathFileExistsW(folder)) return -4;
    }
    CString target = destination;
    if (PathIsDirectoryW(destination)) target = CString(folder) + L"\\" + PathFindFileNameW(source);
    return CopyFileW(source, target, failIfExists);
}

BOOL Win32Host::WriteIniString(const wchar_t* path, const wchar_t* section, const wchar_t* key,
                               const wchar_t* value) {
    return WritePrivateProfileStringW(section, key, value, path);
}

int Win32Host::RunProcessAndWait(const wchar_t* program, const wchar_t* arguments) {
    CString line = program;
    if (line.GetLength() && line[0] != L'"') line = L"\"" + line + L"\"";
    if (arguments && *arguments) line += CString(L" ") + arguments;
    STARTUPINFOW si = {};
    si.cb = sizeof(si);
    si.dwFlags = STARTF_USESHOWWINDOW;
    si.wShowWindow = SW_HIDE;
    PROCESS_INFORMATION pi = {};
    wchar_t* buffer = line.GetBuffer();
    BOOL started = CreateProcessW(nullptr, buffer, nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi);
    line.ReleaseBuffer();
    if (!started) return -1;
    WaitForSingleObject(pi.hProcess, 300000);
    DWORD code = 0;
    int result = GetExitCodeProcess(pi.hProcess, &code) ? (int)code : -2;
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
    return result;
}

void Win32Host::ShowDebugBox(const wchar_t* text) { MessageBoxW(nullptr, text, L"", MB_OK | MB_ICONINFORMATION); }
