// The data folder choice over a table of machine states.
#include <math.h>

#include "core/fixed_texts.h"
#include "disk_test_support.h"
#include "support/scripted_encryption.h"

namespace {

struct Rec {
    int disk;
    int bus;
    const wchar_t* letter;  // null: no letter
    const wchar_t* mapped;  // null: no temporary letter
    const wchar_t* fs;
    double freeMb;
};

struct FolderCase {
    const char* what;
    std::vector<Rec> records;
    int reference;
    const wchar_t* systemDrive;
    std::vector<std::wstring> folders;   // already there
    std::vector<std::wstring> files;     // plain files already there
    std::vector<std::wstring> refused;   // folders that cannot be made
    const wchar_t* expected;             // null: the no-folder text
    int pass;
    // What other accounts left: links at the name (to a folder of theirs on
    // C:), folders of another owner, folders of ours that others can write,
    // and folders that really lead to C: (the volume behind the name).
    std::vector<std::wstring> links = {};
    std::vector<std::wstring> strangers = {};
    std::vector<std::wstring> open = {};
    std::vector<std::wstring> elsewhere = {};
    bool reprotected = false;
};

const int kUsb = BusTypeUsb, kSata = BusTypeSata, kVhd = BusTypeFileBackedVirtual;

const FolderCase kCases[] = {
    {"pass 1 with exactly the needed space",
     {{0, kSata, L"C:", nullptr, L"NTFS", 90000}, {0, kSata, L"D:", nullptr, L"NTFS", 10240}, {1, kSata, L"E:", nullptr, L"NTFS", 90000}},
     0, L"C:", {}, {}, {}, L"D:\\KavettaData", 1},
    {"just below the need on the system disk: pass 2 on another disk",
     {{0, kSata, L"C:", nullptr, L"NTFS", 90000}, {0, kSata, L"D:", nullptr, L"NTFS", 10239.99}, {1, kSata, L"E:", nullptr, L"NTFS", 20000}},
     0, L"C:", {}, {}, {}, L"E:\\KavettaData", 2},
    {"the system's own partition only through the fallback",
     {{0, kSata, L"C:", nullptr, L"NTFS", 900000}},
     0, L"C:", {}, {}, {}, L"C:\\KavettaData", 3},
    {"USB, temporary letters, other file systems and no letter are never chosen",
     {{0, kSata, L"C:", nullptr, L"NTFS", 90000}, {1, kUsb, L"F:", nullptr, L"NTFS", 90000},
      {0, kSata, L"G:", L"G:", L"NTFS", 90000}, {0, kSata, L"H:", nullptr, L"FAT32", 90000},
      {0, kSata, nullptr, nullptr, L"NTFS", 90000}, {1, kSata, L"J:", nullptr, L"NTFS", NAN}},
     0, L"C:", {}, {}, {}, L"C:\\KavettaData", 3},
    {"a file in the folder's place is moved aside",
     {{0, kSata, L"C:", nullptr, L"NTFS", 90000}, {0, kSata, L"D:", nullptr, L"NTFS", 90000}, {1, kSata, L"E:", nullptr, L"NTFS", 90000}},
     0, L"C:", {}, {L"D:\\KavettaData"}, {}, L"D:\\KavettaData", 1},
    {"a link at the name is removed unfollowed, then the folder is made",
     {{0, kSata, L"C:", nullptr, L"NTFS", 90000}, {0, kSata, L"D:", nullptr, L"NTFS", 90000}},
     0, L"C:", {}, {}, {}, L"D:\\KavettaData", 1, {L"D:\\KavettaData"}},
    {"a link at the fallback's name too",
     {{0, kSata, L"C:", nullptr, L"NTFS", 900000}},
     0, L"C:", {}, {}, {}, L"C:\\KavettaData", 3, {L"C:\\KavettaData"}},
    {"a folder of another owner is moved aside",
     {{0, kSata, L"C:", nullptr, L"NTFS", 90000}, {0, kSata, L"D:", nullptr, L"NTFS", 90000}},
     0, L"C:", {}, {}, {}, L"D:\\KavettaData", 1, {}, {L"D:\\KavettaData"}},
    {"a folder of ours that others can write gets our access list",
     {{0, kSata, L"C:", nullptr, L"NTFS", 90000}, {0, kSata, L"D:", nullptr, L"NTFS", 90000}},
     0, L"C:", {}, {}, {}, L"D:\\KavettaData", 1, {}, {}, {L"D:\\KavettaData"}, {}, true},
    {"a folder that really is on another volume is passed by",
     {{0, kSata, L"C:", nullptr, L"NTFS", 90000}, {0, kSata, L"D:", nullptr, L"NTFS", 90000}, {1, kSata, L"E:", nullptr, L"NTFS", 90000}},
     0, L"C:", {}, {}, {}, L"E:\\KavettaData", 2, {}, {}, {}, {L"D:\\KavettaData"}},
    {"a folder that cannot be made is passed by",
     {{0, kSata, L"C:", nullptr, L"NTFS", 90000}, {0, kSata, L"D:", nullptr, L"NTFS", 90000}, {0, kSata, L"K:", nullptr, L"NTFS", 90000}},
     0, L"C:", {}, {}, {L"D:\\KavettaData"}, L"K:\\KavettaData", 1},
    {"an existing folder is reused",
     {{0, kSata, L"C:", nullptr, L"NTFS", 90000}, {0, kSata, L"D:", nullptr, L"NTFS", 90000}},
     0, L"C:", {L"D:\\KavettaData"}, {}, {}, L"D:\\KavettaData", 1},
    {"empty inventory: the fallback",
     {}, -1, L"C:", {}, {}, {}, L"C:\\KavettaData", 3},
    {"unknown system partition: the system drive is still excluded (letter case ignored)",
     {{0, kSata, L"C:", nullptr, L"NTFS", 900000}, {1, kSata, L"D:", nullptr, L"NTFS", 20000}},
     -1, L"c:", {}, {}, {}, L"D:\\KavettaData", 2},
    {"a reference naming another partition never lets the system drive through (letter case ignored)",
     {{0, kSata, L"C:", nullptr, L"NTFS", 900000}, {0, kSata, L"D:", nullptr, L"NTFS", 20000},
      {1, kSata, L"E:", nullptr, L"NTFS", 20000}},
     1, L"c:", {}, {}, {}, L"E:\\KavettaData", 2},
    {"an index past the records counts as unknown",
     {{0, kSata, L"C:", nullptr, L"NTFS", 900000}, {0, kSata, L"D:", nullptr, L"NTFS", 20000}},
     7, L"C:", {}, {}, {}, L"D:\\KavettaData", 2},
    {"unknown system partition and only the system drive qualifies: the fallback",
     {{0, kSata, L"C:", nullptr, L"NTFS", 900000}},
     -1, L"C:", {}, {}, {}, L"C:\\KavettaData", 3},
    {"fallback folder that cannot be made",
     {{0, kSata, L"C:", nullptr, L"NTFS", 900000}},
     0, L"C:", {}, {}, {L"C:\\KavettaData"}, nullptr, 0},
    {"unknown system drive and nothing qualifies",
     {{0, kSata, L"D:", nullptr, L"FAT32", 900000}},
     -1, L"", {}, {}, {}, nullptr, 0},
    // A disk attached from a file (VHD/VHDX) is never the data folder: its
    // file may lie on the system partition, and the boot environment may not
    // attach it at all.
    {"a VHD with room is passed by: pass 2 on a real disk",
     {{0, kSata, L"C:", nullptr, L"NTFS", 90000}, {1, kVhd, L"V:", nullptr, L"NTFS", 900000},
      {2, kSata, L"E:", nullptr, L"NTFS", 20000}},
     0, L"C:", {}, {}, {}, L"E:\\KavettaData", 2},
    {"only a VHD has room: the fallback",
     {{0, kSata, L"C:", nullptr, L"NTFS", 90000}, {1, kVhd, L"V:", nullptr, L"NTFS", 900000}},
     0, L"C:", {}, {}, {}, L"C:\\KavettaData", 3},
    {"a PC that boots from a VHD: its other partition with room is passed by, then a real disk",
     {{0, kVhd, L"C:", nullptr, L"NTFS", 90000}, {0, kVhd, L"D:", nullptr, L"NTFS", 90000},
      {1, kSata, L"E:", nullptr, L"NTFS", 20000}},
     0, L"C:", {}, {}, {}, L"E:\\KavettaData", 2},
    {"a PC that boots from a VHD and no real disk has room: no data folder, not even the fallback",
     {{0, kVhd, L"C:", nullptr, L"NTFS", 90000}, {0, kVhd, L"D:", nullptr, L"NTFS", 90000},
      {1, kSata, L"E:", nullptr, L"NTFS", 9000}},
     0, L"C:", {}, {}, {}, nullptr, 0},
    {"booted from a VHD whose partition is not known by its letter case",
     {{0, kVhd, L"C:", nullptr, L"NTFS", 90000}},
     -1, L"c:", {}, {}, {}, nullptr, 0},
};

TEST_F(DiskTest, PickStorageFolderOverMachineStates) {
    for (const FolderCase& c : kCases) {
        SCOPED_TRACE(c.what);
        FakeMachine m;
        CDiskInventory inventory(&m, &m);
        for (const Rec& r : c.records) {
            total_partition_info p;
            p.disk_number = r.disk;
            p.bus_type = r.bus;
            p.letter = r.letter ? r.letter : FixedText::kNoLetter;
            p.mapped_letter = r.mapped ? r.mapped : FixedText::kNoMapping;
            p.file_system = r.fs;
            p.free_mb = r.freeMb;
            inventory.m_totalPartitions.Add(p);
            if (r.letter) m.volumes.push_back(Volume(r.letter[0], r.disk, 1, r.fs, 0));
        }
        if (c.systemDrive[0]) m.volumes.push_back(Volume((wchar_t)towupper(c.systemDrive[0]), 0, 9, L"NTFS", 0));
        for (const auto& f : c.folders) m.AddFolder(f);
        for (const auto& f : c.files) m.AddFile(f);
        const std::wstring theirs = L"C:\\Users\\Public\\x";
        m.AddFolder(L"C:\\Users");
        m.AddFolder(L"C:\\Users\\Public");
        m.AddFolder(theirs);
        m.AddFile(theirs + L"\\keep.txt");
        for (const auto& f : c.links) m.AddLink(f, theirs);
        for (const auto& f : c.strangers) {
            m.AddFolder(f);
            m.files[FakeMachine::Upper(f)].otherOwner = true;
            m.AddFile(f + L"\\theirs.txt");
        }
        for (const auto& f : c.open) {
            m.AddFolder(f);
            m.files[FakeMachine::Upper(f)].othersWrite = true;
        }
        for (const auto& f : c.elsewhere) {
            m.AddFolder(f);
            m.files[FakeMachine::Upper(f)].finalPath = theirs;
        }
        m.uncreatableFolders = c.refused;
        app.m_systemDrive = c.systemDrive;
        app.m_storagePass = 9;
        CString result = inventory.PickStorageFolder(L"KavettaData", c.reference, 10240.0);
        EXPECT_STREQ(result, c.expected ? c.expected : FixedText::kNoStorageFolder);
        EXPECT_EQ(app.m_storagePass, c.pass);
        if (c.expected) {
            EXPECT_TRUE(m.IsFolder(c.expected));
            EXPECT_EQ(FolderState::kTrusted, m.JudgeFolder(c.expected)) << "the folder used passes the folder rule";
        }
        EXPECT_EQ(c.reprotected, inventory.m_dataFolderReprotected);
        EXPECT_STREQ(inventory.m_storageRefusal, L"") << "room, not encryption, decided";
        // What a link led to is never touched; what another owner had is kept aside.
        EXPECT_TRUE(m.HasFile(theirs + L"\\keep.txt"));
        for (const auto& f : c.strangers) EXPECT_TRUE(m.HasFile(f + L".ASIDE1\\theirs.txt"));
        for (const auto& f : c.files) EXPECT_TRUE(m.HasFile(f + L".ASIDE1"));
        // An existing folder is used as it is.
        if (!c.folders.empty() && c.expected && c.folders[0] == c.expected) {
            EXPECT_TRUE(m.log.empty());
        }
    }
}

// The boot environment reads the data folder: it never lies on a volume
// BitLocker has not fully decrypted. C: is the system (disk 0), D: another
// partition of its disk, E: a partition of disk 1; all with room.
struct EncryptionFolderCase {
    const char* what;
    std::function<void(ScriptedEncryption&, const std::function<std::wstring(wchar_t)>& idOf)> arrange;
    const wchar_t* expected;  // null: the no-folder text
    int pass;
    const wchar_t* refusal;  // what the refusal holds (null: no refusal)
};

TEST_F(DiskTest, PickStorageFolderPassesOverVolumesTheBootEnvironmentCannotRead) {
    const HRESULT kAccessDenied = (HRESULT)0x80041003L, kProviderFailure = (HRESULT)0x80041001L;
    const EncryptionFolderCase cases[] = {
        {"no BitLocker on this Windows", [](ScriptedEncryption& s, auto&) { s.answer = EncryptionAnswer::kNoEncryption; },
         L"D:\\KavettaData", 1, nullptr},
        {"BitLocker knows no volume of ours", [](ScriptedEncryption& s, auto&) { s.Knows({}); },
         L"D:\\KavettaData", 1, nullptr},
        {"fully decrypted", [](ScriptedEncryption& s, auto& id) { s.Knows({VolumeState(id(L'D'), kFullyDecrypted, kProtectionOff)}); },
         L"D:\\KavettaData", 1, nullptr},
        {"encrypted and protected: pass 2",
         [](ScriptedEncryption& s, auto& id) { s.Knows({VolumeState(id(L'D'), kFullyEncrypted, kProtectionOn)}); },
         L"E:\\KavettaData", 2, nullptr},
        {"protection suspended leaves it encrypted",
         [](ScriptedEncryption& s, auto& id) { s.Knows({VolumeState(id(L'D'), kFullyEncrypted, kProtectionOff)}); },
         L"E:\\KavettaData", 2, nullptr},
        {"encryption under way",
         [](ScriptedEncryption& s, auto& id) { s.Knows({VolumeState(id(L'D'), kEncryptionInProgress, kProtectionOff)}); },
         L"E:\\KavettaData", 2, nullptr},
        {"decryption paused half-way",
         [](ScriptedEncryption& s, auto& id) { s.Knows({VolumeState(id(L'D'), kDecryptionPaused, kProtectionOff)}); },
         L"E:\\KavettaData", 2, nullptr},
        {"a locked volume",
         [](ScriptedEncryption& s, auto& id) { s.Knows({VolumeState(id(L'D'), -1, -1, kLockedVolume)}); },
         L"E:\\KavettaData", 2, nullptr},
        {"every other partition encrypted: the fallback on the system drive, encrypted or not",
         [](ScriptedEncryption& s, auto& id) {
             s.Knows({VolumeState(id(L'C'), kFullyEncrypted, kProtectionOn), VolumeState(id(L'D'), kFullyEncrypted, kProtectionOn),
                      VolumeState(id(L'E'), kFullyEncrypted, kProtectionOff)});
         },
         L"C:\\KavettaData", 3, nullptr},
        {"the query fails: no folder, and why",
         [&](ScriptedEncryption& s, auto&) { s.Fails(kAccessDenied); }, nullptr, 0, L"0x80041003"},
        {"a candidate's state cannot be read: no folder, and which and why",
         [&](ScriptedEncryption& s, auto& id) { s.Knows({VolumeState(id(L'D'), -1, -1, kProviderFailure)}); }, nullptr, 0,
         L"D: 的 BitLocker 状态（0x80041001）"},
    };
    for (const EncryptionFolderCase& c : cases) {
        SCOPED_TRACE(c.what);
        FakeMachine m;
        CDiskInventory inventory(&m, &m);
        const wchar_t* letters[3] = {L"C:", L"D:", L"E:"};
        const int disks[3] = {0, 0, 1};
        for (int i = 0; i < 3; ++i) {
            total_partition_info p;
            p.disk_number = disks[i];
            p.bus_type = kSata;
            p.letter = letters[i];
            p.mapped_letter = FixedText::kNoMapping;
            p.file_system = L"NTFS";
            p.free_mb = 90000;
            inventory.m_totalPartitions.Add(p);
            m.volumes.push_back(Volume(letters[i][0], disks[i], i + 1, L"NTFS", 0));
        }
        auto idOf = [&](wchar_t letter) {
            for (size_t v = 0; v < m.volumes.size(); ++v)
                if (m.volumes[v].letter == letter) return FakeVolumeGuidPath(v);
            return std::wstring();
        };
        ScriptedEncryption& script = encryption.script();
        script = ScriptedEncryption();
        c.arrange(script, idOf);
        app.m_systemDrive = L"C:";
        app.m_storagePass = 9;
        CString result = inventory.PickStorageFolder(L"KavettaData", 0, 10240.0);
        EXPECT_STREQ(result, c.expected ? c.expected : FixedText::kNoStorageFolder);
        EXPECT_EQ(app.m_storagePass, c.pass);
        if (c.refusal) EXPECT_GE(inventory.m_storageRefusal.Find(c.refusal), 0) << Narrow(inventory.m_storageRefusal);
        else EXPECT_STREQ(inventory.m_storageRefusal, L"");
        if (!c.expected) EXPECT_FALSE(m.IsFolder(L"C:\\KavettaData")) << "no fallback after a refusal";
        EXPECT_EQ(1, script.reads) << "the state is read once a partition qualifies, once";
    }

    // Without a partition that qualifies nothing is asked.
    FakeMachine m;
    CDiskInventory inventory(&m, &m);
    m.volumes.push_back(Volume(L'C', 0, 1, L"NTFS", 0));
    encryption.script() = ScriptedEncryption();
    encryption.script().Fails((HRESULT)0x80041003L);
    app.m_systemDrive = L"C:";
    EXPECT_STREQ(inventory.PickStorageFolder(L"KavettaData", -1, 10240.0), L"C:\\KavettaData");
    EXPECT_EQ(3, app.m_storagePass);
    EXPECT_EQ(0, encryption.script().reads);
}

// Two data disks, C: the system's; the data folder goes to D:.
void TwoDrives(FakeMachine& m, CDiskInventory& inventory) {
    for (const wchar_t* letter : {L"C:", L"D:"}) {
        total_partition_info p;
        p.disk_number = 0;
        p.bus_type = BusTypeSata;
        p.letter = letter;
        p.mapped_letter = FixedText::kNoMapping;
        p.file_system = L"NTFS";
        p.free_mb = 90000;
        inventory.m_totalPartitions.Add(p);
        m.volumes.push_back(Volume(letter[0], 0, letter[0] == L'C' ? 9 : 1, L"NTFS", 0));
    }
}

// Where policy makes the creator the owner of what an administrator makes,
// the folder the program makes is still owned by Administrators: the next
// run finds the same folder trusted and keeps what is in it.
TEST_F(DiskTest, ADataFolderMadeWhereTheCreatorOwnsNewObjectsIsKeptAcrossRuns) {
    FakeMachine m;
    m.creatorOwnsNewObjects = true;
    app.m_systemDrive = L"C:";
    for (int run = 1; run <= 2; ++run) {
        SCOPED_TRACE(run);
        CDiskInventory inventory(&m, &m);
        TwoDrives(m, inventory);
        CString result = inventory.PickStorageFolder(L"KavettaData", 0, 10240.0);
        EXPECT_STREQ(L"D:\\KavettaData", result);
        EXPECT_EQ(1, app.m_storagePass);
        EXPECT_EQ(FolderState::kTrusted, m.JudgeFolder(L"D:\\KavettaData")) << "owned by Administrators";
        EXPECT_FALSE(inventory.m_dataFolderReprotected) << "a folder of ours, made by this program";
        if (run == 1) {
            m.AddFile(L"D:\\KavettaData\\image.iso", 4096);
            m.log.clear();
        }
        m.volumes.clear();
    }
    EXPECT_TRUE(m.HasFile(L"D:\\KavettaData\\image.iso")) << "the download of the first run is kept";
    EXPECT_FALSE(m.HasFile(L"D:\\KavettaData.ASIDE1")) << "nothing moved aside";
    EXPECT_TRUE(m.log.empty()) << "the second run uses the folder as it is";
}

// A data folder an earlier version left owned by the running account is
// adopted: Administrators become its owner and it gets our access list; the
// downloads stay (to be checked again), what others planted goes.
TEST_F(DiskTest, ADataFolderOwnedByTheRunningAccountIsAdopted) {
    FakeMachine m;
    m.creatorOwnsNewObjects = true;
    app.m_systemDrive = L"C:";
    CDiskInventory inventory(&m, &m);
    TwoDrives(m, inventory);
    m.AddFolder(L"D:\\KavettaData");
    m.files[FakeMachine::Upper(L"D:\\KavettaData")].runningAccountOwner = true;
    m.AddFolder(L"D:\\KavettaData\\Backup");
    m.files[FakeMachine::Upper(L"D:\\KavettaData\\Backup")].runningAccountOwner = true;
    m.AddFile(L"D:\\KavettaData\\image.iso", 4096);
    m.AddFile(L"D:\\KavettaData\\boot.wim.kvtpart", 100);
    m.AddFolder(L"C:\\Users");
    m.AddLink(L"D:\\KavettaData\\planted", L"C:\\Users");
    CString result = inventory.PickStorageFolder(L"KavettaData", 0, 10240.0);
    EXPECT_STREQ(L"D:\\KavettaData", result);
    EXPECT_EQ(FolderState::kTrusted, m.JudgeFolder(L"D:\\KavettaData"));
    EXPECT_EQ(FolderState::kTrusted, m.JudgeFolder(L"D:\\KavettaData\\Backup")) << "what is in it is ours too";
    EXPECT_TRUE(inventory.m_dataFolderReprotected) << "nothing already in it counts as verified in this run";
    EXPECT_TRUE(m.HasFile(L"D:\\KavettaData\\image.iso")) << "kept, to be checked again";
    EXPECT_FALSE(m.HasFile(L"D:\\KavettaData\\boot.wim.kvtpart")) << "a partial download is never resumed";
    EXPECT_FALSE(m.HasFile(L"D:\\KavettaData\\planted")) << "a link inside is removed unfollowed";
    EXPECT_TRUE(m.HasFile(L"C:\\Users"));
    EXPECT_FALSE(m.HasFile(L"D:\\KavettaData.ASIDE1")) << "not moved aside";
}

}  // namespace
