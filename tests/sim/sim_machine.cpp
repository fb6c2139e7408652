#include "sim/sim_machine.h"

#include <stdio.h>
#include <wbemcli.h>
#include <wctype.h>
#include <shlobj.h>

#include <atomic>
#include <fstream>
#include <set>

#include "core/fixed_texts.h"
#include "core/process_file_utils.h"
#include "core/shell_calls.h"
#include "core/system_facts.h"
#include "core/tarvel_app.h"
#include "disk/disk_calls.h"
#include "disk/disk_inventory.h"
#include "sim/sim_scenario.h"
#include "support/fake_machine.h"
#include "support/session_end.h"

namespace {

// One lock for the records, the machine's answers and the files beside the
// scenario: the check worker, the download workers and the main thread all
// reach the fakes.
class Lock {
public:
    Lock() {
        static CRITICAL_SECTION* section = [] {
            auto* s = new CRITICAL_SECTION;
            InitializeCriticalSection(s);
            return s;
        }();
        m_section = section;
        EnterCriticalSection(m_section);
    }
    ~Lock() { LeaveCriticalSection(m_section); }

private:
    CRITICAL_SECTION* m_section;
};

bool ContainsNoCase(const std::wstring& text, const std::wstring& part) {
    std::wstring a = text, b = part;
    for (auto& c : a) c = (wchar_t)towlower(c);
    for (auto& c : b) c = (wchar_t)towlower(c);
    return a.find(b) != std::wstring::npos;
}

void AppendLine(const std::wstring& path, const std::wstring& line) {
    AppendSimLine(path, Utf16ToUtf8(line.c_str()).GetString());
}

std::set<std::wstring> ReadStateTokens(const std::wstring& path) {
    std::set<std::wstring> tokens;
    std::ifstream in(path.c_str(), std::ios::binary);
    std::string line;
    while (std::getline(in, line)) {
        while (!line.empty() && (line.back() == '\r' || line.back() == ' ')) line.pop_back();
        if (!line.empty()) tokens.insert((const wchar_t*)Utf8ToUtf16(line.c_str(), (int)line.size()));
    }
    return tokens;
}

// ---------------------------------------------------------------- the fakes

struct SimState {
    SimScenario scenario;
    std::wstring scenarioPath;
    SimRecords records;
    int driveQueries = 0;  // LogicalDriveStrings calls, for letters that appear later
};
SimState* g_state = nullptr;

void Journal(const std::wstring& line) { AppendLine(SimJournalPath(), line); }

// The scenario's disks and volumes. Letters that appear later are held back
// until their condition holds; every call is serialised.
class SimStorage : public FakeMachine {
public:
    int EnumerateDiskInterfaces(CString* paths, int maxPaths) override {
        Lock lock;
        Reveal(false);
        return FakeMachine::EnumerateDiskInterfaces(paths, maxPaths);
    }
    HANDLE OpenDevice(const wchar_t* path) override {
        Lock lock;
        return FakeMachine::OpenDevice(path);
    }
    void CloseDevice(HANDLE device) override {
        Lock lock;
        FakeMachine::CloseDevice(device);
    }
    BOOL IoControl(HANDLE device, DWORD code, const void* in, DWORD inSize, void* out, DWORD outSize,
                   DWORD* returned) override {
        Lock lock;
        return FakeMachine::IoControl(device, code, in, inSize, out, outSize, returned);
    }
    DWORD LogicalDriveStrings(DWORD length, wchar_t* buffer) override {
        Lock lock;
        Reveal(true);
        return FakeMachine::LogicalDriveStrings(length, buffer);
    }
    UINT DriveType(const wchar_t* root) override {
        Lock lock;
        UINT type = FakeMachine::DriveType(root);
        // A drive of the host that the scenario does not describe (under Wine
        // the build tree's Z:, where the simulated programs run from) lies
        // outside the scenario's disks; the disk checks protect the program's
        // drive, so asked about, it answers as a network drive. It is not
        // listed among the machine's drives.
        if (type == DRIVE_NO_ROOT_DIR && root && root[0] && root[1] == L':' && !Describes(root[0])) {
            const wchar_t hostRoot[] = {root[0], L':', L'\\', 0};
            const UINT host = GetDriveTypeW(hostRoot);
            if (host != DRIVE_NO_ROOT_DIR && host != DRIVE_UNKNOWN) return DRIVE_REMOTE;
        }
        return type;
    }
    BOOL VolumeInformation(const wchar_t* root, wchar_t* label, DWORD labelSize, wchar_t* fileSystem,
                           DWORD fileSystemSize) override {
        Lock lock;
        return FakeMachine::VolumeInformation(root, label, labelSize, fileSystem, fileSystemSize);
    }
    BOOL FreeBytesForCaller(const wchar_t* root, ULONGLONG* freeBytes) override {
        Lock lock;
        return FakeMachine::FreeBytesForCaller(root, freeBytes);
    }
    DWORD VolumeGuidPath(const wchar_t* root, CString& path) override {
        Lock lock;
        return FakeMachine::VolumeGuidPath(root, path);
    }
    BOOL DefineDosDevice(DWORD flags, const wchar_t* name, const wchar_t* target) override {
        // Temporary letters live in the fake's table only: Wine drops a
        // defined letter with the process that defined it anyway.
        Lock lock;
        return FakeMachine::DefineDosDevice(flags, name, target);
    }
    BOOL FindFile(const wchar_t* path) override {
        Lock lock;
        // The system probe, and the running system's folders as this process
        // sees them, answer from the scenario; every other file is real.
        if (IsProbePath(path) || InSystemFolders(path)) return FakeMachine::FindFile(path);
        WIN32_FIND_DATAW data;
        HANDLE find = FindFirstFileW(path, &data);
        if (find == INVALID_HANDLE_VALUE) return FALSE;
        FindClose(find);
        return TRUE;
    }
    BOOL ProductVersion(const wchar_t* path, CString& version) override {
        Lock lock;
        return FakeMachine::ProductVersion(path, version);
    }
    BOOL RunningWindows(CString& folder, BOOL& is64, BOOL& hasSysnative) override {
        Lock lock;
        return FakeMachine::RunningWindows(folder, is64, hasSysnative);
    }
    BOOL RunningSystemVersion(CString& version) override {
        Lock lock;
        return FakeMachine::RunningSystemVersion(version);
    }

    // Letters whose condition now holds become present, and partitions and
    // volumes whose state token the tools have set appear or go (queried:
    // one more drive query was made).
    void Reveal(bool queried) {
        if (!g_state) return;
        if (queried) ++g_state->driveQueries;
        const SimScenario& scenario = g_state->scenario;
        std::set<std::wstring> tokens;
        bool tokensRead = false;
        auto holds = [&](const std::wstring& token) {
            if (token.empty()) return false;
            if (!tokensRead) {
                tokens = ReadStateTokens(SimStatePath());
                tokensRead = true;
            }
            return tokens.count(token) != 0;
        };
        for (const SimScenario::PartitionLife& life : scenario.partitionLives) {
            if (life.disk >= disks.size() || life.partition >= disks[life.disk].partitions.size()) continue;
            FakePartition& partition = disks[life.disk].partitions[life.partition];
            const bool present = (life.appears.empty() || holds(life.appears)) && !holds(life.goes);
            if (present != partition.present)
                Journal(std::wstring(present ? L"appear" : L"gone") + L" partition " +
                        std::to_wstring(disks[life.disk].device) + L"-" + std::to_wstring(partition.number));
            partition.present = present;
        }
        for (size_t i = 0; i < volumes.size() && i < scenario.volumeAppearance.size(); ++i) {
            const SimAppearance& when = scenario.volumeAppearance[i];
            bool appeared = volumes[i].present || !when.Later() ||
                            (when.afterQueries > 0 && g_state->driveQueries > when.afterQueries) ||
                            holds(when.stateToken);
            const bool gone = i < scenario.volumeGoing.size() && holds(scenario.volumeGoing[i]);
            const bool present = appeared && !gone;
            if (present == volumes[i].present) continue;
            volumes[i].present = present;
            if (present)
                for (FakeDisk& disk : disks)
                    if (disk.device == volumes[i].device) disk.present = true;
            const std::wstring name = volumes[i].letter ? std::wstring(1, volumes[i].letter) + L":"
                                                        : L"partition " + std::to_wstring(volumes[i].device) + L"-" +
                                                              std::to_wstring(volumes[i].partition);
            Journal((present ? L"appear " : L"gone ") + name);
        }
    }

private:
    // Whether the scenario gives the letter a use (now or later).
    bool Describes(wchar_t letter) const {
        letter = (wchar_t)towupper(letter);
        if (otherDrives.count(letter)) return true;
        for (const FakeVolume& volume : volumes)
            if (volume.letter == letter) return true;
        return false;
    }
    static bool IsProbePath(const wchar_t* path) {
        std::wstring p = path;
        return p.size() > 2 && p[1] == L':' && FakeMachine::Upper(p.substr(2)) == FakeMachine::Upper(FixedText::kSystemProbePath);
    }
};

SimStorage* g_storage = nullptr;

// Files are real; external programs are not run: each run is recorded and
// answered from the scenario. Folders on a drive that refuses new folders
// cannot be made. A temporary letter given to a letter-less partition (an
// EFI partition) exists only in the fake's device table, so a path on it is
// taken to that partition's backing folder, drives\part-<device>-<number>
// beside the scenario (made by prepare_scenario.py).
// The boot host, and the folder rule over the real files of the scenario.
// Wine keeps no owners or access lists of its own here, so every plain folder
// passes; links, files and missing folders are judged from the files as
// they are.
class SimBootHost : public IBootHost, public IFolderRule {
public:
    FolderState JudgeFolder(const wchar_t* path) override {
        const DWORD attributes = GetFileAttributesW(Real(path).c_str());
        if (attributes == INVALID_FILE_ATTRIBUTES) return FolderState::kMissing;
        if (attributes & FILE_ATTRIBUTE_REPARSE_POINT) return FolderState::kLink;
        if (!(attributes & FILE_ATTRIBUTE_DIRECTORY)) return FolderState::kNotFolder;
        return FolderState::kTrusted;
    }
    bool OthersCanWrite(const wchar_t* folder) override { return JudgeFolder(folder) != FolderState::kTrusted; }
    BOOL CreateOwnFolder(const wchar_t* path) override { return CreateFolder(path); }
    BOOL ProtectFolder(const wchar_t*) override { return TRUE; }
    BOOL RemoveLink(const wchar_t* path) override { return Win32FolderRule().RemoveLink(Real(path).c_str()); }
    BOOL MoveAside(const wchar_t* path) override { return Win32FolderRule().MoveAside(Real(path).c_str()); }
    CString FinalPath(const wchar_t* path) override {
        // The scenario's letters are the program's view: the path as it is.
        return JudgeFolder(path) == FolderState::kMissing ? CString() : CString(path);
    }
    IFolderRule& FolderRule() override { return *this; }

    BOOL PathExists(const wchar_t* path) override {
        return !TooLong(path) && Win32BootHost().PathExists(Real(path).c_str());
    }
    BOOL IsFolder(const wchar_t* path) override { return !TooLong(path) && Win32BootHost().IsFolder(Real(path).c_str()); }
    BOOL CreateFolder(const wchar_t* path) override {
        if (TooLong(path, kNewFolderLimit)) return FALSE;
        if (Refuses(path)) {
            Journal(L"refused folder " + std::wstring(path));
            return FALSE;
        }
        return Win32BootHost().CreateFolder(Real(path).c_str());
    }
    int CopyFileEnsureFolder(const wchar_t* source, const wchar_t* destination, BOOL failIfExists) override {
        if (TooLong(source) || TooLong(destination)) return 0;
        return Win32BootHost().CopyFileEnsureFolder(Real(source).c_str(), Real(destination).c_str(), failIfExists);
    }
    BOOL SetAttributes(const wchar_t* path, DWORD attributes) override {
        if (TooLong(path)) return FALSE;
        return Win32BootHost().SetAttributes(Real(path).c_str(), attributes);
    }
    BOOL WriteIniString(const wchar_t* path, const wchar_t* section, const wchar_t* key,
                        const wchar_t* value) override {
        return Win32BootHost().WriteIniString(Real(path).c_str(), section, key, value);
    }
    int RunProcessAndWait(const wchar_t* program, const wchar_t* arguments) override {
        std::wstring run = std::wstring(program ? program : L"") + L"|" + (arguments ? arguments : L"");
        int device = -1;
        const std::wstring toolKey = UsbToolCommandKey(program ? program : L"", arguments ? arguments : L"", device);
        if (!toolKey.empty() && Win32BootHost().PathExists(Real(program).c_str())) {
            // Our USB tools run for real: their simulated build checks the disk
            // against this scenario (named by the environment it inherits) and
            // records its own runs of diskpart. What a successful command did
            // to the disk becomes a state token, on which the scenario's
            // partitions and volumes appear and go, here and in the next tool.
            {
                Lock lock;
                if (!g_state) return -1;
                g_state->records.processRuns.push_back(run);
            }
            const int code = Win32BootHost().RunProcessAndWait(Real(program).c_str(), arguments);
            Journal(L"run " + run + L" -> " + std::to_wstring(code));
            if (code == 0) SetSimState((toolKey + L" " + std::to_wstring(device)).c_str());
            return code;
        }
        return ScenarioAnswer(run);
    }
    // A run handed an answer (the system's converter) is recorded and
    // answered as the other runs are; the scenario says how it ends.
    int RunProcessWithInput(const wchar_t* program, const wchar_t* arguments, const std::string& input) override {
        (void)input;
        return RunProcessAndWait(program, arguments);
    }
    // Recorded as the other runs and answered from the scenario; a listing
    // of the boot manager reads as a Chinese Windows' editor prints it.
    int RunProcessAndRead(const wchar_t* program, const wchar_t* arguments, std::string& output) override {
        std::wstring run = std::wstring(program ? program : L"") + L"|" + (arguments ? arguments : L"");
        output = BootManagerListing(L"Windows Boot Manager", true);
        return ScenarioAnswer(run);
    }
    void LocalTime(SYSTEMTIME* time) override { Win32BootHost().LocalTime(time); }
    void ShowDebugBox(const wchar_t* text) override { Win32BootHost().ShowDebugBox(text); }
    BOOL ReadFileBytes(const wchar_t* path, void* buffer, DWORD size, DWORD* got) override {
        return Win32BootHost().ReadFileBytes(Real(path).c_str(), buffer, size, got);
    }
    ULONGLONG FileSize(const wchar_t* path) override { return Win32BootHost().FileSize(Real(path).c_str()); }
    BOOL CopyFileProgress(const wchar_t* source, const wchar_t* target, LPPROGRESS_ROUTINE routine,
                          void* data) override {
        return Win32BootHost().CopyFileProgress(Real(source).c_str(), Real(target).c_str(), routine, data);
    }
    BOOL CreateFolderTree(const wchar_t* path) override {
        if (Refuses(path)) {
            Journal(L"refused folder " + std::wstring(path));
            return FALSE;
        }
        return Win32BootHost().CreateFolderTree(Real(path).c_str());
    }
    BOOL WriteTextFile(const wchar_t* path, const CStringA& text) override {
        return Win32BootHost().WriteTextFile(Real(path).c_str(), text);
    }
    BOOL RemoveFile(const wchar_t* path) override { return Win32BootHost().RemoveFile(Real(path).c_str()); }
    // Held for real (the files are real); the journal records the name.
    HANDLE HoldNewTextFile(const wchar_t* path, const CStringA& text) override {
        HANDLE hold = Win32BootHost().HoldNewTextFile(Real(path).c_str(), text);
        Journal((hold != INVALID_HANDLE_VALUE ? L"held " : L"not held ") + std::wstring(path));
        return hold;
    }
    void ReleaseHeldFile(HANDLE hold, const wchar_t* path) override {
        Win32BootHost().ReleaseHeldFile(hold, Real(path).c_str());
        Journal(L"released " + std::wstring(path));
    }
    void Wait(DWORD milliseconds) override { Win32BootHost().Wait(milliseconds); }
    CString FileDigest(const wchar_t* path) override { return Win32BootHost().FileDigest(Real(path).c_str()); }
    BOOL RealHostRule() override {
        Lock lock;
        return g_state && g_state->scenario.realHostRule;
    }
    DWORD ListFolder(const wchar_t* folder, std::vector<WIN32_FIND_DATAW>& entries) override {
        // FindFirstFileW takes the folder with its wildcard.
        if (TooLong(folder, MAX_PATH - 2)) return ERROR_FILENAME_EXCED_RANGE;
        return Win32BootHost().ListFolder(Real(folder).c_str(), entries);
    }
    DWORD CopyUserFile(const wchar_t* source, const wchar_t* target, bool* readFailed) override {
        if (readFailed) *readFailed = TooLong(source);
        if (TooLong(source) || TooLong(target)) return ERROR_FILENAME_EXCED_RANGE;
        return Win32BootHost().CopyUserFile(Real(source).c_str(), Real(target).c_str(), readFailed);
    }
    CString LinkTarget(const wchar_t* path) override {
        return TooLong(path) ? CString() : Win32BootHost().LinkTarget(Real(path).c_str());
    }
    CString FileUsers(const wchar_t* path) override { return Win32BootHost().FileUsers(Real(path).c_str()); }
    void DebugLog(const wchar_t* line) override {
        Journal(L"log " + std::wstring(line ? line : L""));
        Win32BootHost().DebugLog(line);
    }

private:
    // Windows takes a plain path only below 260 characters, a new folder's
    // below 248; only the long form ("\\?\C:\...") reaches further. Wine's
    // calls take any length, so the simulated machine refuses as Windows does
    // (setting the error Windows gives).
    static const size_t kNewFolderLimit = MAX_PATH - 12;
    static bool TooLong(const wchar_t* path, size_t limit = MAX_PATH) {
        if (!path || wcsncmp(path, L"\\\\?\\", 4) == 0 || wcslen(path) < limit) return false;
        SetLastError(ERROR_FILENAME_EXCED_RANGE);
        return true;
    }
    // Records a run that is not one of our USB tools and answers it from the
    // scenario: its exit code, and the state token it sets.
    static int ScenarioAnswer(const std::wstring& run) {
        int code = 0;
        std::wstring token;
        {
            Lock lock;
            if (!g_state) return -1;
            g_state->records.processRuns.push_back(run);
            code = g_state->scenario.defaultExitCode;
            for (const SimProcessAnswer& answer : g_state->scenario.processAnswers) {
                if (ContainsNoCase(run, answer.match)) {
                    code = answer.exitCode;
                    token = answer.setState;
                    break;
                }
            }
            Journal(L"run " + run + L" -> " + std::to_wstring(code));
        }
        if (!token.empty()) SetSimState(token.c_str());
        return code;
    }
    static bool Refuses(const wchar_t* path) {
        Lock lock;
        if (!g_state || !path || !path[0] || path[1] != L':') return false;
        wchar_t letter = (wchar_t)towupper(path[0]);
        return g_state->scenario.refusingLetters.count(letter) != 0;
    }
    // The real path of a path on a temporary letter; any other path as it is.
    static std::wstring Real(const wchar_t* path) {
        std::wstring p = path ? path : L"";
        // The long form of a drive path maps as the drive path does.
        if (p.compare(0, 4, L"\\\\?\\") == 0 && p.size() > 5 && p[5] == L':') {
            const std::wstring mapped = Real(p.substr(4).c_str());
            return mapped.compare(0, 2, L"\\\\") == 0 ? mapped : L"\\\\?\\" + mapped;
        }
        Lock lock;
        if (!g_state || !g_storage || p.size() < 2 || p[1] != L':') return p;
        auto it = g_storage->dosDevices.find(std::wstring(1, (wchar_t)towupper(p[0])) + L":");
        if (it == g_storage->dosDevices.end()) return p;
        int device = -1, partition = -1;
        if (swscanf(it->second.c_str(), L"\\Device\\Harddisk%d\\Partition%d", &device, &partition) != 2) return p;
        return SimPartitionFolder(g_state->scenarioPath, device, partition) + p.substr(2);
    }
};

class SimFactsQuery : public IFactsQuery {
public:
    int QueryProperty(const CString& className, const CString& property, CString& out) override {
        Lock lock;
        if (!g_state) return 0;
        auto it = g_state->scenario.properties.find(std::wstring(className) + L"." + std::wstring(property));
        if (it == g_state->scenario.properties.end()) return 0;
        out = it->second.c_str();
        return 1;
    }
    void OsDescription(CString& out) override {
        Lock lock;
        if (g_state) out = g_state->scenario.osDescription.c_str();
    }
    void LookupDisplayText(CString& out) override {
        Lock lock;
        if (g_state) out = g_state->scenario.chassisText.c_str();
    }
};

class SimFacts : public ISystemFacts {
public:
    IFactsQuery* OpenQuery() override { return new SimFactsQuery(); }
    void InstalledMemory(ULONGLONG& out, int skipKernelQuery) override {
        Lock lock;
        if (!g_state) return;
        out = skipKernelQuery ? g_state->scenario.memoryStatusBytes : g_state->scenario.installedMemoryBytes;
    }
    // The volumes with "encryption", under the volume GUID paths the
    // simulated storage gives them.
    EncryptionAnswer EncryptableVolumes(std::vector<EncryptableVolumeState>& volumes, HRESULT& failure) override {
        Lock lock;
        volumes.clear();
        failure = S_OK;
        if (!g_state) return EncryptionAnswer::kNoEncryption;
        const SimScenario& s = g_state->scenario;
        if (s.encryptionQuery == EncryptionAnswer::kNoEncryption) failure = WBEM_E_INVALID_NAMESPACE;
        if (s.encryptionQuery == EncryptionAnswer::kFailed) failure = WBEM_E_ACCESS_DENIED;
        if (s.encryptionQuery != EncryptionAnswer::kRead) return s.encryptionQuery;
        for (size_t i = 0; i < s.volumeEncryption.size(); ++i) {
            if (!s.volumeEncryption[i].known) continue;
            EncryptableVolumeState state;
            state.deviceId = FakeVolumeGuidPath(i).c_str();
            state.conversionStatus = s.volumeEncryption[i].conversion;
            state.protectionStatus = s.volumeEncryption[i].protection;
            volumes.push_back(state);
        }
        return EncryptionAnswer::kRead;
    }
};

class SimShell : public IShellCalls {
public:
    HINSTANCE Execute(HWND, LPCWSTR verb, LPCWSTR file, LPCWSTR parameters, LPCWSTR folder, int) override {
        std::wstring record = std::wstring(verb ? verb : L"") + L"|" + (file ? file : L"") + L"|" +
                              (parameters ? parameters : L"") + L"|" + (folder ? folder : L"");
        Lock lock;
        if (g_state) g_state->records.shellExecutes.push_back(record);
        Journal(L"shell " + record);
        return reinterpret_cast<HINSTANCE>((INT_PTR)42);  // "opened"
    }
    BOOL NotifyIcon(DWORD message, NOTIFYICONDATAW*) override {
        Lock lock;
        if (!g_state) return FALSE;
        switch (message) {
            case NIM_ADD:
                ++g_state->records.trayAdds;
                Journal(L"tray add");
                break;
            case NIM_DELETE:
                ++g_state->records.trayDeletes;
                Journal(L"tray delete");
                break;
            case NIM_MODIFY:
                ++g_state->records.trayModifies;
                break;
            default:
                break;
        }
        return TRUE;
    }
    HRESULT OpenWithDesktopShell(LPCWSTR address, LPCWSTR folder) override {
        std::wstring record = std::wstring(address ? address : L"") + L"|" + (folder ? folder : L"");
        Lock lock;
        if (g_state) g_state->records.desktopShellOpens.push_back(record);
        Journal(L"desktop shell " + record);
        return S_OK;
    }
    // The simulated PC has one account: it is signed in, owns the desktop
    // shell and runs the program. Its user folders are the prefix's own.
    bool SessionAccount(CString& account) override {
        account = kSimAccount;
        return true;
    }
    HANDLE OpenShellToken() override { return kSimShellToken; }
    void CloseToken(HANDLE) override {}
    bool UserFolderPath(UserFolderKind kind, HANDLE, CString& path) override {
        static const int csidl[kUserFolderKinds] = {CSIDL_DESKTOPDIRECTORY, CSIDL_PERSONAL, CSIDL_FAVORITES};
        wchar_t folder[MAX_PATH] = {};
        if (kind < 0 || kind >= kUserFolderKinds ||
            FAILED(SHGetFolderPathW(nullptr, csidl[kind], nullptr, SHGFP_TYPE_CURRENT, folder)))
            return false;
        path = folder;
        return true;
    }
    bool TokenAccount(HANDLE, CString& account) override {
        account = kSimAccount;
        return true;
    }

private:
    static constexpr const wchar_t* kSimAccount = L"KAVETTA-SIM\\用户";
    static HANDLE const kSimShellToken;
};
HANDLE const SimShell::kSimShellToken = reinterpret_cast<HANDLE>((INT_PTR)0x51A);

class SimPower : public IPowerControl {
public:
    void Wait(DWORD) override {}
    BOOL EnableShutdownPrivilege() override { return TRUE; }
    BOOL RequestRestart() override {
        Lock lock;
        if (g_state) ++g_state->records.reboots;
        Journal(L"reboot");
        const SimRestartAnswer answer = m_answer.load();
        if (answer == SimRestartAnswer::kRefused) return FALSE;
        // The simulated session ends (or its end is cancelled) at once, as
        // a real restart would end the program.
        PostSessionEnd(answer == SimRestartAnswer::kEnds);
        return TRUE;
    }
    // The session end's block reason, journalled; Windows takes it only
    // from the thread that made the window.
    BOOL CreateShutdownBlockReason(HWND window, const wchar_t* reason) override {
        if (GetWindowThreadProcessId(window, nullptr) != GetCurrentThreadId()) {
            SetLastError(ERROR_ACCESS_DENIED);
            return FALSE;
        }
        Journal(std::wstring(L"session block ") + reason);
        return TRUE;
    }
    BOOL DestroyShutdownBlockReason(HWND window) override {
        if (GetWindowThreadProcessId(window, nullptr) != GetCurrentThreadId()) {
            SetLastError(ERROR_ACCESS_DENIED);
            return FALSE;
        }
        Journal(L"session unblock");
        return TRUE;
    }
    // Set by the test's thread, read by whichever thread asks for the restart.
    std::atomic<SimRestartAnswer> m_answer{SimRestartAnswer::kEnds};
};

SimBootHost g_bootHost;
SimFacts g_facts;
SimShell g_shell;
SimPower g_power;

void PutWin32Back() {
    SetStorageCalls(nullptr);
    SetBootHost(nullptr);
    SetFolderRule(nullptr);
    SetSystemFacts(nullptr);
    SetShellCalls(nullptr);
    SetPowerControl(nullptr);
}

// An application object made before the fakes went in holds an inventory
// bound to the calls of that time, and the built-in configuration mirror.
void RenewInventory() {
    CTarvelApp* app = GetTarvelApp();
    if (!app) return;
    delete app->m_diskInventory;
    app->m_diskInventory = new CDiskInventory;
}

void UseScenarioMirror(const std::wstring& url) {
    CTarvelApp* app = GetTarvelApp();
    if (!app || url.empty()) return;
    app->m_mirrorUrls.RemoveAll();
    app->m_mirrorUrls.Add(CString(url.c_str()));
}

}  // namespace

bool LoadSimScenario(const wchar_t* scenarioPath, CString* error) {
    SimScenario scenario;
    std::wstring problem;
    if (!scenarioPath || !ReadSimScenario(scenarioPath, scenario, problem)) {
        if (error) *error = problem.empty() ? L"no scenario file named" : problem.c_str();
        return false;
    }
    const std::wstring mirror = scenario.mirrorUrl;
    auto* storage = new SimStorage;
    storage->disks = scenario.disks;
    storage->volumes = scenario.volumes;
    storage->SetSystemPartition(scenario.systemDevice, scenario.systemPartition);
    storage->otherDrives = scenario.otherDrives;
    // The simulated Windows is 64-bit or 32-bit as the scenario says, else
    // as the Windows it runs on; on 64-bit Windows its files are redirected.
    const BOOL hostIs64 = DetectWow64(FixedText::kWow64QueryModule, FixedText::kWow64QueryFunction);
    const bool is64 = scenario.windowsBits ? scenario.windowsBits == 64 : hostIs64 != FALSE;
    storage->wow64 = is64;
    {
        Lock lock;
        PutWin32Back();
        delete g_state;
        g_state = new SimState;
        g_state->scenario = std::move(scenario);
        g_state->scenarioPath = scenarioPath;
        delete g_storage;  // nothing uses it once the Win32 calls are back
        g_storage = storage;
        SetStorageCalls(g_storage);
        SetBootHost(&g_bootHost);
        SetFolderRule(&g_bootHost);
        SetSystemFacts(&g_facts);
        SetShellCalls(&g_shell);
        SetPowerControl(&g_power);
    }
    RenewInventory();
    UseScenarioMirror(mirror);
    // The program's own 64-bit flag is the simulated Windows'.
    if (CTarvelApp* app = GetTarvelApp()) app->m_is64BitSystem = is64 ? 1 : 0;
    Journal(L"start " + std::wstring(scenarioPath));
    // Host-side scripts close the program by this number (taskkill /pid).
    Journal(L"process " + std::to_wstring(GetCurrentProcessId()));
    return true;
}

bool LoadSimScenarioFromEnvironment(CString* error) {
    wchar_t path[MAX_PATH * 2] = {};
    DWORD n = GetEnvironmentVariableW(kSimScenarioVariable, path, MAX_PATH * 2);
    if (n == 0 || n >= MAX_PATH * 2) {
        if (error) *error = CString(kSimScenarioVariable) + L" does not name a scenario file";
        return false;
    }
    return LoadSimScenario(path, error);
}

void UnloadSimScenario() {
    Lock lock;
    PutWin32Back();
    RenewInventory();
    if (CTarvelApp* app = GetTarvelApp())
        app->m_is64BitSystem = DetectWow64(FixedText::kWow64QueryModule, FixedText::kWow64QueryFunction);
    delete g_state;
    g_state = nullptr;
    delete g_storage;
    g_storage = nullptr;
}

SimRecords GetSimRecords() {
    Lock lock;
    return g_state ? g_state->records : SimRecords();
}

void ResetSimRecords() {
    Lock lock;
    if (g_state) g_state->records = SimRecords();
    g_power.m_answer = SimRestartAnswer::kEnds;
}

void SetSimRestartAnswer(SimRestartAnswer answer) { g_power.m_answer = answer; }

std::wstring SimFileBeside(const std::wstring& scenarioPath, const wchar_t* name) {
    size_t cut = scenarioPath.find_last_of(L"\\/");
    std::wstring folder = cut == std::wstring::npos ? std::wstring() : scenarioPath.substr(0, cut + 1);
    return folder + name;
}

std::wstring SimPartitionFolder(const std::wstring& scenarioPath, int device, int partition) {
    return SimFileBeside(scenarioPath, L"drives\\part-") + std::to_wstring(device) + L"-" + std::to_wstring(partition);
}

std::wstring SimJournalPath() {
    Lock lock;
    return g_state ? SimFileBeside(g_state->scenarioPath, kSimJournalName) : std::wstring();
}

std::wstring SimStatePath() {
    Lock lock;
    return g_state ? SimFileBeside(g_state->scenarioPath, kSimStateName) : std::wstring();
}

std::wstring SimToolLogPath() {
    Lock lock;
    return g_state ? SimFileBeside(g_state->scenarioPath, kSimToolLogName) : std::wstring();
}

void SetSimState(const wchar_t* token) {
    AppendLine(SimStatePath(), token);
    Journal(L"state " + std::wstring(token));
}
