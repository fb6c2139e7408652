// The real storage calls, read-only: whatever Wine or Windows offers, the
// inventory must see drive C: and build consistent records without a crash.
#include "core/fixed_texts.h"
#include "core/process_file_utils.h"
#include "disk/usb_disk_inventory.h"
#include "disk/volume_encryption.h"
#include "disk_test_support.h"
#include "support/temp_folder.h"
#include "support/test_files.h"

namespace {

TEST(Win32Storage, SeesDriveC) {
    IStorageCalls& calls = Win32StorageCalls();
    wchar_t roots[512] = {};
    DWORD n = calls.LogicalDriveStrings(511, roots);
    ASSERT_GT(n, 0u);
    bool sawC = false;
    for (const wchar_t* p = roots; *p; p += wcslen(p) + 1)
        if (towupper(p[0]) == L'C') sawC = true;
    EXPECT_TRUE(sawC);
    EXPECT_EQ(calls.DriveType(L"C:\\"), (UINT)DRIVE_FIXED);
    wchar_t label[261] = {}, fs[261] = {};
    EXPECT_TRUE(calls.VolumeInformation(L"C:\\", label, 261, fs, 261));
    EXPECT_GT(wcslen(fs), 0u);
    ULONGLONG free = 0;
    EXPECT_TRUE(calls.FreeBytesForCaller(L"C:\\", &free));
    EXPECT_TRUE(calls.FindFile(L"C:\\Windows"));
    EXPECT_EQ(calls.DriveType(L"C:"), (UINT)DRIVE_FIXED);
}

// The real BitLocker query and the real volume names: a Windows without
// BitLocker's provider (Wine has none) never refuses the restart, and its
// system volume has a volume GUID path to be matched by.
TEST(Win32Storage, ARestartIsNotRefusedWhereThereIsNoBitLocker) {
    CString id;
    ASSERT_EQ((DWORD)ERROR_SUCCESS, Win32StorageCalls().VolumeGuidPath(L"C:\\", id));
    EXPECT_EQ(0, id.Find(L"\\\\?\\Volume{")) << Narrow(id);
    EXPECT_EQ(L'\\', id[id.GetLength() - 1]);
    EXPECT_NE((DWORD)ERROR_SUCCESS, Win32StorageCalls().VolumeGuidPath(L"C:\\no such folder\\", id));

    std::vector<EncryptableVolumeState> volumes;
    HRESULT failure = S_OK;
    const EncryptionAnswer answer = CurrentSystemFacts().EncryptableVolumes(volumes, failure);
    if (answer == EncryptionAnswer::kRead) GTEST_SKIP() << "this Windows has BitLocker: its answer depends on the machine";
    ASSERT_EQ(EncryptionAnswer::kNoEncryption, answer) << std::hex << (unsigned)failure;
    CString refusal;
    EXPECT_TRUE(BootProtectionAllowsArming(Win32StorageCalls(), L"C:", refusal)) << Narrow(refusal);
    EXPECT_STREQ(refusal, L"");
}

TEST(Win32BootHost, FileTestsAndClock) {
    IBootHost& host = Win32BootHost();
    EXPECT_TRUE(host.PathExists(L"C:"));
    EXPECT_TRUE(host.IsFolder(L"C:\\Windows"));
    EXPECT_FALSE(host.IsFolder(L"C:\\no such folder here"));
    SYSTEMTIME now = {};
    host.LocalTime(&now);
    EXPECT_GE(now.wYear, 2020);
    CString version;
    EXPECT_TRUE(Win32StorageCalls().ProductVersion(L"C:\\Windows\\System32\\kernel32.dll", version));
    EXPECT_FALSE(version.IsEmpty());
    EXPECT_FALSE(Win32StorageCalls().ProductVersion(L"C:\\no such file.dll", version));
}

// The backup's calls on real files past 260 characters, in the long form:
// the folder tests, a listing, a copy, and a file that another handle
// writes, which the copy refuses (its hold shares reading only).
TEST(Win32BootHost, TheBackupsCallsTakeTheLongForm) {
    IBootHost& host = Win32BootHost();
    TempFolder folder;
    CString deep = LongPathForm(folder.Path().c_str());
    for (int i = 0; i < 12; ++i) {
        CString name;
        name.Format(L"\\用户资料_很长的文件夹名称_%02d_abcdefghijk", i);
        deep += name;
        ASSERT_TRUE(host.CreateFolder(deep)) << i;
    }
    ASSERT_GT(deep.GetLength(), 300);
    EXPECT_TRUE(host.IsFolder(deep));
    EXPECT_TRUE(host.PathExists(deep));
    const CString file = deep + L"\\备份.txt";
    HANDLE out = CreateFileW(file, GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, out);
    DWORD written = 0;
    WriteFile(out, "data", 4, &written, nullptr);
    CloseHandle(out);
    EXPECT_TRUE(host.PathExists(file));
    EXPECT_FALSE(host.IsFolder(file));

    std::vector<WIN32_FIND_DATAW> entries;
    EXPECT_EQ((DWORD)ERROR_SUCCESS, host.ListFolder(deep, entries));
    ASSERT_EQ(1u, entries.size());
    EXPECT_EQ(std::wstring(L"备份.txt"), std::wstring(entries[0].cFileName));

    bool readFailed = true;
    const CString copy = deep + L"\\副本.txt";
    EXPECT_EQ((DWORD)ERROR_SUCCESS, host.CopyUserFile(file, copy, &readFailed));
    EXPECT_FALSE(readFailed);
    EXPECT_EQ(4u, GetFileSize64(copy));
    HANDLE writer = CreateFileW(file, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0,
                                nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, writer);
    EXPECT_EQ((DWORD)ERROR_SHARING_VIOLATION, host.CopyUserFile(file, copy, &readFailed));
    EXPECT_TRUE(readFailed);
    CloseHandle(writer);
    // A folder that is not there cannot be listed: no empty listing.
    entries.clear();
    EXPECT_NE((DWORD)ERROR_SUCCESS, host.ListFolder(deep + L"\\missing", entries));
    EXPECT_NE(0, DeleteFolderTree(LongPathForm(folder.Path().c_str())));
}

TEST(Win32Storage, RefreshOfTheRealMachine) {
    CTarvelApp app;
    CDiskInventory inventory(&Win32StorageCalls(), &Win32BootHost());
    inventory.Refresh();
    EXPECT_LE(inventory.m_pathCount, 64);
    for (INT_PTR i = 1; i < inventory.m_disks.GetSize(); ++i)
        EXPECT_LE(inventory.m_disks[i - 1].device_number, inventory.m_disks[i].device_number);
    for (INT_PTR i = 0; i < inventory.m_letters.GetSize(); ++i) {
        const driver_letter_info& l = inventory.m_letters[i];
        EXPECT_EQ(l.letter.GetLength(), 2);
        EXPECT_STREQ(l.key, MakePartitionKey(l.device_number, l.partition_number));
    }
    EXPECT_EQ(inventory.m_partitions.GetSize(), inventory.m_totalPartitions.GetSize());
    // The system drive's volume facts read through the real calls.
    CString label = L"-", fs = L"-";
    inventory.ReadVolumeInfo(L"C:", label, fs);
    EXPECT_STRNE(fs, L"-");
    double free = -1;
    inventory.GetFreeSpaceMB(L"C:", free);
    EXPECT_GE(free, 0.0);
    printf("real machine: %d interfaces, %d disks, %d letters, %d partitions\n", inventory.m_pathCount,
           (int)inventory.m_disks.GetSize(), (int)inventory.m_letters.GetSize(),
           (int)inventory.m_totalPartitions.GetSize());
    // Nothing was mapped, so nothing is removed at the end.
    EXPECT_FALSE(inventory.m_tempLettersAssigned);
}

// The drive of the running Windows reads as an installed Windows, through
// the real calls: on 64-bit Windows our 32-bit process finds no kernel file
// in System32 (SysWOW64 holds none; the test run's 64-bit prefix is made to
// look so), and reads it through Sysnative.
TEST(Win32Storage, TheSystemDriveReadsAsAnInstalledWindows) {
    wchar_t windows[MAX_PATH + 1] = {};
    const UINT n = GetSystemWindowsDirectoryW(windows, MAX_PATH);
    ASSERT_TRUE(n > 2 && n < MAX_PATH);
    const CString drive = CString(windows).Left(2);
    const int bits = RunWindowsBits();
    if (bits == 64) {
        EXPECT_FALSE(Win32StorageCalls().FindFile(CString(windows) + L"\\System32\\ntoskrnl.exe"))
            << "System32 shows a 32-bit process SysWOW64, where Windows keeps no kernel file "
               "(the run's prefix: scripts/wine-wow64-view.sh)";
        EXPECT_TRUE(Win32StorageCalls().FindFile(CString(windows) + L"\\Sysnative\\ntoskrnl.exe"));
    }
    CString folder;
    BOOL wow64 = FALSE, sysnative = FALSE;
    ASSERT_TRUE(Win32StorageCalls().RunningWindows(folder, wow64, sysnative));
    EXPECT_EQ(0, folder.CompareNoCase(windows));
    if (bits) EXPECT_EQ(bits == 64, wow64 != FALSE);
    if (bits) EXPECT_EQ(bits == 64, sysnative != FALSE);
    CString running;
    EXPECT_TRUE(Win32StorageCalls().RunningSystemVersion(running));

    CTarvelApp app;
    CDiskInventory inventory(&Win32StorageCalls(), &Win32BootHost());
    const CString kind = inventory.ClassifyVolumeContent(drive);
    const wchar_t* const installed[] = {FixedText::kSystemWin2000, FixedText::kSystemWinXp, FixedText::kSystemWin2003,
                                        FixedText::kSystemVista,   FixedText::kSystemWin7,  FixedText::kSystemWin8,
                                        FixedText::kSystemWin81,   FixedText::kSystemWin10};
    bool known = false;
    for (const wchar_t* system : installed) known = known || kind == system;
    EXPECT_TRUE(known) << Narrow(drive) << " reads as " << Narrow(kind) << "; the kernel reports " << Narrow(running);
    printf("%s reads as %s; the kernel reports %s\n", Narrow(drive).c_str(), Narrow(kind).c_str(),
           Narrow(running).c_str());
}

}  // namespace

namespace {

DWORD CALLBACK CountProgress(LARGE_INTEGER, LARGE_INTEGER, LARGE_INTEGER, LARGE_INTEGER, DWORD, DWORD, HANDLE, HANDLE,
                             LPVOID data) {
    ++*static_cast<int*>(data);
    return PROGRESS_CONTINUE;
}

// The host calls of the USB road on real files.
TEST(Win32BootHost, FilesOfTheUsbRoad) {
    IBootHost& host = Win32BootHost();
    TempFolder folder;
    ASSERT_FALSE(folder.Path().empty());
    std::wstring source = folder.Write(L"source.bin", std::string(100000, 'x'));
    EXPECT_EQ(100000u, host.FileSize(source.c_str()));
    EXPECT_EQ(0u, host.FileSize(folder.File(L"none").c_str()));
    char head[16] = {};
    DWORD got = 0;
    ASSERT_TRUE(host.ReadFileBytes(source.c_str(), head, sizeof(head), &got));
    EXPECT_EQ(16u, got);
    EXPECT_EQ('x', head[15]);

    std::wstring deep = folder.File(L"a b\\c\\d");
    EXPECT_TRUE(host.CreateFolderTree(deep.c_str()));
    std::wstring target = deep + L"\\copy.bin";
    int calls = 0;
    EXPECT_TRUE(host.CopyFileProgress(source.c_str(), target.c_str(), CountProgress, &calls));
    // Windows calls the progress routine at least once per copy; Wine 8 does
    // not call it at all, so there the status line keeps its step text.
    if (RunningUnderWine()) {
        if (calls == 0) printf("note: Wine's CopyFileExW did not call the progress routine\n");
    } else {
        EXPECT_GT(calls, 0);
    }
    EXPECT_EQ(100000u, host.FileSize(target.c_str()));
    EXPECT_FALSE(host.CopyFileProgress(source.c_str(), target.c_str(), nullptr, nullptr)) << "never replaces";
    // An accepted file stays held while it is copied to the stick.
    HANDLE held = HoldFile(source.c_str());
    ASSERT_NE(INVALID_HANDLE_VALUE, held);
    std::wstring second = deep + L"\\held.bin";
    EXPECT_TRUE(host.CopyFileProgress(source.c_str(), second.c_str(), nullptr, nullptr));
    EXPECT_EQ(100000u, host.FileSize(second.c_str()));
    CloseHandle(held);

    std::wstring text = folder.File(L"script.txt");
    EXPECT_TRUE(host.WriteTextFile(text.c_str(), "select disk 9\r\n"));
    EXPECT_EQ("select disk 9\r\n", ReadWholeFile(text));
    EXPECT_TRUE(host.RemoveFile(text.c_str()));
    EXPECT_FALSE(FileExists(text));
    EXPECT_TRUE(host.RealHostRule()) << "the product never accepts stand-ins";
}

// The USB inventory over the real calls. Wine's SetupAPI lists no disks, so
// there it finds none; on Windows every disk it lists is a USB one.
TEST(Win32Storage, UsbInventoryListsOnlyUsbDisks) {
    CUsbDiskInventory inventory(&Win32StorageCalls());
    inventory.Refresh();
    EXPECT_GE(inventory.m_pathCount, inventory.m_disks.GetSize());
    for (INT_PTR i = 0; i < inventory.m_disks.GetSize(); ++i)
        EXPECT_EQ(0, inventory.m_disks[i].interface_path.Find(FixedText::kUsbInterfacePrefix));
    CString letter;
    EXPECT_TRUE(inventory.LetterOfDeviceNumber(-5, letter));
    EXPECT_STREQ(FixedText::kNoLetter, letter);
}

}  // namespace
