// BitLocker's answers for the tests: what ISystemFacts::EncryptableVolumes
// returns on a machine as the Windows documentation describes it (the
// Wine the tests run on has no BitLocker provider at all).
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "core/fixed_texts.h"
#include "core/system_facts.h"
#include "disk/disk_calls.h"

struct ScriptedEncryption {
    EncryptionAnswer answer = EncryptionAnswer::kNoEncryption;
    std::vector<EncryptableVolumeState> volumes;
    HRESULT failure = S_OK;
    int reads = 0;  // how often the query was asked

    EncryptionAnswer Read(std::vector<EncryptableVolumeState>& out, HRESULT& code) {
        ++reads;
        out = answer == EncryptionAnswer::kRead ? volumes : std::vector<EncryptableVolumeState>();
        code = failure;
        return answer;
    }
    // A provider that knows these volumes.
    void Knows(std::vector<EncryptableVolumeState> known) {
        answer = EncryptionAnswer::kRead;
        volumes = std::move(known);
        failure = S_OK;
    }
    // A query that fails with this code.
    void Fails(HRESULT code) {
        answer = EncryptionAnswer::kFailed;
        volumes.clear();
        failure = code;
    }
};

// One volume's state: GetConversionStatus and GetProtectionStatus as they
// answered, or the code of the first one that failed.
inline EncryptableVolumeState VolumeState(const std::wstring& deviceId, int conversion, int protection,
                                          HRESULT failure = S_OK) {
    EncryptableVolumeState state;
    state.deviceId = deviceId.c_str();
    state.conversionStatus = conversion;
    state.protectionStatus = protection;
    state.failure = failure;
    return state;
}

// The documented values.
const int kFullyDecrypted = 0, kFullyEncrypted = 1, kEncryptionInProgress = 2, kDecryptionPaused = 5;
const int kProtectionOff = 0, kProtectionOn = 1, kProtectionUnknown = 2;
// FVE_E_LOCKED_VOLUME: a state method on a locked volume.
const HRESULT kLockedVolume = (HRESULT)0x80310000L;

// The volume GUID path the installed storage calls give the volume at
// `drive` ("C:"); empty when they give none.
inline std::wstring VolumeIdOf(const CString& drive) {
    CString id;
    if (CurrentStorageCalls().VolumeGuidPath(drive + L"\\", id) != ERROR_SUCCESS) return std::wstring();
    return std::wstring(id);
}

// The two refusals as the pages show them: protection on, and a query
// that failed with `code`.
inline CString ProtectionOnLine(const CString& drive) {
    CString text;
    text.Format(FixedText::kBootProtectionOnFormat, (const wchar_t*)drive);
    return text;
}
inline CString QueryFailedLine(const CString& drive, HRESULT code) {
    CString text;
    text.Format(FixedText::kEncryptionQueryFailedFormat, (const wchar_t*)drive, (unsigned)code);
    return text;
}

// The system volume's states that refuse the restart, each with the line
// the pages show: protection on, protection unknown, a query that fails.
struct RefusingState {
    const char* what;
    std::function<void(ScriptedEncryption&)> arrange;
    CString line;
};
inline std::vector<RefusingState> RefusingStates(const CString& drive) {
    const std::wstring id = VolumeIdOf(drive);
    const HRESULT denied = (HRESULT)0x80041003L;  // WBEM_E_ACCESS_DENIED
    return {
        {"protection on", [id](ScriptedEncryption& s) { s.Knows({VolumeState(id, kFullyEncrypted, kProtectionOn)}); },
         ProtectionOnLine(drive)},
        {"protection unknown",
         [id](ScriptedEncryption& s) { s.Knows({VolumeState(id, kFullyEncrypted, kProtectionUnknown)}); },
         ProtectionOnLine(drive)},
        {"the query fails", [denied](ScriptedEncryption& s) { s.Fails(denied); }, QueryFailedLine(drive, denied)},
    };
}

// Facts that answer the encryption query from a script and every other
// question from the facts they wrap.
class EncryptionFacts : public ISystemFacts {
public:
    explicit EncryptionFacts(ISystemFacts& inner) : m_inner(inner) {}
    IFactsQuery* OpenQuery() override { return m_inner.OpenQuery(); }
    void InstalledMemory(ULONGLONG& out, int skip) override { m_inner.InstalledMemory(out, skip); }
    EncryptionAnswer EncryptableVolumes(std::vector<EncryptableVolumeState>& volumes, HRESULT& failure) override {
        return script.Read(volumes, failure);
    }
    ScriptedEncryption script;

private:
    ISystemFacts& m_inner;
};

// Installs EncryptionFacts over the current facts for one scope.
class ScopedEncryptionFacts {
public:
    ScopedEncryptionFacts() : m_facts(CurrentSystemFacts()), m_previous(SetSystemFacts(&m_facts)) {}
    ~ScopedEncryptionFacts() { SetSystemFacts(m_previous); }
    ScopedEncryptionFacts(const ScopedEncryptionFacts&) = delete;
    ScopedEncryptionFacts& operator=(const ScopedEncryptionFacts&) = delete;
    ScriptedEncryption& script() { return m_facts.script; }

private:
    EncryptionFacts m_facts;
    ISystemFacts* m_previous;
};
