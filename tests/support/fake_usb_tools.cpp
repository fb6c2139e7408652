// The simulated USB tools of the tools archive: what each command of the
// boot-disk writer and the disk tool does to the fake machine.
#include <wctype.h>

#include <sstream>

#include "core/fixed_texts.h"
#include "support/fake_machine.h"

namespace {

std::wstring FileNameOf(const std::wstring& path) {
    size_t cut = path.find_last_of(L"\\/");
    std::wstring name = cut == std::wstring::npos ? path : path.substr(cut + 1);
    for (auto& c : name) c = (wchar_t)towlower(c);
    return name;
}

std::vector<std::wstring> Tokens(const std::wstring& text) {
    std::wistringstream in(text);
    std::vector<std::wstring> out;
    for (std::wstring t; in >> t;) out.push_back(t);
    return out;
}

bool Has(const std::vector<std::wstring>& tokens, const wchar_t* token) {
    for (const auto& t : tokens)
        if (t == token) return true;
    return false;
}

// The value of "/name=value" or "/name:value", or empty.
std::wstring Value(const std::vector<std::wstring>& tokens, const std::wstring& name) {
    for (const auto& t : tokens)
        if (t.size() > name.size() && t.compare(0, name.size(), name) == 0) return t.substr(name.size());
    return std::wstring();
}

}  // namespace

FakeDisk* FakeMachine::DiskByDevice(int device) {
    for (FakeDisk& d : disks)
        if (d.device == device) return &d;
    return nullptr;
}

wchar_t FakeMachine::FreeLetter() const {
    for (wchar_t c = L'C'; c <= L'Z'; ++c) {
        bool used = otherDrives.count(c) != 0 || dosDevices.count(std::wstring(1, c) + L":") != 0;
        for (const FakeVolume& v : volumes) used = used || v.letter == c;
        if (!used) return c;
    }
    return 0;
}

void FakeMachine::RemoveVolume(size_t index) {
    wchar_t letter = volumes[index].letter;
    if (letter) {
        std::wstring prefix = std::wstring(1, letter) + L":";
        for (auto it = files.begin(); it != files.end();)
            it = it->first.compare(0, 2, prefix) == 0 ? files.erase(it) : std::next(it);
    }
    volumes.erase(volumes.begin() + (long)index);
}

std::wstring UsbToolCommandKey(const std::wstring& program, const std::wstring& arguments, int& device) {
    const std::wstring tool = FileNameOf(program);
    const std::vector<std::wstring> tokens = Tokens(arguments);
    std::wstring command;
    device = -1;
    if (tool == FixedText::kUsbPartitionTool) {
        if (tokens.empty()) return std::wstring();
        device = _wtoi(tokens[0].c_str()) - 1;
        command = Has(tokens, L"/del") ? L"/del" : Has(tokens, L"/act") ? L"/act"
                  : Value(tokens, L"/v:") == L"EFI"                      ? L"/cre:EFI"
                                                                         : L"/cre:DATA";
    } else if (tool == FixedText::kUsbBootSectorTool) {
        device = _wtoi(Value(tokens, L"/device=").c_str());
        command = Has(tokens, L"/mbr") ? L"/mbr" : L"/partitions";
    } else if (tool == FixedText::kUsbPrepareTool) {
        device = tokens.empty() ? -1 : _wtoi(tokens[0].c_str());
        command = L"prep";
    } else if (tool == FixedText::kUsbDiskTool) {
        device = tokens.empty() ? -1 : _wtoi(tokens[0].c_str());
        command = L"/restore";
    } else {
        return std::wstring();
    }
    return tool + L"|" + command;
}

int FakeMachine::SimulateUsbTool(const std::wstring& program, const std::wstring& arguments) {
    const std::vector<std::wstring> tokens = Tokens(arguments);
    int device = -1;
    const std::wstring key = UsbToolCommandKey(program, arguments, device);
    if (key.empty()) return FileNameOf(program) == FixedText::kUsbPartitionTool ? 1 : 0;
    const std::wstring command = key.substr(key.find(L'|') + 1);
    int code = 0;
    auto scripted = usbTools.exitCodes.find(key);
    if (scripted != usbTools.exitCodes.end()) code = scripted->second;
    auto failing = usbTools.failTimes.find(key);
    int done = m_toolRuns[key]++;
    if (failing != usbTools.failTimes.end() && (failing->second < 0 || done < failing->second) && code == 0) code = 1;
    if (code != 0) return code;

    FakeDisk* disk = DiskByDevice(device);
    if (!disk) return 2;
    const LONGLONG diskBytes = disk->cylinders * disk->tracksPerCylinder * disk->sectorsPerTrack * disk->bytesPerSector;
    const LONGLONG mib = 1024 * 1024;
    auto removeVolumesOf = [this, device]() {
        for (size_t i = volumes.size(); i-- > 0;)
            if (volumes[i].device == device) RemoveVolume(i);
    };
    auto addVolume = [this, disk, device](int partition, const wchar_t* fs, const wchar_t* label, bool lettered,
                                          int waits) {
        FakeVolume v;
        v.letter = lettered ? FreeLetter() : 0;
        v.device = device;
        v.partition = partition;
        v.fileSystem = fs;
        v.label = label;
        v.driveType = disk->removable ? DRIVE_REMOVABLE : DRIVE_FIXED;
        v.hiddenWaits = waits;
        // A freshly formatted partition: all of it is free.
        for (const FakePartition& p : disk->partitions)
            if (p.number == partition) v.freeBytes = (ULONGLONG)p.lengthBytes;
        volumes.push_back(v);
    };
    if (command == L"/del") {
        disk->partitions.clear();
        disk->layout = FakeLayout::Mbr;
        removeVolumesOf();
    } else if (command == L"/cre:EFI") {
        FakePartition p;
        p.number = 1;
        p.mbrType = 0x0C;
        p.lengthBytes = _wtoi(Value(tokens, L"/sz:").c_str()) * mib;
        p.startBytes = diskBytes - mib - p.lengthBytes;
        disk->partitions.push_back(p);
        addVolume(1, L"FAT32", FixedText::kUsbEfiVolumeLabel, usbTools.efiGetsLetter, usbTools.efiLetterWaits);
    } else if (command == L"/act") {
        for (FakePartition& p : disk->partitions) p.active = p.number == 1;
    } else if (command == L"/cre:DATA") {
        FakePartition p;
        p.number = 2;
        p.mbrType = 0x07;
        p.startBytes = mib;
        p.lengthBytes = diskBytes - 3 * mib;
        for (const FakePartition& other : disk->partitions) p.lengthBytes -= other.lengthBytes;
        disk->partitions.push_back(p);
        if (usbTools.efiLetterDropsWithData)
            for (FakeVolume& v : volumes)
                if (v.device == device && v.partition == 1) v.letter = 0;
        addVolume(2, FixedText::kUsbDataFileSystem, FixedText::kUsbDataVolumeLabel, usbTools.dataGetsLetter,
                  usbTools.dataLetterWaits);
    } else if (command == L"/partitions") {
        if (usbTools.orderSwapsNumbers) {
            for (FakePartition& p : disk->partitions) p.number = 3 - p.number;
            for (FakeVolume& v : volumes)
                if (v.device == device && (v.partition == 1 || v.partition == 2)) v.partition = 3 - v.partition;
        }
    } else if (command == L"/mbr") {
        bootRecords[device] = Value(tokens, L"/type=") + L"|" + Value(tokens, L"/boot_file=");
    } else if (command == L"/restore") {
        disk->partitions.clear();
        removeVolumesOf();
        FakePartition p;
        p.number = 1;
        p.lengthBytes = diskBytes - 2 * mib;
        disk->partitions.push_back(p);
        addVolume(1, L"FAT32", FixedText::kDiskToolVolumeLabel, true, 0);
    }
    log.push_back(L"tool " + key + L" " + std::to_wstring(device));
    auto then = usbTools.after.find(key);
    if (then != usbTools.after.end()) then->second(*this);
    return 0;
}
