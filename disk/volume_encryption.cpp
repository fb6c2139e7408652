#include "disk/volume_encryption.h"

#include "core/fixed_texts.h"

namespace {

// FVE_E_LOCKED_VOLUME: a locked volume is encrypted, whatever else it says.
const HRESULT kLockedVolume = (HRESULT)0x80310000L;

CString FailureText(const CString& drive, HRESULT code) {
    CString text;
    text.Format(FixedText::kEncryptionQueryFailedFormat, (const wchar_t*)drive, (unsigned)code);
    return text;
}

}  // namespace

bool CVolumeEncryption::Find(const CString& drive, const EncryptableVolumeState*& state, CString& refusal) {
    state = nullptr;
    if (!m_read) {
        m_read = true;
        m_answer = m_facts.EncryptableVolumes(m_volumes, m_failure);
    }
    if (m_answer == EncryptionAnswer::kNoEncryption) return true;
    if (m_answer != EncryptionAnswer::kRead) {
        refusal = FailureText(drive, FAILED(m_failure) ? m_failure : E_FAIL);
        return false;
    }
    // A BitLocker that knows no volume has nothing to match.
    if (m_volumes.empty()) return true;
    CString guidPath;
    const DWORD error = m_storage.VolumeGuidPath(drive + FixedText::kRootSuffix, guidPath);
    if (error != ERROR_SUCCESS || guidPath.IsEmpty()) {
        refusal = FailureText(drive, HRESULT_FROM_WIN32(error != ERROR_SUCCESS ? error : ERROR_INVALID_NAME));
        return false;
    }
    for (const EncryptableVolumeState& volume : m_volumes) {
        if (volume.deviceId.CompareNoCase(guidPath) == 0) {
            state = &volume;
            break;
        }
    }
    return true;
}

CVolumeEncryption::Reading CVolumeEncryption::BootEnvironmentReads(const CString& drive, CString& refusal) {
    const EncryptableVolumeState* state = nullptr;
    if (!Find(drive, state, refusal)) return kFailed;
    if (!state) return kReadable;
    if (state->failure == kLockedVolume) return kUnreadable;
    if (FAILED(state->failure)) {
        refusal = FailureText(drive, state->failure);
        return kFailed;
    }
    return state->conversionStatus == 0 ? kReadable : kUnreadable;
}

bool CVolumeEncryption::ProtectionAllowsArming(const CString& drive, CString& refusal) {
    const EncryptableVolumeState* state = nullptr;
    if (!Find(drive, state, refusal)) return false;
    if (!state) return true;
    if (FAILED(state->failure)) {
        refusal = FailureText(drive, state->failure);
        return false;
    }
    if (state->protectionStatus == 0) return true;
    refusal.Format(FixedText::kBootProtectionOnFormat, (const wchar_t*)drive);
    return false;
}

bool BootProtectionAllowsArming(IStorageCalls& storage, const CString& systemDrive, CString& refusal) {
    CVolumeEncryption encryption(CurrentSystemFacts(), storage);
    return encryption.ProtectionAllowsArming(systemDrive, refusal);
}
