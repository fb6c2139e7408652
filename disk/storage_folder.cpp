// The choice of the data folder: another partition of the system's disk,
// else any non-USB partition, else the system drive. Never inside a virtual
// disk's file, and never on a volume the boot environment cannot read.
#include "core/fixed_texts.h"
#include "core/tarvel_app.h"
#include "disk/disk_inventory.h"
#include "disk/volume_encryption.h"

namespace {

// Whether the system drive lies on a disk attached from a file (a PC that
// boots from a VHD): then even the fallback would sit inside that file.
bool SystemDriveOnFileDisk(const CArray<total_partition_info>& records, int reference, const CString& systemDrive) {
    if (reference >= 0 && records[reference].bus_type == BusTypeFileBackedVirtual) return true;
    for (int i = 0; i < (int)records.GetSize(); ++i)
        if (!systemDrive.IsEmpty() && records[i].letter.CompareNoCase(systemDrive) == 0 &&
            records[i].bus_type == BusTypeFileBackedVirtual)
            return true;
    return false;
}

}  // namespace

bool CDiskInventory::StorageCandidate(int index, int referenceIndex, double neededMb, bool excludeSystemDrive) {
    const total_partition_info& record = m_totalPartitions[index];
    if (index == referenceIndex) return false;
    if (record.bus_type == BusTypeUsb) return false;
    // A VHD's file lives on some other volume, often the system's, which the
    // reinstall erases; the boot environment may not attach it at all.
    if (record.bus_type == BusTypeFileBackedVirtual) return false;
    if (record.letter == FixedText::kNoLetter) return false;
    if (record.mapped_letter != FixedText::kNoMapping) return false;
    if (record.file_system != FixedText::kRequiredFileSystem) return false;
    if (!(record.free_mb >= neededMb)) return false;  // also refuses a free space that is not a number
    // The system drive itself never holds the data: it is the partition
    // about to be reinstalled (a reference index may name another one).
    if (excludeSystemDrive) {
        CTarvelApp* app = GetTarvelApp();
        if (app && !app->m_systemDrive.IsEmpty() && record.letter.CompareNoCase(app->m_systemDrive) == 0)
            return false;
    }
    return true;
}

// Uses an existing folder that passes the folder rule, or makes one of our
// own at the name (a link there is removed unfollowed, a file or folder of
// another owner moved aside). The space and file system were judged on the
// candidate's volume: the folder must really be there.
bool CDiskInventory::UseFolder(const CString& path, const CString& letter) {
    IFolderRule& rule = m_host->FolderRule();
    const OwnFolder own = EnsureOwnFolder(rule, path);
    if (own == OwnFolder::kFailed) return false;
    if (!letter.IsEmpty()) {
        const CString final = rule.FinalPath(path);
        if (final.GetLength() < 2 || final.Left(2).CompareNoCase(letter.Left(2)) != 0) return false;
    }
    m_dataFolderReprotected = own == OwnFolder::kReprotected;
    return true;
}

CString CDiskInventory::PickStorageFolder(const CString& subFolder, int referenceIndex, double neededMb) {
    CTarvelApp* app = GetTarvelApp();
    int pass = 1;
    CString result = FixedText::kNoStorageFolder;
    const int count = (int)m_totalPartitions.GetSize();
    // An index that names no record means the system partition is unknown.
    const bool referenceKnown = referenceIndex >= 0 && referenceIndex < count;
    const int reference = referenceKnown ? referenceIndex : -1;
    bool found = false;
    bool refused = false;
    m_dataFolderReprotected = false;
    m_storageRefusal.Empty();
    // Asked only once a partition qualifies: the boot environment reads the
    // data folder, so it must lie on a volume that is not encrypted.
    CVolumeEncryption encryption(CurrentSystemFacts(), *m_storage);

    // The first qualifying record (of one disk, when asked) whose folder can be used.
    // The system drive is the partition about to be reinstalled: whatever the
    // reference says, passes 1 and 2 never put the data there.
    auto scan = [&](bool oneDisk, int disk) {
        for (int i = 0; i < count; ++i) {
            if (oneDisk && m_totalPartitions[i].disk_number != disk) continue;
            if (!StorageCandidate(i, reference, neededMb, true)) continue;
            const CVolumeEncryption::Reading reading =
                encryption.BootEnvironmentReads(m_totalPartitions[i].letter, m_storageRefusal);
            if (reading == CVolumeEncryption::kFailed) {
                refused = true;
                return false;
            }
            if (reading == CVolumeEncryption::kUnreadable) continue;
            CString path = m_totalPartitions[i].letter + FixedText::kPathSeparator + subFolder;
            if (UseFolder(path, m_totalPartitions[i].letter)) {
                result = path;
                return true;
            }
        }
        return false;
    };
    if (count > 0) {
        if (referenceKnown) found = scan(true, m_totalPartitions[reference].disk_number);
        if (!found && !refused) {
            pass = 2;
            found = scan(false, 0);
        }
    }
    if (!found && !refused) {
        pass = 3;
        CString systemDrive = app ? app->m_systemDrive : CString();
        if (!systemDrive.IsEmpty() && !SystemDriveOnFileDisk(m_totalPartitions, reference, systemDrive)) {
            CString path = systemDrive + FixedText::kPathSeparator + subFolder;
            if (UseFolder(path, CString())) {
                result = path;
                found = true;
            }
        }
    }
    if (!found) pass = 0;
    if (app) app->m_storagePass = pass;
    return result;
}
