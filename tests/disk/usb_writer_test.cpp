// The USB boot-disk writer against the simulated machine: the commands it
// sends, the files it leaves on the partitions it created, how it finds them,
// and everything it refuses before the first tool runs.
#include <gtest/gtest.h>
#include <process.h>

#include <functional>

#include "core/fixed_texts.h"
#include "disk/usb_disk_guard.h"
#include "disk_test_support.h"
#include "pages/usb_boot_writer.h"
#include "usb_test_support.h"

namespace {

const wchar_t* const kWork = L"C:\\Work";
const wchar_t* const kData = L"D:\\Data";

class RecordingView : public IUsbWriterView {
public:
    void SetStatusText(const wchar_t* text) override { statuses.push_back(text); }
    void ShowLog(const wchar_t* text) override {
        logs.push_back(text);
        if (onLog) onLog();
    }
    void SetCopying(BOOL copying, const wchar_t* name) override {
        copyEvents.push_back((copying ? L"+" : L"-") + std::wstring(name));
    }
    std::vector<std::wstring> statuses, logs, copyEvents;
    std::function<void()> onLog;  // as each log line is shown
};

class UsbWriter : public ::testing::Test {
public:
    void SetUp() override {
        ForgetHungTools();
        Build(3);
    }
    void Build(int device) {
        m = FakeMachine();
        BuildUsbMachine(m, device);
        AddUsbWriterSources(m, kWork);
        m.AddFolder(kData);
        pe.RemoveAll();
        const wchar_t* names[3] = {L"pe7.wim", L"pe8.wim", L"pe10.wim"};
        for (const wchar_t* name : names) {
            COnlinefileinfo record;
            record.m_fileName = name;
            record.m_title = name;
            pe.Add(record);
        }
        tool = COnlinefileinfo();
        tool.m_sectionName = L"tool";
        tool.m_fileName = L"kvttool.7z";
        tool.m_title = L"工具";
        Download(tool, 50 * kMiB + kMiB / 2);
        Download(pe[2], 200 * kMiB + kMiB / 4);  // the USB road's entry

        job = UsbWriteJob();
        job.deviceNumber = device;
        job.interfacePath = UsbStickPath(device).c_str();
        job.workFolder = kWork;
        job.dataFolder = kData;
        job.peImages = &pe;
        job.usbPeIndex = 2;
        job.toolFile = &tool;
        job.filePrefix = L"kvt";
        job.usbToolFileName = L"kvttool.bin";
        job.volumeLabel = L"KAVETTA";
        job.volumeLabelAlt = L"KAVETTA_PE";
        job.protectedPaths = {L"C:\\Windows", L"D:\\Data", L"C:\\Program Files\\Kavetta\\kavetta.exe"};
    }
    void Download(COnlinefileinfo& record, ULONGLONG size) {
        m.AddFile(std::wstring(kData) + L"\\" + record.m_fileName.GetString(), size);
        record.m_checkState = 3;
    }
    int Write() {
        CUsbDiskInventory inventory(&m);
        CUsbBootDiskWriter writer(job, inventory, view, &m, &m);
        int result = writer.WriteBootDisk();
        driveLetter = writer.m_driveLetter;
        failure = writer.m_failure;
        efiMb = writer.m_efiSizeMb;
        return result;
    }
    // The tool runs without the work folder: "kvtpart.exe|4 /del /all /y".
    std::vector<std::wstring> Runs() const {
        std::vector<std::wstring> out;
        for (const auto& run : m.runs) out.push_back(run.substr(wcslen(kWork) + 1));
        return out;
    }
    static std::vector<std::wstring> FullRuns(int device, unsigned efiMb) {
        wchar_t efi[128];
        swprintf(efi, 128, L"kvtpart.exe|%d /cre /pri /sz:%u /for /align:1MB /q /v:EFI /END /y", device + 1, efiMb);
        const std::wstring d = std::to_wstring(device), n = std::to_wstring(device + 1);
        return {L"kvtprep.exe|" + d + L" /dismount",
                L"kvtpart.exe|" + n + L" /del /all /y",
                efi,
                L"kvtpart.exe|" + n + L" /act /p:1",
                L"kvtpart.exe|" + n + L"  /cre /pri /for /NTFS /align:1MB /q /v:DATA /y",
                L"kvtmbr.exe|/device=" + d + L" /partitions /firstpart=0 /quiet",
                L"kvtmbr.exe|/device=" + d + L" /mbr /install  /type=GRUB4DOS /boot_file=waldr /quiet"};
    }
    void WrittenWithoutTheToolFile();
    std::string& RecordBytes() { return m.files[FakeMachine::Upper(L"C:\\Work\\kvtgrldr.mbr")].content; }
    std::wstring LabelOf(wchar_t letter) const {
        for (const FakeVolume& v : m.volumes)
            if (v.letter == letter) return v.label;
        return L"(no volume)";
    }

    FakeMachine m;
    CArray<COnlinefileinfo> pe;
    COnlinefileinfo tool;
    UsbWriteJob job;
    RecordingView view;
    CString driveLetter, failure;
    unsigned efiMb = 0;
};

// ---- The table of scenarios: what runs, what the writer answers, where the data partition is.

struct Scenario {
    const char* name;
    std::function<void(UsbWriter&)> arrange;
    int result;
    int runsExpected;         // how many of the full command list ran (in order), -1 to skip the check
    const wchar_t* dataDrive;  // the writer's final drive text when it succeeds
};

class UsbWriterScenarios : public UsbWriter {};

TEST_F(UsbWriterScenarios, Table) {
    const Scenario scenarios[] = {
        {"a disk is written", [](UsbWriter&) {}, 1, 7, L"F:"},
        {"the EFI letter shows up late", [](UsbWriter& t) { t.m.usbTools.efiLetterWaits = 3; }, 1, 7, L"F:"},
        {"no letter after the EFI partition", [](UsbWriter& t) { t.m.usbTools.efiGetsLetter = false; }, 0, 4, nullptr},
        {"the data letter shows up late", [](UsbWriter& t) { t.m.usbTools.dataLetterWaits = 4; }, 1, 7, L"F:"},
        {"zero letters after the data partition",
         [](UsbWriter& t) {
             t.m.usbTools.dataGetsLetter = false;
             t.m.usbTools.efiLetterDropsWithData = true;
         },
         0, 7, nullptr},
        {"one letter, the data partition's",
         [](UsbWriter& t) { t.m.usbTools.efiLetterDropsWithData = true; }, 1, 7, L"E:"},
        {"one letter, but the EFI partition's", [](UsbWriter& t) { t.m.usbTools.dataGetsLetter = false; }, 0, 7,
         nullptr},
        {"two letters, the data partition renumbered 1 by the ordering",
         [](UsbWriter& t) { t.m.usbTools.orderSwapsNumbers = true; }, 1, 7, L"F:"},
        {"the clearing fails once", [](UsbWriter& t) { t.m.usbTools.failTimes[L"kvtpart.exe|/del"] = 1; }, 1, -1,
         L"F:"},
        {"the clearing fails twice", [](UsbWriter& t) { t.m.usbTools.failTimes[L"kvtpart.exe|/del"] = -1; }, 0, -1,
         nullptr},
        {"the EFI partition is not created", [](UsbWriter& t) { t.m.usbTools.exitCodes[L"kvtpart.exe|/cre:EFI"] = 4; },
         0, 3, nullptr},
        {"the data partition is not created",
         [](UsbWriter& t) { t.m.usbTools.exitCodes[L"kvtpart.exe|/cre:DATA"] = 4; }, 0, 5, nullptr},
        {"the table is not ordered", [](UsbWriter& t) { t.m.usbTools.exitCodes[L"kvtmbr.exe|/partitions"] = 102; }, 0,
         6, nullptr},
        {"the boot record is not written", [](UsbWriter& t) { t.m.usbTools.exitCodes[L"kvtmbr.exe|/mbr"] = 103; }, 0,
         7, nullptr},
        {"a boot file is not copied",
         [](UsbWriter& t) { t.m.failingCopies.push_back(L"E:\\EFI\\Boot\\bootx64.efi"); }, 0, 4, nullptr},
        {"the boot environment is not copied",
         [](UsbWriter& t) { t.m.failingCopies.push_back(L"E:\\boot\\kvthpe.wim"); }, 0, 4, nullptr},
        {"the preparatory tool fails twice (not judged)",
         [](UsbWriter& t) { t.m.usbTools.failTimes[L"kvtprep.exe|prep"] = -1; }, 1, -1, L"F:"},
    };
    for (const Scenario& s : scenarios) {
        SCOPED_TRACE(s.name);
        SetUp();
        view = RecordingView();
        s.arrange(*this);
        EXPECT_EQ(s.result, Write());
        std::vector<std::wstring> full = FullRuns(3, efiMb);
        if (s.runsExpected >= 0) {
            std::vector<std::wstring> expected(full.begin(), full.begin() + s.runsExpected);
            EXPECT_EQ(expected, Runs());
        }
        if (s.result) {
            EXPECT_STREQ(s.dataDrive, driveLetter);
            EXPECT_EQ(L"KAVETTA", LabelOf(driveLetter[0]));
            EXPECT_EQ(L"GRUB4DOS|waldr", m.bootRecords[3]);
            EXPECT_EQ(FixedText::kUsbFinishedText, view.statuses.back());
        } else {
            EXPECT_NE(FixedText::kUsbFinishedText, view.statuses.empty() ? L"" : view.statuses.back());
        }
        // Every letter wait is bounded.
        EXPECT_LE(m.waitedMs, FixedText::kUsbAfterPrepareMs + 2 * FixedText::kUsbLetterPollLimitMs);
    }
}

TEST_F(UsbWriter, ClearingRunsAtMostTwiceAndPreparationAtMostTwice) {
    m.usbTools.failTimes[L"kvtprep.exe|prep"] = -1;
    m.usbTools.failTimes[L"kvtpart.exe|/del"] = -1;
    EXPECT_EQ(0, Write());
    EXPECT_EQ((std::vector<std::wstring>{L"kvtprep.exe|3 /dismount", L"kvtprep.exe|3 /dismount",
                                         L"kvtpart.exe|4 /del /all /y", L"kvtpart.exe|4 /del /all /y"}),
              Runs());
}

TEST_F(UsbWriter, DeviceZeroIsDiskOneForThePartitioningToolAndKeysZero) {
    Build(0);
    ASSERT_EQ(1, Write()) << Narrow(failure);
    EXPECT_EQ(FullRuns(0, efiMb), Runs());
    // The partitions the tool made were found under "0:1" and "0:2".
    EXPECT_TRUE(m.HasFile(L"E:\\waldr"));
    EXPECT_STREQ(L"F:", driveLetter);
    EXPECT_EQ(L"GRUB4DOS|waldr", m.bootRecords[0]);
}

TEST_F(UsbWriter, EfiSizeCountsEveryFileItCopiesPlus100) {
    Download(pe[0], 700 * kMiB);
    ASSERT_EQ(1, Write()) << Narrow(failure);
    // 700 (PE entry 0) + 200.25 (the USB entry) + 50.5 (tool file) + 12 x 0.25 (boot files) + 100.
    EXPECT_EQ(1053u, efiMb);
    EXPECT_EQ(L"kvtpart.exe|4 /cre /pri /sz:1053 /for /align:1MB /q /v:EFI /END /y", Runs()[2]);
}

TEST_F(UsbWriter, FilesLandOnTheirPlaces) {
    Download(pe[0], 10 * kMiB);
    ASSERT_EQ(1, Write()) << Narrow(failure);
    const wchar_t* efiFiles[] = {
        L"E:\\boot\\pe7.wim", L"E:\\boot\\kvthpe.wim", L"E:\\IWLL\\IMGS\\kvttool.bin",
        L"E:\\Boot\\Fonts\\wgl4_boot.ttf", L"E:\\Boot\\Fonts\\chs_boot.ttf",
        L"E:\\EFI\\Microsoft\\Boot\\Fonts\\wgl4_boot.ttf", L"E:\\EFI\\Microsoft\\Boot\\Fonts\\chs_boot.ttf",
        L"E:\\Boot\\zh-CN\\bootmgr.exe.mui", L"E:\\boot\\bootmgr", L"E:\\EFI\\Boot\\bootx64.efi",
        L"E:\\EFI\\Boot\\zh-CN\\bootx64.efi.mui", L"E:\\waldr", L"E:\\boot\\boot.sdi", L"E:\\boot\\bcd",
        L"E:\\efi\\microsoft\\boot\\bcd"};
    for (const wchar_t* file : efiFiles) EXPECT_TRUE(m.HasFile(file)) << Narrow(file);
    // The sources behind the names: the store of the legacy loader is "bhd", the EFI one "efibcd".
    EXPECT_NE(m.log.end(), std::find(m.log.begin(), m.log.end(), L"copy C:\\Work\\tools\\bhd -> E:\\boot\\bcd"));
    EXPECT_NE(m.log.end(), std::find(m.log.begin(), m.log.end(),
                                     L"copy C:\\Work\\tools\\bootmgfw.efi -> E:\\EFI\\Boot\\bootx64.efi"));
    EXPECT_EQ(200 * kMiB + kMiB / 4, (LONGLONG)m.FileSize(L"E:\\boot\\kvthpe.wim"));
    EXPECT_EQ(L"KAVETTA", LabelOf(L'F'));
    EXPECT_EQ(L"EFI", LabelOf(L'E'));
}

TEST_F(UsbWriter, WhichBootEnvironmentEntriesAreCopiedUnderWhichNames) {
    struct Case {
        const char* name;
        int usbIndex;
        bool verified[3];
        bool staleFile[3];  // a file in the data folder that was never verified
        std::vector<std::wstring> copied;
    } cases[] = {
        {"only the third", 2, {false, false, true}, {false, false, false}, {L"3"}},
        {"first and third", 2, {true, false, true}, {false, false, false}, {L"1", L"3"}},
        {"a stale second is never copied instead", 2, {false, false, true}, {false, true, false}, {L"3"}},
        {"a verified second is preferred to the USB entry", 2, {false, true, true}, {false, false, false}, {L"2"}},
        {"all three: the first and the second", 2, {true, true, true}, {false, false, false}, {L"1", L"2"}},
        {"USB entry 1, first and second", 1, {true, true, true}, {false, false, false}, {L"1", L"2"}},
        {"USB entry 0, second as the other", 0, {true, true, false}, {false, false, true}, {L"1", L"2"}},
    };
    const wchar_t* names[3] = {L"pe7.wim", L"pe8.wim", L"pe10.wim"};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        SetUp();
        m.RemoveFile((std::wstring(kData) + L"\\pe10.wim").c_str());
        job.usbPeIndex = c.usbIndex;
        for (int i = 0; i < 3; ++i) {
            pe[i].m_checkState = 0;
            if (c.verified[i]) Download(pe[i], (ULONGLONG)(i + 1) * kMiB);
            if (c.staleFile[i]) m.AddFile(std::wstring(kData) + L"\\" + names[i], 9 * kMiB);
        }
        ASSERT_EQ(1, Write()) << Narrow(failure);
        std::vector<std::wstring> copied;
        for (int i = 0; i < 3; ++i) {
            std::wstring needle = std::wstring(L"copy ") + kData + L"\\" + names[i] + L" -> ";
            for (const auto& line : m.log)
                if (line.compare(0, needle.size(), needle) == 0) {
                    copied.push_back(std::to_wstring(i + 1));
                    std::wstring target = line.substr(needle.size());
                    EXPECT_EQ(i == 0 ? L"E:\\boot\\pe7.wim" : L"E:\\boot\\kvthpe.wim", target);
                }
        }
        EXPECT_EQ(c.copied, copied);
    }
}

TEST_F(UsbWriter, AToolFileTheQueueGaveUpIsLeftOffAndTheLogSaysSo) {
    // Configured, but the queue skipped it (it is optional): a stale file of
    // its name in the data folder is not what the record was checked against.
    for (bool fileGone : {false, true}) {
        SCOPED_TRACE(fileGone ? "verified, but its file is gone" : "given up, a stale file of its name left");
        SetUp();
        view = RecordingView();
        if (fileGone)
            m.RemoveFile(L"D:\\Data\\kvttool.7z");
        else
            tool.m_checkState = 1;
        job.debugMode = TRUE;
        WrittenWithoutTheToolFile();
    }
}

void UsbWriter::WrittenWithoutTheToolFile() {
    ASSERT_EQ(1, Write()) << Narrow(failure);
    EXPECT_FALSE(m.HasFile(L"E:\\IWLL\\IMGS\\kvttool.bin"));
    EXPECT_EQ(m.log.end(), std::find(m.log.begin(), m.log.end(), L"copy D:\\Data\\kvttool.7z -> E:\\IWLL\\IMGS\\kvttool.bin"));
    CString missing;
    missing.Format(FixedText::kUsbToolFileMissingLog, L"工具");
    EXPECT_NE(view.logs.end(), std::find(view.logs.begin(), view.logs.end(), std::wstring(missing.GetString())));
    EXPECT_EQ(view.logs.end(), std::find(view.logs.begin(), view.logs.end(), std::wstring(FixedText::kUsbToolCopiedLog)));
    // The EFI partition is sized without it: 200.25 (the USB entry) + 12 x 0.25 + 100.
    EXPECT_EQ(303u, efiMb);
}

// The preparatory tool's log line is shown once its pause is over, and no
// other pause comes before the clearing command's line.
TEST_F(UsbWriter, ThePreparatoryToolIsLoggedAfterItsPause) {
    job.debugMode = TRUE;
    std::vector<DWORD> waitedAtLog;
    view.onLog = [&] { waitedAtLog.push_back(m.waitedMs); };
    ASSERT_EQ(1, Write());
    ASSERT_GE(view.logs.size(), 3u);
    EXPECT_EQ(L"准备工具返回代码为:0,命令行为:\r\n3 /dismount", view.logs[1]);
    EXPECT_EQ(FixedText::kUsbAfterPrepareMs, waitedAtLog[1] - waitedAtLog[0]) << "the pause came before its log";
    EXPECT_EQ(waitedAtLog[1], waitedAtLog[2]);
}

TEST_F(UsbWriter, LabelFollowsTheBootModeFlag) {
    job.bootModeFlag = 1;
    ASSERT_EQ(1, Write());
    EXPECT_EQ(L"KAVETTA_PE", LabelOf(L'F'));
    // The label call got the root with its separator.
    EXPECT_NE(m.log.end(), std::find(m.log.begin(), m.log.end(), L"label F:\\ KAVETTA_PE"));
}

TEST_F(UsbWriter, DebugModeLogsEveryStepWithTheExactTexts) {
    job.debugMode = TRUE;
    ASSERT_EQ(1, Write());
    const std::vector<std::wstring> expected = {
        L"开始制作U盘启动盘，设备编号:3",
        L"准备工具返回代码为:0,命令行为:\r\n3 /dismount",
        L"gdisk删除分区返回代码为:0,命令行为:\r\n4 /del /all /y",
        L"gdisk创建efi分区返回代码为:0,命令行为:\r\n4 /cre /pri /sz:" + std::to_wstring(efiMb) +
            L" /for /align:1MB /q /v:EFI /END /y",
        L"gdisk激活efi分区返回代码为:0,命令行为:\r\n4 /act /p:1",
        L"查找盘符返回结果:E:",
        L"复制PE文件完成",
        L"复制PE增强软件完成",
        L"写入引导文件完成",
        L"gdisk创建数据分区返回代码为:0,命令行为:\r\n4  /cre /pri /for /NTFS /align:1MB /q /v:DATA /y",
        L"bootice理顺分区返回代码为:0,命令行为:\r\n/device=3 /partitions /firstpart=0 /quiet",
        L"bootice写入grldr引导返回代码为:0,命令行为:\r\n/device=3 /mbr /install  /type=GRUB4DOS /boot_file=waldr /quiet",
        L"查找到分区编号2的盘符为:F:",
        L"数据分区卷标设置为:KAVETTA",
    };
    EXPECT_EQ(expected, view.logs);
    const std::vector<std::wstring> steps = {
        FixedText::kUsbPreparingText, L"正在创建UEFI分区，请稍候 . . .", L"正在写入U盘引导文件 . . .",
        L"正在创建数据分区，请稍候 . . .", L"正在理顺分区，请稍候 . . .", L"写入分区引导，请稍候 . . .",
        L"正在检测数据分区，请稍候 . . .", FixedText::kUsbLabellingText, FixedText::kUsbFinishedText};
    std::vector<std::wstring> seen;
    for (const auto& s : view.statuses)
        if (s.find(L"%") == std::wstring::npos && s.compare(0, 4, L"正在复制") != 0) seen.push_back(s);
    EXPECT_EQ(steps, seen);
}

TEST_F(UsbWriter, WithoutDebugModeNothingIsLogged) {
    ASSERT_EQ(1, Write());
    EXPECT_TRUE(view.logs.empty());
}

// ---- Refusals before anything changes: no command is recorded.

TEST_F(UsbWriter, RefusesBeforeAnyToolRuns) {
    struct Case {
        const char* name;
        std::function<void(UsbWriter&)> arrange;
        const wchar_t* failureStart;
    } cases[] = {
        {"the number now names another disk",
         [](UsbWriter& t) { t.job.interfacePath = L"\\\\?\\usbstor#disk&ven_other#9&0"; }, L"设备编号 3 已不是"},
        {"no disk has the number", [](UsbWriter& t) { t.job.deviceNumber = 9; }, L"找不到设备编号为 9"},
        {"the disk is not on USB",
         [](UsbWriter& t) {
             t.job.deviceNumber = 0;
             t.job.interfacePath = L"\\\\?\\scsi#disk&ven_acme#0";
         },
         L"设备编号为 0 的磁盘不是U盘"},
        {"the data folder is on the stick (letter case ignored)",
         [](UsbWriter& t) { t.job.protectedPaths.push_back(L"f:\\KavettaData"); }, L"设备编号为 3 的磁盘包含"},
        {"the program runs from the stick",
         [](UsbWriter& t) { t.job.protectedPaths.push_back(L"F:\\kavetta.exe"); }, L"设备编号为 3 的磁盘包含"},
        {"the data folder's volume cannot be queried",
         [](UsbWriter& t) {
             FakeVolume g = t.m.volumes[2];
             g.letter = L'G';
             g.partition = 2;
             g.answersNumber = false;
             t.m.volumes.push_back(g);
             t.job.protectedPaths.push_back(L"G:\\KavettaData");
         },
         L"无法确认"},
        {"the Windows volume cannot be opened", [](UsbWriter& t) { t.m.volumes[0].openFails = true; }, L"无法确认"},
        {"the data folder's drive is not there", [](UsbWriter& t) { t.job.protectedPaths.push_back(L"K:\\Data"); },
         L"无法确认"},
        {"the USB entry was not verified", [](UsbWriter& t) { t.pe[2].m_checkState = 1; }, L"U盘用的维护环境"},
        {"the USB entry's file is gone", [](UsbWriter& t) { t.m.RemoveFile(L"D:\\Data\\pe10.wim"); },
         L"U盘用的维护环境"},
        {"a boot file is missing", [](UsbWriter& t) { t.m.RemoveFile(L"C:\\Work\\tools\\efibcd"); }, L"缺少"},
        {"the boot record is missing", [](UsbWriter& t) { t.m.RemoveFile(L"C:\\Work\\kvtgrldr.mbr"); }, L"缺少"},
        {"the partitioning tool is missing", [](UsbWriter& t) { t.m.RemoveFile(L"C:\\Work\\kvtpart.exe"); }, L"缺少"},
        {"real host rule: a stand-in boot file",
         [](UsbWriter& t) {
             t.m.realHostRule = true;
             t.m.AddFile(L"C:\\Work\\tools\\waldr", 200, true);
         },
         L"程序附带的是占位文件"},
        {"real host rule: no boot record",
         [](UsbWriter& t) {
             t.m.realHostRule = true;
             t.m.RemoveFile(L"C:\\Work\\kvtgrldr.mbr");
         },
         L"缺少"},
        {"real host rule: a stand-in boot record",
         [](UsbWriter& t) {
             t.m.realHostRule = true;
             t.m.AddFile(L"C:\\Work\\kvtgrldr.mbr", 1024, true);
         },
         L"程序附带的是占位文件"},
        // The boot record as the boot-sector tool will check it at the last step.
        {"the boot record has no boot signature",
         [](UsbWriter& t) { t.RecordBytes()[511] = 0; }, L"引导记录文件不可用"},
        {"the boot record is longer than the gap before the first partition",
         [](UsbWriter& t) { t.RecordBytes().resize(64 * 512, '\0'); }, L"引导记录文件不可用"},
        {"the boot record is not a whole number of sectors",
         [](UsbWriter& t) { t.RecordBytes().resize(1000); }, L"引导记录文件不可用"},
        {"the boot record does not name the loader",
         [](UsbWriter& t) { t.RecordBytes().replace(512 + 16, 5, "XXXXX"); }, L"引导记录文件不可用"},
        // The disk's length: a 1 GB stick and a 1.2 GB boot environment.
        {"the stick cannot hold the EFI partition and a data partition",
         [](UsbWriter& t) {
             t.m.DiskByDevice(3)->cylinders = 122;  // 0.98 GB
             t.Download(t.pe[2], 1200 * kMiB);
         },
         L"U盘容量不足"},
        {"the files already known for the data partition do not fit",
         [](UsbWriter& t) { t.job.dataBytes = 8ULL << 30; }, L"U盘容量不足"},
        {"the stick's length cannot be read",
         [](UsbWriter& t) { t.m.DiskByDevice(3)->lengthFails = true; }, L"无法读取U盘的容量"},
        // The EFI partition is FAT32: a boot environment of 4 GiB goes nowhere.
        {"a file for the EFI partition over 4 GiB",
         [](UsbWriter& t) { t.Download(t.pe[2], (4ULL << 30)); }, L"文件超过4GB"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        SetUp();
        c.arrange(*this);
        EXPECT_EQ(0, Write());
        EXPECT_TRUE(m.runs.empty());
        EXPECT_EQ(0u, std::count_if(m.log.begin(), m.log.end(),
                                    [](const std::wstring& l) { return l.compare(0, 5, L"copy ") == 0; }));
        EXPECT_EQ(0, failure.Find(c.failureStart)) << Narrow(failure);
    }
}

// Where each form of protected path is taken to lie, with the stick as device 3.
TEST_F(UsbWriter, EachProtectedPathIsPlacedOrRefusesTheDisk) {
    m.otherDrives[L'N'] = DRIVE_REMOTE;
    m.otherDrives[L'R'] = DRIVE_CDROM;
    FakeVolume mute = m.volumes[1];
    mute.letter = L'M';
    mute.answersNumber = false;
    m.volumes.push_back(mute);
    FakeVolume odd = m.volumes[1];
    odd.letter = L'U';
    odd.driveType = DRIVE_UNKNOWN;
    m.volumes.push_back(odd);
    struct Case {
        const wchar_t* path;
        UsbDiskCheck check;
    } cases[] = {
        {L"C:\\Windows", kUsbDiskAccepted},
        {L"d:\\Data", kUsbDiskAccepted},
        {L"D:", kUsbDiskAccepted},
        {L"\\\\?\\C:\\Program Files\\Kavetta\\kavetta.exe", kUsbDiskAccepted},
        {L"N:\\Kavetta\\kavetta.exe", kUsbDiskAccepted},
        {L"R:\\kavetta.exe", kUsbDiskAccepted},
        {L"\\\\server\\share\\kavetta.exe", kUsbDiskAccepted},
        {L"\\\\?\\UNC\\server\\share\\kavetta.exe", kUsbDiskAccepted},
        {L"", kUsbDiskAccepted},
        {L"F:\\kavetta.exe", kUsbDiskProtected},
        {L"\\\\?\\f:\\KavettaData", kUsbDiskProtected},
        {L"M:\\Data", kUsbDiskProtectedUnseen},
        {L"U:\\Data", kUsbDiskProtectedUnseen},
        {L"K:\\Data", kUsbDiskProtectedUnseen},
        {L"\\\\?\\Volume{01234567-89ab-cdef-0123-456789abcdef}\\Data", kUsbDiskProtectedUnseen},
        {L"\\\\.\\F:", kUsbDiskProtectedUnseen},
        {L"Data\\kavetta.exe", kUsbDiskProtectedUnseen},
        {L"C:kavetta.exe", kUsbDiskProtectedUnseen},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(Narrow(c.path));
        EXPECT_EQ(c.check, CheckProtectedPath(m, 3, c.path));
        EXPECT_EQ(c.check, CheckUsbDiskForWriting(m, 3, UsbStickPath(3).c_str(), {L"C:\\Windows", c.path}));
    }
    // A drive on the disk refuses it as protected even when another cannot be placed.
    EXPECT_EQ(kUsbDiskProtected, CheckUsbDiskForWriting(m, 3, CString(), {L"K:\\Data", L"F:\\kavetta.exe"}));
    EXPECT_EQ(0, m.openHandles) << "every volume opened for the check is closed again";
}

TEST_F(UsbWriter, StandInsAreAcceptedUnlessTheRealRuleApplies) {
    m.AddFile(L"C:\\Work\\tools\\waldr", 200, true);
    m.AddFile(L"C:\\Work\\kvtgrldr.mbr", 1024, true);
    RecordBytes() = UsbBootRecordBytes();  // our stand-in record is well formed behind its marker
    EXPECT_EQ(1, Write());
    SetUp();
    m.realHostRule = true;
    EXPECT_EQ(1, Write()) << "real files pass the real rule: " << Narrow(failure);
}

TEST_F(UsbWriter, ADiskThatChangesBetweenToolsStopsTheJob) {
    // While the preparatory tool runs, the stick is pulled and another USB
    // disk takes its device number: the clearing never runs.
    m.usbTools.after[L"kvtprep.exe|prep"] = [](FakeMachine& machine) {
        machine.DiskByDevice(3)->path = L"\\\\?\\usbstor#disk&ven_other#3&0";
    };
    EXPECT_EQ(0, Write());
    EXPECT_EQ((std::vector<std::wstring>{L"kvtprep.exe|3 /dismount"}), Runs());
    EXPECT_EQ(0, failure.Find(L"设备编号 3 已不是")) << Narrow(failure);
}

// Every tool learns which disk it is to write from the environment it
// inherits: the interface path the user confirmed and the serial number the
// stick answers, never the number alone.
TEST_F(UsbWriter, EveryToolIsToldTheConfirmedDisksIdentity) {
    PublishDiskIdentity(UsbDiskIdentity());
    m.disks[2].serial = " SN-0815 ";
    m.AddFile(L"C:\\Work\\kvtdisk.exe", 1024);
    std::vector<std::wstring> told;
    for (const wchar_t* key : {L"kvtprep.exe|prep", L"kvtpart.exe|/del", L"kvtpart.exe|/cre:EFI", L"kvtpart.exe|/act",
                               L"kvtpart.exe|/cre:DATA", L"kvtmbr.exe|/partitions", L"kvtmbr.exe|/mbr",
                               L"kvtdisk.exe|/restore"}) {
        m.usbTools.after[key] = [&told, key](FakeMachine&) {
            UsbDiskIdentity identity;
            ReadDiskIdentityFromEnvironment(identity);
            told.push_back(std::wstring(key) + L" " + identity.interfacePath.GetString() + L" " +
                           identity.serial.GetString());
        };
    }
    ASSERT_EQ(1, Write()) << Narrow(failure);
    {
        CUsbDiskInventory inventory(&m);
        CUsbBootDiskWriter writer(job, inventory, view, &m, &m);
        EXPECT_EQ(1, writer.RunUsbDiskTool());
    }
    ASSERT_EQ(8u, told.size());
    for (const std::wstring& line : told)
        EXPECT_NE(std::wstring::npos, line.find(L" " + UsbStickPath(3) + L" SN-0815")) << Narrow(line.c_str());
    PublishDiskIdentity(UsbDiskIdentity());
}

// Another stick at the confirmed path (one without a serial number of its
// own is named by its port, so a stick put in its place takes the path): the
// serial number taken at the user's Yes tells them apart before any tool runs.
TEST_F(UsbWriter, AnotherStickAtTheConfirmedPathIsRefusedBeforeAnyTool) {
    struct Case {
        const char* name;
        const char* now;      // the serial number the stick answers now
        const char* confirmed;
        int result;
    } cases[] = {
        {"the same stick", "SN-0815", "SN-0815", 1},
        {"another stick", "SN-4711", "SN-0815", 0},
        {"one with a serial number where there was none", "SN-4711", "", 0},
        {"one without where there was one", "", "SN-0815", 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        SetUp();
        m.disks[2].serial = c.now;
        job.serialTaken = true;
        job.serial = c.confirmed;
        EXPECT_EQ(c.result, Write()) << Narrow(failure);
        if (c.result) continue;
        EXPECT_TRUE(m.runs.empty());
        EXPECT_EQ(0, failure.Find(L"设备编号 3 已不是")) << Narrow(failure);
    }
}

TEST_F(UsbWriter, AToolThatOutlivesItsTimeLimitIsNeverStartedAgainOnThatDisk) {
    m.usbTools.exitCodes[L"kvtpart.exe|/del"] = 259;
    job.debugMode = TRUE;
    EXPECT_EQ(0, Write());
    EXPECT_EQ((std::vector<std::wstring>{L"kvtprep.exe|3 /dismount", L"kvtpart.exe|4 /del /all /y"}), Runs())
        << "no second clearing run";
    EXPECT_TRUE(ToolHungOn(UsbStickPath(3).c_str()));
    // A second job on the same disk is refused before any tool.
    m.runs.clear();
    m.usbTools.exitCodes.clear();
    EXPECT_EQ(0, Write());
    EXPECT_TRUE(m.runs.empty());
    EXPECT_STREQ(FixedText::kUsbRefuseHungTool, failure);
}

TEST_F(UsbWriter, TheDiskToolGetsTheSameChecksAndAtMostTwoRuns) {
    m.AddFile(L"C:\\Work\\kvtdisk.exe", 1024);
    struct Case {
        const char* name;
        std::function<void(UsbWriter&)> arrange;
        int result;
        int runs;
    } cases[] = {
        {"it succeeds", [](UsbWriter&) {}, 1, 1},
        {"it fails once", [](UsbWriter& t) { t.m.usbTools.failTimes[L"kvtdisk.exe|/restore"] = 1; }, 1, 2},
        {"it fails twice", [](UsbWriter& t) { t.m.usbTools.failTimes[L"kvtdisk.exe|/restore"] = -1; }, 0, 2},
        {"another disk has the number", [](UsbWriter& t) { t.job.interfacePath = L"\\\\?\\usbstor#x#3"; }, 0, 0},
        {"the program runs from it", [](UsbWriter& t) { t.job.protectedPaths.push_back(L"f:\\kavetta.exe"); }, 0, 0},
        {"the tool is missing", [](UsbWriter& t) { t.m.RemoveFile(L"C:\\Work\\kvtdisk.exe"); }, 0, 0},
        // Last: the note it leaves is checked after the loop.
        {"it outlives its time limit", [](UsbWriter& t) { t.m.usbTools.exitCodes[L"kvtdisk.exe|/restore"] = 259; }, 0,
         1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        SetUp();
        m.AddFile(L"C:\\Work\\kvtdisk.exe", 1024);
        c.arrange(*this);
        CUsbDiskInventory inventory(&m);
        CUsbBootDiskWriter writer(job, inventory, view, &m, &m);
        EXPECT_EQ(c.result, writer.RunUsbDiskTool());
        EXPECT_EQ(std::vector<std::wstring>(c.runs, L"kvtdisk.exe|3 /restore"), Runs());
    }
    EXPECT_TRUE(ToolHungOn(UsbStickPath(3).c_str())) << "after the time-out case";
}

// ---- The copy with progress.

TEST_F(UsbWriter, CopyWithProgressIsJudgedAndNeverReplaces) {
    CUsbDiskInventory inventory(&m);
    CUsbBootDiskWriter writer(job, inventory, view, &m, &m);
    COnlinefileinfo image;
    image.m_fileName = L"win10.iso";
    image.m_title = L"Windows 10";
    m.AddFile(L"D:\\Data\\win10.iso", 4 * kMiB);
    EXPECT_EQ(1, writer.CopyFileWithProgress(image, L"F:\\KVTIMG\\deep\\win10.iso"));
    EXPECT_TRUE(m.IsFolder(L"F:\\KVTIMG\\deep"));
    EXPECT_EQ((std::vector<std::wstring>{L"+Windows 10", L"-Windows 10"}), view.copyEvents);
    EXPECT_EQ((std::vector<std::wstring>{L"正在复制 Windows 10  50%", L"正在复制 Windows 10  100%"}), view.statuses);
    EXPECT_EQ(0, writer.CopyFileWithProgress(image, L"F:\\KVTIMG\\deep\\win10.iso")) << "an existing target stays";
    EXPECT_EQ(0, writer.CopyFileWithProgress(image, L"Q:\\win10.iso")) << "no such drive";
    image.m_fileName = L"missing.iso";
    EXPECT_EQ(0, writer.CopyFileWithProgress(image, L"F:\\missing.iso"));
    image.m_fileName = L"win10.iso";
    CString longTarget = L"F:\\" + CString(L'a', 255) + L"\\x.iso";
    EXPECT_EQ(0, writer.CopyFileWithProgress(image, longTarget));
    m.failingCopies.push_back(L"F:\\full.iso");
    EXPECT_EQ(0, writer.CopyFileWithProgress(image, L"F:\\full.iso")) << "a failed copy is not a copy";
}

TEST_F(UsbWriter, DataFilesComeOnlyFromVerifiedRecordsAndOnlyWhenTheyFit) {
    struct Case {
        const char* name;
        int checkState;
        ULONGLONG freeBytes;  // of the data partition; 0: as formatted
        bool copyFails;
        CUsbBootDiskWriter::DataCopy result;
        // What happens to the machine while the job waits for the file.
        std::function<void(FakeMachine&)> meanwhile;
    } cases[] = {
        {"verified after a download", 3, 0, false, CUsbBootDiskWriter::kDataCopied, nullptr},
        {"valid locally", 2, 0, false, CUsbBootDiskWriter::kDataCopied, nullptr},
        {"a partial file of the same name", 1, 0, false, CUsbBootDiskWriter::kDataNotVerified, nullptr},
        {"never examined", 0, 0, false, CUsbBootDiskWriter::kDataNotVerified, nullptr},
        {"one byte more than the partition holds", 3, 300 * kMiB - 1, false, CUsbBootDiskWriter::kDataNoRoom, nullptr},
        {"exactly what the partition holds", 3, 300 * kMiB, false, CUsbBootDiskWriter::kDataCopied, nullptr},
        {"the copy fails", 3, 0, true, CUsbBootDiskWriter::kDataCopyFailed, nullptr},
        // The stick is pulled and another USB drive gets its letter.
        {"another drive took the letter", 3, 0, false, CUsbBootDiskWriter::kDataDiskChanged,
         [](FakeMachine& machine) {
             for (FakeVolume& v : machine.volumes)
                 if (v.letter == L'F') v.device = 7;
         }},
        // ... or another USB disk takes its device number.
        {"another disk has the device number", 3, 0, false, CUsbBootDiskWriter::kDataDiskChanged,
         [](FakeMachine& machine) { machine.DiskByDevice(3)->path = L"\\\\?\\usbstor#disk&ven_other#3&0"; }},
        {"the letter is gone", 3, 0, false, CUsbBootDiskWriter::kDataDiskChanged,
         [](FakeMachine& machine) {
             for (FakeVolume& v : machine.volumes)
                 if (v.letter == L'F') v.letter = 0;
         }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        SetUp();
        COnlinefileinfo image;
        image.m_fileName = L"win10.gho";
        image.m_title = L"系统";
        m.AddFile(L"D:\\Data\\win10.gho", 300 * kMiB);
        image.m_checkState = c.checkState;
        CUsbDiskInventory inventory(&m);
        CUsbBootDiskWriter writer(job, inventory, view, &m, &m);
        ASSERT_EQ(1, writer.WriteBootDisk()) << Narrow(writer.m_failure);
        ASSERT_STREQ(L"F:", writer.m_driveLetter);
        for (FakeVolume& v : m.volumes)
            if (v.letter == L'F' && c.freeBytes) v.freeBytes = c.freeBytes;
        if (c.copyFails) m.failingCopies.push_back(L"F:\\IMG\\win10.gho");
        if (c.meanwhile) c.meanwhile(m);
        EXPECT_EQ(c.result, writer.CopyDataFile(image, L"F:\\IMG\\win10.gho"));
        if (c.result == CUsbBootDiskWriter::kDataDiskChanged) EXPECT_FALSE(writer.m_failure.IsEmpty());
        EXPECT_EQ(c.result == CUsbBootDiskWriter::kDataCopied, m.HasFile(L"F:\\IMG\\win10.gho"));
        if (c.result == CUsbBootDiskWriter::kDataNotVerified || c.result == CUsbBootDiskWriter::kDataNoRoom ||
            c.result == CUsbBootDiskWriter::kDataDiskChanged)
            EXPECT_EQ(m.log.end(), std::find(m.log.begin(), m.log.end(), L"copy D:\\Data\\win10.gho -> F:\\IMG\\win10.gho"));
    }
}

TEST(UsbCopyProgress, PercentIsTruncatedAndAnEmptyFileIsDone) {
    struct Case {
        LONGLONG total, done;
        const wchar_t* text;
    } cases[] = {{1000, 0, L"正在复制 x  0%"}, {1000, 999, L"正在复制 x  99%"}, {3, 1, L"正在复制 x  33%"},
                 {0, 0, L"正在复制 x  100%"}, {5000000000LL, 5000000000LL, L"正在复制 x  100%"}};
    FakeMachine m;
    RecordingView view;
    CUsbDiskInventory inventory(&m);
    UsbWriteJob job;
    job.dataFolder = L"D:";
    CUsbBootDiskWriter writer(job, inventory, view, &m, &m);
    m.AddFile(L"D:\\x", 0);
    COnlinefileinfo record;
    record.m_fileName = L"x";
    record.m_title = L"x";
    m.volumes.push_back(FakeVolume());
    m.volumes.back().letter = L'D';
    writer.CopyFileWithProgress(record, L"D:\\y");  // sets the name the routine shows
    for (const Case& c : cases) {
        view.statuses.clear();
        LARGE_INTEGER total, done, zero = {};
        total.QuadPart = c.total;
        done.QuadPart = c.done;
        EXPECT_EQ((DWORD)PROGRESS_CONTINUE, CUsbBootDiskWriter::CopyProgressRoutine(total, done, zero, zero, 1, 0,
                                                                                  nullptr, nullptr, &writer));
        ASSERT_EQ(1u, view.statuses.size());
        EXPECT_EQ(c.text, view.statuses[0]);
    }
}

// ---- One disk maker at a time, and the events between queue and maker.

TEST(UsbDiskMaker, OnlyOneAtATime) {
    ASSERT_TRUE(TryEnterDiskMaker());
    EXPECT_TRUE(DiskMakerRunning());
    EXPECT_FALSE(TryEnterDiskMaker());
    LeaveDiskMaker();
    EXPECT_FALSE(DiskMakerRunning());
    EXPECT_TRUE(TryEnterDiskMaker());
    LeaveDiskMaker();
}

struct WaitThread {
    CUsbJobEvents* events;
    bool image;
    volatile LONG result = -1;
    HANDLE handle = nullptr;
    static unsigned __stdcall Run(void* p) {
        WaitThread* t = static_cast<WaitThread*>(p);
        InterlockedExchange(&t->result, t->image ? t->events->WaitImage() : t->events->WaitExtra());
        return 0;
    }
    void Start() { handle = (HANDLE)_beginthreadex(nullptr, 0, Run, this, 0, nullptr); }
    // Whether the wait ended within the time (the thread is then finished).
    bool Ended(DWORD ms) { return WaitForSingleObject(handle, ms) == WAIT_OBJECT_0; }
    ~WaitThread() {
        if (handle) CloseHandle(handle);
    }
};

TEST(UsbJobEvents, AWaitEndsOnItsFileTheQueueEndOrAStopOnly) {
    CUsbJobEvents events;
    {
        WaitThread t{&events, true};
        t.Start();
        EXPECT_FALSE(t.Ended(300)) << "nothing signalled: still waiting";
        events.SignalExtra();
        EXPECT_FALSE(t.Ended(200)) << "the other file's signal does not wake the image wait";
        events.SignalImage();
        ASSERT_TRUE(t.Ended(5000));
        EXPECT_EQ(kUsbFileReady, t.result);
    }
    EXPECT_EQ(kUsbFileReady, events.WaitExtra()) << "the extra file's signal stayed pending";
    {
        WaitThread t{&events, true};
        t.Start();
        events.SignalQueueEnded();
        ASSERT_TRUE(t.Ended(5000)) << "the queue's end wakes a wait for a file it never signalled";
        EXPECT_EQ(kUsbQueueEnded, t.result);
    }
    EXPECT_EQ(kUsbQueueEnded, events.WaitExtra()) << "once the queue is over no wait blocks";
    events.ResetForJob();
    {
        WaitThread t{&events, false};
        t.Start();
        events.Stop();
        ASSERT_TRUE(t.Ended(5000));
        EXPECT_EQ(kUsbJobStopped, t.result);
    }
}

TEST(UsbJobEvents, AFileTheQueueGaveUpIsToldApartFromAReadyOne) {
    CUsbJobEvents events;
    events.SignalImage(FALSE);
    EXPECT_EQ(kUsbFileGivenUp, events.WaitImage());
    events.SignalExtra(FALSE);
    events.SignalQueueEnded();
    EXPECT_EQ(kUsbFileGivenUp, events.WaitExtra()) << "its own signal comes before the queue's end";
    // A new job forgets the given-up mark.
    events.ResetForJob();
    events.SignalImage();
    EXPECT_EQ(kUsbFileReady, events.WaitImage());
    events.SignalImage(FALSE);
    events.ResetForJob();
    events.SignalImage();
    EXPECT_EQ(kUsbFileReady, events.WaitImage());
}

TEST(UsbJobEvents, ASignalOfAnEarlierJobDoesNotLeakIntoTheNext) {
    CUsbJobEvents events;
    events.SignalImage();  // left by a job whose writer failed before it waited
    events.ResetForJob();
    events.SignalQueueEnded();
    EXPECT_EQ(kUsbQueueEnded, events.WaitImage());
    // A file signalled before the queue's end is reported as ready.
    events.ResetForJob();
    events.SignalImage();
    events.SignalQueueEnded();
    EXPECT_EQ(kUsbFileReady, events.WaitImage());
    events.Stop();
    EXPECT_EQ(kUsbJobStopped, events.WaitImage()) << "a stop wins";
}

}  // namespace
