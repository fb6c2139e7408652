// The work folder and the payloads: PrepareWorkFolder, the payload loaders,
// the unpack thread and the skin archive's reader.
#include "core/work_folder.h"

#include <process.h>
#include <sddl.h>
#include <shlobj.h>
#include <shlwapi.h>

#include "core/fixed_texts.h"
#include "core/md5.h"
#include "core/seven_zip.h"
#include "core/tarvel_app.h"
#include "core/text_utils.h"

namespace {

const int kWorkFolderTries = 5;

// Ten letters and digits; every call gives a new name.
CString FolderName() {
    WCHAR name[11] = {};
    MakeRandomName(name);
    return CString(name);
}

unsigned __stdcall UnpackThreadProc(void* argument) {
    CTarvelApp* app = static_cast<CTarvelApp*>(argument);
    BOOL unpacked = UnpackToolsThread(app);
    app->FinishUnpack(unpacked);
    return 0;
}

}  // namespace

void DerivePayloadKey(const CString& keyText, BYTE key[16]) {
    Md5Hasher hasher;
    hasher.m_algorithm = Md5Hasher::kAlgorithmMd5;
    hasher.m_sourceKind = Md5Hasher::kKindText;
    hasher.m_sourceText = keyText;
    hasher.Compute();
    memcpy(key, hasher.m_digest, 16);
}

int LoadPayload(CResourceFile& target, UINT id, const CString& keyText, HMODULE module) {
    target.Close();
    if (keyText.IsEmpty()) return target.LoadFromResource(module, id, FixedText::kPayloadResourceType);
    BYTE key[16];
    DerivePayloadKey(keyText, key);
    CResourceDecrypt plain;
    if (!plain.LoadFromResource(module, id, FixedText::kPayloadResourceType)) return 0;
    if (!plain.Decipher(plain.m_data, plain.m_size, key)) return 0;
    int size = plain.m_size;
    BYTE* buffer = plain.Detach();
    target.Attach(buffer, size, 0);  // owned by the target now; a zip opens here
    return target.m_loaded ? 1 : 0;
}

int LoadLibraryPayload(CResourceFile& target, const CString& keyText, HMODULE module) {
    return LoadPayload(target, IDR_PAYLOAD_LIBRARY, keyText, module);
}

int LoadToolsPayload(CResourceFile& target, const CString& keyText, HMODULE module) {
    return LoadPayload(target, IDR_PAYLOAD_TOOLS, keyText, module);
}

int LoadSkinPayload(CResourceFile& target, const CString& keyText, HMODULE module) {
    return LoadPayload(target, IDR_PAYLOAD_SKIN, keyText, module);
}

// The owner is named: a folder made without one takes the token's default
// owner, which policy may make the running account rather than
// Administrators (an elevated token may name Administrators).
const wchar_t* const kWorkFolderSecurity = L"O:BAD:P(A;OICI;FA;;;BA)(A;OICI;FA;;;SY)";

bool VolumeKeepsAccessLists(const CString& path) {
    wchar_t root[MAX_PATH] = {};
    if (!GetVolumePathNameW(path, root, MAX_PATH)) return false;
    DWORD flags = 0;
    if (!GetVolumeInformationW(root, nullptr, 0, nullptr, nullptr, &flags, nullptr, 0)) return false;
    return (flags & FS_PERSISTENT_ACLS) != 0;
}

namespace {

// Opens the folder just made, without delete sharing, and checks that the
// handle reaches a plain folder (not a link put in its place meanwhile).
HANDLE HoldFolder(const CString& folder) {
    HANDLE handle = CreateFileW(folder, FILE_LIST_DIRECTORY | READ_CONTROL | SYNCHRONIZE,
                                FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (handle == INVALID_HANDLE_VALUE) return handle;
    BY_HANDLE_FILE_INFORMATION info = {};
    if (!GetFileInformationByHandle(handle, &info) || !(info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) ||
        (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
        CloseHandle(handle);
        return INVALID_HANDLE_VALUE;
    }
    return handle;
}

}  // namespace

CString PathFromFinalName(const CString& name) {
    if (name.Left(8).CompareNoCase(L"\\\\?\\UNC\\") == 0) return L"\\\\" + name.Mid(8);
    if (name.Left(4) == L"\\\\?\\") return name.Mid(4);
    return name;
}

CString HeldFolderPath(HANDLE folder) {
    // Looked up by name: Windows before Vista lacks it.
    typedef DWORD(WINAPI * FinalPathFn)(HANDLE, LPWSTR, DWORD, DWORD);
    FinalPathFn finalPath = reinterpret_cast<FinalPathFn>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "GetFinalPathNameByHandleW")));
    if (!finalPath || folder == INVALID_HANDLE_VALUE || !folder) return CString();
    CString name;
    DWORD size = MAX_PATH;
    for (int round = 0; round < 3; ++round) {
        DWORD n = finalPath(folder, name.GetBufferSetLength((int)size), size, FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
        if (n == 0) return CString();
        if (n < size) {
            name.ReleaseBuffer((int)n);
            return PathFromFinalName(name);
        }
        size = n + 1;  // the length it needs, with its terminator
    }
    return CString();
}

BOOL CreateFreshFolder(const CString& parent, int tries, CString& folder, HANDLE* held) {
    if (held) *held = INVALID_HANDLE_VALUE;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(kWorkFolderSecurity, SDDL_REVISION_1, &descriptor,
                                                              nullptr))
        return FALSE;
    SECURITY_ATTRIBUTES security = {sizeof security, descriptor, FALSE};
    BOOL created = FALSE;
    for (int attempt = 0; attempt < tries && !created; ++attempt) {
        folder = parent + FolderName();
        // Only a folder this call created counts: an existing one may be
        // another copy's work folder, or someone else's.
        if (!CreateDirectoryW(folder, &security)) continue;
        if (!held) {
            created = TRUE;
            break;
        }
        *held = HoldFolder(folder);
        if (*held == INVALID_HANDLE_VALUE) {
            RemoveDirectoryW(folder);
            continue;
        }
        // From here on the folder is reached by where it really is, never
        // again through the path it was made by: any component of that path
        // may be a link that its owner turns elsewhere, and our access list
        // and handle protect only the last one. The held handle keeps the
        // real folders above it from being renamed or replaced.
        CString real = HeldFolderPath(*held);
        if (!real.IsEmpty() && VolumeKeepsAccessLists(real)) {
            folder = real;
            created = TRUE;
            break;
        }
        CloseHandle(*held);
        *held = INVALID_HANDLE_VALUE;
        RemoveDirectoryW(real.IsEmpty() ? folder : real);
    }
    LocalFree(descriptor);
    return created;
}

void CTarvelApp::PrepareWorkFolder() {
    m_workFolderCreated = false;
    m_workFolderUnprotected = false;
    WCHAR temp[MAX_PATH + 1] = {};
    DWORD n = GetTempPathW(MAX_PATH + 1, temp);
    if (n >= 1 && n <= MAX_PATH) {
        CString parent(temp);
        if (parent[parent.GetLength() - 1] != L'\\') parent += L'\\';
        // A temporary folder on a volume without access lists is no place
        // for programs that run elevated.
        if (VolumeKeepsAccessLists(parent))
            m_workFolderCreated = CreateFreshFolder(parent, kWorkFolderTries, m_workFolder, &m_workFolderHandle) != FALSE;
    }
    if (!m_workFolderCreated) {
        // The program's folder is often a USB stick formatted FAT: there the
        // folder's access list would be dropped and anyone could change the
        // tools the program runs elevated. No work folder then.
        CString parent = m_moduleFolder + FixedText::kWorkFolderFallbackSeparator;
        if (VolumeKeepsAccessLists(parent))
            m_workFolderCreated =
                CreateFreshFolder(parent, kWorkFolderTries, m_workFolder, &m_workFolderHandle) != FALSE;
        else
            m_workFolderUnprotected = true;
    }

    if (!m_toolsReady) m_toolsReady = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    ResetEvent(m_toolsReady);
    InterlockedExchange(&m_toolsUnpacked, 0);
    InterlockedExchange(&m_unpackStop, 0);
    m_unpackThread = reinterpret_cast<HANDLE>(_beginthreadex(nullptr, 0, UnpackThreadProc, this, 0, nullptr));
    if (!m_unpackThread) FinishUnpack(FALSE);  // nothing will be unpacked: do not keep anyone waiting

    LoadSkinPayload(m_skinZip, m_skinKeyText, m_payloadModule);
}

void CTarvelApp::FinishUnpack(BOOL unpacked) {
    InterlockedExchange(&m_toolsUnpacked, unpacked ? 1 : 0);
    if (m_toolsReady) SetEvent(m_toolsReady);
}

BOOL CTarvelApp::WaitForTools(DWORD milliseconds) {
    if (!m_toolsReady) return FALSE;
    if (WaitForSingleObject(m_toolsReady, milliseconds) != WAIT_OBJECT_0) return FALSE;
    return m_toolsUnpacked ? TRUE : FALSE;
}

BOOL UnpackToolsThread(CTarvelApp* app) {
    // Never write into a folder that this process did not create.
    if (!app->m_workFolderCreated) return FALSE;
    // The thread's own copies: an exit that gives up waiting for it frees
    // the application's texts while it still runs. Of the object it then
    // reads only the stop flag and reports its end through the event.
    const CString workFolder = app->m_workFolder;
    const CString keyText = app->m_payloadKeyText;
    const HMODULE module = app->m_payloadModule;
    const volatile LONG* stop = &app->m_unpackStop;
    if (*stop) return FALSE;
    CResourceFile library;
    if (!LoadLibraryPayload(library, keyText, module)) return FALSE;
    CString libraryPath = workFolder + FixedText::kSevenZipLibraryFileName;
    HANDLE file = CreateFileW(libraryPath, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return FALSE;
    DWORD written = 0;
    BOOL complete = WriteFile(file, library.m_data, (DWORD)library.m_size, &written, nullptr) &&
                    written == (DWORD)library.m_size;
    if (!CloseHandle(file)) complete = FALSE;
    library.Close();

    BOOL extracted = FALSE;
    if (complete && !*stop) {  // a library cut short must not be loaded
        CResourceP7z tools(libraryPath);
        tools.m_stop = stop;
        if (LoadToolsPayload(tools, keyText, module) && !*stop) extracted = tools.ExtractTo(workFolder);
    }
    DWORD attributes = GetFileAttributesW(libraryPath);
    if (attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY)) {
        SetFileAttributesW(libraryPath, FILE_ATTRIBUTE_NORMAL);
        DeleteFileW(libraryPath);
    }
    return extracted;
}

BYTE* ReadSkinEntry(const WCHAR* name, DWORD* size) {
    if (size) *size = 0;
    CTarvelApp* app = GetTarvelApp();
    if (!app || !name) return nullptr;
    return app->m_skinZip.FindAndExtract(CResourceZip::kFindSuffix, name, size);
}
