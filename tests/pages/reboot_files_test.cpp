// The files the restart worker leaves for the boot environment, and where a
// backed-up user file goes: the restart INI (written afresh, hidden, read
// back), the marker's path, and the backup destination of a listed file.
#include <gtest/gtest.h>

#include "core/fixed_texts.h"
#include "core/rc4_hex.h"
#include "core/tarvel_app.h"
#include "pages/reboot_dlg.h"
#include "sim/e2e/passing_boot_host.h"
#include "support/temp_folder.h"

namespace {

struct DestinationCase {
    const wchar_t* source;
    const wchar_t* file;
    const wchar_t* destination;
    const wchar_t* expected;  // null: refused
};

TEST(RebootFiles, BackupDestinations) {
    const CString longName(L'x', 250);
    const DestinationCase cases[] = {
        {L"C:\\Users\\li\\Desktop", L"C:\\Users\\li\\Desktop\\a.txt", L"D:\\KVT\\备份\\桌面", L"D:\\KVT\\备份\\桌面\\a.txt"},
        // The shell and the file listing may spell the folder in other letter cases.
        {L"C:\\Users\\LI\\DESKTOP", L"c:\\users\\li\\Desktop\\sub\\b.doc", L"D:\\B\\桌面", L"D:\\B\\桌面\\sub\\b.doc"},
        {L"C:\\Users\\li\\Desktop\\", L"C:\\Users\\li\\Desktop\\c.txt", L"D:\\B\\桌面\\", L"D:\\B\\桌面\\c.txt"},
        {L"C:\\用户\\文档", L"C:\\用户\\文档\\报告\\年度.xlsx", L"D:\\B\\我的文档", L"D:\\B\\我的文档\\报告\\年度.xlsx"},
        // The source's text again inside the path is part of the relative path.
        {L"C:\\A", L"C:\\A\\C\\A\\f.txt", L"D:\\B", L"D:\\B\\C\\A\\f.txt"},
        // A sibling whose name merely starts with the source's name, and a file elsewhere.
        {L"C:\\Users\\li\\Desktop", L"C:\\Users\\li\\Desktop2\\a.txt", L"D:\\B", nullptr},
        {L"C:\\Users\\li\\Desktop", L"C:\\Windows\\a.txt", L"D:\\B", nullptr},
        {L"", L"C:\\a.txt", L"D:\\B", nullptr},
        // A folder at a drive root: what follows the root is the relative path.
        {L"D:\\", L"D:\\a.txt", L"E:\\B\\桌面", L"E:\\B\\桌面\\a.txt"},
        {L"\\\\?\\D:\\", L"\\\\?\\D:\\sub\\a.txt", L"\\\\?\\E:\\B", L"\\\\?\\E:\\B\\sub\\a.txt"},
        // The long forms, of a drive path and of a share.
        {L"\\\\?\\C:\\Users\\li\\Desktop", L"\\\\?\\C:\\Users\\li\\Desktop\\a.txt", L"\\\\?\\D:\\B",
         L"\\\\?\\D:\\B\\a.txt"},
        {L"\\\\?\\UNC\\nas\\home\\li", L"\\\\?\\UNC\\nas\\home\\li\\x\\y.txt", L"\\\\?\\D:\\B",
         L"\\\\?\\D:\\B\\x\\y.txt"},
    };
    for (const DestinationCase& c : cases) {
        CString result;
        const bool ok = BackupDestinationOf(c.source, c.file, c.destination, result);
        EXPECT_EQ(c.expected != nullptr, ok) << Utf8Of(c.file);
        if (c.expected && ok) EXPECT_EQ(CString(c.expected), result) << Utf8Of(c.file);
    }
    // Past 260 characters the long form takes it; past its own limit the
    // destination is refused, not cut short.
    CString result;
    EXPECT_TRUE(BackupDestinationOf(L"C:\\S", CString(L"C:\\S\\") + longName, L"D:\\Backup\\桌面", result));
    EXPECT_EQ(CString(L"D:\\Backup\\桌面\\") + longName, result);
    const CString tooLong(L'y', 32760);
    EXPECT_FALSE(BackupDestinationOf(L"\\\\?\\C:\\S", CString(L"\\\\?\\C:\\S\\") + tooLong,
                                     L"\\\\?\\D:\\Backup\\桌面", result));
}

TEST(RebootFiles, MarkerPathIsTheSystemDrivesRoot) {
    EXPECT_EQ(CString(L"C:") + FixedText::kRebootMarkerName, RestartMarkerPath(L"C:"));
    EXPECT_EQ(L'\\', FixedText::kRebootMarkerName[0]);
    for (const wchar_t* notADrive : {L"", L"C", L"C:\\", L"\\\\server", L"1:"})
        EXPECT_TRUE(RestartMarkerPath(notADrive).IsEmpty()) << Utf8Of(notADrive);
}

// Copies as CopyFile does on Windows: a hidden or read-only file in the
// target's place fails the copy with access denied (Wine, as root, replaces
// it), and a copy keeps its source's attributes.
class WindowsCopyRules : public PassingBootHost {
public:
    WindowsCopyRules() : PassingBootHost(CurrentBootHost()) {}
    DWORD CopyUserFile(const wchar_t* source, const wchar_t* target, bool* readFailed) override {
        ++copies;
        const DWORD attributes = GetFileAttributesW(target);
        if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_READONLY))) {
            ++refused;
            if (readFailed) *readFailed = false;
            return ERROR_ACCESS_DENIED;
        }
        const DWORD error = m_inner.CopyUserFile(source, target, readFailed);
        if (error == ERROR_SUCCESS) SetFileAttributesW(target, GetFileAttributesW(source));
        return error;
    }
    int copies = 0;
    int refused = 0;
};

TEST(RebootFiles, ASecondBackupReplacesFilesTheFirstLeftHiddenOrReadOnly) {
    TempFolder source, backup;
    const std::wstring names[] = {L"desktop.ini", L"只读笔记.txt"};
    const DWORD kept[] = {FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM, FILE_ATTRIBUTE_READONLY};
    for (int i = 0; i < 2; ++i) {
        source.Write(names[i], "content");
        ASSERT_TRUE(SetFileAttributesW(source.File(names[i]).c_str(), kept[i]));
    }
    WindowsCopyRules host;
    IBootHost* previous = SetBootHost(&host);
    CRebootDlg page;
    const CString destination = CString(backup.Path().c_str()) + L"\\桌面";
    // The first run, and a later one (Back and Next after a refusal).
    for (int run = 1; run <= 2; ++run) {
        EXPECT_TRUE(page.BackupFolder(source.Path().c_str(), destination, L"桌面")) << run;
        EXPECT_EQ(2 * run, host.copies) << run;
        EXPECT_EQ(0, host.refused) << run;
        for (int i = 0; i < 2; ++i)
            EXPECT_EQ("content", TempFolder::Read(std::wstring(destination) + L"\\" + names[i])) << run;
    }
    SetBootHost(previous);
    for (const std::wstring& name : names) {
        SetFileAttributesW(source.File(name).c_str(), FILE_ATTRIBUTE_NORMAL);
        SetFileAttributesW((std::wstring(destination) + L"\\" + name).c_str(), FILE_ATTRIBUTE_NORMAL);
    }
}

class RestartIniTest : public testing::Test {
protected:
    void SetUp() override {
        app = GetTarvelApp();
        savedFolder = app->m_dataFolder;
        app->m_dataFolder = folder.Path().c_str();
        image.m_fileName = L"win10_x64_pro.gho";
        image.m_number = 7;
    }
    void TearDown() override {
        SetFileAttributesW(RestartIniPath(*app), FILE_ATTRIBUTE_NORMAL);
        app->m_dataFolder = savedFolder;
    }
    CString Read(const wchar_t* section, const wchar_t* key) {
        wchar_t buffer[1024] = {};
        GetPrivateProfileStringW(section, key, L"<missing>", buffer, 1024, RestartIniPath(*app));
        return buffer;
    }
    CString Plain(int key) {
        return DecryptFromHex(Read(FixedText::kRestartIniSection, FixedText::kRestartIniKeys[key]), app->m_iniPassword);
    }

    // Hidden, and neither read-only nor system. Wine keeps the archive bit
    // that Windows clears when only the hidden attribute is set.
    void ExpectHiddenOnly() {
        const DWORD attributes = GetFileAttributesW(RestartIniPath(*app));
        EXPECT_EQ((DWORD)FILE_ATTRIBUTE_HIDDEN, attributes & ~(DWORD)FILE_ATTRIBUTE_ARCHIVE) << attributes;
    }

    TempFolder folder;
    CTarvelApp* app = nullptr;
    CString savedFolder;
    COnlinefileinfo image;
};

TEST_F(RestartIniTest, FiveValuesEncipheredAndHidden) {
    ASSERT_TRUE(WriteRestartIni(*app, image));
    const CString path = RestartIniPath(*app);
    EXPECT_EQ(app->m_dataFolder + L"\\" + app->m_restartIniName, path);
    ExpectHiddenOnly();
    const CString expected[5] = {FixedText::kRestartIniFirstValue, app->m_restartIniValue, image.m_fileName,
                                 FixedText::kRestartIniFourthValue, L"7"};
    for (int i = 0; i < 5; ++i) {
        const CString stored = Read(FixedText::kRestartIniSection, FixedText::kRestartIniKeys[i]);
        // Upper-case hex of the cipher text, never the plain value.
        EXPECT_EQ(EncryptToHex(expected[i], app->m_iniPassword), stored) << i;
        EXPECT_NE(expected[i], stored) << i;
        EXPECT_EQ(expected[i], Plain(i)) << i;
    }
}

TEST_F(RestartIniTest, StartsCleanOverAHiddenFileAndKeepsOtherSections) {
    const CString path = RestartIniPath(*app);
    WritePrivateProfileStringW(FixedText::kRestartIniSection, L"Stale", L"ABCDEF", path);
    WritePrivateProfileStringW(FixedText::kRestartIniSection, FixedText::kRestartIniKeys[2], L"00", path);
    WritePrivateProfileStringW(L"Other", L"Kept", L"1", path);
    WritePrivateProfileStringW(nullptr, nullptr, nullptr, path);
    SetFileAttributesW(path, FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_READONLY);

    image.m_number = 42;  // the fifth value is the image's own number
    ASSERT_TRUE(WriteRestartIni(*app, image));
    ExpectHiddenOnly();
    EXPECT_EQ(CString(L"<missing>"), Read(FixedText::kRestartIniSection, L"Stale"));
    EXPECT_EQ(CString(L"1"), Read(L"Other", L"Kept"));
    EXPECT_EQ(image.m_fileName, Plain(2));
    EXPECT_EQ(CString(L"42"), Plain(4));
}

// The values are enciphered from their ANSI bytes, which the boot environment
// reads back: a Chinese name is written on a code page 936 system and refused
// where the code page cannot hold it (Wine's default here).
TEST_F(RestartIniTest, AChineseImageNameNeedsACodePageThatHoldsIt) {
    image.m_fileName = L"win10_x64_专业版.gho";
    const bool fits = FitsAnsiCodePage(image.m_fileName);
    if (GetACP() == 936) EXPECT_TRUE(fits);
    EXPECT_EQ(fits, WriteRestartIni(*app, image)) << "code page " << GetACP();
    if (fits) EXPECT_EQ(image.m_fileName, Plain(2));
    EXPECT_TRUE(FitsAnsiCodePage(L"win10_x64_pro.gho"));
}

// A value the code page cannot hold is refused before the file is touched:
// the INI of the earlier write keeps its values and stays hidden.
TEST_F(RestartIniTest, ARefusedValueLeavesTheEarlierFileAsItWas) {
    ASSERT_TRUE(WriteRestartIni(*app, image));
    COnlinefileinfo refused = image;
    refused.m_fileName = L"\u0E01\u0E02.gho";  // no Chinese or Western code page holds these
    ASSERT_FALSE(FitsAnsiCodePage(refused.m_fileName)) << "code page " << GetACP();
    EXPECT_FALSE(WriteRestartIni(*app, refused));
    ExpectHiddenOnly();
    EXPECT_EQ(image.m_fileName, Plain(2));
    EXPECT_EQ(CString(L"7"), Plain(4));
}

TEST_F(RestartIniTest, RefusedWhereNothingCanBeWritten) {
    app->m_dataFolder = (folder.Path() + L"\\missing\\deeper").c_str();
    EXPECT_FALSE(WriteRestartIni(*app, image));
    app->m_dataFolder.Empty();
    EXPECT_FALSE(WriteRestartIni(*app, image));
    // A folder in the INI's place.
    app->m_dataFolder = folder.Path().c_str();
    ASSERT_TRUE(CreateDirectoryW(RestartIniPath(*app), nullptr));
    EXPECT_FALSE(WriteRestartIni(*app, image));
    RemoveDirectoryW(RestartIniPath(*app));
}

}  // namespace
