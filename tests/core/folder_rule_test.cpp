// The folder rule on Windows: access lists judged from security
// descriptors built in memory (which Wine handles as Windows does), and the
// judgement of real paths where the file system lets the test show it.
#include <gtest/gtest.h>

#include <windows.h>
#include <aclapi.h>
#include <sddl.h>

#include <set>
#include <string>
#include <vector>

#include "core/folder_rule.h"
#include "core/work_folder.h"
#include "support/test_files.h"

namespace {

// The running account's SID as text.
std::wstring OwnSid() {
    HANDLE token = nullptr;
    std::wstring text;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) return text;
    BYTE buffer[256] = {};
    DWORD size = 0;
    wchar_t* sid = nullptr;
    if (GetTokenInformation(token, TokenUser, buffer, sizeof buffer, &size) &&
        ConvertSidToStringSidW(reinterpret_cast<TOKEN_USER*>(buffer)->User.Sid, &sid)) {
        text = sid;
        LocalFree(sid);
    }
    CloseHandle(token);
    return text;
}

TEST(FolderRule, AccessListsThatLetOthersWrite) {
    const std::wstring me = OwnSid();
    ASSERT_FALSE(me.empty());
    struct Case {
        const char* what;
        std::wstring dacl;
        bool others;         // judged for a folder the program writes into
        bool othersButMine;  // judged as a place: the running account is no other
    } cases[] = {
        {"ours: Administrators and SYSTEM only", L"D:P(A;OICI;FA;;;BA)(A;OICI;FA;;;SY)", false, false},
        {"ours with read for the running account", L"D:P(A;OICI;FA;;;BA)(A;OICI;FA;;;SY)(A;OICI;0x1200a9;;;" + me + L")",
         false, false},
        {"everyone may read", L"D:(A;;FA;;;BA)(A;;FR;;;WD)", false, false},
        {"a drive root's list: users may add folders", L"D:(A;;FA;;;BA)(A;;FA;;;SY)(A;CI;0x4;;;AU)", true, true},
        {"users may modify (inherited from the root)", L"D:(A;ID;FA;;;BA)(A;OICIID;0x1301bf;;;AU)", true, true},
        {"an inherit-only entry counts for what it gives the files made in it",
         L"D:(A;;FA;;;BA)(A;OICIIO;GW;;;BU)", true, true},
        {"the creator owner's entry reaches only what its creator made", L"D:(A;;FA;;;BA)(A;OICIIO;GA;;;CO)", false,
         false},
        {"delete alone", L"D:(A;;FA;;;BA)(A;;SD;;;BU)", true, true},
        {"delete child alone", L"D:(A;;FA;;;BA)(A;;0x40;;;BU)", true, true},
        {"change permissions alone", L"D:(A;;FA;;;BA)(A;;WD;;;WD)", true, true},
        {"take ownership alone", L"D:(A;;FA;;;BA)(A;;WO;;;WD)", true, true},
        {"generic all", L"D:(A;;GA;;;WD)", true, true},
        {"a deny entry takes away only", L"D:(D;;FA;;;WD)(A;;FA;;;BA)", false, false},
        {"the running account may write", L"D:(A;;FA;;;BA)(A;OICI;FA;;;" + me + L")", true, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        PSECURITY_DESCRIPTOR descriptor = nullptr;
        ASSERT_TRUE(ConvertStringSecurityDescriptorToSecurityDescriptorW(c.dacl.c_str(), SDDL_REVISION_1, &descriptor,
                                                                         nullptr));
        BOOL present = FALSE, defaulted = FALSE;
        PACL dacl = nullptr;
        ASSERT_TRUE(GetSecurityDescriptorDacl(descriptor, &present, &dacl, &defaulted));
        EXPECT_EQ(c.others, AccessListLetsOthersWrite(dacl, false));
        EXPECT_EQ(c.othersButMine, AccessListLetsOthersWrite(dacl, true));
        LocalFree(descriptor);
    }
    EXPECT_TRUE(AccessListLetsOthersWrite(nullptr, true)) << "a null access list lets everyone in";
}

TEST(FolderRule, MissingFilesAndLinksAreNoFolderOfOurs) {
    const std::wstring root = MakeTempFolder(L"folder_rule");
    IFolderRule& rule = Win32FolderRule();
    EXPECT_EQ(FolderState::kMissing, rule.JudgeFolder((root + L"\\missing").c_str()));
    WriteWholeFile(root + L"\\file", "x");
    EXPECT_EQ(FolderState::kNotFolder, rule.JudgeFolder((root + L"\\file").c_str()));
    EXPECT_TRUE(rule.OthersCanWrite((root + L"\\missing").c_str()));
    // The link fixture (made before each CTest run): a folder path that is a link.
    const std::wstring link = TestRunDirectory() + L"\\fixtures\\reparse\\rootlink";
    const DWORD attributes = GetFileAttributesW(link.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
        EXPECT_EQ(FolderState::kLink, rule.JudgeFolder(link.c_str())) << "judged without following it";
        EXPECT_TRUE(rule.OthersCanWrite(link.c_str()));
    }
    RemoveTree(root);
}

std::wstring UpperOf(std::wstring s) {
    for (auto& c : s) c = (wchar_t)towupper(c);
    return s;
}

// The folder rule over a test folder's real files. `open` is a folder of
// ours that others may write until it is protected. The paths in `links`
// stand for links another account planted there: Wine can neither make nor
// remove a link, so each is a plain folder that the listing shows as a link,
// and removing it takes it out of the tree whole, as removing a link leaves
// what it leads to as it was.
class PlantedFolders : public IFolderRule {
public:
    std::wstring open, outside;
    std::set<std::wstring> links, stuck;  // upper case; stuck: links that cannot be removed
    std::vector<std::wstring> removedLinks;
    int protections = 0;

    FolderState JudgeFolder(const wchar_t* path) override {
        if (links.count(UpperOf(path))) return FolderState::kLink;
        const DWORD attributes = GetFileAttributesW(path);
        if (attributes == INVALID_FILE_ATTRIBUTES) return FolderState::kMissing;
        if (attributes & FILE_ATTRIBUTE_REPARSE_POINT) return FolderState::kLink;
        if (!(attributes & FILE_ATTRIBUTE_DIRECTORY)) return FolderState::kNotFolder;
        return UpperOf(path) == UpperOf(open) ? FolderState::kOthersWrite : FolderState::kTrusted;
    }
    bool OthersCanWrite(const wchar_t* folder) override { return JudgeFolder(folder) != FolderState::kTrusted; }
    BOOL CreateOwnFolder(const wchar_t* path) override { return CreateDirectoryW(path, nullptr); }
    BOOL ProtectFolder(const wchar_t*) override {
        ++protections;
        open.clear();
        return TRUE;
    }
    BOOL RemoveLink(const wchar_t* path) override {
        const std::wstring key = UpperOf(path);
        if (stuck.count(key) || !links.erase(key)) return FALSE;
        removedLinks.push_back(path);
        const std::wstring name = key.substr(key.rfind(L'\\') + 1);
        return MoveFileW(path, (outside + L"\\" + name).c_str());
    }
    BOOL MoveAside(const wchar_t*) override { return FALSE; }
    CString FinalPath(const wchar_t* path) override { return path; }
    bool ListFolder(const wchar_t* folder, std::vector<FolderEntry>& entries) override {
        if (!IFolderRule::ListFolder(folder, entries)) return false;
        for (FolderEntry& entry : entries)
            if (links.count(UpperOf(std::wstring(folder) + L"\\" + (const wchar_t*)entry.name)))
                entry.attributes |= FILE_ATTRIBUTE_REPARSE_POINT;
        return true;
    }
};

// An old data folder that gets our access list keeps nothing others planted
// before: links inside it (at the backup folder's name, deeper down) are
// removed without being followed, and partial downloads are deleted, so
// that none is resumed; finished files stay (they count only by their
// digests). A link that cannot be removed refuses the folder.
TEST(FolderRule, AFolderThatGetsOurAccessListKeepsNoPlantedLinkOrPartialDownload) {
    const std::wstring root = MakeTempFolder(L"folder_rule_planted");
    const std::wstring data = root + L"\\KavettaData";
    PlantedFolders rule;
    rule.outside = root + L"\\outside";
    ASSERT_TRUE(CreateDirectoryW(rule.outside.c_str(), nullptr));
    for (const wchar_t* folder : {L"", L"\\Backup", L"\\Backup\\Desktop", L"\\BackupLink", L"\\Backup\\deeplink"})
        ASSERT_TRUE(CreateDirectoryW((data + folder).c_str(), nullptr));
    // What the links lead to: another account's files, a partial among them.
    ASSERT_TRUE(WriteWholeFile(data + L"\\BackupLink\\victim.kvtpart", "theirs"));
    ASSERT_TRUE(WriteWholeFile(data + L"\\Backup\\deeplink\\keep.txt", "theirs"));
    rule.links = {UpperOf(data + L"\\BackupLink"), UpperOf(data + L"\\Backup\\deeplink")};
    // Planted partial downloads, one read-only, and files that stay.
    ASSERT_TRUE(WriteWholeFile(data + L"\\w10.iso.kvtpart", "attacker's first bytes"));
    ASSERT_TRUE(WriteWholeFile(data + L"\\Backup\\Desktop\\pe.wim.KVTPART", "more"));
    SetFileAttributesW((data + L"\\Backup\\Desktop\\pe.wim.KVTPART").c_str(), FILE_ATTRIBUTE_READONLY);
    ASSERT_TRUE(WriteWholeFile(data + L"\\w10.iso", "a whole file"));
    ASSERT_TRUE(WriteWholeFile(data + L"\\Backup\\Desktop\\note.kvtpart.txt", "a note"));
    rule.open = data;

    EXPECT_EQ(OwnFolder::kReprotected, EnsureOwnFolder(rule, data.c_str()));
    EXPECT_EQ(1, rule.protections);
    EXPECT_EQ(2u, rule.removedLinks.size());
    EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesW((data + L"\\BackupLink").c_str())) << "the link stays in the folder";
    EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesW((data + L"\\Backup\\deeplink").c_str())) << "the deeper link stays";
    EXPECT_EQ("theirs", ReadWholeFile(rule.outside + L"\\BACKUPLINK\\victim.kvtpart")) << "a link was followed";
    EXPECT_FALSE(FileExists(data + L"\\w10.iso.kvtpart")) << "a planted partial download would be resumed";
    EXPECT_FALSE(FileExists(data + L"\\Backup\\Desktop\\pe.wim.KVTPART"));
    EXPECT_EQ("theirs", ReadWholeFile(rule.outside + L"\\DEEPLINK\\keep.txt"));
    EXPECT_EQ("a whole file", ReadWholeFile(data + L"\\w10.iso"));
    EXPECT_EQ("a note", ReadWholeFile(data + L"\\Backup\\Desktop\\note.kvtpart.txt"));

    // A folder that already passes is left as it is; a link that cannot be
    // removed refuses the folder.
    ASSERT_TRUE(WriteWholeFile(data + L"\\later.kvtpart", "ours"));
    EXPECT_EQ(OwnFolder::kTrusted, EnsureOwnFolder(rule, data.c_str()));
    EXPECT_TRUE(FileExists(data + L"\\later.kvtpart"));
    ASSERT_TRUE(CreateDirectoryW((data + L"\\stuck").c_str(), nullptr));
    rule.links = {UpperOf(data + L"\\stuck")};
    rule.stuck = rule.links;
    rule.open = data;
    EXPECT_EQ(OwnFolder::kFailed, EnsureOwnFolder(rule, data.c_str()));
    RemoveTree(root);
}

TEST(FolderRule, TheDataFolderGetsAnAccessListOfItsOwn) {
    if (RunningUnderWine())
        GTEST_SKIP() << "Wine keeps no access lists on this file system: what a folder is given cannot be read back";
    const std::wstring root = MakeTempFolder(L"folder_rule_own");
    const std::wstring folder = root + L"\\KavettaData";
    IFolderRule& rule = Win32FolderRule();
    ASSERT_TRUE(rule.CreateOwnFolder(folder.c_str()));
    PACL dacl = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    ASSERT_EQ((DWORD)ERROR_SUCCESS, GetNamedSecurityInfoW(folder.c_str(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION,
                                                          nullptr, nullptr, &dacl, nullptr, &descriptor));
    SECURITY_DESCRIPTOR_CONTROL control = 0;
    DWORD revision = 0;
    GetSecurityDescriptorControl(descriptor, &control, &revision);
    EXPECT_TRUE(control & SE_DACL_PROTECTED) << "nothing inherited from the drive root";
    EXPECT_FALSE(AccessListLetsOthersWrite(dacl, false));
    LocalFree(descriptor);
    // A folder of ours whose list lets users in gets ours.
    const std::wstring open = root + L"\\open";
    PSECURITY_DESCRIPTOR openDescriptor = nullptr;
    ASSERT_TRUE(ConvertStringSecurityDescriptorToSecurityDescriptorW(L"D:(A;OICI;FA;;;BA)(A;OICI;FA;;;SY)(A;OICI;FA;;;BU)",
                                                                     SDDL_REVISION_1, &openDescriptor, nullptr));
    SECURITY_ATTRIBUTES security = {sizeof security, openDescriptor, FALSE};
    ASSERT_TRUE(CreateDirectoryW(open.c_str(), &security));
    LocalFree(openDescriptor);
    ASSERT_TRUE(rule.ProtectFolder(open.c_str()));
    dacl = nullptr;
    descriptor = nullptr;
    ASSERT_EQ((DWORD)ERROR_SUCCESS, GetNamedSecurityInfoW(open.c_str(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION,
                                                          nullptr, nullptr, &dacl, nullptr, &descriptor));
    EXPECT_FALSE(AccessListLetsOthersWrite(dacl, false));
    LocalFree(descriptor);
    RemoveTree(root);
}

// The owner of the thing at the path as SID text; empty when it cannot be read.
std::wstring OwnerOf(const std::wstring& path) {
    PSID owner = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    std::wstring text;
    if (GetNamedSecurityInfoW(path.c_str(), SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION, &owner, nullptr, nullptr,
                              nullptr, &descriptor) != ERROR_SUCCESS)
        return text;
    wchar_t* sid = nullptr;
    if (owner && ConvertSidToStringSidW(owner, &sid)) {
        text = sid;
        LocalFree(sid);
    }
    LocalFree(descriptor);
    return text;
}

BOOL CreateFolderWith(const std::wstring& path, const std::wstring& sddl) {
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl.c_str(), SDDL_REVISION_1, &descriptor, nullptr))
        return FALSE;
    SECURITY_ATTRIBUTES security = {sizeof security, descriptor, FALSE};
    const BOOL created = CreateDirectoryW(path.c_str(), &security);
    LocalFree(descriptor);
    return created;
}

const wchar_t* const kAdministrators = L"S-1-5-32-544";

// The owner the descriptors name, read as Windows reads them (Wine parses
// them as Windows does, even where it cannot show a file's owner): a
// descriptor without one leaves the token's default owner, which policy may
// make the running account.
TEST(FolderRule, TheDescriptorsNameAdministratorsAsOwner) {
    const struct {
        const char* what;
        CString sddl;
    } cases[] = {
        {"the data folder's", OwnFolderSecurity()},
        {"the work folder's", kWorkFolderSecurity},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        PSECURITY_DESCRIPTOR descriptor = nullptr;
        ASSERT_TRUE(ConvertStringSecurityDescriptorToSecurityDescriptorW(c.sddl, SDDL_REVISION_1, &descriptor, nullptr));
        PSID owner = nullptr;
        BOOL defaulted = TRUE;
        ASSERT_TRUE(GetSecurityDescriptorOwner(descriptor, &owner, &defaulted));
        ASSERT_TRUE(owner) << "an owner is named";
        EXPECT_TRUE(IsWellKnownSid(owner, WinBuiltinAdministratorsSid));
        EXPECT_FALSE(defaulted);
        LocalFree(descriptor);
    }
}

// Whatever the token's default owner is (policy may make it the running
// account), the folders the program makes are owned by Administrators, and
// a folder of the running account's is given to them.
TEST(FolderRule, TheProgramsFoldersAreOwnedByAdministrators) {
    const std::wstring me = OwnSid();
    ASSERT_FALSE(me.empty());
    const std::wstring root = MakeTempFolder(L"folder_rule_owner");
    // Whether the platform keeps an owner named at creation, and one other
    // than the default: Windows does; Wine keeps a descriptor only where the
    // file system holds extended attributes, and else answers the Unix owner.
    ASSERT_TRUE(CreateFolderWith(root + L"\\probe-admins", L"O:BAD:(A;OICI;FA;;;BA)(A;OICI;FA;;;" + me + L")"));
    ASSERT_TRUE(CreateFolderWith(root + L"\\probe-mine", L"O:" + me + L"D:(A;OICI;FA;;;BA)(A;OICI;FA;;;" + me + L")"));
    const std::wstring shownAdmins = OwnerOf(root + L"\\probe-admins"), shownMine = OwnerOf(root + L"\\probe-mine");
    IFolderRule& rule = Win32FolderRule();
    // A folder the running account owns (Wine shows every folder so) is its,
    // not a stranger's.
    if (shownMine == me)
        EXPECT_EQ(FolderState::kRunningAccountOwner, rule.JudgeFolder((root + L"\\probe-mine").c_str()));
    if (shownAdmins != kAdministrators || shownMine != me) {
        RemoveTree(root);
        GTEST_SKIP() << "this platform does not keep the owner a folder is made with (it shows "
                     << std::string(shownAdmins.begin(), shownAdmins.end()) << " and "
                     << std::string(shownMine.begin(), shownMine.end()) << ")";
    }
    const std::wstring data = root + L"\\KavettaData";
    ASSERT_TRUE(rule.CreateOwnFolder(data.c_str()));
    EXPECT_EQ(kAdministrators, OwnerOf(data)) << "the data folder names its owner";
    EXPECT_EQ(FolderState::kTrusted, rule.JudgeFolder(data.c_str()));
    CString work;
    ASSERT_TRUE(CreateFreshFolder(CString((root + L"\\").c_str()), 5, work));
    EXPECT_EQ(kAdministrators, OwnerOf(work.GetString())) << "the work folder names its owner";
    // A folder the running account owns is judged as such, and given to
    // Administrators with our access list, what is in it too.
    const std::wstring mine = root + L"\\probe-mine";
    ASSERT_TRUE(CreateFolderWith(mine + L"\\inner", L"O:" + me + L"D:(A;OICI;FA;;;BA)(A;OICI;FA;;;" + me + L")"));
    EXPECT_EQ(FolderState::kRunningAccountOwner, rule.JudgeFolder(mine.c_str()));
    EXPECT_EQ(OwnFolder::kReprotected, EnsureOwnFolder(rule, mine.c_str()));
    EXPECT_EQ(kAdministrators, OwnerOf(mine));
    EXPECT_EQ(kAdministrators, OwnerOf(mine + L"\\inner"));
    EXPECT_EQ(FolderState::kTrusted, rule.JudgeFolder(mine.c_str()));
    RemoveTree(root);
}

}  // namespace
