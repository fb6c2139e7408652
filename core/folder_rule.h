// Who else can write a folder. The program runs as administrator, and other
// accounts of the PC may make folders and links where it looks (the roots of
// the drives, a USB stick). A folder it writes into, or takes files from
// without their catalogue digest, must be one nobody else can steer: a plain
// folder (no link), owned by Administrators or SYSTEM, whose access list
// lets nobody else write, delete or change permissions.
#pragma once

#include <windows.h>

#include <vector>

#include "winlib/strings.h"

enum class FolderState {
    kMissing,      // nothing at the path
    kLink,         // a reparse point (junction, symbolic link, mount point), judged without following it
    kNotFolder,    // a file
    kOtherOwner,   // owned by someone other than Administrators, SYSTEM or the running account
    kRunningAccountOwner,  // owned by the running account: what it made where policy gives new objects
                           // their creator as owner, not Administrators
    kOthersWrite,  // another account may write, delete or change permissions (or no access list at all)
    kTrusted,
};

// One entry of a folder listing, a link as it is (never followed).
struct FolderEntry {
    CString name;
    DWORD attributes;
};

class IFolderRule {
public:
    virtual ~IFolderRule() {}
    // The state of the thing at `path`; a link is never followed.
    virtual FolderState JudgeFolder(const wchar_t* path) = 0;
    // Whether an account other than Administrators, SYSTEM and the running
    // account may write in the folder: its access list lets one, it is no
    // trusted plain folder, or its volume keeps no access lists (FAT).
    virtual bool OthersCanWrite(const wchar_t* folder) = 0;
    // Creates the last level owned by Administrators (named, never the
    // token's default owner) with the data folder's own access list (not
    // inherited: Administrators and SYSTEM full control, read for the
    // running account).
    virtual BOOL CreateOwnFolder(const wchar_t* path) = 0;
    // Puts that access list and Administrators as owner on an existing
    // folder and on what is in it (links are not followed).
    virtual BOOL ProtectFolder(const wchar_t* path) = 0;
    // Removes the link itself (never what it points at).
    virtual BOOL RemoveLink(const wchar_t* path) = 0;
    // Renames the thing at `path` to a new name beside it.
    virtual BOOL MoveAside(const wchar_t* path) = 0;
    // The folder's path after every link on the way (GetFinalPathNameByHandleW
    // of an open handle, without the \\?\ head); empty when it cannot be opened.
    virtual CString FinalPath(const wchar_t* path) = 0;
    // The entries of a folder (not "." and ".."), links included as they
    // are; false when it cannot be listed to its end. The file system's, here.
    virtual bool ListFolder(const wchar_t* folder, std::vector<FolderEntry>& entries);
    // Deletes a file that is no link, a read-only one too. The file system's, here.
    virtual BOOL DeletePlainFile(const wchar_t* path);
};

// The Win32 rule, and the one in use: the Win32 one unless a test or the
// simulated machine installed another. The setter returns the previous one;
// null puts the Win32 one back.
IFolderRule& Win32FolderRule();
IFolderRule& CurrentFolderRule();
IFolderRule* SetFolderRule(IFolderRule* rule);

// Whether an access list lets anyone but Administrators and SYSTEM (and,
// with `runningAccountTrusted`, the running account) write, append, add
// files or folders, delete, or change permissions or the owner, on the
// folder or, through an inherit-only entry, on what is made in it. A null
// list lets everyone.
bool AccessListLetsOthersWrite(PACL dacl, bool runningAccountTrusted);

// The descriptor the data folder is made with and protected by, as text:
// the owner (Administrators) and the access list.
CString OwnFolderSecurity();

// How EnsureOwnFolder found the folder it leaves at the path.
enum class OwnFolder {
    kFailed,       // no folder of ours could be had at the path
    kTrusted,      // an existing folder that passed the rule
    kCreated,      // made now (after removing a link or moving a stranger aside)
    kReprotected,  // an existing folder of ours whose access list let others in, or that the running
                   // account owned: it has our owner and access list now, but nothing already in it
                   // counts as verified
};

// The one road to a folder the program writes into: a folder that passes the
// rule is used; a link at the name is removed unfollowed; a file or folder of
// another owner is moved aside; a folder of ours that lets others in, or
// one the running account owns, gets our owner and access list, and then
// what others may have planted in it goes: every link inside it is removed
// without being followed, and every partial download is deleted (never
// resumed); then, when nothing is left at the name, the folder is created
// with ours. The result is judged once more.
OwnFolder EnsureOwnFolder(IFolderRule& rule, const CString& path);
