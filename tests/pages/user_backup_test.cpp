// The user-folder backup on a scripted machine that refuses what Windows
// refuses: a plain path of 260 characters or more (only the long form goes
// further), a folder that denies listing, a file another program has open
// for writing. Wine's own calls take any path length and its copy shares
// everything, so these cases are shown here, through the boot host.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "core/fixed_texts.h"
#include "core/process_file_utils.h"
#include "core/tarvel_app.h"
#include "pages/reboot_dlg.h"
#include "pages/user_backup.h"
#include "support/fake_machine.h"
#include "support/test_files.h"

namespace {

const wchar_t* const kDesktop = L"C:\\Users\\li\\Desktop";
const wchar_t* const kDocuments = L"C:\\Users\\li\\Documents";
const wchar_t* const kBackup = L"D:\\KVT\\用户资料备份\\桌面";
// FILE_ATTRIBUTE_RECALL_ON_DATA_ACCESS
const DWORD kRecallOnDataAccess = 0x00400000;

// A machine with the system drive C: and a data drive D:, the user's
// profile and the backup's parent folder; installed as the boot host.
class UserBackupTest : public testing::Test {
protected:
    void SetUp() override {
        FakeVolume c;
        c.letter = L'C';
        FakeVolume d;
        d.letter = L'D';
        d.partition = 2;
        machine.volumes = {c, d};
        for (const wchar_t* folder : {L"C:\\Users", L"C:\\Users\\li", kDesktop, kDocuments, L"C:\\Users\\li\\Music",
                                      L"D:\\KVT", L"D:\\KVT\\用户资料备份"})
            machine.AddFolder(folder);
        previous = SetBootHost(&machine);
        app = GetTarvelApp();
        savedDrive = app->m_systemDrive;
        app->m_systemDrive = L"C:";
    }
    void TearDown() override {
        SetBootHost(previous);
        app->m_systemDrive = savedDrive;
    }

    void AddFile(const std::wstring& path, DWORD attributes = FILE_ATTRIBUTE_ARCHIVE) {
        machine.AddFile(path, 4);
        machine.files[FakeMachine::Upper(path)].attributes = attributes;
    }
    // A folder whose listing shows a reparse point of this tag.
    void AddTagged(const std::wstring& path, DWORD tag, DWORD attributes = FILE_ATTRIBUTE_DIRECTORY) {
        machine.AddFolder(path);
        FakeFile& f = machine.files[FakeMachine::Upper(path)];
        f.attributes = attributes | FILE_ATTRIBUTE_REPARSE_POINT;
        f.reparseTag = tag;
    }
    void AddLinkTo(const std::wstring& path, DWORD tag, const std::wstring& target, DWORD more = 0) {
        AddTagged(path, tag, FILE_ATTRIBUTE_DIRECTORY | more);
        FakeFile& f = machine.files[FakeMachine::Upper(path)];
        f.link = true;
        f.finalPath = target;
    }
    bool Copied(const std::wstring& target) const { return machine.HasFile(target); }
    bool Read(const std::wstring& source) const {
        for (const std::wstring& read : machine.readFiles)
            if (FakeMachine::Upper(read) == FakeMachine::Upper(source)) return true;
        return false;
    }

    // The road's plan of one folder, then its copy (no question asked).
    bool Plan(const wchar_t* folder = kDesktop, const wchar_t* name = L"桌面") {
        return PlanUserFolder(machine, folder, kBackup, app->m_systemDrive, name, backup, nullptr);
    }
    bool Copy() { return CopyUserBackup(machine, backup, nullptr); }

    FakeMachine machine;
    IBootHost* previous = nullptr;
    CTarvelApp* app = nullptr;
    CString savedDrive;
    UserBackup backup;
};

// A chain of folders whose path passes 260 characters, with a file at its end.
std::wstring DeepFolder(const std::wstring& top, int levels) {
    std::wstring path = top;
    for (int i = 0; i < levels; ++i) path += L"\\" + std::wstring(L"很长的项目文件夹名称_") + std::to_wstring(i) + L"_abcdefghij";
    return path;
}

TEST_F(UserBackupTest, ADeepTreeIsListedAndCopiedWholeInTheLongForm) {
    const std::wstring deep = DeepFolder(kDesktop, 14);
    ASSERT_GT(deep.size(), 300u);
    for (size_t at = deep.find(L'\\', wcslen(kDesktop) + 1); at != std::wstring::npos; at = deep.find(L'\\', at + 1))
        machine.AddFolder(deep.substr(0, at));
    machine.AddFolder(deep);
    AddFile(deep + L"\\聊天记录.db");
    AddFile(std::wstring(kDesktop) + L"\\笔记.txt");

    CRebootDlg page;
    EXPECT_TRUE(page.BackupFolder(kDesktop, kBackup, L"桌面")) << Utf8Of((const wchar_t*)page.BackupRefusal());
    const std::wstring copy = std::wstring(kBackup) + deep.substr(wcslen(kDesktop)) + L"\\聊天记录.db";
    EXPECT_TRUE(Copied(copy)) << "the deep file is missing from the backup";
    EXPECT_TRUE(Copied(std::wstring(kBackup) + L"\\笔记.txt"));
}

TEST_F(UserBackupTest, AFolderThatCannotBeListedStopsTheBackupAndIsNamed) {
    AddFile(std::wstring(kDesktop) + L"\\a.txt");
    const std::wstring secret = std::wstring(kDesktop) + L"\\私密";
    machine.AddFolder(secret);
    AddFile(secret + L"\\b.txt");
    machine.deniedFolders.push_back(secret);
    // Not user data, and denied to administrators on Windows: passed by.
    for (const wchar_t* system : FixedText::kBackupPassedByFolders) {
        machine.AddFolder(std::wstring(kDesktop) + L"\\" + system);
        machine.deniedFolders.push_back(std::wstring(kDesktop) + L"\\" + system);
    }

    CRebootDlg page;
    EXPECT_FALSE(page.BackupFolder(kDesktop, kBackup, L"桌面"));
    const CString line = page.BackupRefusal();
    EXPECT_GE(line.Find(L"桌面"), 0) << Utf8Of((const wchar_t*)line);
    EXPECT_GE(line.Find(secret.c_str()), 0) << Utf8Of((const wchar_t*)line);
    EXPECT_GE(line.Find(Win32ErrorText(ERROR_ACCESS_DENIED)), 0) << Utf8Of((const wchar_t*)line);
    // The walk stops before anything is copied.
    EXPECT_FALSE(Copied(std::wstring(kBackup) + L"\\a.txt"));

    // Without the denied folder the passed-by ones do not stop it.
    machine.deniedFolders.erase(machine.deniedFolders.begin());
    EXPECT_TRUE(page.BackupFolder(kDesktop, kBackup, L"桌面")) << Utf8Of((const wchar_t*)page.BackupRefusal());
    EXPECT_TRUE(Copied(std::wstring(kBackup) + L"\\a.txt"));
    EXPECT_TRUE(Copied(std::wstring(kBackup) + L"\\私密\\b.txt"));
}

TEST_F(UserBackupTest, OnlyJunctionsAndSymbolicLinksAreLinksEveryOtherTagIsData) {
    const struct {
        const char* what;
        DWORD tag;
        bool link;
    } cases[] = {
        {"junction or mount point", IO_REPARSE_TAG_MOUNT_POINT, true},
        {"symbolic link", IO_REPARSE_TAG_SYMLINK, true},
        {"OneDrive folder (cloud tag)", 0x9000001A, false},
        {"OneDrive folder (cloud tag, another flavour)", 0x9000601A, false},
        {"deduplicated folder", 0x80000013, false},
        {"single-instance storage", 0x80000007, false},
        {"a tag of another filter", 0x8000001B, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        backup = UserBackup();
        machine.readFiles.clear();
        const std::wstring folder = std::wstring(kDesktop) + L"\\tagged";
        machine.files.erase(FakeMachine::Upper(folder));
        // Each link leads elsewhere on the user's own desktop, so none is named.
        if (c.link) AddLinkTo(folder, c.tag, std::wstring(kDesktop) + L"\\elsewhere");
        else AddTagged(folder, c.tag);
        AddFile(folder + L"\\inside.txt");
        ASSERT_TRUE(Plan());
        ASSERT_TRUE(Copy());
        EXPECT_EQ(!c.link, Read(folder + L"\\inside.txt"));
        EXPECT_EQ(!c.link, Copied(std::wstring(kBackup) + L"\\tagged\\inside.txt"));
        EXPECT_TRUE(backup.linksOut.empty());
        EXPECT_TRUE(LeftBehindQuestion(backup).IsEmpty());
    }
}

TEST_F(UserBackupTest, LinksOutOfTheUserFolderAreNamedExceptWindowsOwnOldProgramLinks) {
    const DWORD placedByWindows = FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM;
    const std::wstring docs = kDocuments;
    // Windows' own, for old programs: hidden and system, into the profile.
    AddLinkTo(docs + L"\\My Music", IO_REPARSE_TAG_MOUNT_POINT, L"C:\\Users\\li\\Music", placedByWindows);
    // A user's links: a plain junction into the profile, one to another
    // drive, a hidden and system one leading out of the profile, and a
    // symbolic link to a file elsewhere.
    AddLinkTo(docs + L"\\音乐", IO_REPARSE_TAG_MOUNT_POINT, L"C:\\Users\\li\\Music");
    AddLinkTo(docs + L"\\项目", IO_REPARSE_TAG_SYMLINK, L"E:\\项目");
    AddLinkTo(docs + L"\\系统", IO_REPARSE_TAG_MOUNT_POINT, L"C:\\Windows", placedByWindows);
    AddFile(docs + L"\\报告.doc", FILE_ATTRIBUTE_REPARSE_POINT);
    machine.files[FakeMachine::Upper(docs + L"\\报告.doc")].reparseTag = IO_REPARSE_TAG_SYMLINK;
    machine.files[FakeMachine::Upper(docs + L"\\报告.doc")].link = true;
    machine.files[FakeMachine::Upper(docs + L"\\报告.doc")].finalPath = L"F:\\报告.doc";
    AddFile(docs + L"\\plain.txt");

    ASSERT_TRUE(Plan(kDocuments, L"我的文档"));
    std::vector<std::wstring> named;
    for (const CString& path : backup.linksOut) named.push_back(FakeMachine::Upper((const wchar_t*)path));
    const std::vector<std::wstring> expected = {FakeMachine::Upper(docs + L"\\报告.doc"),
                                                FakeMachine::Upper(docs + L"\\系统"),
                                                FakeMachine::Upper(docs + L"\\项目"),
                                                FakeMachine::Upper(docs + L"\\音乐")};
    std::sort(named.begin(), named.end());
    std::vector<std::wstring> sorted = expected;
    std::sort(sorted.begin(), sorted.end());
    EXPECT_EQ(sorted, named);
    const CString question = LeftBehindQuestion(backup);
    EXPECT_GE(question.Find(FixedText::kBackupLinksOutHeader), 0);
    EXPECT_GE(question.Find(FixedText::kBackupGoOnQuestion), 0);
    EXPECT_LT(question.Find(L"MY MUSIC"), 0) << Utf8Of((const wchar_t*)question);
    // Nothing behind a link is read.
    ASSERT_TRUE(Copy());
    EXPECT_EQ(1u, machine.readFiles.size());
    EXPECT_TRUE(Read(docs + L"\\plain.txt"));

    // The page asks before it copies; with no answer (no window to ask
    // on) nothing is copied and the road would stop.
    machine.readFiles.clear();
    CRebootDlg page;
    EXPECT_FALSE(page.BackupFolder(kDocuments, kBackup, L"我的文档"));
    EXPECT_EQ(CString(FixedText::kRebootRefusedNotConfirmed), page.BackupRefusal());
    EXPECT_TRUE(machine.readFiles.empty());
}

TEST_F(UserBackupTest, CloudFilesWhoseContentIsOnlineAreNotFetchedAndAreCounted) {
    // A OneDrive desktop: the folder carries a cloud tag; one file is on the
    // disk, two are placeholders, one is an offline file.
    const std::wstring cloud = std::wstring(kDesktop) + L"\\OneDrive 同步";
    AddTagged(cloud, 0x9000601A);
    AddFile(cloud + L"\\local.docx", FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_REPARSE_POINT);
    machine.files[FakeMachine::Upper(cloud + L"\\local.docx")].reparseTag = 0x9000601A;
    AddFile(cloud + L"\\online1.mp4", FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_REPARSE_POINT | kRecallOnDataAccess);
    machine.files[FakeMachine::Upper(cloud + L"\\online1.mp4")].reparseTag = 0x9000601A;
    AddFile(cloud + L"\\online2.psd", FILE_ATTRIBUTE_ARCHIVE | kRecallOnDataAccess);
    AddFile(std::wstring(kDesktop) + L"\\archived.zip", FILE_ATTRIBUTE_OFFLINE);

    CRebootDlg page;
    EXPECT_TRUE(page.BackupFolder(kDesktop, kBackup, L"桌面")) << Utf8Of((const wchar_t*)page.BackupRefusal());
    EXPECT_TRUE(Copied(std::wstring(kBackup) + L"\\OneDrive 同步\\local.docx"));
    for (const wchar_t* online : {L"\\OneDrive 同步\\online1.mp4", L"\\OneDrive 同步\\online2.psd", L"\\archived.zip"}) {
        EXPECT_FALSE(Read(std::wstring(kDesktop) + online)) << Utf8Of(online) << " was fetched";
        EXPECT_FALSE(Copied(std::wstring(kBackup) + online)) << Utf8Of(online);
    }
    ASSERT_EQ(1u, machine.debugLog.size());
    CString expected;
    expected.Format(FixedText::kBackupOnlineOnlyLogFormat, L"桌面", 3);
    EXPECT_EQ(std::wstring(expected), machine.debugLog[0]);
}

TEST_F(UserBackupTest, AUserFolderOnAnotherPartitionIsLeftWhereItIsAndNamed) {
    // The desktop moved to the root of D:, the documents to a folder there.
    machine.AddFolder(L"D:\\Documents");
    AddFile(L"D:\\a.txt");
    AddFile(L"D:\\Documents\\b.txt");
    for (const wchar_t* folder : {L"D:\\", L"D:\\Documents"}) {
        SCOPED_TRACE(Utf8Of(folder));
        backup = UserBackup();
        machine.readFiles.clear();
        ASSERT_TRUE(Plan(folder));
        EXPECT_TRUE(backup.files.empty());
        ASSERT_EQ(1u, backup.foldersElsewhere.size());
        EXPECT_EQ(CString(folder), backup.foldersElsewhere[0]);
        const CString question = LeftBehindQuestion(backup);
        EXPECT_GE(question.Find(FixedText::kBackupFoldersElsewhereHeader), 0);
        EXPECT_GE(question.Find(folder), 0);
        ASSERT_TRUE(Copy());
        EXPECT_TRUE(machine.readFiles.empty());
    }
    // Through the page: named, so with no answer it stops, nothing copied.
    CRebootDlg page;
    EXPECT_FALSE(page.BackupFolder(L"D:\\", kBackup, L"桌面"));
    EXPECT_EQ(CString(FixedText::kRebootRefusedNotConfirmed), page.BackupRefusal());
    EXPECT_TRUE(machine.readFiles.empty());
}

TEST_F(UserBackupTest, AFileAnotherProgramWritesStopsTheBackupNamingItAndTheProgram) {
    const std::wstring wechat = std::wstring(kDocuments) + L"\\WeChat Files\\wxid_1\\Msg";
    machine.AddFolder(std::wstring(kDocuments) + L"\\WeChat Files");
    machine.AddFolder(std::wstring(kDocuments) + L"\\WeChat Files\\wxid_1");
    machine.AddFolder(wechat);
    AddFile(wechat + L"\\MSG0.db");
    machine.writerHeld.push_back(wechat + L"\\MSG0.db");
    machine.fileUsers[FakeMachine::Upper(wechat + L"\\MSG0.db")] = L"微信";

    CRebootDlg page;
    EXPECT_FALSE(page.BackupFolder(kDocuments, kBackup, L"我的文档"));
    const CString line = page.BackupRefusal();
    EXPECT_GE(line.Find(L"我的文档"), 0) << Utf8Of((const wchar_t*)line);
    // The scripted machine lists names in capitals.
    EXPECT_GE(line.Find(L"Documents\\WECHAT FILES\\WXID_1\\MSG\\MSG0.DB"), 0) << Utf8Of((const wchar_t*)line);
    EXPECT_GE(line.Find(L"“微信”"), 0) << Utf8Of((const wchar_t*)line);
    EXPECT_FALSE(Copied(std::wstring(kBackup) + L"\\WeChat Files\\wxid_1\\Msg\\MSG0.db")) << "a torn copy";

    // When Windows cannot say which program, the line says what to close.
    machine.fileUsers.clear();
    EXPECT_FALSE(page.BackupFolder(kDocuments, kBackup, L"我的文档"));
    EXPECT_GE(page.BackupRefusal().Find(FixedText::kRebootInUseProgramUnknown), 0);
}

TEST_F(UserBackupTest, AFileThatCannotBeReadOrWrittenIsNamedWithWindowsReason) {
    AddFile(std::wstring(kDesktop) + L"\\secret.key");
    machine.unreadableFiles.push_back(std::wstring(kDesktop) + L"\\secret.key");
    CRebootDlg page;
    EXPECT_FALSE(page.BackupFolder(kDesktop, kBackup, L"桌面"));
    CString line = page.BackupRefusal();
    EXPECT_GE(line.Find(L"SECRET.KEY"), 0) << Utf8Of((const wchar_t*)line);
    EXPECT_GE(line.Find(Win32ErrorText(ERROR_ACCESS_DENIED)), 0) << Utf8Of((const wchar_t*)line);

    machine.unreadableFiles.clear();
    machine.failingCopies.push_back(std::wstring(kBackup) + L"\\secret.key");
    EXPECT_FALSE(page.BackupFolder(kDesktop, kBackup, L"桌面"));
    line = page.BackupRefusal();
    EXPECT_GE(line.Find(L"桌面\\SECRET.KEY"), 0) << Utf8Of((const wchar_t*)line);
    EXPECT_GE(line.Find(Win32ErrorText(ERROR_DISK_FULL)), 0) << Utf8Of((const wchar_t*)line);
}

}  // namespace

namespace {

TEST(ShortenedPath, KeepsTheHeadAndTheEnd) {
    EXPECT_EQ(CString(L"C:\\a\\b.txt"), ShortenedPath(L"C:\\a\\b.txt", 46));
    const CString path = L"C:\\Users\\li\\Documents\\WeChat Files\\wxid_abcdefg\\Msg\\Multi\\MSG0.db";
    const CString shown = ShortenedPath(path, 46);
    EXPECT_EQ(46, shown.GetLength());
    EXPECT_EQ(0, shown.Find(L"C:\\Users\\li\\D"));
    EXPECT_EQ(shown.GetLength() - 8, shown.Find(L"\\MSG0.db"));
    EXPECT_GE(shown.Find(FixedText::kShortenedPathGap), 0);
    EXPECT_EQ(path, ShortenedPath(path, 0));
}

}  // namespace
