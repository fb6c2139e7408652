// The volumes' encryption as it matters to the reinstall. The boot
// environment reads only volumes that are fully decrypted; and while
// BitLocker protects the system volume, a changed boot configuration sends
// the next start into BitLocker recovery. The states come from the system
// facts (BitLocker's WMI provider), matched to a drive by its volume GUID
// path: a volume BitLocker does not know is not encrypted.
#pragma once

#include <vector>

#include "core/system_facts.h"
#include "disk/disk_calls.h"

class CVolumeEncryption {
public:
    CVolumeEncryption(ISystemFacts& facts, IStorageCalls& storage) : m_facts(facts), m_storage(storage) {}

    enum Reading {
        kReadable,    // not encrypted at all, or fully decrypted
        kUnreadable,  // encrypted, converting or locked
        kFailed,      // its state could not be read: `refusal` says why
    };
    // Whether the boot environment can read the volume at `drive` ("D:").
    // The query runs once, at the first question.
    Reading BootEnvironmentReads(const CString& drive, CString& refusal);

    // Whether the next boot may be armed: the protection of the system
    // volume at `drive` is off or suspended (GetProtectionStatus answers 0
    // for both), or the machine has no BitLocker. False with the refusal to
    // show (protection on or unknown, or a query that failed); the program
    // never suspends protection itself.
    bool ProtectionAllowsArming(const CString& drive, CString& refusal);

private:
    // The state of the volume at `drive`: null when BitLocker does not know
    // it, or when the reading failed (then false with `refusal`).
    bool Find(const CString& drive, const EncryptableVolumeState*& state, CString& refusal);

    ISystemFacts& m_facts;
    IStorageCalls& m_storage;
    bool m_read = false;
    EncryptionAnswer m_answer = EncryptionAnswer::kNoEncryption;
    HRESULT m_failure = S_OK;
    std::vector<EncryptableVolumeState> m_volumes;
};

// The check before anything arms the next boot, with the installed facts
// and the given storage calls.
bool BootProtectionAllowsArming(IStorageCalls& storage, const CString& systemDrive, CString& refusal);
