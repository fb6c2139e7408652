// Temporary drive letters against the scripted machine's DOS-device table.
#include "core/fixed_texts.h"
#include "disk_test_support.h"

namespace {

const DWORD kRemoveExact = DDD_RAW_TARGET_PATH | DDD_REMOVE_DEFINITION | DDD_EXACT_MATCH_ON_REMOVE;

class TempLettersTest : public DiskTest {
protected:
    void SetUp() override {
        BuildStandardMachine(machine);
        // A letter-less partition on the USB disk, with a volume behind it.
        machine.disks[2].partitions.push_back(MbrPartition(2, 0x07, kGiB));
        machine.volumes.push_back(Volume(0, 3, 2, L"NTFS", kGiB));
    }
};

TEST_F(TempLettersTest, ARecheckNeverTakesATemporaryLetterAsTheDataFolder) {
    CDiskInventory inventory(&machine, &machine);
    inventory.Refresh();
    inventory.AssignTemporaryLetters();  // the recovery partition (NTFS, 100 MiB free) gets I:
    ASSERT_STREQ(inventory.m_totalPartitions[3].letter, L"I:");
    app.m_systemDrive = L"C:";
    // The check again: the refresh finds I: like any other letter.
    inventory.Refresh();
    const CString folder = inventory.PickStorageFolder(L"KavettaData", 2, 80.0);
    // Not I:, which the program removes at exit: D: on the other disk.
    EXPECT_STREQ(folder, L"D:\\KavettaData");
    EXPECT_EQ(2, app.m_storagePass);
    EXPECT_FALSE(machine.HasFile(L"I:\\KavettaData"));
}

TEST_F(TempLettersTest, CandidatesGetTheFirstFreeLetters) {
    {
        CDiskInventory inventory(&machine, &machine);
        inventory.Refresh();
        inventory.AssignTemporaryLetters();
        EXPECT_TRUE(inventory.m_tempLettersAssigned);
        // C: to G: are in use (G: optical): the EFI partition gets H:, the recovery partition I:.
        const total_partition_info& efi = inventory.m_totalPartitions[0];
        EXPECT_STREQ(efi.letter, L"H:");
        EXPECT_STREQ(efi.mapped_letter, L"H:");
        EXPECT_STREQ(efi.file_system, L"FAT32");
        EXPECT_STREQ(efi.volume_label, L"EFI");
        EXPECT_DOUBLE_EQ(efi.free_mb, 70.0);
        EXPECT_STREQ(efi.system_kind, FixedText::kNoSystem);
        EXPECT_STREQ(inventory.m_totalPartitions[3].letter, L"I:");
        // MSR, lettered and USB partitions keep what they had.
        EXPECT_STREQ(inventory.m_totalPartitions[1].letter, FixedText::kNoLetter);
        EXPECT_STREQ(inventory.m_totalPartitions[1].mapped_letter, FixedText::kNoMapping);
        EXPECT_STREQ(inventory.m_totalPartitions[2].mapped_letter, FixedText::kNoMapping);
        const total_partition_info& usb = inventory.m_totalPartitions[inventory.m_totalPartitions.GetSize() - 1];
        EXPECT_STREQ(usb.key, L"3:2");
        EXPECT_STREQ(usb.letter, FixedText::kNoLetter);

        ASSERT_EQ(machine.dosCalls.size(), 2u);
        EXPECT_EQ(machine.dosCalls[0].flags, (DWORD)DDD_RAW_TARGET_PATH);  // broadcast on
        EXPECT_EQ(machine.dosCalls[0].name, L"H:");
        EXPECT_EQ(machine.dosCalls[0].target, L"\\Device\\Harddisk0\\Partition1");
        EXPECT_EQ(machine.dosCalls[1].target, L"\\Device\\Harddisk0\\Partition4");
        EXPECT_TRUE(machine.debugBoxes.empty());

        // A later refresh replaces the records; the letters stay marked as
        // ours (they go at the end).
        inventory.Refresh();
        EXPECT_STREQ(inventory.m_totalPartitions[0].letter, L"H:");
        EXPECT_STREQ(inventory.m_totalPartitions[0].mapped_letter, L"H:");
        EXPECT_STREQ(inventory.m_totalPartitions[3].mapped_letter, L"I:");
        EXPECT_STREQ(inventory.m_totalPartitions[2].mapped_letter, FixedText::kNoMapping);
    }
    ASSERT_EQ(machine.dosCalls.size(), 4u);
    EXPECT_EQ(machine.dosCalls[2].flags, kRemoveExact);
    EXPECT_EQ(machine.dosCalls[2].name, L"H:");
    EXPECT_EQ(machine.dosCalls[2].target, L"\\Device\\Harddisk0\\Partition1");
    EXPECT_EQ(machine.dosCalls[3].name, L"I:");
    EXPECT_EQ(machine.dosCalls[3].target, L"\\Device\\Harddisk0\\Partition4");
    EXPECT_TRUE(machine.dosDevices.empty());
}

TEST_F(TempLettersTest, ASecondCallDoesNothing) {
    CDiskInventory inventory(&machine, &machine);
    inventory.Refresh();
    inventory.AssignTemporaryLetters();
    size_t calls = machine.dosCalls.size();
    machine.disks[1].partitions.push_back(GptPartition(5, kBasicDataGuid, kGiB, L"new"));
    inventory.Refresh();
    inventory.AssignTemporaryLetters();
    EXPECT_EQ(machine.dosCalls.size(), calls);
}

TEST_F(TempLettersTest, NothingToMapStillCountsAsDone) {
    machine.disks.clear();
    CDiskInventory inventory(&machine, &machine);
    inventory.Refresh();
    inventory.AssignTemporaryLetters();
    EXPECT_TRUE(inventory.m_tempLettersAssigned);
}

TEST_F(TempLettersTest, DestructorWithoutAssignmentRemovesNothing) {
    { CDiskInventory inventory(&machine, &machine); inventory.Refresh(); }
    EXPECT_TRUE(machine.dosCalls.empty());
}

TEST_F(TempLettersTest, EveryLetterInUse) {
    for (wchar_t c = L'H'; c <= L'Z'; ++c) machine.otherDrives[c] = DRIVE_REMOTE;
    {
        CDiskInventory inventory(&machine, &machine);
        inventory.Refresh();
        inventory.AssignTemporaryLetters();
        EXPECT_STREQ(inventory.m_totalPartitions[0].letter, FixedText::kNoFreeLetter);
        EXPECT_STREQ(inventory.m_totalPartitions[0].mapped_letter, FixedText::kNoMapping);
        EXPECT_STREQ(inventory.m_totalPartitions[3].letter, FixedText::kNoFreeLetter);
        EXPECT_STREQ(FindFreeDriveLetter(machine), FixedText::kNoFreeLetter);
    }
    EXPECT_TRUE(machine.dosCalls.empty());
}

TEST_F(TempLettersTest, DebugModeReportsEachMapping) {
    app.m_debugMode = 1;
    CDiskInventory inventory(&machine, &machine);
    inventory.Refresh();
    inventory.AssignTemporaryLetters();
    ASSERT_EQ(machine.debugBoxes.size(), 2u);
    CString report;
    report.Format(FixedText::kMappingReportFormat, L"0:1", L"H:");
    EXPECT_EQ(machine.debugBoxes[0], std::wstring(report.GetString()));
}

TEST(PartitionKeys, TargetsAndRefusals) {
    struct Case {
        const wchar_t* key;
        bool accepted;
        const wchar_t* expected;  // the target, or the failure text
    } cases[] = {
        {L"3:1", true, L"\\Device\\Harddisk3\\Partition1"},
        {L"10:12", true, L"\\Device\\Harddisk10\\Partition12"},
        {L"7", true, L"\\Device\\HarddiskVolume7"},
        {L"", false, FixedText::kKeyRejected},
        {L"a:1", false, FixedText::kKeyRejected},
        {L"1:b", false, FixedText::kKeyRejected},
        {L"1:2:3", false, FixedText::kKeyRejected},
        {L":1", false, FixedText::kKeyRejected},
        {L"1:", false, FixedText::kKeyRejected},
        {L"x", false, FixedText::kKeyWithoutColon},
        {L"-1", false, FixedText::kKeyWithoutColon},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(Narrow(c.key));
        CString target, failure;
        EXPECT_EQ(PartitionKeyTarget(c.key, target, failure) != FALSE, c.accepted);
        EXPECT_STREQ(c.accepted ? target : failure, c.expected);
    }
}

TEST_F(DiskTest, MountFailuresLeaveNoDefinition) {
    machine.volumes = {Volume(L'C', 0, 1, L"NTFS", 0), Volume(0, 0, 2, L"NTFS", 0)};
    // A refused key makes no definition.
    EXPECT_STREQ(MountPartitionLetter(L"a:1", TRUE, machine), FixedText::kKeyRejected);
    EXPECT_STREQ(MountPartitionLetter(L"", TRUE, machine), FixedText::kKeyRejected);
    EXPECT_STREQ(MountPartitionLetter(L"x", TRUE, machine), FixedText::kKeyWithoutColon);
    EXPECT_TRUE(machine.dosCalls.empty());
    // Nothing behind the letter: the definition is taken back.
    EXPECT_STREQ(MountPartitionLetter(L"0:9", FALSE, machine), FixedText::kNoVolumeBehindLetter);
    ASSERT_EQ(machine.dosCalls.size(), 2u);
    EXPECT_EQ(machine.dosCalls[0].flags, (DWORD)(DDD_RAW_TARGET_PATH | DDD_NO_BROADCAST_SYSTEM));
    EXPECT_EQ(machine.dosCalls[1].flags, kRemoveExact);
    EXPECT_EQ(machine.dosCalls[1].target, L"\\Device\\Harddisk0\\Partition9");
    EXPECT_TRUE(machine.dosDevices.empty());
    machine.defineFails = true;
    EXPECT_STREQ(MountPartitionLetter(L"0:2", TRUE, machine), FixedText::kDefineLetterFailed);
    machine.defineFails = false;
    EXPECT_STREQ(MountPartitionLetter(L"0:2", TRUE, machine), L"D:");
    EXPECT_EQ(machine.DriveType(L"D:\\"), (UINT)DRIVE_FIXED);
    // Unmounting: never for the no-mapping text, only the exact definition.
    size_t calls = machine.dosCalls.size();
    EXPECT_FALSE(UnmountPartitionLetter(L"0:2", FixedText::kNoMapping, machine));
    EXPECT_EQ(machine.dosCalls.size(), calls);
    EXPECT_FALSE(UnmountPartitionLetter(L"0:3", L"D:", machine));  // another target
    EXPECT_FALSE(UnmountPartitionLetter(L"z:2", L"D:", machine));
    EXPECT_TRUE(UnmountPartitionLetter(L"0:2", L"D:", machine));
    EXPECT_TRUE(machine.dosDevices.empty());
}

}  // namespace
