// The boot setup and the boot-entry command sequences against the scripted
// machine: which partitions get which sequence, the staging copy, the
// boot-partition INI and the full recorded command lists.
#include <functional>

#include "core/fixed_texts.h"
#include "disk_test_support.h"

namespace {

const std::wstring kWork = L"C:\\Temp\\Work Folder";
const std::wstring kTool = kWork + L"\\kvtbcd.exe";
const std::wstring kE = L"{5189B2D4-7C3A-4E61-9B0F-2A8D6C1E4F37}";
const std::wstring kO = L"{5189B2D4-7C3A-4E61-9B0F-2A8D6C1E4F38}";
const std::wstring kE2 = L"{5189B2D4-7C3A-4E61-9B0F-2A8D6C1E4F39}";
const std::wstring kO2 = L"{5189B2D4-7C3A-4E61-9B0F-2A8D6C1E4F3A}";

// One entry's values as the commands should show them.
struct EntryText {
    std::wstring store, e, o, tag, drive, folder, sdi, file;
};

// Commands 1 to 6, the same for both styles: remove the old entry, make the
// ramdisk options, create the entry.
std::vector<std::wstring> Head(const EntryText& t) {
    const std::wstring s = L"/store \"" + t.store + L"\" ";
    return {
        s + L"/delete " + t.e,
        s + L"/delete " + t.o,
        s + L"/create " + t.o + L" /d \"" + t.tag + L"\" /device",
        s + L"/set " + t.o + L" ramdisksdidevice partition=" + t.drive,
        s + L"/set " + t.o + L" ramdisksdipath \"\\" + t.folder + L"\\" + t.sdi + L"\"",
        s + L"/create " + t.e + L" /d \"" + t.tag + L"\" /application osloader",
    };
}

std::wstring Ramdisk(const EntryText& t, const wchar_t* element) {
    return L"/store \"" + t.store + L"\" /set " + t.e + L" " + element + L" ramdisk=\"[" + t.drive + L"]\\" +
           t.folder + L"\\" + t.file + L"\"," + t.o;
}

std::vector<std::wstring> Sequence(const EntryText& t, bool gpt, bool fileTag) {
    const std::wstring s = L"/store \"" + t.store + L"\" ";
    std::vector<std::wstring> out = Head(t);
    out.push_back(Ramdisk(t, L"device"));
    if (gpt) out.push_back(s + L"/set " + t.e + L" path \\windows\\system32\\boot\\winload.efi");
    out.push_back(Ramdisk(t, L"osdevice"));
    if (!gpt) out.push_back(s + L"/set " + t.e + L" path \\windows\\system32\\boot\\winload.exe");
    out.push_back(s + L"/set " + t.e + L" systemroot \\windows");
    out.push_back(s + L"/set " + t.e + L" detecthal yes");
    out.push_back(s + L"/set " + t.e + L" winpe yes");
    if (gpt) out.push_back(s + L"/set " + t.e + L" nx OptIn");
    out.push_back(s + L"/displayorder " + t.e + L" /addlast");
    if (fileTag) out.push_back(s + L"/set {bootmgr} description kvtboot");
    out.push_back(s + L"/bootsequence " + t.e);
    return out;
}

// The main sequences for the EFI partition H: and the active D:, with the
// target D:\Kavetta Data\pe image.wim; the extra GPT one for the staged copy on C:.
const EntryText kMainH = {L"H:\\EFI\\Microsoft\\Boot\\BCD", kE, kO, L"KavettaPE", L"D:", L"Kavetta Data",
                          L"kvtboot.sdi", L"pe image.wim"};
const EntryText kMainD = {L"D:\\Boot\\BCD", kE, kO, L"KavettaPE", L"D:", L"Kavetta Data", L"kvtboot.sdi",
                          L"pe image.wim"};
const EntryText kExtraH = {L"H:\\EFI\\Microsoft\\Boot\\BCD", kE2, kO2, L"KavettaPE-2", L"C:", L"KavettaBoot",
                           L"kvtboot2.sdi", L"pe image.wim"};
EntryText WithFile(EntryText t, const wchar_t* file) {
    t.file = file;
    return t;
}
std::vector<std::wstring> Concat(std::initializer_list<std::vector<std::wstring>> parts) {
    std::vector<std::wstring> out;
    for (const auto& part : parts) out.insert(out.end(), part.begin(), part.end());
    return out;
}
std::vector<std::wstring> First(std::vector<std::wstring> runs, size_t n) {
    runs.resize(n);
    return runs;
}
std::vector<std::wstring> ExpectedMainGpt() { return Sequence(kMainH, true, true); }
std::vector<std::wstring> ExpectedMainMbr() { return Sequence(kMainD, false, true); }
std::vector<std::wstring> ExpectedExtraGpt() { return Sequence(kExtraH, true, false); }

// The standard machine with the work folder's files, the data folder with
// the target, and the stores of the three boot partitions.
void AddBootSetupFiles(FakeMachine& m) {
    m.AddFolder(L"C:\\Temp");
    m.AddFolder(kWork);
    for (const wchar_t* name : {L"kvtbcd.exe", L"kvtboot.sdi", L"kvtboot2.sdi", L"kvtldr", L"kvtmenu.lst",
                                L"kvtldr.mbr", L"kvtbootx64.efi", L"kvtbootmgfw.efi", L"kvtwinload.efi"})
        m.AddFile(kWork + L"\\" + name);
    m.AddFolder(L"D:\\Kavetta Data");
    m.AddFile(L"D:\\Kavetta Data\\pe image.wim");
    m.files[FakeMachine::Upper(L"D:\\Kavetta Data\\pe image.wim")].content = "the verified image";
    m.AddFile(L"H:\\EFI\\Microsoft\\Boot\\BCD");
    m.AddFile(L"D:\\Boot\\BCD");
    m.AddFile(L"F:\\Boot\\BCD");
}

// The standard machine with those files, then changed as a case says.
void MakeBootSetupMachine(FakeMachine& m, const std::function<void(FakeMachine&)>& change) {
    BuildStandardMachine(m);
    AddBootSetupFiles(m);
    if (change) change(m);
}

// The argument texts of the machine's recorded runs from..to (1-based,
// inclusive), each checked to be a run of the boot-entry tool.
std::vector<std::wstring> RunsOf(const FakeMachine& m, size_t from = 1, size_t to = SIZE_MAX) {
    std::vector<std::wstring> out;
    for (size_t i = from; i <= to && i <= m.runs.size(); ++i) {
        const std::wstring& run = m.runs[i - 1];
        EXPECT_EQ(run.substr(0, run.find(L'|')), kTool);
        out.push_back(run.substr(run.find(L'|') + 1));
    }
    return out;
}

class BootSetupTest : public DiskTest {
protected:
    void SetUp() override {
        BuildStandardMachine(machine);
        app.m_workFolder = kWork.c_str();
        app.m_dataFolder = L"D:\\Kavetta Data";
        app.m_systemDrive = L"C:";
        app.m_referencePartition = 2;  // C: in the inventory order
        app.m_storagePass = 1;
        // The unpack thread has ended and extracted the tools.
        app.m_toolsReady = CreateEventW(nullptr, TRUE, FALSE, nullptr);
        app.FinishUnpack(TRUE);
        AddBootSetupFiles(machine);
        inventory.Refresh();
        ASSERT_TRUE(SplitTargetPath(L"D:\\Kavetta Data\\pe image.wim"));
    }
    std::vector<std::wstring> Runs(size_t from, size_t to) { return RunsOf(machine, from, to); }
    bool Logged(const std::wstring& entry) {
        return std::find(machine.log.begin(), machine.log.end(), entry) != machine.log.end();
    }
    CDiskInventory inventory{&machine, &machine};
};

TEST_F(BootSetupTest, EveryBootPartitionOfANonUsbDiskGetsTheMainSequence) {
    EXPECT_EQ(inventory.InstallBootEntries(), 2);
    // The EFI partition got the first free letter, H:.
    EXPECT_STREQ(inventory.m_totalPartitions[0].mapped_letter, L"H:");
    ASSERT_EQ(machine.runs.size(), 31u);
    EXPECT_EQ(Runs(1, 16), ExpectedMainGpt());
    EXPECT_EQ(Runs(17, 31), ExpectedMainMbr());
    // The copies around the GPT commands, in order.
    std::vector<std::wstring> gptLog(machine.log.begin(), machine.log.begin() + 20);
    std::vector<std::wstring> expected = {
        L"copy " + kWork + L"\\kvtboot.sdi -> D:\\Kavetta Data\\kvtboot.sdi",
        L"copy H:\\EFI\\Microsoft\\Boot\\BCD -> H:\\EFI\\Microsoft\\Boot\\BCD.02030905",
    };
    for (const auto& run : ExpectedMainGpt()) expected.push_back(L"run " + run);
    // The boot manager's description is read before the file tag replaces it.
    expected.insert(expected.begin() + 16,
                    L"read /store \"H:\\EFI\\Microsoft\\Boot\\BCD\" /enum {bootmgr} /v");
    expected.insert(expected.begin() + 18,
                    L"copy H:\\EFI\\Microsoft\\Boot\\BCD -> H:\\EFI\\Microsoft\\Boot\\BCD.kvtbak");
    EXPECT_EQ(gptLog, expected);
    // The MBR partition: the ramdisk file is already there, so only the store backups.
    EXPECT_TRUE(Logged(L"copy D:\\Boot\\BCD -> D:\\Boot\\BCD.02030905"));
    EXPECT_TRUE(Logged(L"copy D:\\Boot\\BCD -> D:\\Boot\\BCD.kvtbak"));
    // No boot files, no INI, no staging, nothing on the USB disk.
    EXPECT_TRUE(machine.iniValues.empty());
    EXPECT_FALSE(machine.HasFile(L"C:\\KavettaBoot\\pe image.wim"));
    for (const auto& entry : machine.log) EXPECT_EQ(entry.find(L"F:\\"), std::wstring::npos) << Narrow(entry.c_str());
}

TEST_F(BootSetupTest, CommandSixFailingEndsThatPartitionsSequence) {
    machine.exitCodes[6] = 1;
    // H: is the partition the firmware starts: without its entry nothing
    // restarts, and the other disk's partition is left alone.
    EXPECT_EQ(inventory.InstallBootEntries(), 0);
    ASSERT_EQ(machine.runs.size(), 6u);
    std::vector<std::wstring> firstSix = ExpectedMainGpt();
    firstSix.resize(6);
    EXPECT_EQ(Runs(1, 6), firstSix);
    EXPECT_FALSE(machine.HasFile(L"H:\\EFI\\Microsoft\\Boot\\BCD.kvtbak"));
    EXPECT_TRUE(machine.HasFile(L"H:\\EFI\\Microsoft\\Boot\\BCD.02030905"));  // made before the commands
}

TEST_F(BootSetupTest, DatedBackupUnderTheInjectedClock) {
    machine.now = {2026, 11, 4, 30, 23, 59, 0, 0};
    inventory.RunBootEntryCommands(L"H:", 1);
    EXPECT_TRUE(machine.HasFile(L"H:\\EFI\\Microsoft\\Boot\\BCD.11302359"));
    // The same minute again: the backup is not made twice.
    size_t copies = std::count_if(machine.log.begin(), machine.log.end(),
                                  [](const std::wstring& e) { return e.find(L"BCD.11302359") != std::wstring::npos; });
    inventory.RunBootEntryCommands(L"H:", 1);
    size_t again = std::count_if(machine.log.begin(), machine.log.end(),
                                 [](const std::wstring& e) { return e.find(L"BCD.11302359") != std::wstring::npos; });
    EXPECT_EQ(copies, 1u);
    EXPECT_EQ(again, 1u);
}

TEST_F(BootSetupTest, OldSystemModePreparesTheSystemDisksBootFiles) {
    app.m_bootModeFlag = 1;
    machine.AddFile(L"H:\\bootmgr");
    machine.AddFile(L"D:\\bootmgr");
    EXPECT_EQ(inventory.InstallBootEntries(), 2);
    // Only the partition on the system's disk (H:) is prepared.
    EXPECT_TRUE(machine.HasFile(L"H:\\kvtldr"));
    EXPECT_FALSE(machine.HasFile(L"D:\\kvtldr"));
    EXPECT_EQ(machine.AttributesOf(L"H:\\kvtldr"), (DWORD)FILE_ATTRIBUTE_NORMAL);  // stopped before marking it
    EXPECT_EQ(machine.AttributesOf(L"H:\\Boot\\BCD.kvtorig"), INVALID_FILE_ATTRIBUTES);  // no H:\Boot\BCD
    EXPECT_TRUE(machine.iniValues.empty());  // stopped at the missing store
    // The MBR partition with the flag set: no backups, all commands.
    EXPECT_FALSE(machine.HasFile(L"D:\\Boot\\BCD.02030905"));
    EXPECT_FALSE(machine.HasFile(L"D:\\Boot\\BCD.kvtbak"));
    EXPECT_EQ(Runs(1, 31), Concat({ExpectedMainGpt(), ExpectedMainMbr()}));
}

TEST_F(BootSetupTest, OldSystemModeWritesTheBootPartitionIni) {
    app.m_bootModeFlag = 1;
    machine.AddFile(L"H:\\bootmgr");
    machine.AddFile(L"H:\\Boot\\BCD");
    EXPECT_EQ(inventory.InstallBootEntries(), 2);
    EXPECT_EQ(machine.iniValues[L"H:\\KVTLDR.INI|kavetta|mode"], L"ramdisk");
    EXPECT_EQ(machine.iniValues[L"H:\\KVTLDR.INI|kavetta|bootfile"], L"kvtboot");
    EXPECT_EQ(machine.iniValues[L"H:\\KVTLDR.INI|entry|tag"], L"KavettaPE");
    EXPECT_EQ(machine.iniValues.size(), 3u);
    EXPECT_EQ(machine.AttributesOf(L"H:\\kvtmenu.lst"), 6u);
    // The boot files come before the partition's commands.
    auto ini = std::find(machine.log.begin(), machine.log.end(), L"ini H:\\kvtldr.ini [entry] tag=KavettaPE");
    auto firstRun = std::find_if(machine.log.begin(), machine.log.end(),
                                 [](const std::wstring& e) { return e.compare(0, 4, L"run ") == 0; });
    EXPECT_LT(ini - machine.log.begin(), firstRun - machine.log.begin());
}

TEST_F(BootSetupTest, PrepareBootFilesWritesTheIniAndMarksTheFiles) {
    app.m_bootFileTag = L"tagfile";
    app.m_bootEntryTag = L"tagentry";
    machine.AddFile(L"D:\\bootmgr");
    EXPECT_EQ(inventory.PrepareBootFiles(L"D:"), 1);
    std::vector<std::wstring> expected = {
        L"copy " + kWork + L"\\kvtldr -> D:\\kvtldr",
        L"attrib D:\\kvtldr 7",
        L"copy D:\\Boot\\BCD -> D:\\Boot\\BCD.kvtorig",
        L"attrib D:\\Boot\\BCD.kvtorig 7",
        L"ini D:\\kvtldr.ini [kavetta] mode=ramdisk",
        L"ini D:\\kvtldr.ini [kavetta] bootfile=tagfile",
        L"ini D:\\kvtldr.ini [entry] tag=tagentry",
        L"attrib D:\\kvtldr.ini 7",
        L"copy " + kWork + L"\\kvtmenu.lst -> D:\\kvtmenu.lst",
        L"copy " + kWork + L"\\kvtldr.mbr -> D:\\Boot\\kvtldr.mbr",
        L"attrib D:\\kvtmenu.lst 6",
    };
    EXPECT_EQ(machine.log, expected);
    // Run again on the prepared partition: the INI is made writable first, the copies do not overwrite.
    machine.log.clear();
    EXPECT_EQ(inventory.PrepareBootFiles(L"D:"), 1);
    EXPECT_EQ(machine.log[0], L"attrib D:\\kvtldr 7");
    EXPECT_EQ(machine.log[1], L"attrib D:\\kvtldr.ini 128");
    EXPECT_EQ(machine.iniValues[L"D:\\KVTLDR.INI|entry|tag"], L"tagentry");
    // Missing first file: nothing at all.
    machine.log.clear();
    EXPECT_EQ(inventory.PrepareBootFiles(L"E:"), 0);
    EXPECT_TRUE(machine.log.empty());
}

TEST_F(BootSetupTest, PassTwoStagesTheTargetAndAddsTheExtraEntry) {
    app.m_storagePass = 2;
    EXPECT_EQ(inventory.InstallBootEntries(), 2);
    // The ramdisk file beside the target first, then the staged copy and its own ramdisk file.
    EXPECT_EQ(machine.log[0], L"copy " + kWork + L"\\kvtboot.sdi -> D:\\Kavetta Data\\kvtboot.sdi");
    EXPECT_EQ(machine.log[1], L"mkdir C:\\KavettaBoot");
    EXPECT_EQ(machine.log[2], L"copy D:\\Kavetta Data\\pe image.wim -> C:\\KavettaBoot\\pe image.wim");
    EXPECT_EQ(machine.log[3], L"copy " + kWork + L"\\kvtboot2.sdi -> C:\\KavettaBoot\\kvtboot2.sdi");
    // H: (system disk): main 16 + extra 15; D: (other disk): main 15 only.
    ASSERT_EQ(machine.runs.size(), 46u);
    EXPECT_EQ(Runs(1, 16), ExpectedMainGpt());
    EXPECT_EQ(Runs(17, 31), ExpectedExtraGpt());
    EXPECT_EQ(Runs(32, 46), ExpectedMainMbr());
    EXPECT_TRUE(Logged(L"copy " + kWork + L"\\kvtboot2.sdi -> C:\\KavettaBoot\\kvtboot2.sdi"));
    // The extra sequence makes no suffix backup of its own.
    size_t suffix = std::count_if(machine.log.begin(), machine.log.end(), [](const std::wstring& e) {
        return e.find(L"H:\\EFI\\Microsoft\\Boot\\BCD.kvtbak") != std::wstring::npos;
    });
    EXPECT_EQ(suffix, 1u);
}

TEST_F(BootSetupTest, ExtraMbrSequenceOnTheSystemDisk) {
    app.m_storagePass = 2;
    app.m_referencePartition = 4;  // D: (disk 1) as the system's partition
    EXPECT_EQ(inventory.InstallBootEntries(), 2);
    // H: main 16, D: main 15 + extra 14.
    ASSERT_EQ(machine.runs.size(), 45u);
    std::vector<std::wstring> extra = Runs(32, 45);
    ASSERT_EQ(extra.size(), 14u);
    const std::wstring s = L"/store \"D:\\Boot\\BCD\" ";
    EXPECT_EQ(extra[3], s + L"/set " + kO2 + L" ramdisksdidevice partition=D:");
    EXPECT_EQ(extra[6], s + L"/set " + kE2 + L" device ramdisk=\"[D:]\\KavettaBoot\\pe image.wim\"," + kO2);
    EXPECT_EQ(extra[7], s + L"/set " + kE2 + L" osdevice ramdisk=\"[D:]\\KavettaBoot\\pe image.wim\"," + kO2);
    EXPECT_EQ(extra[12], s + L"/displayorder " + kE2 + L" /addlast");
    EXPECT_EQ(extra[13], s + L"/bootsequence " + kE2);
}

TEST_F(BootSetupTest, WithoutTheFirmwaresBootPartitionNothingIsStagedOrRun) {
    machine.disks.erase(machine.disks.begin() + 1);  // the GPT system disk
    machine.disks.pop_back();                        // the MBR data disk
    inventory.Refresh();
    app.m_storagePass = 2;
    EXPECT_EQ(inventory.InstallBootEntries(), 0);
    EXPECT_EQ(CString(FixedText::kBootSetupSystemPartitionMissedRefusal), inventory.m_bootSetupRefusal);
    EXPECT_FALSE(machine.HasFile(L"C:\\KavettaBoot\\pe image.wim"));
    EXPECT_TRUE(machine.runs.empty());
}

TEST_F(BootSetupTest, SixtyFourBitFilesOnlyOnGptForTheNamedSystem) {
    app.m_is64BitSystem = 1;
    app.m_bootModeText = FixedText::kBootFiles64SystemText;
    machine.AddFile(L"H:\\EFI\\Boot\\bootx64.efi");  // overwritten
    inventory.InstallBootEntries();
    EXPECT_TRUE(Logged(L"copy " + kWork + L"\\kvtbootx64.efi -> H:\\EFI\\Boot\\bootx64.efi"));
    EXPECT_TRUE(Logged(L"copy " + kWork + L"\\kvtbootmgfw.efi -> H:\\EFI\\Microsoft\\Boot\\kvtbootmgfw.efi"));
    EXPECT_TRUE(Logged(L"copy " + kWork + L"\\kvtwinload.efi -> H:\\EFI\\Microsoft\\Boot\\kvtwinload.efi"));
    EXPECT_FALSE(machine.HasFile(L"D:\\EFI\\Boot\\bootx64.efi"));
    // Another system text, or a 32-bit system: none.
    for (int variant = 0; variant < 2; ++variant) {
        FakeMachine m;
        BuildStandardMachine(m);
        m.files = machine.files;
        m.files.erase(FakeMachine::Upper(L"H:\\EFI\\Boot\\bootx64.efi"));
        CDiskInventory other(&m, &m);
        other.Refresh();
        app.m_is64BitSystem = variant == 0 ? 0 : 1;
        app.m_bootModeText = variant == 0 ? FixedText::kBootFiles64SystemText : FixedText::kSystemWin10;
        other.InstallBootEntries();
        EXPECT_FALSE(m.HasFile(L"H:\\EFI\\Boot\\bootx64.efi")) << variant;
    }
}

TEST_F(BootSetupTest, TheReplacedFallbackLoaderIsKeptOnce) {
    app.m_is64BitSystem = 1;
    app.m_bootModeText = FixedText::kBootFiles64SystemText;
    machine.AddFile(L"H:\\EFI\\Boot\\bootx64.efi", 1200);  // the firmware's own fallback loader
    inventory.InstallBootEntries();
    EXPECT_TRUE(Logged(L"copy H:\\EFI\\Boot\\bootx64.efi -> H:\\EFI\\Boot\\bootx64.efi.kvtbak"));
    EXPECT_TRUE(machine.HasFile(L"H:\\EFI\\Boot\\bootx64.efi.kvtbak"));
    // Nothing to keep where there was no loader.
    EXPECT_FALSE(machine.HasFile(L"H:\\EFI\\Microsoft\\Boot\\kvtwinload.efi.kvtbak"));
    // A second setup keeps the first backup: it is the firmware's file, not ours.
    machine.log.clear();
    inventory.InstallBootEntries();
    EXPECT_FALSE(Logged(L"copy H:\\EFI\\Boot\\bootx64.efi -> H:\\EFI\\Boot\\bootx64.efi.kvtbak"));
}

TEST_F(BootSetupTest, StandInBootFilesNeverReachARealBootPartition) {
    // Each boot file of the archive, a stand-in on a real machine: refused
    // before anything is copied or run. A simulated machine accepts them.
    for (const wchar_t* name : {L"kvtboot.sdi", L"kvtldr", L"kvtbootx64.efi"}) {
        FakeMachine m;
        BuildStandardMachine(m);
        AddBootSetupFiles(m);
        m.AddFile(kWork + L"\\" + name, 4096, true);
        for (bool realHost : {true, false}) {
            m.realHostRule = realHost;
            m.runs.clear();
            m.log.clear();
            CDiskInventory other(&m, &m);
            other.Refresh();
            int prepared = other.InstallBootEntries();
            if (realHost) {
                EXPECT_EQ(0, prepared) << CStringA(name).GetString();
                EXPECT_TRUE(m.runs.empty()) << CStringA(name).GetString();
                EXPECT_EQ(CString(FixedText::kBootSetupStandInRefusal), other.m_bootSetupRefusal);
            } else {
                EXPECT_EQ(2, prepared) << CStringA(name).GetString();
                EXPECT_TRUE(other.m_bootSetupRefusal.IsEmpty());
            }
        }
    }
}

TEST_F(BootSetupTest, TargetInTheDriveRootStagesWithoutADoubledSeparator) {
    machine.AddFile(L"D:\\pe.wim");
    ASSERT_TRUE(SplitTargetPath(L"D:\\pe.wim"));
    app.m_storagePass = 2;
    inventory.InstallBootEntries();
    EXPECT_TRUE(Logged(L"copy D:\\pe.wim -> C:\\KavettaBoot\\pe.wim"));
    EXPECT_TRUE(Logged(L"copy " + kWork + L"\\kvtboot.sdi -> D:\\kvtboot.sdi"));
}

TEST_F(BootSetupTest, WhichSequencesRunOnWhichPartition) {
    // Each case on a fresh machine: what it changes, the number of boot
    // partitions prepared, and the tool runs in order.
    const EntryText mainHMissing = WithFile(kMainH, L"missing.wim");
    const EntryText mainDMissing = WithFile(kMainD, L"missing.wim");
    struct Case {
        const char* what;
        std::function<void(FakeMachine&)> change;
        int pass, referencePartition, bootModeFlag;
        const wchar_t* target;
        int prepared;
        std::vector<std::wstring> runs;
        bool staged;  // the staging copy exists afterwards
        const wchar_t* refusal = nullptr;
        std::function<void(FakeMachine&)> check = nullptr;
    } cases[] = {
        {"pass 1", nullptr, 1, 2, 0, nullptr, 2, Concat({ExpectedMainGpt(), ExpectedMainMbr()}), false},
        {"pass 3", nullptr, 3, 2, 0, nullptr, 2, Concat({ExpectedMainGpt(), ExpectedMainMbr()}), false},
        {"pass 2: the extra entry on the system's disk", nullptr, 2, 2, 0, nullptr, 2,
         Concat({ExpectedMainGpt(), ExpectedExtraGpt(), ExpectedMainMbr()}), true},
        {"pass 2, staging failed: the main entries without the extra one", nullptr, 2, 2, 0,
         L"D:\\Kavetta Data\\missing.wim", 2,
         Concat({Sequence(mainHMissing, true, true), Sequence(mainDMissing, false, true)}), false, L""},
        {"pass 2, a copy found at the staging name never counts as staged, and goes",
         [](FakeMachine& m) {
             m.AddFolder(L"C:\\KavettaBoot");
             m.AddFile(L"C:\\KavettaBoot\\pe image.wim");
             m.files.erase(FakeMachine::Upper(L"D:\\Kavetta Data\\pe image.wim"));
         },
         2, 2, 0, nullptr, 2, Concat({ExpectedMainGpt(), ExpectedMainMbr()}), false, L""},
        {"pass 2, a file planted at the staging name is replaced",
         [](FakeMachine& m) {
             m.AddFolder(L"C:\\KavettaBoot");
             m.AddFile(L"C:\\KavettaBoot\\pe image.wim");
             m.files[FakeMachine::Upper(L"C:\\KavettaBoot\\pe image.wim")].content = "planted";
         },
         2, 2, 0, nullptr, 2, Concat({ExpectedMainGpt(), ExpectedExtraGpt(), ExpectedMainMbr()}), true},
        {"pass 2, a ramdisk file planted in the staging folder is replaced",
         [](FakeMachine& m) {
             m.AddFolder(L"C:\\KavettaBoot");
             m.AddFile(L"C:\\KavettaBoot\\kvtboot2.sdi");
             m.files[FakeMachine::Upper(L"C:\\KavettaBoot\\kvtboot2.sdi")].content = "planted";
         },
         2, 2, 0, nullptr, 2, Concat({ExpectedMainGpt(), ExpectedExtraGpt(), ExpectedMainMbr()}), true},
        {"pass 2, a link at the staging folder's name is removed unfollowed",
         [](FakeMachine& m) {
             m.AddFolder(L"C:\\Users");
             m.AddFolder(L"C:\\Users\\Public");
             m.AddFile(L"C:\\Users\\Public\\pe image.wim");
             m.files[FakeMachine::Upper(L"C:\\Users\\Public\\pe image.wim")].content = "theirs";
             m.AddLink(L"C:\\KavettaBoot", L"C:\\Users\\Public");
         },
         2, 2, 0, nullptr, 2, Concat({ExpectedMainGpt(), ExpectedExtraGpt(), ExpectedMainMbr()}), true, nullptr,
         [](FakeMachine& m) {
             EXPECT_EQ("theirs", m.files[FakeMachine::Upper(L"C:\\Users\\Public\\pe image.wim")].content);
             EXPECT_EQ(FolderState::kTrusted, m.JudgeFolder(L"C:\\KavettaBoot"));
         }},
        {"pass 2, a staging folder of another owner is moved aside",
         [](FakeMachine& m) {
             m.AddFolder(L"C:\\KavettaBoot");
             m.files[FakeMachine::Upper(L"C:\\KavettaBoot")].otherOwner = true;
         },
         2, 2, 0, nullptr, 2, Concat({ExpectedMainGpt(), ExpectedExtraGpt(), ExpectedMainMbr()}), true, nullptr,
         [](FakeMachine& m) {
             EXPECT_TRUE(m.IsFolder(L"C:\\KavettaBoot.ASIDE1"));
             EXPECT_EQ(FolderState::kTrusted, m.JudgeFolder(L"C:\\KavettaBoot"));
         }},
        {"pass 2, a staging copy that differs from its source is removed: no extra entry",
         [](FakeMachine& m) { m.shortCopies.push_back(L"C:\\KavettaBoot\\pe image.wim"); }, 2, 2, 0, nullptr, 2,
         Concat({ExpectedMainGpt(), ExpectedMainMbr()}), false, L""},
        {"pass 2, the extra ramdisk file cannot be copied: the staged copy goes too, no extra entry",
         [](FakeMachine& m) { m.failingCopies.push_back(L"C:\\KavettaBoot\\kvtboot2.sdi"); }, 2, 2, 0, nullptr, 2,
         Concat({ExpectedMainGpt(), ExpectedMainMbr()}), false, L"",
         [](FakeMachine& m) { EXPECT_FALSE(m.HasFile(L"C:\\KavettaBoot\\kvtboot2.sdi")); }},
        {"pass 2, the staging folder cannot be made our own: no extra entry",
         [](FakeMachine& m) { m.uncreatableFolders.push_back(L"C:\\KavettaBoot"); }, 2, 2, 0, nullptr, 2,
         Concat({ExpectedMainGpt(), ExpectedMainMbr()}), false, L""},
        {"pass 2, unknown system partition: no extra entry, no boot files",
         [](FakeMachine& m) { m.AddFile(L"H:\\bootmgr"); }, 2, 99, 1, nullptr, 2,
         Concat({ExpectedMainGpt(), ExpectedMainMbr()}), true},
        {"the tool does not start: the firmware's partition stops at the options' creation",
         [](FakeMachine& m) {
             for (int i = 1; i <= 40; ++i) m.exitCodes[i] = -1;
         },
         1, 2, 0, nullptr, 0, First(Head(kMainH), 3), false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        FakeMachine m;
        MakeBootSetupMachine(m, c.change);
        CDiskInventory inv(&m, &m);
        inv.Refresh();
        app.m_storagePass = c.pass;
        app.m_referencePartition = c.referencePartition;
        app.m_bootModeFlag = c.bootModeFlag;
        app.m_debugMode = 1;
        ASSERT_TRUE(SplitTargetPath(c.target ? c.target : L"D:\\Kavetta Data\\pe image.wim"));
        EXPECT_EQ(c.prepared, inv.InstallBootEntries());
        app.m_debugMode = 0;
        EXPECT_EQ(c.runs, RunsOf(m));
        const std::wstring staging = L"C:\\KavettaBoot\\" + std::wstring(c.target ? L"missing.wim" : L"pe image.wim");
        EXPECT_EQ(c.staged, m.HasFile(staging));
        if (c.refusal) EXPECT_STREQ(c.refusal, inv.m_bootSetupRefusal);
        // A staging that failed is said in the debug log, and only then.
        const bool skippedSaid = std::find(m.debugBoxes.begin(), m.debugBoxes.end(),
                                           FixedText::kBootSetupStagingSkippedLog) != m.debugBoxes.end();
        EXPECT_EQ(c.pass == 2 && !c.staged, skippedSaid);
        if (c.staged && c.prepared) {
            // What the extra entry starts is what was verified, never what was found there.
            EXPECT_STREQ(m.FileDigest(L"D:\\Kavetta Data\\pe image.wim"), m.FileDigest(staging.c_str()));
            if (m.HasFile(L"C:\\KavettaBoot\\kvtboot2.sdi"))
                EXPECT_STREQ(m.FileDigest((kWork + L"\\kvtboot2.sdi").c_str()),
                             m.FileDigest(L"C:\\KavettaBoot\\kvtboot2.sdi"));
        }
        if (c.check) c.check(m);
        EXPECT_FALSE(m.HasFile(L"H:\\kvtldr")) << "boot files only on the known system's disk in the old mode";
    }
}

// The 64-bit files on H: over the firmware's fallback loader.
class LoaderBackupTest : public BootSetupTest {
protected:
    void SetUp() override {
        BootSetupTest::SetUp();
        app.m_is64BitSystem = 1;
        app.m_bootModeText = FixedText::kBootFiles64SystemText;
        machine.AddFile(L"H:\\EFI\\Boot\\bootx64.efi", 1200);  // the firmware's own, 1200 bytes
        machine.AddFile(kWork + L"\\kvtbootx64.efi", 3400);       // ours
    }
    // The H: partition was left as it was: no file of ours, no command.
    void ExpectLoaderKept() {
        EXPECT_EQ(1200u, machine.FileSize(L"H:\\EFI\\Boot\\bootx64.efi"));
        EXPECT_FALSE(machine.HasFile(L"H:\\EFI\\Microsoft\\Boot\\kvtbootmgfw.efi"));
        for (const auto& run : RunsOf(machine)) EXPECT_EQ(run.find(L"H:\\"), std::wstring::npos) << Narrow(run.c_str());
        EXPECT_EQ(CString(FixedText::kBootSetupLoaderBackupRefusal), inventory.m_bootSetupRefusal);
    }
};

TEST_F(LoaderBackupTest, AFailedBackupRefusesThatPartition) {
    machine.failingCopies.push_back(L"H:\\EFI\\Boot\\bootx64.efi.kvtbak");
    // H: is the firmware's partition: nothing restarts, nothing else is touched.
    EXPECT_EQ(0, inventory.InstallBootEntries());
    ExpectLoaderKept();
    EXPECT_TRUE(machine.runs.empty());
}

TEST_F(LoaderBackupTest, ABackupShorterThanTheLoaderIsRemovedAndRefusesThatPartition) {
    machine.shortCopies.push_back(L"H:\\EFI\\Boot\\bootx64.efi.kvtbak");
    EXPECT_EQ(0, inventory.InstallBootEntries());
    ExpectLoaderKept();
    // Left behind, the short copy would pass for the original in the next run.
    EXPECT_FALSE(machine.HasFile(L"H:\\EFI\\Boot\\bootx64.efi.kvtbak"));
}

TEST_F(LoaderBackupTest, AGoodBackupComesFirstThenOurLoader) {
    EXPECT_EQ(2, inventory.InstallBootEntries());
    EXPECT_TRUE(inventory.m_bootSetupRefusal.IsEmpty());
    EXPECT_EQ(1200u, machine.FileSize(L"H:\\EFI\\Boot\\bootx64.efi.kvtbak"));
    EXPECT_EQ(3400u, machine.FileSize(L"H:\\EFI\\Boot\\bootx64.efi"));
    // A later run: the backup from before counts as kept, and our loader is
    // put in place again.
    machine.failingCopies.push_back(L"H:\\EFI\\Boot\\bootx64.efi.kvtbak");
    machine.runs.clear();
    EXPECT_EQ(2, inventory.InstallBootEntries());
    EXPECT_EQ(1200u, machine.FileSize(L"H:\\EFI\\Boot\\bootx64.efi.kvtbak"));
    EXPECT_EQ(31u, machine.runs.size());
}

TEST_F(LoaderBackupTest, ALoaderCopyThatFailsOrArrivesShortPutsTheFirmwaresFilesBack) {
    const std::wstring fallback = L"H:\\EFI\\Boot\\bootx64.efi";
    const std::wstring winload = L"H:\\EFI\\Microsoft\\Boot\\kvtwinload.efi";
    struct Case {
        const char* what;
        std::wstring target;
        bool shortCopy;
    } cases[] = {
        {"our fallback loader cannot be copied", fallback, false},
        {"our fallback loader arrives short", fallback, true},
        {"the last file cannot be copied, after the loader was replaced", winload, false},
        {"the last file arrives short", winload, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        FakeMachine m;
        BuildStandardMachine(m);
        AddBootSetupFiles(m);
        m.AddFile(L"H:\\EFI\\Boot\\bootx64.efi", 1200);
        m.AddFile(kWork + L"\\kvtbootx64.efi", 3400);
        m.AddFile(kWork + L"\\kvtwinload.efi", 5600);
        m.copyFaultsOnce = true;  // the firmware's file can be put back
        (c.shortCopy ? m.shortCopies : m.failingCopies).push_back(c.target);
        CDiskInventory inv(&m, &m);
        inv.Refresh();
        // H: is the firmware's partition: refused, so nothing restarts.
        EXPECT_EQ(0, inv.InstallBootEntries());
        EXPECT_EQ(CString(FixedText::kBootSetupLoaderCopyRefusal), inv.m_bootSetupRefusal);
        EXPECT_TRUE(m.runs.empty());
        // The firmware's loader as it was; none of ours is left.
        EXPECT_EQ(1200u, m.FileSize(fallback.c_str()));
        EXPECT_FALSE(m.HasFile(L"H:\\EFI\\Microsoft\\Boot\\kvtbootmgfw.efi"));
        EXPECT_FALSE(m.HasFile(winload));
    }
}

TEST_F(BootSetupTest, ABackupThatHoldsOneOfOurLoadersIsMadeAnew) {
    // A backup an earlier run left under the fallback loader's backup name:
    // one of our own loader files there (a setup that was never undone, then
    // backed up again) would be put back as the firmware's. Only a file of
    // someone else's counts as the firmware's loader.
    const std::wstring loader = L"H:\\EFI\\Boot\\bootx64.efi";
    const std::wstring backup = loader + L".kvtbak";
    const char* ours[3] = {"our fallback loader", "our boot manager", "our system loader"};
    struct Case {
        const char* what;
        std::string inBackup;
        std::string backupAfter;  // what the backup holds after the setup
    } cases[] = {
        {"our fallback loader", ours[0], "the firmware's loader"},
        {"our boot manager", ours[1], "the firmware's loader"},
        {"our system loader", ours[2], "the firmware's loader"},
        {"a loader of the firmware's, kept by an earlier run", "the firmware's older loader",
         "the firmware's older loader"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        FakeMachine m;
        BuildStandardMachine(m);
        AddBootSetupFiles(m);
        for (int i = 0; i < 3; ++i) {
            const std::wstring work = kWork + L"\\" + FixedText::kBoot64WorkFiles[i];
            m.AddFile(work, 3400);
            m.files[FakeMachine::Upper(work)].content = ours[i];
        }
        m.AddFile(loader, 1200);
        m.files[FakeMachine::Upper(loader)].content = "the firmware's loader";
        // A copy of ours is ours to the byte (our loader files are 3400 bytes).
        m.AddFile(backup, c.inBackup.compare(0, 4, "our ") == 0 ? 3400 : 1200);
        m.files[FakeMachine::Upper(backup)].content = c.inBackup;
        CDiskInventory inv(&m, &m);
        inv.Refresh();
        app.m_is64BitSystem = 1;
        app.m_bootModeText = FixedText::kBootFiles64SystemText;
        EXPECT_EQ(2, inv.InstallBootEntries());
        EXPECT_EQ(ours[0], m.files[FakeMachine::Upper(loader)].content);
        EXPECT_EQ(c.backupAfter, m.files[FakeMachine::Upper(backup)].content);
        // The undo puts back what the backup holds.
        EXPECT_TRUE(inv.UndoArmedBoot(CString(), CString()));
        EXPECT_EQ(c.backupAfter, m.files[FakeMachine::Upper(loader)].content);
    }
}

TEST_F(BootSetupTest, TheBootManagersDescriptionIsReadBeforeTheFileTagReplacesIt) {
    const std::wstring gptStore = L"H:\\EFI\\Microsoft\\Boot\\BCD";
    const std::wstring mbrStore = L"D:\\Boot\\BCD";
    const std::wstring readH = kTool + L"|/store \"" + gptStore + L"\" /enum {bootmgr} /v";
    const std::wstring readD = kTool + L"|/store \"" + mbrStore + L"\" /enum {bootmgr} /v";
    auto without = [](std::vector<std::wstring> runs) {
        runs.erase(std::remove_if(runs.begin(), runs.end(),
                                  [](const std::wstring& r) { return r.find(L"description") != std::wstring::npos; }),
                   runs.end());
        return runs;
    };
    struct Case {
        const char* what;
        std::function<void(FakeMachine&)> change;
        bool changed;  // the file tag replaced the descriptions
        std::wstring description;  // what the stores' descriptions are after the undo
    } cases[] = {
        {"the editor lists the boot manager", nullptr, true, L"Windows Boot Manager"},
        {"a description of the owner's", [](FakeMachine& m) { m.defaultBootManagerDescription = L"My PC (old disk)"; },
         true, L"My PC (old disk)"},
        {"the store has no description: the undo deletes ours",
         [&](FakeMachine& m) {
             m.storesWithoutDescription.insert(FakeMachine::Upper(gptStore));
             m.storesWithoutDescription.insert(FakeMachine::Upper(mbrStore));
         },
         true, L""},
        {"the read fails", [](FakeMachine& m) { m.readCode = 1; }, false, L"Windows Boot Manager"},
        {"the tool does not start for the read", [](FakeMachine& m) { m.readCode = -1; }, false,
         L"Windows Boot Manager"},
        {"the listing is not the boot manager's",
         [](FakeMachine& m) {
             m.replaceReadOutput = true;
             m.readOutput = "The boot configuration data store could not be opened.\r\n";
         },
         false, L"Windows Boot Manager"},
        {"two descriptions in the listing",
         [](FakeMachine& m) {
             m.replaceReadOutput = true;
             m.readOutput = BootManagerListing(L"one", true) + BootManagerListing(L"two", true);
         },
         false, L"Windows Boot Manager"},
        {"a description that cannot be handed back in quotes",
         [](FakeMachine& m) { m.defaultBootManagerDescription = L"the \"best\" PC"; }, false, L"the \"best\" PC"},
        {"a description the code page could not show", [](FakeMachine& m) { m.defaultBootManagerDescription = L"PC ?"; },
         false, L"PC ?"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        FakeMachine m;
        MakeBootSetupMachine(m, c.change);
        CDiskInventory inv(&m, &m);
        inv.Refresh();
        EXPECT_EQ(2, inv.InstallBootEntries());
        EXPECT_EQ((std::vector<std::wstring>{readH, readD}), m.reads);
        const std::vector<std::wstring> all = Concat({ExpectedMainGpt(), ExpectedMainMbr()});
        EXPECT_EQ(c.changed ? all : without(all), RunsOf(m));
        // The read comes right before the command that changes the description.
        const auto read = std::find(m.log.begin(), m.log.end(), L"read " + readH.substr(kTool.size() + 1));
        ASSERT_NE(m.log.end(), read);
        const auto next = std::find_if(read, m.log.end(), [](const std::wstring& e) { return e.compare(0, 4, L"run ") == 0; });
        ASSERT_NE(m.log.end(), next);
        EXPECT_EQ(L"run " + ExpectedMainGpt()[c.changed ? 14 : 15], *next);
        if (c.changed) EXPECT_EQ(L"kvtboot", m.BootManagerDescription(gptStore));
        const size_t armed = m.runs.size();
        EXPECT_TRUE(inv.UndoArmedBoot(CString(), CString()));
        EXPECT_EQ(c.description, m.BootManagerDescription(gptStore));
        EXPECT_EQ(c.description, m.BootManagerDescription(mbrStore));
        if (!c.changed) {
            for (size_t i = armed; i < m.runs.size(); ++i)
                EXPECT_EQ(std::wstring::npos, m.runs[i].find(L"description")) << Narrow(m.runs[i].c_str());
        }
    }
    // A read the tool outlives: it may still hold the store, so the
    // firmware's partition stops there.
    FakeMachine m;
    BuildStandardMachine(m);
    AddBootSetupFiles(m);
    m.readCode = STILL_ACTIVE;
    CDiskInventory inv(&m, &m);
    inv.Refresh();
    EXPECT_EQ(0, inv.InstallBootEntries());
    EXPECT_EQ(First(ExpectedMainGpt(), 14), RunsOf(m));
    EXPECT_EQ(CString(FixedText::kBootSetupToolHungRefusal), inv.m_bootSetupRefusal);
}

TEST_F(DiskTest, TheBootManagersListingIsReadInEveryLanguageAndCodePage) {
    // The editor's listing: localized headings and identifier label, the
    // element names as they are, in the OEM code page or wide.
    auto wide = [](const std::wstring& text) {
        std::string bytes = "\xFF\xFE";
        bytes.append(reinterpret_cast<const char*>(text.data()), text.size() * sizeof(wchar_t));
        return bytes;
    };
    const std::string german =
        "\r\nWindows-Start-Manager\r\n---------------------\r\n"
        "Bezeichner              {9DEA862C-5CDD-4E70-ACC1-F32B344D4795}\r\n"
        "device                  partition=\\Device\\HarddiskVolume1\r\n"
        "description             Windows Boot Manager   \r\n"
        "locale                  de-DE\r\n";
    struct Case {
        const char* what;
        std::string output;
        bool read, had;
        const wchar_t* text;
    } cases[] = {
        {"Chinese, OEM code page", BootManagerListing(L"Windows Boot Manager", true), true, true,
         L"Windows Boot Manager"},
        {"German, upper-case identifier, trailing blanks", german, true, true, L"Windows Boot Manager"},
        {"wide output", wide(L"identifier {9dea862c-5cdd-4e70-acc1-f32b344d4795}\r\ndescription\tMy PC\r\n"), true,
         true, L"My PC"},
        {"no description element", BootManagerListing(L"", false), true, false, L""},
        {"an empty description", BootManagerListing(L"", true), true, true, L""},
        {"another object's listing",
         "identifier {a5a30fa2-3d06-4e9f-b5f4-a01df9d1fcba}\r\ndescription Windows 10\r\n", false, true,
         L"Windows 10"},
        {"nothing", "", false, false, L""},
        {"a description element named in another case", "{9dea862c-5cdd-4e70-acc1-f32b344d4795}\nDescription  X\n",
         true, true, L"X"},
        {"a longer element name is no description",
         "{9dea862c-5cdd-4e70-acc1-f32b344d4795}\ndescriptionx  X\n", true, false, L""},
        {"a backslash before the closing quote", "{9dea862c-5cdd-4e70-acc1-f32b344d4795}\ndescription X\\\n", false,
         true, L"X\\"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        bool had = !c.had;
        CString text = L"left over";
        EXPECT_EQ(c.read, ParseBootManagerDescription(c.output, had, text));
        if (!c.read) continue;
        EXPECT_EQ(c.had, had);
        EXPECT_STREQ(c.text, text);
    }
}

TEST_F(BootSetupTest, AToolStillRunningAfterItsWaitEndsThatPartitionsSequence) {
    // Whatever command it was, a tool that outlived its wait may still write
    // the store: nothing more of that partition's sequence runs.
    for (int n : {1, 8, 16}) {
        SCOPED_TRACE(n);
        FakeMachine m;
        BuildStandardMachine(m);
        AddBootSetupFiles(m);
        m.exitCodes[n] = STILL_ACTIVE;
        CDiskInventory inv(&m, &m);
        inv.Refresh();
        EXPECT_EQ(0, inv.InstallBootEntries());  // H:, the firmware's partition
        EXPECT_EQ(First(ExpectedMainGpt(), n), RunsOf(m));
        EXPECT_EQ(CString(FixedText::kBootSetupToolHungRefusal), inv.m_bootSetupRefusal);
    }
    // On D: (the other disk) the entry of H: still counts; D: stops there.
    FakeMachine m;
    BuildStandardMachine(m);
    AddBootSetupFiles(m);
    m.exitCodes[16 + 1] = STILL_ACTIVE;
    CDiskInventory inv(&m, &m);
    inv.Refresh();
    EXPECT_EQ(1, inv.InstallBootEntries());
    EXPECT_EQ(Concat({ExpectedMainGpt(), First(ExpectedMainMbr(), 1)}), RunsOf(m));
}

TEST_F(BootSetupTest, OnlyThePartitionTheFirmwareStartsFromMakesTheSetupCount) {
    CString commandFailed;
    commandFailed.Format(FixedText::kBootSetupCommandRefusalFormat, 1);
    const CString none;
    struct Case {
        const char* what;
        std::function<void(FakeMachine&)> change;
        int prepared;
        CString refusal;
        std::vector<std::wstring> runs;
    } cases[] = {
        {"the firmware starts the other disk's D: (Windows is on C:): D: goes first",
         [](FakeMachine& m) { m.SetSystemPartition(1, 1); }, 2, none,
         Concat({ExpectedMainMbr(), ExpectedMainGpt()})},
        {"D: is the firmware's and is refused: the entry on H: alone restarts nothing",
         [](FakeMachine& m) {
             m.SetSystemPartition(1, 1);
             m.exitCodes[6] = 1;
         },
         0, commandFailed, First(ExpectedMainMbr(), 6)},
        {"H: is the firmware's and is refused: D: is left alone",
         [](FakeMachine& m) { m.exitCodes[6] = 1; }, 0, commandFailed, First(ExpectedMainGpt(), 6)},
        {"the Setup key names no system partition", [](FakeMachine& m) { m.systemPartition.clear(); }, 0,
         FixedText::kBootSetupNoSystemPartitionRefusal, {}},
        {"it names a volume that is not there",
         [](FakeMachine& m) { m.systemPartition = L"\\Device\\HarddiskVolume77"; }, 0,
         FixedText::kBootSetupNoSystemPartitionRefusal, {}},
        {"it names C:, which is no boot partition", [](FakeMachine& m) { m.SetSystemPartition(0, 3); }, 0,
         FixedText::kBootSetupSystemPartitionMissedRefusal, {}},
        {"it names the USB stick's active partition", [](FakeMachine& m) { m.SetSystemPartition(3, 1); }, 0,
         FixedText::kBootSetupSystemPartitionMissedRefusal, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        FakeMachine m;
        BuildStandardMachine(m);
        AddBootSetupFiles(m);
        c.change(m);
        CDiskInventory inv(&m, &m);
        inv.Refresh();
        EXPECT_EQ(c.prepared, inv.InstallBootEntries());
        EXPECT_EQ(c.refusal, inv.m_bootSetupRefusal);
        EXPECT_EQ(c.runs, RunsOf(m));
        // Refused before anything changed: not even a temporary letter.
        if (c.runs.empty()) EXPECT_TRUE(m.dosCalls.empty());
    }
}

// Gives every disk and volume of device `from` the number `to`.
void Renumber(FakeMachine& m, int from, int to) {
    for (FakeDisk& d : m.disks)
        if (d.device == from) d.device = to;
    for (FakeVolume& v : m.volumes)
        if (v.device == from) v.device = to;
}

TEST_F(BootSetupTest, APartitionWhoseDiskMovedSinceTheCheckGetsNothing) {
    // The check reads the machine; then disks are plugged, pulled or
    // renumbered before the boot setup runs.
    struct Case {
        const char* what;
        std::function<void(FakeMachine&)> change;
        int prepared;
        std::vector<std::wstring> runs;
    } cases[] = {
        {"the two disks swapped their numbers",
         [](FakeMachine& m) {
             Renumber(m, 0, 9);
             Renumber(m, 1, 0);
             Renumber(m, 9, 1);
         },
         0, {}},
        {"the system disk took another number", [](FakeMachine& m) { Renumber(m, 0, 5); }, 0, {}},
        {"the EFI partition now starts elsewhere", [](FakeMachine& m) { m.disks[1].partitions[0].startBytes += kMiB; },
         0, {}},
        {"the data disk went, and another disk took its number and its letter",
         [](FakeMachine& m) {
             m.disks[3].present = false;
             FakeDisk other;
             other.path = L"\\\\?\\scsi#disk&ven_other#1";
             other.device = 1;
             other.signature = 0x0DD0DD01;
             other.partitions = {MbrPartition(1, 0x07, 8 * kGiB, true)};
             m.disks.push_back(other);
             m.AddFile(L"D:\\Boot\\BCD");
         },
         1, ExpectedMainGpt()},
        {"the data disk now has another signature", [](FakeMachine& m) { m.disks[3].signature = 0xBAD0BAD0; }, 1,
         ExpectedMainGpt()},
        {"D: now reaches another partition of its disk",
         [](FakeMachine& m) {
             m.volumes[1].partition = 2;  // D:
             m.volumes[2].partition = 1;  // E:
         },
         1, ExpectedMainGpt()},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        FakeMachine m;
        BuildStandardMachine(m);
        AddBootSetupFiles(m);
        CDiskInventory inv(&m, &m);
        inv.Refresh();  // what the check saw
        c.change(m);
        EXPECT_EQ(c.prepared, inv.InstallBootEntries());
        EXPECT_EQ(c.runs, RunsOf(m));
        if (c.prepared == 0) {
            EXPECT_EQ(CString(FixedText::kBootSetupDiskMovedRefusal), inv.m_bootSetupRefusal);
            // No key became a device name: a renumbered disk never gets a letter.
            EXPECT_TRUE(m.dosCalls.empty());
        }
        // Nothing but H: (the EFI partition seen on the system disk) was written.
        for (const auto& entry : m.log)
            if (entry.compare(0, 4, L"run ") != 0) EXPECT_EQ(entry.find(L"D:\\Boot"), std::wstring::npos) << Narrow(entry.c_str());
    }
}

TEST_F(BootSetupTest, ARamdiskFileThatCannotBeCopiedRefusesTheSetup) {
    // Both main entries start the target in D:\Kavetta Data, beside which the ramdisk file goes.
    for (bool shortCopy : {false, true}) {
        SCOPED_TRACE(shortCopy ? "short copy" : "failed copy");
        FakeMachine m;
        BuildStandardMachine(m);
        AddBootSetupFiles(m);
        m.AddFile(kWork + L"\\kvtboot.sdi", 4096);
        (shortCopy ? m.shortCopies : m.failingCopies).push_back(L"D:\\Kavetta Data\\kvtboot.sdi");
        CDiskInventory inv(&m, &m);
        inv.Refresh();
        EXPECT_EQ(0, inv.InstallBootEntries());
        EXPECT_TRUE(m.runs.empty());
        EXPECT_EQ(CString(FixedText::kBootSetupRamdiskRefusal), inv.m_bootSetupRefusal);
        EXPECT_FALSE(m.HasFile(L"D:\\Kavetta Data\\kvtboot.sdi"));
    }
}

TEST_F(BootSetupTest, BootFilesThatNeverArriveRefuseTheSetup) {
    // The unpack failed (or is still running when the wait ends), or it
    // ended without one of the files: nothing is copied or run.
    struct Case {
        const char* what;
        BOOL unpacked;
        const wchar_t* missing;
    } cases[] = {
        {"the unpack failed", FALSE, nullptr},
        {"no ramdisk file", TRUE, L"kvtboot.sdi"},
        {"no boot-entry tool", TRUE, L"kvtbcd.exe"},
        {"no 64-bit loader", TRUE, L"kvtbootx64.efi"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        FakeMachine m;
        BuildStandardMachine(m);
        AddBootSetupFiles(m);
        if (c.missing) m.files.erase(FakeMachine::Upper(kWork + L"\\" + c.missing));
        ResetEvent(app.m_toolsReady);
        app.FinishUnpack(c.unpacked);
        CDiskInventory inv(&m, &m);
        inv.Refresh();
        EXPECT_EQ(0, inv.InstallBootEntries());
        EXPECT_TRUE(m.runs.empty());
        for (const auto& entry : m.log) EXPECT_NE(entry.compare(0, 5, L"copy "), 0) << Narrow(entry.c_str());
        EXPECT_EQ(CString(FixedText::kBootSetupToolsMissingRefusal), inv.m_bootSetupRefusal);
    }
}

TEST_F(BootSetupTest, EachCommandThatMakesTheEntryBootableIsTested) {
    // A failure of run n on the GPT partition H: (runs 1 to 16). The
    // creations, the device settings and the one-time boot sequence end that
    // partition's sequence; the others do not.
    const std::vector<std::wstring> gpt = ExpectedMainGpt();
    for (int n = 1; n <= 16; ++n) {
        const bool tested = n == 3 || n == 4 || n == 5 || n == 6 || n == 7 || n == 9 || n == 16;
        SCOPED_TRACE(Narrow(gpt[n - 1].c_str()));
        FakeMachine m;
        BuildStandardMachine(m);
        AddBootSetupFiles(m);
        m.exitCodes[n] = 5;
        CDiskInventory inv(&m, &m);
        inv.Refresh();
        // H: is the firmware's partition: when it is refused, D: is left alone.
        EXPECT_EQ(tested ? 0 : 2, inv.InstallBootEntries());
        ASSERT_EQ(tested ? (size_t)n : 31u, m.runs.size());
        if (!tested) EXPECT_EQ(ExpectedMainMbr(), RunsOf(m, m.runs.size() - 14));
        if (tested) {
            CString why;
            why.Format(FixedText::kBootSetupCommandRefusalFormat, 5);
            EXPECT_EQ(why, inv.m_bootSetupRefusal);
        } else {
            EXPECT_TRUE(inv.m_bootSetupRefusal.IsEmpty());
        }
    }
    // The MBR partition's: its device settings and its boot sequence (run 15) are tested too.
    for (int n : {7, 8, 15}) {
        FakeMachine m;
        BuildStandardMachine(m);
        AddBootSetupFiles(m);
        m.exitCodes[16 + n] = 1;
        CDiskInventory inv(&m, &m);
        inv.Refresh();
        EXPECT_EQ(1, inv.InstallBootEntries()) << n;
        EXPECT_EQ((size_t)16 + n, m.runs.size()) << n;
        EXPECT_FALSE(inv.m_bootSetupRefusal.IsEmpty()) << n;
    }
}

TEST_F(BootSetupTest, RefusedTargetRunsNothing) {
    // An earlier setup on this inventory refused with its own reason.
    machine.exitCodes[6] = 1;
    EXPECT_EQ(inventory.InstallBootEntries(), 0);
    ASSERT_FALSE(inventory.m_bootSetupRefusal.IsEmpty());
    FakeMachine fresh;
    BuildStandardMachine(fresh);
    AddBootSetupFiles(fresh);
    CDiskInventory other(&fresh, &fresh);
    other.Refresh();
    for (CDiskInventory* inv : {&inventory, &other}) {
        machine.runs.clear();
        fresh.dosCalls.clear();
        EXPECT_FALSE(SplitTargetPath(CString(L'x', 400)));
        EXPECT_EQ(inv->InstallBootEntries(), 0);
        // The target's own reason, never the earlier one; not even a temporary letter.
        EXPECT_EQ(CString(FixedText::kBootSetupTargetRefusal), inv->m_bootSetupRefusal);
        EXPECT_TRUE(machine.runs.empty());
        EXPECT_TRUE(fresh.runs.empty());
        EXPECT_TRUE(fresh.dosCalls.empty());
    }
}

// A machine on which the copy to one name succeeds the first time and
// fails every time after (a boot partition's disk that fills up, a name
// someone holds open): as Windows' CopyFile answers, nothing arrives.
class SecondCopyFails : public FakeMachine {
public:
    std::wstring name;
    int copies = 0;
    int CopyFileEnsureFolder(const wchar_t* source, const wchar_t* destination, BOOL failIfExists) override {
        if (Upper(destination) == Upper(name) && ++copies >= 2) return 0;
        return FakeMachine::CopyFileEnsureFolder(source, destination, failIfExists);
    }
};

TEST_F(BootSetupTest, TheRamdiskFileIsPutInPlaceOnceAndStaysWhereTheEntriesPoint) {
    // Every partition's entry starts the target beside the ramdisk file (and
    // the extra entry the staged copy beside its own): once the firmware's
    // partition points at it, a later partition never takes it away.
    struct Case {
        const char* what;
        int pass;
        const wchar_t* ramdisk;
        const wchar_t* source;
        std::vector<std::wstring> runs;
    } cases[] = {
        {"the target's ramdisk file", 1, L"D:\\Kavetta Data\\kvtboot.sdi", L"kvtboot.sdi",
         Concat({ExpectedMainGpt(), ExpectedMainMbr()})},
        {"the staged copy's ramdisk file", 2, L"C:\\KavettaBoot\\kvtboot2.sdi", L"kvtboot2.sdi",
         Concat({ExpectedMainGpt(), ExpectedExtraGpt(), ExpectedMainMbr()})},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        SecondCopyFails m;
        BuildStandardMachine(m);
        AddBootSetupFiles(m);
        m.AddFile(kWork + L"\\" + c.source, 4096);
        m.files[FakeMachine::Upper(kWork + L"\\" + c.source)].content = "ramdisk";
        m.name = c.ramdisk;
        CDiskInventory inv(&m, &m);
        inv.Refresh();
        app.m_storagePass = c.pass;
        EXPECT_EQ(2, inv.InstallBootEntries());
        EXPECT_EQ(c.runs, RunsOf(m));
        EXPECT_EQ(1, m.copies);
        ASSERT_TRUE(m.HasFile(c.ramdisk));
        EXPECT_STREQ(m.FileDigest((kWork + L"\\" + c.source).c_str()), m.FileDigest(c.ramdisk));
        EXPECT_TRUE(inv.m_bootSetupRefusal.IsEmpty());
    }
}

TEST_F(DiskTest, SplitTargetPathCases) {
    app.m_dataFolder = L"E:\\Data Folder";
    struct Case {
        const wchar_t* path;
        const wchar_t* drive;
        const wchar_t* dir;
        const wchar_t* file;
    } cases[] = {
        {L"D:\\Kavetta Data\\pe image.wim", L"D:", L"Kavetta Data", L"pe image.wim"},
        {L"pe.wim", L"E:", L"Data Folder", L"pe.wim"},
        {L"D:\\a\\b\\pe.iso", L"D:", L"a\\b", L"pe.iso"},
        {L"D:\\\\a\\b\\\\pe", L"D:", L"a\\b", L"pe"},
        {L"D:/x/y/pe.wim", L"D:", L"x/y", L"pe.wim"},
        {L"D:\\pe.wim", L"D:", L"", L"pe.wim"},
        {L"D:\\/\\pe.wim", L"D:", L"", L"pe.wim"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(Narrow(c.path));
        EXPECT_TRUE(SplitTargetPath(c.path));
        EXPECT_STREQ(g_TargetDrive, c.drive);
        EXPECT_STREQ(g_TargetDir, c.dir);
        EXPECT_STREQ(g_TargetFileName, c.file);
    }
    // Parts that do not fit the split buffers are refused.
    CString longName = CString(L"D:\\") + CString(L'n', 300) + L".wim";
    EXPECT_FALSE(SplitTargetPath(longName));
    EXPECT_STREQ(g_TargetFileName, L"");
    app.m_dataFolder = CString(L"E:\\") + CString(L'd', 250);
    EXPECT_FALSE(SplitTargetPath(L"pe.wim"));
}

}  // namespace
