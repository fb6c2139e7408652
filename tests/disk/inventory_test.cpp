// The disk inventory against the scripted machine.
#include "core/fixed_texts.h"
#include "disk_test_support.h"

namespace {

class InventoryTest : public DiskTest {
protected:
    void SetUp() override { BuildStandardMachine(machine); }
    CDiskInventory inventory{&machine, &machine};
};

TEST_F(InventoryTest, DisksComeInDeviceOrderWithTheirFacts) {
    inventory.Refresh();
    EXPECT_EQ(inventory.m_pathCount, 4);
    EXPECT_STREQ(inventory.m_paths[0], L"\\\\?\\scsi#disk&ven_raw#2");  // enumeration order
    ASSERT_EQ(inventory.m_disks.GetSize(), 4);
    struct Expected {
        int device;
        const wchar_t* model;
        int bus;
        int removable;
        const wchar_t* style;
    } expected[] = {
        {0, L"ACME    FastSSD 512", BusTypeSata, 0, FixedText::kStyleGpt},
        {1, L"BULK Store 2T", BusTypeSata, 0, FixedText::kStyleMbr},
        {2, L"RAWCO   Blank", BusTypeSata, 0, FixedText::kStyleRaw},
        {3, L"StickGo 32G", BusTypeUsb, 1, FixedText::kStyleMbr},
    };
    for (int i = 0; i < 4; ++i) {
        SCOPED_TRACE(i);
        const disk_info& d = inventory.m_disks[i];
        EXPECT_EQ(d.device_number, expected[i].device);
        EXPECT_STREQ(d.model, expected[i].model);
        EXPECT_EQ(d.bus_type, expected[i].bus);
        EXPECT_EQ(d.removable, expected[i].removable);
        EXPECT_STREQ(d.style_text, expected[i].style);
    }
    // 62260 cylinders x 255 x 63 x 512, and the default 1000 cylinders.
    EXPECT_EQ(inventory.m_disks[0].size_bytes, 62260ULL * 255 * 63 * 512);
    EXPECT_EQ(inventory.m_disks[1].size_bytes, 1000ULL * 255 * 63 * 512);
    DISK_GEOMETRY geometry;
    memcpy(&geometry, inventory.m_geometryBuffer, sizeof(geometry));
    EXPECT_EQ(geometry.Cylinders.QuadPart, 1000);  // the last disk read
    EXPECT_EQ(geometry.BytesPerSector, 512u);
    EXPECT_EQ(machine.openHandles, 0);
}

TEST_F(InventoryTest, OnlyFixedAndRemovableVolumesGiveLetters) {
    inventory.Refresh();
    ASSERT_EQ(inventory.m_letters.GetSize(), 4);
    const wchar_t* letters[] = {L"C:", L"D:", L"E:", L"F:"};
    const wchar_t* keys[] = {L"0:3", L"1:1", L"1:2", L"3:1"};
    for (int i = 0; i < 4; ++i) {
        EXPECT_STREQ(inventory.m_letters[i].letter, letters[i]);
        EXPECT_STREQ(inventory.m_letters[i].key, keys[i]);
    }
    EXPECT_EQ(inventory.m_letters[3].device_number, 3);
    EXPECT_EQ(inventory.m_letters[3].partition_number, 1);
    EXPECT_STREQ(inventory.FindLetterByKey(L"1:2"), L"E:");
    EXPECT_STREQ(inventory.FindLetterByKey(L"1:3"), FixedText::kNoLetter);
    EXPECT_STREQ(inventory.FindLetterByKey(L"01:2"), FixedText::kNoLetter);  // exact text, not the number
}

TEST_F(InventoryTest, PartitionRecordsCarryTypesLettersAndVolumeFacts) {
    inventory.Refresh();
    ASSERT_EQ(inventory.m_totalPartitions.GetSize(), 7);
    ASSERT_EQ(inventory.m_partitions.GetSize(), 7);
    struct Expected {
        int disk, number;
        const wchar_t* key;
        const wchar_t* type;
        int efi;
        const wchar_t* letter;
        const wchar_t* fs;
        const wchar_t* system;
        double sizeMb;
    } expected[] = {
        {0, 1, L"0:1", FixedText::kEfiTypeName, 1, FixedText::kNoLetter, FixedText::kDefaultFileSystem,
         FixedText::kDefaultSystemKind, 100.0},
        {0, 2, L"0:2", FixedText::kMsrTypeName, 0, FixedText::kNoLetter, FixedText::kDefaultFileSystem,
         FixedText::kDefaultSystemKind, 16.0},
        {0, 3, L"0:3", L"基本数据分区", 0, L"C:", L"NTFS", FixedText::kSystemWin10, 200.0 * 1024},
        {0, 4, L"0:4", L"Windows恢复分区", 0, FixedText::kNoLetter, FixedText::kDefaultFileSystem,
         FixedText::kDefaultSystemKind, 512.0},
        {1, 1, L"1:1", L"NTFS/exFAT", 0, L"D:", L"NTFS", FixedText::kNoSystem, 1024.0},
        {1, 2, L"1:2", L"NTFS/exFAT", 0, L"E:", L"FAT32", FixedText::kNoSystem, 400.0 * 1024},
        {3, 1, L"3:1", L"FAT32 (LBA)", 0, L"F:", L"FAT32", FixedText::kNoSystem, 32.0 * 1024},
    };
    for (int i = 0; i < 7; ++i) {
        SCOPED_TRACE(i);
        const total_partition_info& p = inventory.m_totalPartitions[i];
        EXPECT_EQ(p.disk_number, expected[i].disk);
        EXPECT_EQ(p.partition_number, expected[i].number);
        EXPECT_STREQ(p.key, expected[i].key);
        EXPECT_STREQ(p.type_name, expected[i].type);
        EXPECT_EQ(p.is_efi_type, expected[i].efi);
        EXPECT_STREQ(p.letter, expected[i].letter);
        EXPECT_STREQ(p.mapped_letter, FixedText::kNoMapping);
        EXPECT_STREQ(p.file_system, expected[i].fs);
        EXPECT_STREQ(p.system_kind, expected[i].system);
        EXPECT_DOUBLE_EQ(p.size_mb, expected[i].sizeMb);
        EXPECT_EQ(p.partition_style, expected[i].disk == 0 ? 1 : 0);
        EXPECT_EQ(inventory.m_partitions[i].partition_number, expected[i].number);
    }
    const total_partition_info& efi = inventory.m_totalPartitions[0];
    EXPECT_STREQ(efi.volume_label, FixedText::kDefaultVolumeLabel);
    EXPECT_DOUBLE_EQ(efi.free_mb, 0.0);
    EXPECT_STREQ(efi.id_or_active, L"{11110001-2222-3333-4455-66778899AA01}");
    EXPECT_STREQ(efi.name_or_hidden, L"EFI system partition");
    EXPECT_STREQ(efi.interface_path, L"\\\\?\\scsi#disk&ven_acme#0");
    EXPECT_STREQ(efi.model, L"ACME    FastSSD 512");

    const total_partition_info& c = inventory.m_totalPartitions[2];
    EXPECT_STREQ(c.volume_label, L"System");
    EXPECT_DOUBLE_EQ(c.free_mb, 50.0 * 1024);
    EXPECT_EQ(c.starting_offset, 3 * kMiB);
    CString attributes;
    attributes.Format(FixedText::kAttributesFormat, 0u, 0u);
    EXPECT_STREQ(c.attributes_or_recognized, attributes);
    CString recoveryAttributes;
    recoveryAttributes.Format(FixedText::kAttributesFormat, 1u, 0x80000000u);  // low half, then high
    EXPECT_STREQ(inventory.m_totalPartitions[3].attributes_or_recognized, recoveryAttributes);

    const total_partition_info& d = inventory.m_totalPartitions[4];
    EXPECT_STREQ(d.id_or_active, FixedText::kActivePartition);
    EXPECT_STREQ(inventory.m_totalPartitions[5].id_or_active, FixedText::kInactivePartition);
    EXPECT_DOUBLE_EQ(d.free_mb, 10240.0);
    CString recognized, hidden;
    recognized.Format(FixedText::kRecognizedFormat, 1u);
    hidden.Format(FixedText::kHiddenSectorsFormat, 2048u);
    EXPECT_STREQ(d.attributes_or_recognized, recognized);
    EXPECT_STREQ(d.name_or_hidden, hidden);
    EXPECT_EQ(inventory.m_totalPartitions[6].bus_type, BusTypeUsb);
}

TEST_F(InventoryTest, RawRecordsHoldTheStyleSpecificBytes) {
    inventory.Refresh();
    const partition_info& gpt = inventory.m_partitions[0];
    PARTITION_INFORMATION_GPT info;
    memcpy(&info, gpt.info, sizeof(info));
    EXPECT_TRUE(IsEqualGUID(info.PartitionType, kEfiTypeGuid));
    EXPECT_EQ(gpt.length, 100 * kMiB);
    EXPECT_EQ(gpt.partition_style, 1);
    const partition_info& mbr = inventory.m_partitions[4];
    const BYTE expected[8] = {0x07, 1, 1, 0, 0x00, 0x08, 0, 0};  // type, boot, recognized, pad, 2048
    EXPECT_EQ(memcmp(mbr.info, expected, 8), 0);
    for (int i = 8; i < 112; ++i) ASSERT_EQ(mbr.info[i], 0) << i;
}

TEST_F(InventoryTest, RefreshReplacesEverything) {
    inventory.Refresh();
    machine.disks.pop_back();  // the MBR data disk goes away
    machine.volumes.erase(machine.volumes.begin() + 1, machine.volumes.begin() + 3);
    inventory.Refresh();
    EXPECT_EQ(inventory.m_disks.GetSize(), 3);
    EXPECT_EQ(inventory.m_letters.GetSize(), 2);
    EXPECT_EQ(inventory.m_totalPartitions.GetSize(), 5);
    EXPECT_EQ(inventory.m_pathCount, 3);
    EXPECT_TRUE(inventory.m_paths[3].IsEmpty());
}

TEST_F(DiskTest, OnlySixtyFourInterfacesAreStored) {
    machine.extraInterfaces = 70;
    CDiskInventory inventory(&machine, &machine);
    inventory.Refresh();
    EXPECT_EQ(inventory.m_pathCount, 64);
    EXPECT_EQ(inventory.m_disks.GetSize(), 0);  // none of them opens
}

// One disk per case, each with one failure or malformed answer.
struct MalformedCase {
    const char* what;
    void (*spoil)(FakeDisk&);
    int device;
    const wchar_t* model;
    int bus;
    ULONGLONG size;
    const wchar_t* style;
    int partitions;
    const wchar_t* firstName;  // GPT name of the first record, or null
};

FakeDisk GoodGptDisk() {
    FakeDisk d;
    d.path = L"\\\\?\\scsi#disk&ven_one#5";
    d.device = 5;
    d.vendor = "ONE ";
    d.product = "Disk";
    d.layout = FakeLayout::Gpt;
    d.partitions = {GptPartition(1, kEfiTypeGuid, 100 * kMiB, L"boot"), GptPartition(2, kBasicDataGuid, kGiB, L"data")};
    return d;
}

const ULONGLONG kGoodSize = 1000ULL * 255 * 63 * 512;

const MalformedCase kMalformed[] = {
    {"well formed", [](FakeDisk&) {}, 5, L"ONE Disk", BusTypeSata, kGoodSize, FixedText::kStyleGpt, 2, L"boot"},
    {"property query fails", [](FakeDisk& d) { d.propertyFails = true; }, 5, L"", 0, kGoodSize,
     FixedText::kStyleGpt, 2, L"boot"},
    {"media query fails", [](FakeDisk& d) { d.mediaFails = true; }, 5, L"ONE Disk", BusTypeSata, 0,
     FixedText::kStyleGpt, 2, L"boot"},
    {"number query fails", [](FakeDisk& d) { d.numberFails = true; }, -1, L"ONE Disk", BusTypeSata, kGoodSize,
     FixedText::kStyleGpt, 2, L"boot"},
    {"layout query fails", [](FakeDisk& d) { d.layout = FakeLayout::Fails; }, 5, L"ONE Disk", BusTypeSata,
     kGoodSize, L"", 0, nullptr},
    {"offsets past the answer", [](FakeDisk& d) { d.descriptorOffsetsPastEnd = true; }, 5,
     FixedText::kDefaultProduct, BusTypeSata, kGoodSize, FixedText::kStyleGpt, 2, L"boot"},
    {"more partitions claimed than returned", [](FakeDisk& d) { d.extraPartitionCount = 40; }, 5, L"ONE Disk",
     BusTypeSata, kGoodSize, FixedText::kStyleGpt, 2, L"boot"},
    {"GPT name without terminator", [](FakeDisk& d) { d.gptNameUnterminated = true; }, 5, L"ONE Disk",
     BusTypeSata, kGoodSize, FixedText::kStyleGpt, 2, L"ABCDEFGHIJKLMNOPQRSTUVWXYZABCDEFGHIJ"},
    {"layout answer shorter than its header", [](FakeDisk& d) { d.layoutShortAnswer = true; }, 5, L"ONE Disk",
     BusTypeSata, kGoodSize, L"", 0, nullptr},
    {"more partitions than the buffer holds",
     [](FakeDisk& d) {
         d.partitions.clear();
         for (int i = 1; i <= 102; ++i) d.partitions.push_back(GptPartition(i, kBasicDataGuid, kGiB, L"p"));
     },
     5, L"ONE Disk", BusTypeSata, kGoodSize, L"", 0, nullptr},
    {"exactly 101 partitions",
     [](FakeDisk& d) {
         d.partitions.clear();
         for (int i = 1; i <= 101; ++i) d.partitions.push_back(GptPartition(i, kBasicDataGuid, kGiB, L"p"));
     },
     5, L"ONE Disk", BusTypeSata, kGoodSize, FixedText::kStyleGpt, 101, L"p"},
};

TEST_F(DiskTest, MalformedAndFailedAnswersGiveDefaults) {
    for (const MalformedCase& c : kMalformed) {
        SCOPED_TRACE(c.what);
        FakeMachine m;
        m.disks = {GoodGptDisk()};
        c.spoil(m.disks[0]);
        CDiskInventory inventory(&m, &m);
        inventory.Refresh();
        ASSERT_EQ(inventory.m_disks.GetSize(), 1);
        const disk_info& d = inventory.m_disks[0];
        EXPECT_EQ(d.device_number, c.device);
        EXPECT_STREQ(d.model, c.model);
        EXPECT_EQ(d.bus_type, c.bus);
        EXPECT_EQ(d.size_bytes, c.size);
        EXPECT_STREQ(d.style_text, c.style);
        ASSERT_EQ(inventory.m_totalPartitions.GetSize(), c.partitions);
        if (c.firstName) {
            EXPECT_STREQ(inventory.m_totalPartitions[0].name_or_hidden, c.firstName);
        }
        EXPECT_EQ(m.openHandles, 0);
    }
}

TEST_F(DiskTest, UnterminatedProductTextStopsAtTheAnswer) {
    machine.disks = {GoodGptDisk()};
    machine.disks[0].descriptorUnterminated = true;
    CDiskInventory inventory(&machine, &machine);
    inventory.Refresh();
    ASSERT_EQ(inventory.m_disks.GetSize(), 1);
    const CString& model = inventory.m_disks[0].model;
    // "ONE " + "Disk" + X up to the 551st byte of the answer.
    const int productOffset = (int)sizeof(STORAGE_DEVICE_DESCRIPTOR) + 5;
    EXPECT_EQ(model.GetLength(), 4 + (551 - productOffset));
    EXPECT_STREQ(model.Left(8), L"ONE Disk");
}

TEST_F(DiskTest, NothingCarriesOverFromOneDiskToTheNext) {
    FakeDisk first = GoodGptDisk();
    FakeDisk second = GoodGptDisk();
    second.path = L"\\\\?\\scsi#disk&ven_two#6";
    second.device = 6;
    second.propertyFails = true;
    second.mediaFails = true;
    second.layout = FakeLayout::Fails;
    FakeDisk third = GoodGptDisk();
    third.path = L"\\\\?\\scsi#disk&ven_three#7";
    third.numberFails = true;
    machine.disks = {first, second, third};
    CDiskInventory inventory(&machine, &machine);
    inventory.Refresh();
    ASSERT_EQ(inventory.m_disks.GetSize(), 3);
    // -1 sorts first; 5 and 6 follow.
    EXPECT_EQ(inventory.m_disks[0].device_number, -1);
    EXPECT_EQ(inventory.m_disks[1].device_number, 5);
    const disk_info& failed = inventory.m_disks[2];
    EXPECT_EQ(failed.device_number, 6);
    EXPECT_STREQ(failed.model, L"");
    EXPECT_EQ(failed.bus_type, 0);
    EXPECT_EQ(failed.size_bytes, 0u);
    EXPECT_STREQ(failed.style_text, L"");
}

TEST_F(DiskTest, EqualDeviceNumbersKeepEnumerationOrder) {
    FakeDisk a = GoodGptDisk(), b = GoodGptDisk(), c = GoodGptDisk();
    a.path = L"\\\\?\\a";
    b.path = L"\\\\?\\b";
    c.path = L"\\\\?\\c";
    a.device = 4;
    b.device = 1;
    c.device = 4;
    machine.disks = {a, b, c};
    CDiskInventory inventory(&machine, &machine);
    inventory.Refresh();
    ASSERT_EQ(inventory.m_disks.GetSize(), 3);
    EXPECT_STREQ(inventory.m_disks[0].interface_path, L"\\\\?\\b");
    EXPECT_STREQ(inventory.m_disks[1].interface_path, L"\\\\?\\a");
    EXPECT_STREQ(inventory.m_disks[2].interface_path, L"\\\\?\\c");
}

TEST_F(DiskTest, VolumeReadsLeaveOutputsAloneOnFailure) {
    FakeVolume v = Volume(L'K', 0, 1, L"exFAT", 3 * kMiB);
    v.label = L"Keys";
    machine.volumes = {v};
    CDiskInventory inventory(&machine, &machine);
    CString label = L"before", fs = L"before";
    double free = -1.0;
    inventory.ReadVolumeInfo(L"K:", label, fs);
    inventory.GetFreeSpaceMB(L"K:", free);
    EXPECT_STREQ(label, L"Keys");
    EXPECT_STREQ(fs, L"exFAT");
    EXPECT_DOUBLE_EQ(free, 3.0);
    machine.volumes[0].answersVolumeInfo = false;
    inventory.ReadVolumeInfo(L"K:", label, fs);
    inventory.GetFreeSpaceMB(L"K:", free);
    EXPECT_STREQ(label, L"Keys");
    EXPECT_DOUBLE_EQ(free, 3.0);
    CString untouched = L"x";
    inventory.ReadVolumeInfo(L"Q:", untouched, untouched);
    EXPECT_STREQ(untouched, L"x");
}

TEST_F(DiskTest, VolumeContentFromTheProbeVersion) {
    struct Case {
        bool probe;
        const wchar_t* version;
        const wchar_t* expected;
    } cases[] = {
        {false, L"", FixedText::kNoSystem},
        {true, L"", FixedText::kSystemUnknownVersion},
        {true, L"5.1.2600.5512", FixedText::kSystemWinXp},
        {true, L"5.2.3790.0", FixedText::kSystemWin2003},
        {true, L"6.1.7601.17514", FixedText::kSystemWin7},
        {true, L"6.3.9600.16384", FixedText::kSystemWin81},
        {true, L"10.0.22621.1", FixedText::kSystemWin10},
        {true, L"11.0.1.1", FixedText::kOtherSystem},
        {true, L"6.4.1.1", FixedText::kOtherSystem},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(Narrow(c.version));
        FakeVolume v = Volume(L'C', 0, 1, L"NTFS", 0);
        v.hasProbe = c.probe;
        v.probeVersion = c.version;
        machine.volumes = {v};
        CDiskInventory inventory(&machine, &machine);
        EXPECT_STREQ(inventory.ClassifyVolumeContent(L"C:"), c.expected);
    }
}

// The machine's view of a 32-bit process on 64-bit Windows, as Windows
// documents file-system redirection: the running Windows' System32 is
// SysWOW64 (no kernel file there), the real one is Sysnative; no other
// folder is redirected, and 32-bit Windows has no Sysnative.
TEST_F(DiskTest, TheFakeRedirectsAsWindowsDoes) {
    FakeVolume c = Volume(L'C', 0, 1, L"NTFS", 0);
    c.hasProbe = true;
    c.probeVersion = L"10.0.19045.2006";
    FakeVolume d = Volume(L'D', 0, 2, L"NTFS", 0);
    d.hasProbe = true;
    d.probeVersion = L"6.1.7601.17514";
    machine.volumes = {c, d};
    machine.AddFile(L"C:\\Windows\\System32\\drivers\\etc\\hosts");
    machine.AddFile(L"C:\\Windows\\System32\\bcdedit.exe");
    CString version;
    for (bool wow64 : {false, true}) {
        SCOPED_TRACE(wow64 ? "64-bit Windows" : "32-bit Windows");
        machine.wow64 = wow64;
        EXPECT_EQ(!wow64, machine.FindFile(L"C:\\Windows\\System32\\ntoskrnl.exe") != FALSE);
        EXPECT_EQ(!wow64, machine.ProductVersion(L"c:\\windows\\system32\\NTOSKRNL.EXE", version) != FALSE);
        EXPECT_EQ(!wow64, machine.PathExists(L"C:\\Windows\\System32\\bcdedit.exe") != FALSE);
        EXPECT_EQ(wow64, machine.FindFile(L"C:\\Windows\\Sysnative\\ntoskrnl.exe") != FALSE);
        EXPECT_EQ(wow64, machine.PathExists(L"C:\\Windows\\Sysnative\\bcdedit.exe") != FALSE);
        // Left in place: another volume's Windows, and a folder Windows exempts.
        EXPECT_TRUE(machine.FindFile(L"D:\\Windows\\System32\\ntoskrnl.exe"));
        EXPECT_TRUE(machine.FindFile(L"C:\\Windows\\System32\\drivers\\etc\\hosts"));
    }
    machine.sysnative = false;
    EXPECT_FALSE(machine.FindFile(L"C:\\Windows\\Sysnative\\ntoskrnl.exe")) << "64-bit XP without its update";
}

// The running system's drive on 64-bit Windows: our 32-bit process reads
// its kernel file through Sysnative (System32 shows it SysWOW64, which holds
// none); where 64-bit XP or Server 2003 has no Sysnative, the kernel's own
// version answers. Every other volume, and 32-bit Windows, are read as
// they are.
TEST_F(DiskTest, TheRunningWindowsIsReadAsItIsOn64BitWindows) {
    struct Case {
        const char* what;
        bool wow64;
        bool sysnative;
        const wchar_t* windowsFolder;
        const wchar_t* runningVersion;  // the probe version of the running system's volume
        const wchar_t* c;               // what C:, D: and E: read as
        const wchar_t* d;
        const wchar_t* e;
    } cases[] = {
        {"32-bit Windows 10", false, false, L"C:\\Windows", L"10.0.19045.2006", FixedText::kSystemWin10,
         FixedText::kSystemWin7, FixedText::kNoSystem},
        {"64-bit Windows 10", true, true, L"C:\\Windows", L"10.0.19045.2006", FixedText::kSystemWin10,
         FixedText::kSystemWin7, FixedText::kNoSystem},
        {"64-bit Windows 8", true, true, L"C:\\Windows", L"6.2.9200.16384", FixedText::kSystemWin8,
         FixedText::kSystemWin7, FixedText::kNoSystem},
        {"64-bit Windows 7", true, true, L"C:\\Windows", L"6.1.7601.24214", FixedText::kSystemWin7,
         FixedText::kSystemWin7, FixedText::kNoSystem},
        {"a Windows folder named in capitals", true, true, L"C:\\WINDOWS", L"10.0.19045.2006",
         FixedText::kSystemWin10, FixedText::kSystemWin7, FixedText::kNoSystem},
        {"64-bit XP without Sysnative", true, false, L"C:\\Windows", L"5.2.3790.4455", FixedText::kSystemWin2003,
         FixedText::kSystemWin7, FixedText::kNoSystem},
        // Running from D:, whose Windows 7 is then the one seen through
        // Sysnative; C:'s Windows 10 is another volume's.
        {"64-bit Windows 7 started from D:", true, true, L"D:\\Windows", L"10.0.19045.2006",
         FixedText::kSystemWin10, FixedText::kSystemWin7, FixedText::kNoSystem},
        // No kernel file through Sysnative: as on 32-bit Windows, no system.
        {"a 64-bit running drive without a kernel file", true, true, L"C:\\Windows", L"", FixedText::kNoSystem,
         FixedText::kSystemWin7, FixedText::kNoSystem},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        FakeVolume cv = Volume(L'C', 0, 1, L"NTFS", 0);
        cv.hasProbe = *c.runningVersion != 0;
        cv.probeVersion = c.runningVersion;
        FakeVolume dv = Volume(L'D', 0, 2, L"NTFS", 0);
        dv.hasProbe = true;
        dv.probeVersion = L"6.1.7601.17514";
        FakeVolume ev = Volume(L'E', 0, 3, L"NTFS", 0);
        machine.volumes = {cv, dv, ev};
        machine.wow64 = c.wow64;
        machine.sysnative = c.sysnative;
        machine.windowsFolder = c.windowsFolder;
        CDiskInventory inventory(&machine, &machine);
        EXPECT_STREQ(inventory.ClassifyVolumeContent(L"C:"), c.c);
        EXPECT_STREQ(inventory.ClassifyVolumeContent(L"D:"), c.d);
        EXPECT_STREQ(inventory.ClassifyVolumeContent(L"E:"), c.e);
    }
}

// The refresh reads each partition so: the running system's partition of a
// 64-bit Windows 10 is a Windows 10, not a volume without a system.
TEST_F(InventoryTest, TheRefreshReadsTheRunningSystemOf64BitWindows) {
    machine.wow64 = true;
    inventory.Refresh();
    int seen = 0;
    for (INT_PTR i = 0; i < inventory.m_totalPartitions.GetSize(); ++i) {
        const total_partition_info& record = inventory.m_totalPartitions[i];
        if (record.letter == L"C:") {
            EXPECT_STREQ(record.system_kind, FixedText::kSystemWin10);
            ++seen;
        } else if (record.letter != FixedText::kNoLetter) {
            EXPECT_STREQ(record.system_kind, FixedText::kNoSystem) << Narrow(record.letter);
        }
    }
    EXPECT_EQ(1, seen);
}

TEST(DiskInventory, StringsDifferAndDiskOrder) {
    EXPECT_EQ(CDiskInventory::StringsDiffer(L"C:", L"C:"), 0);
    EXPECT_EQ(CDiskInventory::StringsDiffer(L"C:", L"c:"), 1);
    disk_info a, b;
    a.device_number = 1;
    b.device_number = 2;
    EXPECT_TRUE(CDiskInventory::CompareDiskNumber(a, b));
    EXPECT_FALSE(CDiskInventory::CompareDiskNumber(b, a));
    EXPECT_FALSE(CDiskInventory::CompareDiskNumber(a, a));
    EXPECT_STREQ(MakePartitionKey(1, 2), L"1:2");
    EXPECT_STREQ(MakePartitionKey(12, 30), L"12:30");
}

}  // namespace
