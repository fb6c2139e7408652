// The folder rule on Windows: owners and access lists read from a handle
// opened on the thing at the path itself (FILE_FLAG_OPEN_REPARSE_POINT), so
// that a link is judged as a link and never followed.
#include "core/folder_rule.h"

#include <aclapi.h>
#include <sddl.h>

#include "core/fixed_texts.h"
#include "core/text_utils.h"
#include "core/work_folder.h"

namespace {

// The rights that let someone change what is in a folder or who may.
const DWORD kWritingRights = FILE_WRITE_DATA | FILE_APPEND_DATA | DELETE | FILE_DELETE_CHILD | WRITE_DAC |
                             WRITE_OWNER | GENERIC_WRITE | GENERIC_ALL;

bool IsSid(PSID sid, WELL_KNOWN_SID_TYPE type) { return sid && IsValidSid(sid) && IsWellKnownSid(sid, type); }

bool IsAdministratorsOrSystem(PSID sid) {
    return IsSid(sid, WinBuiltinAdministratorsSid) || IsSid(sid, WinLocalSystemSid);
}

// The running account's SID as text ("S-1-5-21-..."); empty when unknown.
CString RunningAccountSid() {
    CString text;
    HANDLE token = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) return text;
    BYTE buffer[256] = {};
    DWORD size = 0;
    if (GetTokenInformation(token, TokenUser, buffer, sizeof buffer, &size)) {
        wchar_t* sid = nullptr;
        if (ConvertSidToStringSidW(reinterpret_cast<TOKEN_USER*>(buffer)->User.Sid, &sid)) {
            text = sid;
            LocalFree(sid);
        }
    }
    CloseHandle(token);
    return text;
}

bool IsRunningAccount(PSID sid) {
    static const CString own = RunningAccountSid();
    if (own.IsEmpty() || !sid) return false;
    wchar_t* text = nullptr;
    if (!ConvertSidToStringSidW(sid, &text)) return false;
    const bool same = own.CompareNoCase(text) == 0;
    LocalFree(text);
    return same;
}

// Entries whose SID stands for someone decided elsewhere: the creator
// owner and group only ever reach children (as their creator, who already
// needed a right counted here to create them), and the owner rights are
// the owner's, which is judged by itself.
bool IsPlaceholderSid(PSID sid) {
    return IsSid(sid, WinCreatorOwnerSid) || IsSid(sid, WinCreatorGroupSid) ||
           IsSid(sid, WinCreatorOwnerRightsSid);
}

// Opens the thing at the path itself, never a link's target.
HANDLE OpenUnfollowed(const wchar_t* path, DWORD access) {
    return CreateFileW(path, access, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                       FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS, nullptr);
}

}  // namespace

bool AccessListLetsOthersWrite(PACL dacl, bool runningAccountTrusted) {
    if (!dacl) return true;  // a null access list lets everyone do everything
    for (DWORD i = 0; i < dacl->AceCount; ++i) {
        ACE_HEADER* header = nullptr;
        if (!GetAce(dacl, i, reinterpret_cast<void**>(&header))) return true;
        if (header->AceType != ACCESS_ALLOWED_ACE_TYPE && header->AceType != ACCESS_ALLOWED_CALLBACK_ACE_TYPE)
            continue;  // deny entries only take away; object entries do not occur on files
        // An inherit-only entry gives nothing here but everything to the
        // files and folders made in the folder, where it counts the same.
        if ((header->AceFlags & INHERIT_ONLY_ACE) && !(header->AceFlags & (OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE)))
            continue;
        ACCESS_ALLOWED_ACE* ace = reinterpret_cast<ACCESS_ALLOWED_ACE*>(header);
        if (!(ace->Mask & kWritingRights)) continue;
        PSID sid = &ace->SidStart;
        if (IsAdministratorsOrSystem(sid) || IsPlaceholderSid(sid)) continue;
        if (runningAccountTrusted && IsRunningAccount(sid)) continue;
        return true;
    }
    return false;
}

namespace {

// The judgement; `runningAccountTrusted` lets the running account's own
// rights pass (a place it may write is still no place for others).
FolderState Judge(const wchar_t* path, bool runningAccountTrusted) {
    const DWORD attributes = GetFileAttributesW(path);
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        const DWORD error = GetLastError();
        return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ? FolderState::kMissing
                                                                              : FolderState::kOtherOwner;
    }
    if (attributes & FILE_ATTRIBUTE_REPARSE_POINT) return FolderState::kLink;
    if (!(attributes & FILE_ATTRIBUTE_DIRECTORY)) return FolderState::kNotFolder;
    HANDLE handle = OpenUnfollowed(path, READ_CONTROL | FILE_READ_ATTRIBUTES);
    if (handle == INVALID_HANDLE_VALUE) return FolderState::kOtherOwner;  // not ours to read
    FolderState state = FolderState::kTrusted;
    BY_HANDLE_FILE_INFORMATION info = {};
    PSID owner = nullptr;
    PACL dacl = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (!GetFileInformationByHandle(handle, &info)) {
        state = FolderState::kOtherOwner;
    } else if (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) {
        state = FolderState::kLink;  // it became one meanwhile
    } else if (!(info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
        state = FolderState::kNotFolder;
    } else if (GetSecurityInfo(handle, SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION,
                               &owner, nullptr, &dacl, nullptr, &descriptor) != ERROR_SUCCESS) {
        state = FolderState::kOthersWrite;  // no access list to read: FAT and the like
    } else if (!IsAdministratorsOrSystem(owner) && !(runningAccountTrusted && IsRunningAccount(owner))) {
        state = IsRunningAccount(owner) ? FolderState::kRunningAccountOwner : FolderState::kOtherOwner;
    } else if (AccessListLetsOthersWrite(dacl, runningAccountTrusted)) {
        state = FolderState::kOthersWrite;
    }
    if (descriptor) LocalFree(descriptor);
    CloseHandle(handle);
    return state;
}

}  // namespace

// The data folder's owner and access list: the work folder's, and read for
// the running account, so that the folder can be opened from its desktop.
CString OwnFolderSecurity() {
    CString sddl = kWorkFolderSecurity;
    const CString own = RunningAccountSid();
    if (!own.IsEmpty()) sddl += L"(A;OICI;0x1200a9;;;" + own + L")";
    return sddl;
}

namespace {

bool OwnFolderDescriptor(PSECURITY_DESCRIPTOR* descriptor) {
    return ConvertStringSecurityDescriptorToSecurityDescriptorW(OwnFolderSecurity(), SDDL_REVISION_1, descriptor,
                                                                nullptr) != FALSE;
}

// Sets one part of the thing's descriptor through a handle on the thing
// itself; `info` receives what the handle found (a link is refused).
bool SetUnfollowed(const CString& path, DWORD access, SECURITY_INFORMATION part, PSID owner, PACL dacl,
                   BY_HANDLE_FILE_INFORMATION& info) {
    HANDLE handle = OpenUnfollowed(path, access | READ_CONTROL | FILE_READ_ATTRIBUTES);
    if (handle == INVALID_HANDLE_VALUE) return false;
    const bool ok = GetFileInformationByHandle(handle, &info) &&
                    !(info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) &&
                    SetSecurityInfo(handle, SE_FILE_OBJECT, part, owner, nullptr, dacl, nullptr) == ERROR_SUCCESS;
    CloseHandle(handle);
    return ok;
}

// Puts the access list, then the owner, on the thing at the path (never
// through a link) and on everything below it that is no link. The list
// first: the owner (the running account, say) may always change the list,
// and the list then lets Administrators take the ownership.
bool ProtectTree(const CString& path, PSID owner, PACL dacl, int depth) {
    BY_HANDLE_FILE_INFORMATION info = {};
    const bool ok =
        SetUnfollowed(path, WRITE_DAC, DACL_SECURITY_INFORMATION | PROTECTED_DACL_SECURITY_INFORMATION, nullptr, dacl,
                      info) &&
        SetUnfollowed(path, WRITE_OWNER, OWNER_SECURITY_INFORMATION, owner, nullptr, info);
    if (!ok || !(info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) || depth > 16) return ok;
    WIN32_FIND_DATAW found = {};
    HANDLE find = FindFirstFileW(path + L"\\*", &found);
    if (find == INVALID_HANDLE_VALUE) return ok;
    do {
        if (wcscmp(found.cFileName, L".") == 0 || wcscmp(found.cFileName, L"..") == 0) continue;
        if (found.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) continue;  // never followed
        ProtectTree(path + L"\\" + found.cFileName, owner, dacl, depth + 1);
    } while (FindNextFileW(find, &found));
    FindClose(find);
    return ok;
}

class Win32Rule : public IFolderRule {
public:
    FolderState JudgeFolder(const wchar_t* path) override { return Judge(path, false); }
    bool OthersCanWrite(const wchar_t* folder) override {
        if (!VolumeKeepsAccessLists(folder)) return true;
        return Judge(folder, true) != FolderState::kTrusted;
    }
    BOOL CreateOwnFolder(const wchar_t* path) override {
        PSECURITY_DESCRIPTOR descriptor = nullptr;
        if (!OwnFolderDescriptor(&descriptor)) return FALSE;
        SECURITY_ATTRIBUTES security = {sizeof security, descriptor, FALSE};
        BOOL created = CreateDirectoryW(path, &security);
        LocalFree(descriptor);
        return created;
    }
    BOOL ProtectFolder(const wchar_t* path) override {
        PSECURITY_DESCRIPTOR descriptor = nullptr;
        if (!OwnFolderDescriptor(&descriptor)) return FALSE;
        BOOL present = FALSE, defaulted = FALSE, ownerDefaulted = FALSE;
        PACL dacl = nullptr;
        PSID owner = nullptr;
        bool ok = GetSecurityDescriptorDacl(descriptor, &present, &dacl, &defaulted) && present &&
                  GetSecurityDescriptorOwner(descriptor, &owner, &ownerDefaulted) && owner &&
                  ProtectTree(path, owner, dacl, 0);
        LocalFree(descriptor);
        return ok ? TRUE : FALSE;
    }
    BOOL RemoveLink(const wchar_t* path) override {
        const DWORD attributes = GetFileAttributesW(path);
        if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_REPARSE_POINT)) return FALSE;
        // Both remove the link itself: a directory link is no tree to walk.
        return (attributes & FILE_ATTRIBUTE_DIRECTORY) ? RemoveDirectoryW(path) : DeleteFileW(path);
    }
    BOOL MoveAside(const wchar_t* path) override {
        for (int attempt = 0; attempt < 5; ++attempt) {
            wchar_t name[11] = {};
            MakeRandomName(name);
            if (MoveFileExW(path, CString(path) + L"." + name, 0)) return TRUE;
        }
        return FALSE;
    }
    CString FinalPath(const wchar_t* path) override {
        HANDLE handle = CreateFileW(path, FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                    nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
        if (handle == INVALID_HANDLE_VALUE) return CString();
        CString final = HeldFolderPath(handle);
        CloseHandle(handle);
        return final;
    }
};

IFolderRule* g_folderRule = nullptr;

}  // namespace

namespace {

// A path the file calls take at any length: past MAX_PATH a drive path
// needs the \\?\ form.
CString LongPathForm(const CString& path) {
    if (path.GetLength() < MAX_PATH || path.GetLength() < 3 || path[1] != L':') return path;
    return CString(L"\\\\?\\") + path;
}

bool IsPartialDownloadName(const CString& name) {
    for (const wchar_t* suffix : FixedText::kPartialDownloadSuffixes) {
        const int n = (int)wcslen(suffix);
        if (name.GetLength() > n && name.Right(n).CompareNoCase(suffix) == 0) return true;
    }
    return false;
}

// What other accounts may have put in a folder before it became ours:
// links inside it are removed without being followed, and partial
// downloads are deleted. False when something of the kind stays, or the
// folder cannot be walked to its end.
bool ClearPlanted(IFolderRule& rule, const CString& folder, int depth) {
    if (depth > FixedText::kPlantedWalkDepth) return false;
    std::vector<FolderEntry> entries;
    if (!rule.ListFolder(folder, entries)) return false;
    bool cleared = true;
    for (const FolderEntry& entry : entries) {
        const CString path = folder + L"\\" + entry.name;
        if (entry.attributes & FILE_ATTRIBUTE_REPARSE_POINT) {
            if (!rule.RemoveLink(path)) cleared = false;
        } else if (entry.attributes & FILE_ATTRIBUTE_DIRECTORY) {
            if (!ClearPlanted(rule, path, depth + 1)) cleared = false;
        } else if (IsPartialDownloadName(entry.name)) {
            if (!rule.DeletePlainFile(path)) cleared = false;
        }
    }
    return cleared;
}

}  // namespace

bool IFolderRule::ListFolder(const wchar_t* folder, std::vector<FolderEntry>& entries) {
    WIN32_FIND_DATAW found = {};
    HANDLE find = FindFirstFileW(LongPathForm(CString(folder) + L"\\*"), &found);
    if (find == INVALID_HANDLE_VALUE) return false;
    do {
        if (wcscmp(found.cFileName, L".") == 0 || wcscmp(found.cFileName, L"..") == 0) continue;
        entries.push_back(FolderEntry{found.cFileName, found.dwFileAttributes});
    } while (FindNextFileW(find, &found));
    const bool complete = GetLastError() == ERROR_NO_MORE_FILES;
    FindClose(find);
    return complete;
}

BOOL IFolderRule::DeletePlainFile(const wchar_t* path) {
    const CString file = LongPathForm(path);
    const DWORD attributes = GetFileAttributesW(file);
    if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & (FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY)))
        return FALSE;
    if (attributes & FILE_ATTRIBUTE_READONLY) SetFileAttributesW(file, attributes & ~FILE_ATTRIBUTE_READONLY);
    return DeleteFileW(file);
}

IFolderRule& Win32FolderRule() {
    static Win32Rule rule;
    return rule;
}

IFolderRule& CurrentFolderRule() { return g_folderRule ? *g_folderRule : Win32FolderRule(); }

IFolderRule* SetFolderRule(IFolderRule* rule) {
    IFolderRule* previous = g_folderRule;
    g_folderRule = rule;
    return previous;
}

OwnFolder EnsureOwnFolder(IFolderRule& rule, const CString& path) {
    bool reprotected = false;
    switch (rule.JudgeFolder(path)) {
    case FolderState::kTrusted:
        return OwnFolder::kTrusted;
    case FolderState::kLink:
        if (!rule.RemoveLink(path)) return OwnFolder::kFailed;
        break;
    case FolderState::kNotFolder:
    case FolderState::kOtherOwner:
        if (!rule.MoveAside(path)) return OwnFolder::kFailed;
        break;
    case FolderState::kOthersWrite:
    case FolderState::kRunningAccountOwner:
        // Ours (the owner is Administrators or SYSTEM), but not closed; or
        // made by the running account where new objects are their creator's,
        // whose access list is not known to be ours. Once closed, and owned by
        // Administrators, nothing others planted before is left to be used.
        if (!rule.ProtectFolder(path) || !ClearPlanted(rule, path, 0)) return OwnFolder::kFailed;
        reprotected = true;
        break;
    case FolderState::kMissing:
        break;
    }
    if (!reprotected && !rule.CreateOwnFolder(path)) return OwnFolder::kFailed;
    if (rule.JudgeFolder(path) != FolderState::kTrusted) return OwnFolder::kFailed;
    return reprotected ? OwnFolder::kReprotected : OwnFolder::kCreated;
}
