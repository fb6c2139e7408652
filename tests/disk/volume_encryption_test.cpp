// BitLocker's states as the restart and the data-folder choice read them,
// through the system facts (scripted as Windows documents its answers) and
// the storage calls' volume GUID paths.
#include <wbemcli.h>

#include <functional>

#include "core/fixed_texts.h"
#include "disk/volume_encryption.h"
#include "disk_test_support.h"

namespace {

// The volume GUID path the fake machine gives the volume at `letter`.
std::wstring IdOf(const FakeMachine& m, wchar_t letter) {
    for (size_t v = 0; v < m.volumes.size(); ++v)
        if (m.volumes[v].letter == letter) return FakeVolumeGuidPath(v);
    return std::wstring();
}

std::wstring Lower(std::wstring s) {
    for (auto& c : s) c = (wchar_t)towlower(c);
    return s;
}

struct ProtectionCase {
    const char* what;
    std::function<void(ScriptedEncryption&, const FakeMachine&)> arrange;
    const wchar_t* drive;
    bool allowed;
    const wchar_t* refusal;  // what the refusal holds when refused
};

TEST_F(DiskTest, TheNextBootIsArmedOnlyWhileTheSystemVolumeIsUnprotected) {
    CString onText;
    onText.Format(FixedText::kBootProtectionOnFormat, L"C:");
    const ProtectionCase cases[] = {
        {"a Windows without BitLocker's namespace",
         [](ScriptedEncryption& s, const FakeMachine&) {
             s.answer = EncryptionAnswer::kNoEncryption;
             s.failure = WBEM_E_INVALID_NAMESPACE;
         },
         L"C:", true, nullptr},
        {"a Windows without the class",
         [](ScriptedEncryption& s, const FakeMachine&) {
             s.answer = EncryptionAnswer::kNoEncryption;
             s.failure = WBEM_E_INVALID_CLASS;
         },
         L"C:", true, nullptr},
        {"BitLocker does not know the system volume",
         [](ScriptedEncryption& s, const FakeMachine& m) { s.Knows({VolumeState(IdOf(m, L'D'), kFullyEncrypted, kProtectionOn)}); },
         L"C:", true, nullptr},
        {"BitLocker knows no volume at all: nothing to match, no volume name asked",
         [](ScriptedEncryption& s, const FakeMachine&) { s.Knows({}); }, L"Q:", true, nullptr},
        {"decrypted, protection off",
         [](ScriptedEncryption& s, const FakeMachine& m) { s.Knows({VolumeState(IdOf(m, L'C'), kFullyDecrypted, kProtectionOff)}); },
         L"C:", true, nullptr},
        {"encrypted, protection suspended (reads as off)",
         [](ScriptedEncryption& s, const FakeMachine& m) { s.Knows({VolumeState(IdOf(m, L'C'), kFullyEncrypted, kProtectionOff)}); },
         L"C:", true, nullptr},
        {"protection on",
         [](ScriptedEncryption& s, const FakeMachine& m) { s.Knows({VolumeState(IdOf(m, L'C'), kFullyEncrypted, kProtectionOn)}); },
         L"C:", false, onText},
        {"protection on, the id in other letter case",
         [](ScriptedEncryption& s, const FakeMachine& m) {
             s.Knows({VolumeState(IdOf(m, L'D'), kFullyDecrypted, kProtectionOff),
                      VolumeState(Lower(IdOf(m, L'C')), kFullyEncrypted, kProtectionOn)});
         },
         L"C:", false, onText},
        {"protection that cannot be told (unknown)",
         [](ScriptedEncryption& s, const FakeMachine& m) { s.Knows({VolumeState(IdOf(m, L'C'), kFullyEncrypted, kProtectionUnknown)}); },
         L"C:", false, onText},
        {"the query fails",
         [](ScriptedEncryption& s, const FakeMachine&) { s.Fails(WBEM_E_ACCESS_DENIED); },
         L"C:", false, L"C: 的 BitLocker 状态（0x80041003）"},
        {"the system volume's state method fails",
         [](ScriptedEncryption& s, const FakeMachine& m) {
             s.Knows({VolumeState(IdOf(m, L'C'), kFullyEncrypted, -1, WBEM_E_PROVIDER_FAILURE)});
         },
         L"C:", false, L"（0x80041004）"},
        {"the system volume's GUID path cannot be read",
         [](ScriptedEncryption& s, const FakeMachine& m) { s.Knows({VolumeState(IdOf(m, L'C'), kFullyEncrypted, kProtectionOff)}); },
         L"Q:", false, L"Q: 的 BitLocker 状态（0x80070002）"},
    };
    BuildStandardMachine(machine);
    for (const ProtectionCase& c : cases) {
        SCOPED_TRACE(c.what);
        ScriptedEncryption& script = encryption.script();
        script = ScriptedEncryption();
        c.arrange(script, machine);
        CString refusal;
        EXPECT_EQ(c.allowed, BootProtectionAllowsArming(machine, c.drive, refusal));
        if (c.allowed) EXPECT_STREQ(refusal, L"");
        else EXPECT_GE(refusal.Find(c.refusal), 0) << Narrow(refusal);
        EXPECT_EQ(1, script.reads);
    }
}

struct ReadCase {
    const char* what;
    std::function<void(ScriptedEncryption&, const FakeMachine&)> arrange;
    CVolumeEncryption::Reading reading;
    const wchar_t* refusal;
};

TEST_F(DiskTest, TheBootEnvironmentReadsOnlyVolumesThatAreFullyDecrypted) {
    auto knowsD = [](int conversion, int protection, HRESULT failure = S_OK) {
        return [=](ScriptedEncryption& s, const FakeMachine& m) {
            s.Knows({VolumeState(IdOf(m, L'C'), kFullyEncrypted, kProtectionOn),
                     VolumeState(IdOf(m, L'D'), conversion, protection, failure)});
        };
    };
    const ReadCase cases[] = {
        {"no BitLocker", [](ScriptedEncryption& s, const FakeMachine&) { s.answer = EncryptionAnswer::kNoEncryption; },
         CVolumeEncryption::kReadable, nullptr},
        {"a volume BitLocker does not know", [](ScriptedEncryption& s, const FakeMachine& m) {
             s.Knows({VolumeState(IdOf(m, L'C'), kFullyEncrypted, kProtectionOn)});
         },
         CVolumeEncryption::kReadable, nullptr},
        {"fully decrypted", knowsD(kFullyDecrypted, kProtectionOff), CVolumeEncryption::kReadable, nullptr},
        {"fully encrypted, protection on", knowsD(kFullyEncrypted, kProtectionOn), CVolumeEncryption::kUnreadable, nullptr},
        {"fully encrypted, protection suspended", knowsD(kFullyEncrypted, kProtectionOff), CVolumeEncryption::kUnreadable,
         nullptr},
        {"encryption in progress", knowsD(kEncryptionInProgress, kProtectionOff), CVolumeEncryption::kUnreadable, nullptr},
        {"decryption paused", knowsD(kDecryptionPaused, kProtectionOff), CVolumeEncryption::kUnreadable, nullptr},
        {"locked", knowsD(-1, -1, kLockedVolume), CVolumeEncryption::kUnreadable, nullptr},
        {"its state method fails", knowsD(-1, -1, WBEM_E_PROVIDER_FAILURE), CVolumeEncryption::kFailed,
         L"D: 的 BitLocker 状态（0x80041004）"},
        {"the query fails", [](ScriptedEncryption& s, const FakeMachine&) { s.Fails(WBEM_E_ACCESS_DENIED); },
         CVolumeEncryption::kFailed, L"（0x80041003）"},
    };
    BuildStandardMachine(machine);
    for (const ReadCase& c : cases) {
        SCOPED_TRACE(c.what);
        ScriptedEncryption& script = encryption.script();
        script = ScriptedEncryption();
        c.arrange(script, machine);
        CVolumeEncryption volumes(CurrentSystemFacts(), machine);
        CString refusal;
        EXPECT_EQ(c.reading, volumes.BootEnvironmentReads(L"D:", refusal));
        if (c.refusal) EXPECT_GE(refusal.Find(c.refusal), 0) << Narrow(refusal);
        else EXPECT_STREQ(refusal, L"");
        // A second question asks nothing more.
        volumes.BootEnvironmentReads(L"E:", refusal);
        EXPECT_EQ(1, script.reads);
    }
}

}  // namespace
