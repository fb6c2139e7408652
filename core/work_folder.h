// The work folder and the three payloads: the 7-Zip library (155) and the
// tools archive (145), unpacked into the work folder on the unpack thread,
// and the skin archive (147), kept in memory.
#pragma once

#include <windows.h>

#include "core/resource_file.h"
#include "resources/resource_ids.h"
#include "winlib/strings.h"

class CTarvelApp;

// The payload key: the raw MD5 digest of the key text (text mode).
void DerivePayloadKey(const CString& keyText, BYTE key[16]);

// The payload loaders: resource `id` of type "BINARY" from `module` (null:
// the program), deciphered with the key of `keyText` (an empty key text takes
// the resource as stored) and attached, owned, to `target`, which is closed
// first. Nonzero when the target holds the payload.
int LoadPayload(CResourceFile& target, UINT id, const CString& keyText, HMODULE module = nullptr);
int LoadLibraryPayload(CResourceFile& target, const CString& keyText, HMODULE module = nullptr);
int LoadToolsPayload(CResourceFile& target, const CString& keyText, HMODULE module = nullptr);
int LoadSkinPayload(CResourceFile& target, const CString& keyText, HMODULE module = nullptr);

// The unpack thread's work: writes the library into the work folder, extracts
// the tools archive there and deletes the library again. TRUE when the tools
// were extracted. Does nothing when the work folder is not this process's own.
BOOL UnpackToolsThread(CTarvelApp* app);

// A new folder below `parent` (which ends with a separator) whose name this
// process made and created itself: a name that already exists is another try.
// Up to `tries` names from MakeRandomName. TRUE with `folder`
// set when one was created; otherwise `folder` holds the last name tried.
// The folder's access list gives full control to Administrators and SYSTEM
// only (inherited by everything in it, nothing inherited from the parent).
// With `held`, the folder is opened right after its creation without delete
// sharing and `held` receives the handle (a folder that cannot be held, or
// whose path turned into a link, is removed again and counts as a failed
// try); `folder` is then the held folder's real path (HeldFolderPath), which
// every later use goes by, and that path must lie on a volume that keeps
// access lists.
BOOL CreateFreshFolder(const CString& parent, int tries, CString& folder, HANDLE* held = nullptr);
// The real path of a held folder, links resolved (GetFinalPathNameByHandleW,
// without its "\\?\" prefix); empty when it cannot be had.
CString HeldFolderPath(HANDLE folder);
// A final path name without its "\\?\" prefix: "\\?\C:\x" is "C:\x",
// "\\?\UNC\server\share" is "\\server\share".
CString PathFromFinalName(const CString& name);
// Whether the volume of `path` keeps access lists (FS_PERSISTENT_ACLS): on
// FAT a folder's access list is silently dropped.
bool VolumeKeepsAccessLists(const CString& path);
// The owner (Administrators) and access list of the work folder, as a
// security descriptor text.
extern const wchar_t* const kWorkFolderSecurity;

// The skin archive's reader: the first entry of the application's skin
// archive whose name ends with `name` (at most 519 characters, letter case
// ignored), inflated into a malloc block the caller frees; `size` receives
// its size. Null when there is no such entry. Safe on any thread.
BYTE* ReadSkinEntry(const WCHAR* name, DWORD* size);
