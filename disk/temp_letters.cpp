// Temporary drive letters for letter-less partitions, defined as DOS device
// names for the partitions' NT device paths.
#include "core/fixed_texts.h"
#include "core/tarvel_app.h"
#include "disk/disk_inventory.h"

namespace {

bool AllDigits(const CString& text) {
    for (int i = 0; i < text.GetLength(); ++i)
        if (text[i] < L'0' || text[i] > L'9') return false;
    return true;
}

bool IsFailureText(const CString& result) {
    static const wchar_t* const kFailures[] = {FixedText::kNoFreeLetter, FixedText::kKeyRejected,
                                               FixedText::kKeyWithoutColon, FixedText::kDefineLetterFailed,
                                               FixedText::kNoVolumeBehindLetter};
    for (const wchar_t* failure : kFailures)
        if (result == failure) return true;
    return false;
}

const DWORD kRemoveExactDefinition = DDD_RAW_TARGET_PATH | DDD_REMOVE_DEFINITION | DDD_EXACT_MATCH_ON_REMOVE;

}  // namespace

BOOL PartitionKeyTarget(const CString& key, CString& target, CString& failure) {
    // An empty key names no volume at all.
    if (key.IsEmpty()) {
        failure = FixedText::kKeyRejected;
        return FALSE;
    }
    if (AllDigits(key)) {
        target = CString(FixedText::kNumberedVolumePrefix) + key;
        return TRUE;
    }
    int colon = key.Find(L':');
    if (colon < 0) {
        failure = FixedText::kKeyWithoutColon;
        return FALSE;
    }
    CString diskPart = key.Left(colon);
    CString partitionPart = key.Mid(colon + 1);
    // An empty part names no disk or partition either.
    if (diskPart.IsEmpty() || partitionPart.IsEmpty() || !AllDigits(diskPart) || !AllDigits(partitionPart)) {
        failure = FixedText::kKeyRejected;
        return FALSE;
    }
    target.Format(FixedText::kPartitionPathFormat, diskPart.GetString(), partitionPart.GetString());
    return TRUE;
}

CString FindFreeDriveLetter(IStorageCalls& calls) {
    for (wchar_t c = L'C'; c <= L'Z'; ++c) {
        wchar_t drive[3] = {c, L':', 0};
        if (calls.DriveType(drive) == DRIVE_NO_ROOT_DIR) return drive;
    }
    return FixedText::kNoFreeLetter;
}

CString MountPartitionLetter(const CString& key, BOOL broadcast, IStorageCalls& calls) {
    DWORD flags = DDD_RAW_TARGET_PATH;
    if (!broadcast) flags |= DDD_NO_BROADCAST_SYSTEM;
    CString letter = FindFreeDriveLetter(calls);
    if (letter == FixedText::kNoFreeLetter) return FixedText::kNoFreeLetter;
    CString target, failure;
    if (!PartitionKeyTarget(key, target, failure)) return failure;
    if (!calls.DefineDosDevice(flags, letter, target)) return FixedText::kDefineLetterFailed;
    if (calls.DriveType(letter) == DRIVE_NO_ROOT_DIR) {
        // Nothing answers behind the letter: take our own definition back
        // rather than leave a dead letter behind for the rest of the session.
        calls.DefineDosDevice(kRemoveExactDefinition, letter, target);
        return FixedText::kNoVolumeBehindLetter;
    }
    return letter;
}

BOOL UnmountPartitionLetter(const CString& key, const CString& letter, IStorageCalls& calls) {
    if (letter == FixedText::kNoMapping) return FALSE;
    CString target, failure;
    if (!PartitionKeyTarget(key, target, failure)) return FALSE;
    return calls.DefineDosDevice(kRemoveExactDefinition, letter, target);
}

void CDiskInventory::AssignTemporaryLetters() {
    if (m_tempLettersAssigned) return;
    CTarvelApp* app = GetTarvelApp();
    for (INT_PTR i = 0; i < m_totalPartitions.GetSize(); ++i) {
        total_partition_info& record = m_totalPartitions[i];
        if (record.bus_type == BusTypeUsb) continue;
        if (record.letter != FixedText::kNoLetter) continue;
        if (record.type_name == FixedText::kExcludedTypeName) continue;
        // Its key may name another disk's partition by now.
        if (record.moved) continue;
        CString result = MountPartitionLetter(record.key, TRUE, *m_storage);
        record.letter = result;
        if (!IsFailureText(result)) {
            record.mapped_letter = result;
            temp_letter_mapping mapping;
            mapping.key = record.key;
            mapping.letter = result;
            m_definedLetters.Add(mapping);
            ReadVolumeFacts(record);
        }
        if (app && app->m_debugMode) {
            CString report;
            report.Format(FixedText::kMappingReportFormat, record.key.GetString(), result.GetString());
            m_host->ShowDebugBox(report);
        }
    }
    m_tempLettersAssigned = 1;
}
