// Our USB tools, run in-process against the simulated machine: the commands
// each accepts, what reaches the machine, and what each refuses.
#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <string>
#include <vector>

#include "core/fixed_texts.h"
#include "support/fake_machine.h"
#include "disk/tool_files.h"
#include "disk/usb_test_support.h"
#include "support/test_files.h"
#include "tools/boot_entry_tool.h"
#include "tools/usb_tools.h"

namespace {

std::string Text(const wchar_t* text) { return Utf16ToUtf8(CString(text)).GetString(); }

struct ToolRun {
    int code;
    CString message;
};

ToolRun RunTool(ToolFunction tool, FakeMachine& m, const ToolContext& context, const std::vector<std::wstring>& args) {
    std::vector<std::wstring> storage = {L"tool.exe"};
    storage.insert(storage.end(), args.begin(), args.end());
    std::vector<wchar_t*> argv;
    for (auto& a : storage) argv.push_back(&a[0]);
    ToolRun run;
    run.code = tool((int)argv.size(), argv.data(), m, m, context, run.message);
    return run;
}

class UsbTools : public ::testing::Test {
protected:
    void SetUp() override {
        m = FakeMachine();
        BuildUsbMachine(m, 3);
        m.usbTools.active = false;
        m.AddFolder(L"C:\\Work");
        context.protectedPaths = {L"C:\\Windows", L"D:\\Data", L"C:\\Work\\kavetta.exe"};
        context.toolFolder = L"C:\\Work";
        context.scriptFolder = L"C:\\Work";
        context.diskpartPath = L"C:\\Windows\\System32\\diskpart.exe";
        context.formatPath = L"C:\\Windows\\System32\\format.com";
        // The stick the parent confirmed, as it hands it down.
        context.identity.interfacePath = UsbStickPath(3).c_str();
    }
    // The stick as the clearing leaves it: an empty MBR table, no volume.
    void ClearStick() {
        m.disks[2].partitions.clear();
        m.volumes[2].present = false;
    }
    // The formatter's one run, on the volume of index `volume`.
    void ExpectOneFormatRun(size_t volume, const std::wstring& switches) const {
        EXPECT_EQ((std::vector<std::wstring>{L"C:\\Windows\\System32\\format.com|" + FakeVolumeGuidPath(volume) +
                                             L" " + switches}),
                  m.reads);
    }
    // The script path the last diskpart run was given ("/s \"<path>\"").
    std::wstring ScriptPath() const {
        if (m.runs.empty()) return std::wstring();
        const std::wstring& run = m.runs.back();
        size_t open = run.find(L"|/s \""), close = run.rfind(L'"');
        return open == std::wstring::npos || close <= open + 5 ? std::wstring() : run.substr(open + 5, close - open - 5);
    }
    std::string Script() const {
        auto it = m.textFiles.find(FakeMachine::Upper(ScriptPath()));
        return it == m.textFiles.end() ? std::string() : it->second;
    }
    // The one run of diskpart from its system path, on a script in the work folder.
    void ExpectOneDiskpartRun() const {
        ASSERT_EQ(1u, m.runs.size());
        EXPECT_EQ(0u, m.runs[0].find(L"C:\\Windows\\System32\\diskpart.exe|/s \"C:\\Work\\kvtdiskpart-"))
            << Utf16ToUtf8(m.runs[0].c_str()).GetString();
    }
    // The bytes of a record file: sectors with the boot signature and the loader's name.
    std::string Record(DWORD sectors, bool signature = true, const char* name = "GRLDR") {
        std::string r(sectors * 512, '\0');
        r.replace(0, 6, "RECORD");
        if (signature) {
            r[510] = (char)0x55;
            r[511] = (char)0xAA;
        }
        if (sectors > 1) r.replace(512 + 16, strlen(name), name);
        return r;
    }
    void PutRecord(const std::string& bytes, bool standIn = false) {
        m.AddFile(L"C:\\Work\\kvtgrldr.mbr", bytes.size(), standIn);
        auto& f = m.files[FakeMachine::Upper(L"C:\\Work\\kvtgrldr.mbr")];
        f.content = bytes;
    }
    FakeMachine m;
    ToolContext context;
};

// The partitioning commands lay the partition out through the handle of
// the disk identified, wait for its volume, format that by its volume GUID
// path and give it a letter: no diskpart, no disk number.
TEST_F(UsbTools, PartitioningCommandsLayOutAndFormatThroughTheHeldDisk) {
    // The stick: 1000 x 255 x 63 sectors of 512 bytes = 7844 MiB (and a bit).
    const LONGLONG kMiB = 1LL << 20;
    // The first free letters: E, then F (the stick's old volume went with the clearing).
    ClearStick();
    struct Case {
        std::vector<std::wstring> args;
        LONGLONG start, length;
        BYTE type;
        const wchar_t* switches;
        const wchar_t* root;
    } cases[] = {
        {{L"4", L"/cre", L"/pri", L"/sz:850", L"/for", L"/align:1MB", L"/q", L"/v:EFI", L"/END", L"/y"},
         (7844 - 1 - 850) * kMiB, 850 * kMiB, 0x0C, L"/FS:FAT32 /Q /V:EFI /Y", L"E:\\"},
        {{L"4", L"/cre", L"/pri", L"/for", L"/NTFS", L"/align:1MB", L"/q", L"/v:DATA", L"/y"},
         kMiB, (7844 - 1 - 850 - 1) * kMiB, 0x07, L"/FS:NTFS /Q /V:DATA /Y", L"F:\\"},
    };
    size_t made = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(Text(c.switches));
        m.log.clear();
        m.reads.clear();
        ToolRun run = RunTool(RunPartitionTool, m, context, c.args);
        ASSERT_EQ(0, run.code) << Utf16ToUtf8(run.message).GetString();
        EXPECT_TRUE(m.runs.empty()) << "no diskpart";
        ASSERT_EQ(++made, m.disks[2].partitions.size());
        const FakePartition& p = m.disks[2].partitions.back();
        EXPECT_EQ(c.start, p.startBytes);
        EXPECT_EQ(c.length, p.lengthBytes);
        EXPECT_EQ(c.type, p.mbrType);
        EXPECT_EQ((int)made, p.number) << "the next slot, as diskpart numbers it";
        const size_t volume = m.volumes.size() - 1;
        ExpectOneFormatRun(volume, c.switches);
        EXPECT_EQ((std::vector<std::wstring>{L"layout 3 " + std::wstring(made == 2 ? L"1" : L"") + L"+" +
                                                 std::to_wstring(made),
                                             L"read " + FakeVolumeGuidPath(volume) + L" " + c.switches,
                                             L"mount " + std::wstring(c.root) + L" " + FakeVolumeGuidPath(volume)}),
                  m.log);
        EXPECT_EQ(c.root[0], m.volumes[volume].letter);
        EXPECT_EQ(0, m.openHandles);
    }
}

// The volume of a new partition that arrives late, within the bound, is
// formatted; one that never arrives stops the tool with its reason, and
// nothing is formatted or given a letter.
TEST_F(UsbTools, ANewVolumeIsFormattedOnceItArrivesAndNeverWithout) {
    struct Case {
        const char* name;
        int waits;
        int code;
    } cases[] = {
        {"at once", 0, 0},
        {"late, within the bound", 7, 0},
        {"never", -1, kToolExitFailed},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        SetUp();
        ClearStick();
        m.newVolumeWaits = c.waits;
        const size_t volumesBefore = m.volumes.size();
        ToolRun run = RunTool(RunPartitionTool, m, context,
                              {L"4", L"/cre", L"/pri", L"/sz:850", L"/for", L"/align:1MB", L"/q", L"/v:EFI", L"/END", L"/y"});
        EXPECT_EQ(c.code, run.code) << Utf16ToUtf8(run.message).GetString();
        EXPECT_TRUE(m.runs.empty()) << "no diskpart";
        ASSERT_EQ(volumesBefore + 1, m.volumes.size());
        if (c.code == 0) {
            ExpectOneFormatRun(volumesBefore, L"/FS:FAT32 /Q /V:EFI /Y");
            EXPECT_EQ(L'E', m.volumes.back().letter);
            EXPECT_EQ((DWORD)c.waits * kNewVolumeWaitSliceMs, m.waitedMs);
        } else {
            EXPECT_EQ(CString(FixedText::kToolNewVolumeMissing), run.message);
            EXPECT_TRUE(m.reads.empty()) << "nothing formatted";
            EXPECT_EQ(0, m.volumes.back().letter);
            EXPECT_EQ((DWORD)(kNewVolumeWaitSlices - 1) * kNewVolumeWaitSliceMs, m.waitedMs) << "the bound";
            for (const std::wstring& line : m.log) EXPECT_EQ(std::wstring::npos, line.find(L"mount"));
        }
        EXPECT_EQ(0, m.openHandles);
    }
}

TEST_F(UsbTools, TheDiskToolWithoutAFormatterClearsNothing) {
    context.formatPath.Empty();
    ToolRun run = RunTool(RunDiskTool, m, context, {L"3", L"/restore"});
    EXPECT_EQ(kToolExitFailed, run.code);
    EXPECT_TRUE(m.runs.empty());
    EXPECT_TRUE(m.reads.empty());
    EXPECT_TRUE(m.log.empty()) << "the disk is not cleared either";
    EXPECT_EQ(1u, m.disks[2].partitions.size());
}

// The boot-sector tool uses a layout answer only when it holds all it claims.
TEST_F(UsbTools, TheBootSectorToolRefusesLayoutAnswersThatFallShort) {
    struct Case {
        const char* name;
        std::function<void(FakeDisk&)> arrange;
    } cases[] = {
        {"the layout cannot be read", [](FakeDisk& d) { d.layout = FakeLayout::Fails; }},
        {"the answer stops inside the header", [](FakeDisk& d) { d.layoutShortAnswer = true; }},
        {"the count claims entries the answer does not hold", [](FakeDisk& d) { d.extraPartitionCount = 1; }},
    };
    const std::vector<std::wstring> commands[] = {
        {L"/device=3", L"/partitions", L"/firstpart=0", L"/quiet"},
        {L"/device=3", L"/mbr", L"/install", L"/type=GRUB4DOS", L"/boot_file=waldr", L"/quiet"},
    };
    for (const Case& c : cases) {
        for (const auto& command : commands) {
            SCOPED_TRACE(std::string(c.name) + (command[1] == L"/mbr" ? ": record" : ": order"));
            SetUp();
            PutRecord(Record(2));
            c.arrange(m.disks[2]);
            ToolRun run = RunTool(RunBootSectorTool, m, context, command);
            EXPECT_EQ(kToolExitFailed, run.code);
            EXPECT_NE(-1, run.message.Find(L"IOCTL_DISK_GET_DRIVE_LAYOUT_EX")) << Utf16ToUtf8(run.message).GetString();
            EXPECT_TRUE(m.writtenSectors.empty());
            EXPECT_TRUE(m.log.empty()) << "no layout written";
        }
    }
}

TEST_F(UsbTools, TheFormattersOwnResultIsTheToolsResult) {
    ClearStick();
    m.readCode = 5;
    ToolRun run = RunTool(RunPartitionTool, m, context, {L"4", L"/cre", L"/pri", L"/for", L"/NTFS", L"/align:1MB", L"/q", L"/v:DATA", L"/y"});
    EXPECT_EQ(5, run.code);
    EXPECT_NE(-1, run.message.Find(L"5"));
}

TEST_F(UsbTools, CommandLinesTheToolsDoNotKnowAreRefusedBeforeTheDisk) {
    struct Case {
        ToolFunction tool;
        std::vector<std::wstring> args;
    } cases[] = {
        {RunPartitionTool, {}},
        {RunPartitionTool, {L"0", L"/del", L"/all", L"/y"}},
        {RunPartitionTool, {L"x4", L"/del", L"/all", L"/y"}},
        {RunPartitionTool, {L"4", L"/del", L"/y"}},
        {RunPartitionTool, {L"4", L"/format"}},
        {RunPartitionTool, {L"4", L"/cre", L"/pri", L"/sz:abc"}},
        {RunPartitionTool, {L"4", L"/cre", L"/sz:100"}},
        {RunPartitionTool, {L"4", L"/cre", L"/pri", L"/END"}},
        {RunPartitionTool, {L"4", L"/cre", L"/pri", L"/align:4KB"}},
        {RunPartitionTool, {L"4", L"/cre", L"/pri", L"/for", L"/v:A&B"}},
        {RunPartitionTool, {L"4", L"/act", L"/p:0"}},
        {RunPrepareTool, {L"3"}},
        {RunPrepareTool, {L"3", L"/dismount", L"/y"}},
        {RunBootSectorTool, {L"/device=3", L"/partitions", L"/firstpart=0"}},
        {RunBootSectorTool, {L"/device=3", L"/mbr", L"/install", L"/type=NT60", L"/boot_file=waldr", L"/quiet"}},
        {RunBootSectorTool, {L"/device=3", L"/mbr", L"/partitions", L"/quiet"}},
        {RunBootSectorTool, {L"/device=x", L"/partitions", L"/firstpart=0", L"/quiet"}},
        {RunDiskTool, {L"3"}},
        {RunDiskTool, {L"3", L"/erase"}},
    };
    for (const Case& c : cases) {
        m.runs.clear();
        m.log.clear();
        ToolRun run = RunTool(c.tool, m, context, c.args);
        EXPECT_EQ(kToolExitUsage, run.code);
        EXPECT_TRUE(m.runs.empty());
        EXPECT_TRUE(m.log.empty());
    }
}

// Every tool, every refusal: non-zero, and nothing reached the machine.
TEST_F(UsbTools, RefusalTable) {
    struct Tool {
        const char* name;
        ToolFunction run;
        std::function<std::vector<std::wstring>(int device)> args;
    } tools[] = {
        {"prepare", RunPrepareTool, [](int d) { return std::vector<std::wstring>{std::to_wstring(d), L"/dismount"}; }},
        {"partition", RunPartitionTool,
         [](int d) { return std::vector<std::wstring>{std::to_wstring(d + 1), L"/del", L"/all", L"/y"}; }},
        {"order", RunBootSectorTool,
         [](int d) {
             return std::vector<std::wstring>{L"/device=" + std::to_wstring(d), L"/partitions", L"/firstpart=0",
                                              L"/quiet"};
         }},
        {"record", RunBootSectorTool,
         [](int d) {
             return std::vector<std::wstring>{L"/device=" + std::to_wstring(d), L"/mbr", L"/install",
                                              L"/type=GRUB4DOS", L"/boot_file=waldr", L"/quiet"};
         }},
        {"disk", RunDiskTool, [](int d) { return std::vector<std::wstring>{std::to_wstring(d), L"/restore"}; }},
    };
    struct Refusal {
        const char* name;
        int device;
        std::function<void(ToolContext&, FakeMachine&)> arrange;
    } refusals[] = {
        {"no disk has the number", 9, [](ToolContext&, FakeMachine&) {}},
        {"a SATA disk", 0, [](ToolContext&, FakeMachine&) {}},
        {"the Windows volume is on it", 3, [](ToolContext& c, FakeMachine&) { c.protectedPaths.push_back(L"f:\\WINDOWS"); }},
        {"the program's drive is on it", 3,
         [](ToolContext& c, FakeMachine&) { c.protectedPaths.push_back(L"F:\\Kavetta\\kavetta.exe"); }},
        {"the data folder is on it", 3,
         [](ToolContext& c, FakeMachine&) { c.protectedPaths.push_back(L"f:\\KavettaData"); }},
        {"the data folder's volume cannot be queried", 3,
         [](ToolContext& c, FakeMachine& m) {
             FakeVolume g = m.volumes[2];
             g.letter = L'G';
             g.partition = 2;
             g.answersNumber = false;
             m.volumes.push_back(g);
             c.protectedPaths.push_back(L"G:\\KavettaData");
         }},
        {"the program's volume cannot be opened", 3,
         [](ToolContext& c, FakeMachine& m) {
             m.volumes[0].openFails = true;
             c.protectedPaths.push_back(L"C:\\Kavetta\\kavetta.exe");
         }},
        {"the data folder's drive is not there", 3,
         [](ToolContext& c, FakeMachine&) { c.protectedPaths.push_back(L"K:\\KavettaData"); }},
        {"a removable disk on another bus", 3,
         [](ToolContext& c, FakeMachine& m) {
             m.disks[2].bus = BusTypeSd;
             m.disks[2].path = L"\\\\?\\sd#disk&ven_card#3&0";
             c.identity.interfacePath = m.disks[2].path.c_str();
         }},
        {"no identity was handed down", 3, [](ToolContext& c, FakeMachine&) { c.identity = UsbDiskIdentity(); }},
        {"the number is another USB disk's", 3,
         [](ToolContext& c, FakeMachine&) { c.identity.interfacePath = L"\\\\?\\usbstor#disk&ven_other#4&0"; }},
        {"the stick answers another serial number", 3,
         [](ToolContext& c, FakeMachine& m) {
             m.disks[2].serial = "AA01";
             c.identity.serial = L"AA02";
         }},
    };
    PutRecord(Record(2));
    for (const Tool& tool : tools) {
        for (const Refusal& refusal : refusals) {
            SCOPED_TRACE(std::string(tool.name) + ": " + refusal.name);
            SetUp();
            PutRecord(Record(2));
            refusal.arrange(context, m);
            const auto partitionsBefore = m.disks[2].partitions.size();
            const auto volumesBefore = m.volumes.size();
            ToolRun run = RunTool(tool.run, m, context, tool.args(refusal.device));
            EXPECT_EQ(kToolExitRefused, run.code);
            EXPECT_FALSE(run.message.IsEmpty());
            EXPECT_TRUE(m.runs.empty());
            EXPECT_TRUE(m.log.empty()) << (m.log.empty() ? "" : Utf16ToUtf8(m.log[0].c_str()).GetString());
            EXPECT_TRUE(m.writtenSectors.empty());
            EXPECT_EQ(partitionsBefore, m.disks[2].partitions.size());
            EXPECT_EQ(volumesBefore, m.volumes.size());
        }
    }
}

// The clearing runs no diskpart: through the handle of the disk identified,
// its volumes locked and dismounted (and held until it is done), the old
// table removed and a new empty MBR table made.
TEST_F(UsbTools, TheClearingGoesThroughTheHandleOfTheDiskIdentified) {
    ToolRun run = RunTool(RunPartitionTool, m, context, {L"4", L"/del", L"/all", L"/y"});
    ASSERT_EQ(0, run.code) << Utf16ToUtf8(run.message).GetString();
    EXPECT_TRUE(m.runs.empty()) << "no diskpart";
    EXPECT_EQ((std::vector<std::wstring>{L"lock F:", L"dismount F:", L"delete layout " + UsbStickPath(3),
                                         L"create disk " + UsbStickPath(3), L"layout 3 "}),
              m.log);
    EXPECT_TRUE(m.disks[2].partitions.empty());
    EXPECT_TRUE(m.disks[2].layout == FakeLayout::Mbr);
    EXPECT_NE(0u, m.disks[2].signature) << "a new signature";
    EXPECT_FALSE(m.volumes[2].present) << "the stick's volume went with its table";
    EXPECT_EQ(1u, m.disks[0].partitions.size());
    EXPECT_EQ(1u, m.disks[1].partitions.size());
    EXPECT_EQ(0, m.openHandles) << "every handle closed again";
}

// The active flag is set through the handle too: partition 1 becomes the
// only active one, the table otherwise as it was; a partition the disk does
// not have changes nothing.
TEST_F(UsbTools, TheActiveFlagIsSetThroughTheHandleOfTheDiskIdentified) {
    FakePartition efi, data;
    efi.number = 1;
    efi.mbrType = 0x0C;
    efi.startBytes = 7000LL << 20;
    efi.lengthBytes = 800LL << 20;
    data.number = 2;
    data.active = true;
    data.startBytes = 1LL << 20;
    data.lengthBytes = 6000LL << 20;
    m.disks[2].partitions = {efi, data};
    ToolRun run = RunTool(RunPartitionTool, m, context, {L"4", L"/act", L"/p:1"});
    ASSERT_EQ(0, run.code) << Utf16ToUtf8(run.message).GetString();
    EXPECT_TRUE(m.runs.empty()) << "no diskpart";
    EXPECT_EQ(std::vector<std::wstring>{L"layout 3 12"}, m.log);
    ASSERT_EQ(2u, m.disks[2].partitions.size());
    EXPECT_TRUE(m.disks[2].partitions[0].active);
    EXPECT_EQ(7000LL << 20, m.disks[2].partitions[0].startBytes);
    EXPECT_FALSE(m.disks[2].partitions[1].active);
    m.log.clear();
    run = RunTool(RunPartitionTool, m, context, {L"4", L"/act", L"/p:3"});
    EXPECT_EQ(kToolExitFailed, run.code);
    EXPECT_TRUE(m.log.empty());
    EXPECT_TRUE(m.disks[2].partitions[0].active);
}

// A disk layer that gives the stick's number to another USB stick (and the
// stick another number) after a set number of calls, as when the stick is
// pulled and another is plugged in between two calls. It records every
// write, every lock and dismount and every diskpart run that reached the
// other stick.
class RenumberingMachine : public FakeMachine {
public:
    int calls = 0;
    int swapAfter = -1;  // the call after which the numbers change; -1 never
    std::vector<std::wstring> harm;

    HANDLE OpenDevice(const wchar_t* path) override {
        Tick();
        HANDLE h = FakeMachine::OpenDevice(path);
        if (h != INVALID_HANDLE_VALUE) m_paths[h] = path;
        return h;
    }
    void CloseDevice(HANDLE device) override {
        m_paths.erase(device);
        FakeMachine::CloseDevice(device);
    }
    int EnumerateDiskInterfaces(CString* paths, int maxPaths) override {
        Tick();
        return FakeMachine::EnumerateDiskInterfaces(paths, maxPaths);
    }
    BOOL EnumerateVolumeGuidPaths(std::vector<CString>& paths) override {
        Tick();
        return FakeMachine::EnumerateVolumeGuidPaths(paths);
    }
    DWORD LogicalDriveStrings(DWORD length, wchar_t* buffer) override {
        Tick();
        return FakeMachine::LogicalDriveStrings(length, buffer);
    }
    UINT DriveType(const wchar_t* root) override {
        Tick();
        return FakeMachine::DriveType(root);
    }
    BOOL IoControl(HANDLE device, DWORD code, const void* in, DWORD inSize, void* out, DWORD outSize,
                   DWORD* returned) override {
        Tick();
        const std::wstring path = m_paths.count(device) ? m_paths[device] : std::wstring();
        const bool changes = code == IOCTL_DISK_SET_DRIVE_LAYOUT_EX || code == IOCTL_DISK_CREATE_DISK ||
                             code == IOCTL_DISK_DELETE_DRIVE_LAYOUT || code == FSCTL_LOCK_VOLUME ||
                             code == FSCTL_DISMOUNT_VOLUME;
        if (changes && (path == kOther || Upper(path) == L"\\\\.\\G:"))
            harm.push_back(L"ioctl " + std::to_wstring(code) + L" on " + path);
        return FakeMachine::IoControl(device, code, in, inSize, out, outSize, returned);
    }
    BOOL ReadDevice(HANDLE device, LONGLONG offset, void* buffer, DWORD size) override {
        Tick();
        return FakeMachine::ReadDevice(device, offset, buffer, size);
    }
    BOOL WriteDevice(HANDLE device, LONGLONG offset, const void* buffer, DWORD size) override {
        Tick();
        if (m_paths.count(device) && m_paths[device] == kOther) harm.push_back(L"write on the other stick");
        return FakeMachine::WriteDevice(device, offset, buffer, size);
    }
    // diskpart selects its disk by number: at the moment it runs, that number
    // must be the stick's.
    int RunProcessAndWait(const wchar_t* program, const wchar_t* arguments) override {
        std::wstring args = arguments;
        size_t open = args.find(L'"'), close = args.rfind(L'"');
        auto script = textFiles.find(Upper(open < close ? args.substr(open + 1, close - open - 1) : std::wstring()));
        int selected = -1;
        if (script != textFiles.end()) sscanf(script->second.c_str(), "select disk %d", &selected);
        FakeDisk* disk = DiskByDevice(selected);
        if (!disk || disk->path != UsbStickPath(3)) harm.push_back(L"diskpart on disk " + std::to_wstring(selected));
        return FakeMachine::RunProcessAndWait(program, arguments);
    }
    // The formatter and the letters go by volume GUID path: never the other stick's (volume G, index 3).
    int RunProcessAndRead(const wchar_t* program, const wchar_t* arguments, std::string& output) override {
        Tick();
        if (std::wstring(arguments).find(FakeVolumeGuidPath(3)) != std::wstring::npos)
            harm.push_back(L"format of the other stick's volume");
        return FakeMachine::RunProcessAndRead(program, arguments, output);
    }
    BOOL MountVolume(const wchar_t* root, const wchar_t* guidPath) override {
        Tick();
        if (FakeVolumeGuidPath(3) == guidPath) harm.push_back(L"letter for the other stick's volume");
        return FakeMachine::MountVolume(root, guidPath);
    }
    static constexpr const wchar_t* kOther = L"\\\\?\\usbstor#disk&ven_other#4&0";

private:
    void Tick() {
        if (++calls != swapAfter) return;
        for (FakeDisk& d : disks) d.device = d.device == 3 ? 4 : d.device == 4 ? 3 : d.device;
        for (FakeVolume& v : volumes) v.device = v.device == 3 ? 4 : v.device == 4 ? 3 : v.device;
        // What was written stays on the disk it was written to.
        std::swap(writtenSectors[3], writtenSectors[4]);
    }
    std::map<HANDLE, std::wstring> m_paths;
};

// The USB machine with a second stick (device 4, its volume G) beside the
// stick (device 3, its volume F), its partition where the stick has its own.
void BuildTwoSticks(RenumberingMachine& r) {
    BuildUsbMachine(r, 3);
    FakeDisk other = r.disks[2];
    other.path = RenumberingMachine::kOther;
    other.device = 4;
    r.disks.push_back(other);
    FakeVolume g = r.volumes[2];
    g.letter = L'G';
    g.device = 4;
    r.volumes.push_back(g);
}

// Whenever the numbers change, between any two calls of a tool's run, no
// tool writes, locks, dismounts or runs diskpart on the other stick: it
// works on the disk it was told, or it stops with its reason.
TEST_F(UsbTools, ADiskRenumberedBetweenAnyTwoCallsIsNeverTheOneWritten) {
    struct Command {
        const char* name;
        ToolFunction tool;
        std::vector<std::wstring> args;
        bool cleared;  // the stick as the clearing left it
    } commands[] = {
        {"prepare", RunPrepareTool, {L"3", L"/dismount"}, false},
        {"clear", RunPartitionTool, {L"4", L"/del", L"/all", L"/y"}, false},
        {"create the EFI partition", RunPartitionTool,
         {L"4", L"/cre", L"/pri", L"/sz:850", L"/for", L"/align:1MB", L"/q", L"/v:EFI", L"/END", L"/y"}, true},
        {"create the data partition", RunPartitionTool,
         {L"4", L"/cre", L"/pri", L"/for", L"/NTFS", L"/align:1MB", L"/q", L"/v:DATA", L"/y"}, true},
        {"activate", RunPartitionTool, {L"4", L"/act", L"/p:1"}, false},
        {"order", RunBootSectorTool, {L"/device=3", L"/partitions", L"/firstpart=0", L"/quiet"}, false},
        {"boot record", RunBootSectorTool,
         {L"/device=3", L"/mbr", L"/install", L"/type=GRUB4DOS", L"/boot_file=waldr", L"/quiet"}, false},
        {"restore", RunDiskTool, {L"3", L"/restore"}, false},
    };
    for (const Command& command : commands) {
        SCOPED_TRACE(command.name);
        int callsOfARun = 0;
        for (int swapAfter = -1; swapAfter <= callsOfARun + 1; ++swapAfter) {
            SCOPED_TRACE(swapAfter);
            RenumberingMachine r;
            BuildTwoSticks(r);
            r.usbTools.active = false;
            r.AddFolder(L"C:\\Work");
            r.AddFile(L"C:\\Work\\kvtgrldr.mbr", 1024);
            r.files[FakeMachine::Upper(L"C:\\Work\\kvtgrldr.mbr")].content = UsbBootRecordBytes();
            if (command.cleared) {
                r.disks[2].partitions.clear();
                r.volumes[2].present = false;
            }
            // Its new volume arrives only after the tool has waited for it.
            r.newVolumeWaits = 2;
            r.swapAfter = swapAfter;
            ToolRun run = RunTool(command.tool, r, context, command.args);
            if (swapAfter == -1) {
                // Undisturbed: the work is done, and its calls are counted.
                EXPECT_EQ(0, run.code) << Utf16ToUtf8(run.message).GetString();
                callsOfARun = r.calls;
            }
            for (const std::wstring& h : r.harm) ADD_FAILURE() << Utf16ToUtf8(h.c_str()).GetString();
            EXPECT_TRUE(r.runs.empty()) << "no diskpart, which would name the disk by its number";
            EXPECT_EQ(1u, r.disks[3].partitions.size()) << "the other stick keeps its partition";
            EXPECT_TRUE(r.volumes[3].present);
            if (run.code != 0) {
                EXPECT_EQ(kToolExitRefused, run.code) << Utf16ToUtf8(run.message).GetString();
                EXPECT_FALSE(run.message.IsEmpty());
            }
        }
        EXPECT_GT(callsOfARun, 5);
    }
}

// The volume of a new partition arrives some time after its layout: it is
// awaited, with a bound, and only the one on the held disk at the
// partition's offset is taken.
TEST_F(UsbTools, TheVolumeOfANewPartitionIsAwaitedWithABound) {
    const LONGLONG kAt = 1LL << 20;  // where the stick's partition (and its volume F) lies
    struct Case {
        const char* name;
        int arrivesAfterWaits;  // of the stick's volume; -1: it never arrives
        LONGLONG offset;        // asked for
        bool onOtherDisk;       // the volume at the offset is another disk's
        bool found;
        DWORD waitedMs;
    } cases[] = {
        {"there at once", 0, kAt, false, true, 0},
        {"arrives late, within the bound", 3, kAt, false, true, 3 * kNewVolumeWaitSliceMs},
        {"arrives just within the bound", kNewVolumeWaitSlices - 1, kAt, false, true,
         (kNewVolumeWaitSlices - 1) * kNewVolumeWaitSliceMs},
        {"arrives past the bound", kNewVolumeWaitSlices, kAt, false, false,
         (kNewVolumeWaitSlices - 1) * kNewVolumeWaitSliceMs},
        {"never arrives", -1, kAt, false, false, (kNewVolumeWaitSlices - 1) * kNewVolumeWaitSliceMs},
        {"another offset", 0, 2 * kAt, false, false, (kNewVolumeWaitSlices - 1) * kNewVolumeWaitSliceMs},
        {"the same offset on another disk", 0, kAt, true, false, (kNewVolumeWaitSlices - 1) * kNewVolumeWaitSliceMs},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        SetUp();
        FakeVolume& f = m.volumes[2];
        ASSERT_EQ(3, f.device);
        ASSERT_EQ(kAt, m.disks[2].partitions[0].startBytes);
        ASSERT_EQ(kAt, m.disks[1].partitions[0].startBytes);
        f.present = c.arrivesAfterWaits >= 0;
        f.hiddenWaits = c.arrivesAfterWaits;
        // The SATA disks' volumes C and D lie at that offset of their disks.
        if (c.onOtherDisk) f.present = false;
        HANDLE disk = m.OpenDevice(context.identity.interfacePath);
        ASSERT_NE(INVALID_HANDLE_VALUE, disk);
        CString path = WaitForPartitionVolume(m, m, disk, c.offset);
        m.CloseDevice(disk);
        EXPECT_EQ(c.found ? Text(FakeVolumeGuidPath(2).c_str()) : std::string(), Text(path));
        EXPECT_EQ(c.waitedMs, m.waitedMs);
        EXPECT_EQ(0, m.openHandles);
    }
}

// Whenever the numbers change while the volume is awaited, the other
// stick's volume at the same offset is never taken for the stick's.
TEST_F(UsbTools, TheVolumeAwaitedIsNeverADiskRenumberedMeanwhile) {
    int callsOfARun = 0;
    for (int swapAfter = -1; swapAfter <= callsOfARun + 1; ++swapAfter) {
        SCOPED_TRACE(swapAfter);
        RenumberingMachine r;
        BuildTwoSticks(r);
        // The stick's own volume arrives after two waits; the other's is there.
        r.volumes[2].hiddenWaits = 2;
        HANDLE disk = r.OpenDevice(context.identity.interfacePath);
        ASSERT_NE(INVALID_HANDLE_VALUE, disk);
        r.swapAfter = swapAfter < 0 ? -1 : r.calls + swapAfter;
        const int before = r.calls;
        CString path = WaitForPartitionVolume(r, r, disk, r.disks[2].partitions[0].startBytes);
        if (swapAfter == -1) callsOfARun = r.calls - before;
        EXPECT_NE(Text(FakeVolumeGuidPath(3).c_str()), Text(path)) << "the other stick's volume";
        EXPECT_EQ(Text(FakeVolumeGuidPath(2).c_str()), Text(path)) << "the stick's volume, once it is there";
        r.CloseDevice(disk);
    }
    EXPECT_GT(callsOfARun, 5);
}

TEST_F(UsbTools, PrepareLocksAndDismountsEveryVolumeOfTheDisk) {
    FakeVolume second = m.volumes[2];
    second.letter = L'G';
    second.partition = 2;
    m.volumes.push_back(second);
    ToolRun run = RunTool(RunPrepareTool, m, context, {L"3", L"/dismount"});
    EXPECT_EQ(0, run.code);
    EXPECT_EQ((std::vector<std::wstring>{L"lock F:", L"dismount F:", L"lock G:", L"dismount G:"}), m.log);
}

TEST_F(UsbTools, OrderingPutsThePartitionsInDiskOrder) {
    // As the writer leaves them: the EFI partition (1) at the end, the data partition (2) at the start.
    FakePartition efi, data;
    efi.number = 1;
    efi.mbrType = 0x0C;
    efi.active = true;
    efi.startBytes = 7000LL << 20;
    efi.lengthBytes = 800LL << 20;
    data.number = 2;
    data.startBytes = 1LL << 20;
    data.lengthBytes = 6000LL << 20;
    m.disks[2].partitions = {efi, data};
    ToolRun run = RunTool(RunBootSectorTool, m, context, {L"/device=3", L"/partitions", L"/firstpart=0", L"/quiet"});
    EXPECT_EQ(0, run.code) << Utf16ToUtf8(run.message).GetString();
    EXPECT_EQ(std::vector<std::wstring>{L"layout 3 21"}, m.log);
    ASSERT_EQ(2u, m.disks[2].partitions.size());
    EXPECT_EQ(1LL << 20, m.disks[2].partitions[0].startBytes);
    EXPECT_EQ(1, m.disks[2].partitions[0].number);
    EXPECT_FALSE(m.disks[2].partitions[0].active);
    EXPECT_TRUE(m.disks[2].partitions[1].active) << "the active flag stays with the EFI partition";
}

TEST_F(UsbTools, TheBootRecordKeepsTheDisksTableAndNamesTheBootFile) {
    std::vector<BYTE> sector0(512, 0xEE);
    m.writtenSectors[3][0] = sector0;
    m.log.clear();
    PutRecord(Record(2));
    ToolRun run = RunTool(RunBootSectorTool, m, context,
                      {L"/device=3", L"/mbr", L"/install", L"/type=GRUB4DOS", L"/boot_file=waldr", L"/quiet"});
    ASSERT_EQ(0, run.code) << Utf16ToUtf8(run.message).GetString();
    const std::vector<BYTE>& written = m.writtenSectors[3][0];
    ASSERT_EQ(1024u, written.size());
    EXPECT_EQ(0, memcmp(written.data(), "RECORD", 6));
    for (int i = 440; i < 510; ++i) ASSERT_EQ(0xEE, written[i]) << "byte " << i << " of the disk's own table";
    EXPECT_EQ(0x55, written[510]);
    EXPECT_EQ(0xAA, written[511]);
    EXPECT_EQ(0, memcmp(written.data() + 528, "waldr", 5));
}

TEST_F(UsbTools, TheBootRecordIsRefusedWhenItIsNotUsable) {
    struct Case {
        const char* name;
        std::string bytes;
        bool standIn;
        bool realRule;
        bool present;
    } cases[] = {
        {"missing", "", false, false, false},
        {"stand-in on a real machine", Record(2), true, true, true},
        {"not whole sectors", Record(2).substr(0, 700), false, false, true},
        {"no boot signature", Record(2, false), false, false, true},
        {"no loader name", Record(2, true, "XXXXX"), false, false, true},
        {"larger than the gap before the first partition", Record(64), false, false, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        SetUp();
        m.log.clear();
        m.realHostRule = c.realRule;
        if (c.present) PutRecord(c.bytes, c.standIn);
        ToolRun run = RunTool(RunBootSectorTool, m, context,
                          {L"/device=3", L"/mbr", L"/install", L"/type=GRUB4DOS", L"/boot_file=waldr", L"/quiet"});
        EXPECT_EQ(kToolExitRecord, run.code);
        EXPECT_TRUE(m.writtenSectors.empty());
    }
    // A stand-in is written on a simulated machine that accepts stand-ins.
    SetUp();
    PutRecord(Record(2), true);
    EXPECT_EQ(0, RunTool(RunBootSectorTool, m, context,
                     {L"/device=3", L"/mbr", L"/install", L"/type=GRUB4DOS", L"/boot_file=waldr", L"/quiet"})
                     .code);
}

TEST(BootRecord, BootFileNamesLongerThanTheLoadersAreRefused) {
    std::vector<BYTE> record(1024, 0), sector0(512, 0);
    record[510] = 0x55;
    record[511] = 0xAA;
    memcpy(record.data() + 600, "GRLDR", 5);
    CArray<BYTE> out;
    CString reason;
    EXPECT_TRUE(PrepareBootRecord(record.data(), 1024, sector0.data(), L"ab", out, reason));
    EXPECT_EQ(0, memcmp(out.GetData() + 600, "ab\0\0\0", 5));
    EXPECT_FALSE(PrepareBootRecord(record.data(), 1024, sector0.data(), L"longname", out, reason));
    EXPECT_FALSE(PrepareBootRecord(record.data(), 1024, sector0.data(), L"", out, reason));
}

TEST_F(UsbTools, TheDiskToolLeavesOnePlainPartition) {
    ToolRun run = RunTool(RunDiskTool, m, context, {L"3", L"/restore"});
    EXPECT_EQ(0, run.code) << Utf16ToUtf8(run.message).GetString();
    EXPECT_TRUE(m.runs.empty()) << "no diskpart";
    // Cleared, laid out, formatted and given a letter, all through the disk's handle and its new volume.
    const std::wstring volume = FakeVolumeGuidPath(3);
    EXPECT_EQ((std::vector<std::wstring>{L"lock F:", L"dismount F:", L"delete layout " + UsbStickPath(3),
                                         L"create disk " + UsbStickPath(3), L"layout 3 ", L"layout 3 +1",
                                         L"read " + volume + L" /FS:FAT32 /Q /V:USBDISK /Y",
                                         L"mount E:\\ " + volume}),
              m.log);
    ASSERT_EQ(1u, m.disks[2].partitions.size());
    const FakePartition& p = m.disks[2].partitions[0];
    EXPECT_EQ(1LL << 20, p.startBytes);
    EXPECT_EQ(UsbStickBytes() / (1LL << 20) * (1LL << 20) - (1LL << 20), p.lengthBytes);
    EXPECT_TRUE(p.active);
    EXPECT_EQ(0x0C, p.mbrType);
    // Above 32 GiB the one partition is NTFS.
    SetUp();
    m.disks[2].cylinders = 10000;
    RunTool(RunDiskTool, m, context, {L"3", L"/restore"});
    ExpectOneFormatRun(3, L"/FS:NTFS /Q /V:USBDISK /Y");
    ASSERT_EQ(1u, m.disks[2].partitions.size());
    EXPECT_EQ(0x07, m.disks[2].partitions[0].mbrType);
}

TEST(UsbToolContext, DiskpartComesFromTheRealSystemFolder) {
    ToolContext context = OwnToolContext();
    wchar_t windows[MAX_PATH] = {};
    ASSERT_GT(GetSystemWindowsDirectoryW(windows, MAX_PATH), 0u);
    BOOL wow64 = FALSE;
    IsWow64Process(GetCurrentProcess(), &wow64);
    EXPECT_EQ(CString(windows) + (wow64 ? L"\\Sysnative" : L"\\System32") + L"\\diskpart.exe", context.diskpartPath);
    EXPECT_EQ(CString(windows) + (wow64 ? L"\\Sysnative" : L"\\System32") + L"\\format.com", context.formatPath);
    // A 32-bit tool on 64-bit Windows reaches the real System32 through Sysnative.
    EXPECT_EQ(CString(L"C:\\Windows\\Sysnative\\diskpart.exe"),
              SystemProgramPath(L"C:\\Windows\\", true, FixedText::kDiskpartProgram));
    EXPECT_EQ(CString(L"C:\\Windows\\System32\\diskpart.exe"),
              SystemProgramPath(L"C:\\Windows", false, FixedText::kDiskpartProgram));
    EXPECT_FALSE(context.protectedPaths.empty()) << "the Windows folder and the tool itself";
    EXPECT_FALSE(context.toolFolder.IsEmpty());
    EXPECT_EQ(CString(TestProgramDirectory().c_str()).MakeLower(), CString(context.toolFolder).MakeLower());
    EXPECT_EQ(context.toolFolder, context.scriptFolder) << "the script lives in the tool's own folder";
}

// The formatter a tool runs is named by its full system path.
TEST_F(UsbTools, TheFormatterIsNamedByItsFullSystemPath) {
    ToolContext own = OwnToolContext();
    context.formatPath = own.formatPath;
    ClearStick();
    ToolRun run = RunTool(RunPartitionTool, m, context, {L"4", L"/cre", L"/pri", L"/for", L"/NTFS", L"/align:1MB", L"/q", L"/v:DATA", L"/y"});
    ASSERT_EQ(0, run.code) << Utf16ToUtf8(run.message).GetString();
    ASSERT_EQ(1u, m.reads.size());
    EXPECT_EQ(0u, m.reads[0].find(std::wstring(own.formatPath.GetString()) + L"|\\\\?\\Volume{"));
    ASSERT_GT(own.formatPath.GetLength(), 3);
    EXPECT_EQ(CString(L":\\"), own.formatPath.Mid(1, 2)) << "a full path, never a name the search path resolves";
}

// The Win32 hold, on this machine's file system: readers get in, writers,
// renames and deletes do not, an existing name is never taken over, and the
// release removes the file.
TEST(HeldScript, TheWin32HoldLetsReadersInAndKeepsWritersOut) {
    // A folder of this process's own: the test runs side by side share the program's folder.
    const std::wstring folder = MakeTempFolder(L"held-script");
    const std::wstring path = folder + L"\\kvtdiskpart-test.txt";
    DeleteFileW(path.c_str());
    const CStringA text = "select disk 3\r\nclean\r\n";
    IBootHost& host = Win32BootHost();
    HANDLE hold = host.HoldNewTextFile(path.c_str(), text);
    ASSERT_NE(INVALID_HANDLE_VALUE, hold);

    EXPECT_EQ(INVALID_HANDLE_VALUE, host.HoldNewTextFile(path.c_str(), "other")) << "an existing name is refused";
    HANDLE writer = CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                nullptr, OPEN_EXISTING, 0, nullptr);
    EXPECT_EQ(INVALID_HANDLE_VALUE, writer);
    EXPECT_EQ((DWORD)ERROR_SHARING_VIOLATION, GetLastError());
    if (writer != INVALID_HANDLE_VALUE) CloseHandle(writer);
    EXPECT_FALSE(host.WriteTextFile(path.c_str(), "planted")) << "no replacing write";
    EXPECT_FALSE(DeleteFileW(path.c_str()));
    const std::wstring moved = folder + L"\\moved.txt";
    EXPECT_FALSE(MoveFileW(path.c_str(), moved.c_str()));

    // A reader that shares only reading, as a script interpreter may open it.
    for (DWORD share : {(DWORD)FILE_SHARE_READ, (DWORD)(FILE_SHARE_READ | FILE_SHARE_WRITE)}) {
        HANDLE reader = CreateFileW(path.c_str(), GENERIC_READ, share, nullptr, OPEN_EXISTING, 0, nullptr);
        ASSERT_NE(INVALID_HANDLE_VALUE, reader) << "share " << share << " error " << GetLastError();
        char back[64] = {};
        DWORD got = 0;
        EXPECT_TRUE(ReadFile(reader, back, sizeof(back), &got, nullptr));
        EXPECT_EQ(std::string(text.GetString()), std::string(back, got));
        CloseHandle(reader);
    }

    host.ReleaseHeldFile(hold, path.c_str());
    EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesW(path.c_str())) << "released and removed";
    DeleteFileW(moved.c_str());
    RemoveTree(folder);
}

// A name that already exists is never written through: the hold is refused
// and the file stays as it was.
TEST(HeldScript, TheWin32HoldNeverTakesOverAnExistingFile) {
    const std::wstring folder = MakeTempFolder(L"held-planted");
    const std::wstring path = folder + L"\\kvtdiskpart-planted.txt";
    ASSERT_TRUE(Win32BootHost().WriteTextFile(path.c_str(), "planted"));
    EXPECT_EQ(INVALID_HANDLE_VALUE, Win32BootHost().HoldNewTextFile(path.c_str(), "select disk 3\r\n"));
    char back[16] = {};
    DWORD got = 0;
    EXPECT_TRUE(Win32BootHost().ReadFileBytes(path.c_str(), back, sizeof(back), &got));
    EXPECT_EQ(std::string("planted"), std::string(back, got));
    RemoveTree(folder);
}

TEST(UsbToolContext, TheDiskIdentityTravelsThroughTheEnvironment) {
    for (const wchar_t* serial : {L"", L"AA0012"}) {
        UsbDiskIdentity identity;
        identity.interfacePath = UsbStickPath(3).c_str();
        identity.serial = serial;
        PublishDiskIdentity(identity);
        UsbDiskIdentity read;
        ReadDiskIdentityFromEnvironment(read);
        EXPECT_EQ(identity.interfacePath, read.interfacePath);
        EXPECT_EQ(identity.serial, read.serial);
    }
    PublishDiskIdentity(UsbDiskIdentity());
    UsbDiskIdentity none;
    ReadDiskIdentityFromEnvironment(none);
    EXPECT_TRUE(none.IsEmpty());
}

TEST(UsbToolContext, ProtectedPathsTravelThroughTheEnvironment) {
    ProtectedPaths paths = {L"C:\\Windows", L"E:\\Kavetta Data"};
    PublishProtectedPaths(paths);
    ProtectedPaths read;
    ReadProtectedPathsFromEnvironment(read);
    EXPECT_EQ(paths, read);
    EXPECT_TRUE(DriveIsProtected(L"e:", read));
    EXPECT_FALSE(DriveIsProtected(L"F:", read));
    SetEnvironmentVariableW(FixedText::kProtectedPathsVariable, nullptr);
}

// The programs themselves: what they accept and refuse on this machine (under
// Wine the system lists no disks, so every number is refused as unknown).
TEST(UsbToolPrograms, RefuseUnknownCommandLinesAndDisks) {
    const std::wstring folder = TestProgramDirectory() + L"\\";
    struct Case {
        const wchar_t* program;
        const wchar_t* arguments;
        int code;
    } cases[] = {
        {L"kvtprep.exe", L"", kToolExitUsage},
        {L"kvtpart.exe", L"4 /format", kToolExitUsage},
        {L"kvtmbr.exe", L"/device=3 /mbr /quiet", kToolExitUsage},
        {L"kvtdisk.exe", L"3", kToolExitUsage},
        {L"kvtprep.exe", L"99 /dismount", kToolExitRefused},
        {L"kvtpart.exe", L"100 /del /all /y", kToolExitRefused},
        {L"kvtmbr.exe", L"/device=99 /partitions /firstpart=0 /quiet", kToolExitRefused},
        {L"kvtdisk.exe", L"99 /restore", kToolExitRefused},
    };
    for (const Case& c : cases)
        EXPECT_EQ(c.code, RunAndWait(folder + c.program, c.arguments)) << Utf16ToUtf8(c.program).GetString();
}

// ---- The stand-in rule.

TEST(StandInRule, OneCheckForEveryFileOfTheToolsArchive) {
    FakeMachine m;
    m.AddFolder(L"C:\\W");
    m.AddFile(L"C:\\W\\real", 10);
    m.AddFile(L"C:\\W\\standin", 10, true);
    struct Case {
        const wchar_t* path;
        bool realRule;
        ToolFileState state;
    } cases[] = {
        {L"C:\\W\\real", false, kToolFileReady},    {L"C:\\W\\real", true, kToolFileReady},
        {L"C:\\W\\standin", false, kToolFileReady}, {L"C:\\W\\standin", true, kToolFileStandIn},
        {L"C:\\W\\none", false, kToolFileMissing},  {L"C:\\W", true, kToolFileMissing},
    };
    for (const Case& c : cases) {
        m.realHostRule = c.realRule;
        EXPECT_EQ(c.state, CheckToolFile(m, c.path)) << Utf16ToUtf8(c.path).GetString() << " " << c.realRule;
    }
}

TEST(StandInRule, TheArchivesStandInsCarryTheMarkerAndARealMachineRefusesThem) {
    EXPECT_TRUE(Win32BootHost().RealHostRule());
    const wchar_t* names[] = {L"wgl4_boot.ttf", L"chs_boot.ttf", L"bootmgr.exe.mui", L"bootmgr", L"bootmgfw.efi",
                              L"bootmgfw.efi.mui", L"waldr", L"boot.sdi", L"bhd", L"efibcd", L"kvtgrldr.mbr"};
    for (const wchar_t* name : names) {
        std::wstring path = std::wstring(KAVETTA_USB_FILES_DIR) + L"/" + name;
        EXPECT_EQ(kToolFileStandIn, CheckToolFile(Win32BootHost(), path.c_str())) << Utf16ToUtf8(name).GetString();
    }
    EXPECT_EQ(kToolFileMissing, CheckToolFile(Win32BootHost(), L"C:\\no\\such\\file"));
}

}  // namespace
