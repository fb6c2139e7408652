#include "sim/sim_scenario.h"

#include <json/json.h>
#include <wctype.h>

#include <initializer_list>
#include <memory>

#include "winlib/strings.h"

namespace {

const LONGLONG kMiB = 1024LL * 1024;
const LONGLONG kGiB = 1024 * kMiB;

const GUID kEfiType = {0xC12A7328, 0xF81F, 0x11D2, {0xBA, 0x4B, 0x00, 0xA0, 0xC9, 0x3E, 0xC9, 0x3B}};
const GUID kMsrType = {0xE3C9E316, 0x0B5C, 0x4DB8, {0x81, 0x7D, 0xF9, 0x2D, 0xF0, 0x02, 0x15, 0xAE}};
const GUID kBasicType = {0xEBD0A0A2, 0xB9E5, 0x4433, {0x87, 0xC0, 0x68, 0xB6, 0xB7, 0x26, 0x99, 0xC7}};
const GUID kRecoveryType = {0xDE94BBA4, 0x06D1, 0x4D40, {0xA1, 0x6A, 0xBF, 0xD5, 0x01, 0x79, 0xD6, 0xAC}};

struct NamedValue {
    const char* name;
    int value;
};
const NamedValue kBusNames[] = {{"scsi", BusTypeScsi}, {"atapi", BusTypeAtapi}, {"ata", BusTypeAta},
                                {"raid", BusTypeRAID}, {"sas", BusTypeSas},     {"sata", BusTypeSata},
                                {"sd", BusTypeSd},     {"mmc", BusTypeMmc},     {"virtual", BusTypeVirtual},
                                {"usb", BusTypeUsb},   {"nvme", 17},            {"vhd", BusTypeFileBackedVirtual}};
const NamedValue kDriveTypeNames[] = {{"fixed", DRIVE_FIXED},   {"removable", DRIVE_REMOVABLE},
                                      {"cdrom", DRIVE_CDROM},   {"remote", DRIVE_REMOTE},
                                      {"ramdisk", DRIVE_RAMDISK}};
// BitLocker's states as GetConversionStatus and GetProtectionStatus answer
// them; suspended protection reads as off.
const NamedValue kConversionNames[] = {{"decrypted", 0},  {"encrypted", 1},        {"encrypting", 2},
                                       {"decrypting", 3}, {"encryptionPaused", 4}, {"decryptionPaused", 5}};
const NamedValue kProtectionNames[] = {{"off", 0}, {"on", 1}, {"unknown", 2}, {"suspended", 0}};
const NamedValue kEncryptionQueryNames[] = {{"answers", (int)EncryptionAnswer::kRead},
                                            {"noProvider", (int)EncryptionAnswer::kNoEncryption},
                                            {"fails", (int)EncryptionAnswer::kFailed}};
struct NamedGuid {
    const char* name;
    const GUID* guid;
};
const NamedGuid kGptTypeNames[] = {
    {"efi", &kEfiType}, {"msr", &kMsrType}, {"basic", &kBasicType}, {"recovery", &kRecoveryType}};

std::wstring Wide(const std::string& text) {
    return (const wchar_t*)Utf8ToUtf16(text.c_str(), (int)text.size());
}

// Thrown inside the reader with the place and the fault; caught at the top.
struct Fault {
    std::string text;
};

[[noreturn]] void Fail(const std::string& where, const std::string& what) { throw Fault{where + ": " + what}; }

void OnlyKeys(const Json::Value& object, const std::string& where, std::initializer_list<const char*> allowed) {
    if (!object.isObject()) Fail(where, "must be an object");
    for (const std::string& key : object.getMemberNames()) {
        bool known = false;
        for (const char* name : allowed)
            if (key == name) known = true;
        if (!known) Fail(where, "unknown key \"" + key + "\"");
    }
}

std::string Text(const Json::Value& object, const char* key, const std::string& where, const std::string& fallback) {
    if (!object.isMember(key)) return fallback;
    const Json::Value& v = object[key];
    if (!v.isString()) Fail(where + "." + key, "must be a text");
    return v.asString();
}

bool Flag(const Json::Value& object, const char* key, const std::string& where, bool fallback) {
    if (!object.isMember(key)) return fallback;
    const Json::Value& v = object[key];
    if (!v.isBool()) Fail(where + "." + key, "must be true or false");
    return v.asBool();
}

double Number(const Json::Value& object, const char* key, const std::string& where, double fallback) {
    if (!object.isMember(key)) return fallback;
    const Json::Value& v = object[key];
    if (!v.isNumeric()) Fail(where + "." + key, "must be a number");
    if (v.asDouble() < 0) Fail(where + "." + key, "must not be negative");
    return v.asDouble();
}

int Whole(const Json::Value& object, const char* key, const std::string& where, int fallback) {
    if (!object.isMember(key)) return fallback;
    const Json::Value& v = object[key];
    if (!v.isInt()) Fail(where + "." + key, "must be a whole number");
    return v.asInt();
}

int Named(const Json::Value& object, const char* key, const std::string& where, const NamedValue* table, size_t n,
          int fallback) {
    if (!object.isMember(key)) return fallback;
    std::string name = Text(object, key, where, "");
    for (size_t i = 0; i < n; ++i)
        if (name == table[i].name) return table[i].value;
    std::string known;
    for (size_t i = 0; i < n; ++i) known += std::string(i ? ", " : "") + table[i].name;
    Fail(where + "." + key, "unknown value \"" + name + "\" (known: " + known + ")");
}

wchar_t Letter(const Json::Value& object, const char* key, const std::string& where) {
    std::string text = Text(object, key, where, "");
    if (text.size() == 2 && text[1] == ':') text.resize(1);
    if (text.size() != 1 || !isalpha((unsigned char)text[0]))
        Fail(where + "." + key, "must be one drive letter, such as \"D\"");
    return (wchar_t)towupper((wchar_t)text[0]);
}

const Json::Value& List(const Json::Value& object, const char* key, const std::string& where) {
    static const Json::Value empty(Json::arrayValue);
    if (!object.isMember(key)) return empty;
    const Json::Value& v = object[key];
    if (!v.isArray()) Fail(where + "." + key, "must be a list");
    return v;
}

std::string At(const std::string& where, const char* key, Json::ArrayIndex i) {
    return where + "." + key + "[" + std::to_string(i) + "]";
}

LONGLONG Bytes(const Json::Value& object, const std::string& where, const char* mibKey, const char* gibKey,
               const char* bytesKey, LONGLONG fallback) {
    int given = (object.isMember(mibKey) ? 1 : 0) + (object.isMember(gibKey) ? 1 : 0) +
                (bytesKey && object.isMember(bytesKey) ? 1 : 0);
    if (given > 1) Fail(where, std::string("give only one of ") + mibKey + ", " + gibKey + (bytesKey ? ", " : "") +
                                   (bytesKey ? bytesKey : ""));
    if (object.isMember(mibKey)) return (LONGLONG)(Number(object, mibKey, where, 0) * kMiB);
    if (object.isMember(gibKey)) return (LONGLONG)(Number(object, gibKey, where, 0) * kGiB);
    if (bytesKey && object.isMember(bytesKey)) return (LONGLONG)Number(object, bytesKey, where, 0);
    return fallback;
}

GUID MakeId(int device, int number) {
    GUID id = {0x5A4D0000u | (unsigned)(device & 0xFF) << 8 | (unsigned)(number & 0xFF), 0x4B56, 0x5349,
               {0x8D, 0x00, 0x53, 0x49, 0x4D, 0x00, (BYTE)device, (BYTE)number}};
    return id;
}

// The token of {"whenState": token}, where only that key is allowed.
std::wstring StateToken(const Json::Value& object, const char* key, const std::string& where) {
    if (!object.isMember(key)) return std::wstring();
    const std::string at = where + "." + key;
    OnlyKeys(object[key], at, {"whenState"});
    std::wstring token = Wide(Text(object[key], "whenState", at, ""));
    if (token.empty()) Fail(at, "needs whenState");
    return token;
}

void ReadVolume(const Json::Value& v, const std::string& where, const FakeDisk& disk, const FakePartition& partition,
                const std::wstring& partitionAppears, const std::wstring& partitionGoes, SimScenario& out) {
    OnlyKeys(v, where, {"letter", "fileSystem", "label", "freeGiB", "freeMiB", "freeBytes", "driveType",
                        "systemVersion", "refuseNewFolders", "appears", "goes", "files", "encryption"});
    FakeVolume volume;
    volume.letter = v.isMember("letter") ? Letter(v, "letter", where) : 0;
    volume.device = disk.device;
    volume.partition = partition.number;
    volume.fileSystem = Wide(Text(v, "fileSystem", where, "NTFS"));
    volume.label = Wide(Text(v, "label", where, ""));
    volume.freeBytes = (ULONGLONG)Bytes(v, where, "freeMiB", "freeGiB", "freeBytes", 0);
    if (volume.freeBytes > (ULONGLONG)partition.lengthBytes) Fail(where, "more free space than the partition holds");
    volume.driveType = (UINT)Named(v, "driveType", where, kDriveTypeNames, sizeof(kDriveTypeNames) / sizeof(NamedValue),
                                   disk.removable ? DRIVE_REMOVABLE : DRIVE_FIXED);
    std::string version = Text(v, "systemVersion", where, "");
    volume.hasProbe = !version.empty();
    volume.probeVersion = Wide(version);
    SimAppearance when;
    if (v.isMember("appears")) {
        const Json::Value& a = v["appears"];
        OnlyKeys(a, where + ".appears", {"afterQueries", "whenState"});
        when.afterQueries = Whole(a, "afterQueries", where + ".appears", 0);
        when.stateToken = Wide(Text(a, "whenState", where + ".appears", ""));
        if (!when.Later()) Fail(where + ".appears", "needs afterQueries (1 or more) or whenState");
        if (!volume.letter) Fail(where + ".appears", "only a volume with a letter can appear later");
        volume.present = false;
    }
    if (!partitionAppears.empty()) {
        // The volume comes with its partition.
        if (when.Later()) Fail(where + ".appears", "the partition appears already");
        when.stateToken = partitionAppears;
        volume.present = false;
    }
    std::wstring goes = StateToken(v, "goes", where);
    if (goes.empty()) goes = partitionGoes;
    if (Flag(v, "refuseNewFolders", where, false)) {
        if (!volume.letter) Fail(where + ".refuseNewFolders", "needs a letter");
        out.refusingLetters.insert(volume.letter);
    }
    // The files are made host-side; here only their form is checked.
    const Json::Value& files = List(v, "files", where);
    for (Json::ArrayIndex i = 0; i < files.size(); ++i) {
        std::string at = At(where, "files", i);
        OnlyKeys(files[i], at, {"path", "sizeBytes", "text"});
        if (Text(files[i], "path", at, "").empty()) Fail(at + ".path", "is missing");
    }
    if (volume.letter) {
        for (const FakeVolume& other : out.volumes)
            if (other.letter == volume.letter) Fail(where + ".letter", "is used twice");
        if (out.otherDrives.count(volume.letter)) Fail(where + ".letter", "is used twice");
    }
    SimEncryption encryption;
    if (v.isMember("encryption")) {
        const Json::Value& e = v["encryption"];
        const std::string at = where + ".encryption";
        OnlyKeys(e, at, {"conversion", "protection"});
        encryption.known = true;
        encryption.conversion = Named(e, "conversion", at, kConversionNames,
                                      sizeof(kConversionNames) / sizeof(NamedValue), 1);
        encryption.protection = Named(e, "protection", at, kProtectionNames,
                                      sizeof(kProtectionNames) / sizeof(NamedValue), 0);
    }
    out.volumes.push_back(volume);
    out.volumeEncryption.push_back(encryption);
    out.volumeAppearance.push_back(when);
    out.volumeGoing.push_back(goes);
}

void ReadDisk(const Json::Value& d, const std::string& where, SimScenario& out) {
    OnlyKeys(d, where, {"device", "bus", "style", "removable", "vendor", "product", "sizeGiB", "partitions"});
    FakeDisk disk;
    if (!d.isMember("device")) Fail(where, "needs a device number");
    disk.device = Whole(d, "device", where, 0);
    if (disk.device < 0 || disk.device > 99) Fail(where + ".device", "must be 0 to 99");
    for (const FakeDisk& other : out.disks)
        if (other.device == disk.device) Fail(where + ".device", "is used twice");
    disk.bus = (STORAGE_BUS_TYPE)Named(d, "bus", where, kBusNames, sizeof(kBusNames) / sizeof(NamedValue), BusTypeSata);
    // Interface paths as Windows names them: a USB mass-storage disk's begins
    // with the USB storage driver's name, which the USB disk list goes by.
    disk.path = (disk.bus == BusTypeUsb ? L"\\\\?\\usbstor#disk&ven_sim#" : L"\\\\?\\simdisk#") +
                std::to_wstring(disk.device) + L"#{53FE1D7A-5350-4B56-8D00-53494D000000}";
    std::string style = Text(d, "style", where, "gpt");
    if (style == "gpt") disk.layout = FakeLayout::Gpt;
    else if (style == "mbr") disk.layout = FakeLayout::Mbr;
    else if (style == "raw") disk.layout = FakeLayout::Raw;
    else Fail(where + ".style", "must be gpt, mbr or raw");
    disk.removable = Flag(d, "removable", where, false);
    disk.vendor = Text(d, "vendor", where, "");
    disk.product = Text(d, "product", where, "");
    LONGLONG size = (LONGLONG)(Number(d, "sizeGiB", where, 0) * kGiB);
    if (size <= 0) Fail(where + ".sizeGiB", "is missing or zero");
    disk.cylinders = size / (255LL * 63 * 512);

    const Json::Value& parts = List(d, "partitions", where);
    if (disk.layout == FakeLayout::Raw && parts.size()) Fail(where + ".partitions", "a raw disk has no partitions");
    LONGLONG start = kMiB;
    size_t firstVolume = out.volumes.size();
    for (Json::ArrayIndex i = 0; i < parts.size(); ++i) {
        std::string at = At(where, "partitions", i);
        const Json::Value& p = parts[i];
        OnlyKeys(p, at, {"number", "sizeMiB", "sizeGiB", "startMiB", "type", "active", "name", "volume", "appears",
                         "goes"});
        FakePartition part;
        part.number = Whole(p, "number", at, (int)i + 1);
        if (p.isMember("startMiB")) {
            double startMiB = Number(p, "startMiB", at, 0);
            if (startMiB < 1) Fail(at + ".startMiB", "must be 1 or more");
            start = (LONGLONG)(startMiB * kMiB);
        }
        part.startBytes = start;
        SimScenario::PartitionLife life;
        life.disk = out.disks.size();
        life.partition = disk.partitions.size();
        life.appears = StateToken(p, "appears", at);
        life.goes = StateToken(p, "goes", at);
        part.present = life.appears.empty();
        part.lengthBytes = Bytes(p, at, "sizeMiB", "sizeGiB", nullptr, 0);
        if (part.lengthBytes <= 0) Fail(at, "needs sizeMiB or sizeGiB");
        start += part.lengthBytes;
        if (start > size) Fail(at, "does not fit on the disk");
        std::string type = Text(p, "type", at, "basic");
        if (disk.layout == FakeLayout::Gpt) {
            bool known = false;
            for (const NamedGuid& g : kGptTypeNames)
                if (type == g.name) {
                    part.type = *g.guid;
                    known = true;
                }
            if (!known) Fail(at + ".type", "unknown GPT type \"" + type + "\" (known: efi, msr, basic, recovery)");
            part.id = MakeId(disk.device, part.number);
            part.name = Wide(Text(p, "name", at, ""));
            if (p.isMember("active")) Fail(at + ".active", "is for MBR disks");
        } else {
            char* end = nullptr;
            unsigned long byte = strtoul(type.c_str(), &end, 0);
            if (type == "basic") byte = 0x07;
            else if (type.empty() || *end || byte > 0xFF) Fail(at + ".type", "must be an MBR type byte such as \"0x07\"");
            part.mbrType = (BYTE)byte;
            part.active = Flag(p, "active", at, false);
            part.hiddenSectors = (DWORD)(part.startBytes / 512);
            if (p.isMember("name")) Fail(at + ".name", "is for GPT disks");
        }
        // Two partitions share a number only when one goes before the other appears.
        for (size_t o = 0; o < disk.partitions.size(); ++o) {
            if (disk.partitions[o].number != part.number) continue;
            std::wstring otherAppears, otherGoes;
            for (const SimScenario::PartitionLife& other : out.partitionLives)
                if (other.disk == life.disk && other.partition == o) {
                    otherAppears = other.appears;
                    otherGoes = other.goes;
                }
            if (!((!otherGoes.empty() && !life.appears.empty()) || (!life.goes.empty() && !otherAppears.empty())))
                Fail(at + ".number", "is used twice on this disk");
        }
        disk.partitions.push_back(part);
        if (!life.appears.empty() || !life.goes.empty()) out.partitionLives.push_back(life);
        if (p.isMember("volume"))
            ReadVolume(p["volume"], at + ".volume", disk, part, life.appears, life.goes, out);
    }
    // A disk whose every volume appears later is plugged in later.
    if (out.volumes.size() > firstVolume) {
        bool allLater = true;
        for (size_t v = firstVolume; v < out.volumes.size(); ++v)
            if (out.volumes[v].present) allLater = false;
        if (allLater) disk.present = false;
    }
    out.disks.push_back(disk);
}

void ReadFacts(const Json::Value& f, const std::string& where, SimScenario& out) {
    OnlyKeys(f, where, {"osDescription", "chassisText", "properties", "memoryMiB", "memoryGiB", "memoryBytes",
                        "memoryStatusBytes", "encryptionQuery"});
    out.encryptionQuery = (EncryptionAnswer)Named(f, "encryptionQuery", where, kEncryptionQueryNames,
                                                  sizeof(kEncryptionQueryNames) / sizeof(NamedValue),
                                                  (int)EncryptionAnswer::kRead);
    out.osDescription = Wide(Text(f, "osDescription", where, ""));
    out.chassisText = Wide(Text(f, "chassisText", where, ""));
    if (f.isMember("properties")) {
        const Json::Value& props = f["properties"];
        if (!props.isObject()) Fail(where + ".properties", "must be an object");
        for (const std::string& key : props.getMemberNames()) {
            if (key.find('.') == std::string::npos || key.front() == '.' || key.back() == '.')
                Fail(where + ".properties", "key \"" + key + "\" must be Class.Property");
            if (!props[key].isString()) Fail(where + ".properties." + key, "must be a text");
            out.properties[Wide(key)] = Wide(props[key].asString());
        }
    }
    out.installedMemoryBytes = (ULONGLONG)Bytes(f, where, "memoryMiB", "memoryGiB", "memoryBytes", 0);
    out.memoryStatusBytes = (ULONGLONG)Number(f, "memoryStatusBytes", where, (double)out.installedMemoryBytes);
}

void ReadProcesses(const Json::Value& p, const std::string& where, SimScenario& out) {
    OnlyKeys(p, where, {"defaultExitCode", "answers"});
    out.defaultExitCode = Whole(p, "defaultExitCode", where, 0);
    const Json::Value& answers = List(p, "answers", where);
    for (Json::ArrayIndex i = 0; i < answers.size(); ++i) {
        std::string at = At(where, "answers", i);
        OnlyKeys(answers[i], at, {"match", "exitCode", "setState"});
        SimProcessAnswer answer;
        answer.match = Wide(Text(answers[i], "match", at, ""));
        if (answer.match.empty()) Fail(at + ".match", "is missing");
        answer.exitCode = Whole(answers[i], "exitCode", at, 0);
        answer.setState = Wide(Text(answers[i], "setState", at, ""));
        out.processAnswers.push_back(answer);
    }
}

// The firmware's system partition: as named, else the first volume on a
// boot partition (EFI, or active MBR) of a non-USB disk.
void ReadSystemPartition(const Json::Value& root, SimScenario& out) {
    const bool named = root.isMember("systemPartition");
    if (named) {
        const Json::Value& s = root["systemPartition"];
        OnlyKeys(s, "scenario.systemPartition", {"device", "partition"});
        out.systemDevice = Whole(s, "device", "scenario.systemPartition", -1);
        out.systemPartition = Whole(s, "partition", "scenario.systemPartition", -1);
    }
    for (const FakeVolume& v : out.volumes) {
        for (const FakeDisk& disk : out.disks) {
            if (disk.device != v.device) continue;
            for (const FakePartition& p : disk.partitions) {
                if (p.number != v.partition) continue;
                if (named) {
                    if (v.device == out.systemDevice && v.partition == out.systemPartition) return;
                    continue;
                }
                const bool boot = disk.layout == FakeLayout::Gpt ? p.type == kEfiTypeGuid : p.active;
                if (disk.bus != BusTypeUsb && boot && out.systemDevice < 0) {
                    out.systemDevice = v.device;
                    out.systemPartition = v.partition;
                }
            }
        }
    }
    if (named) Fail("scenario.systemPartition", "names no partition with a volume");
}

void ReadScenario(const Json::Value& root, SimScenario& out) {
    OnlyKeys(root, "scenario",
             {"name", "description", "disks", "otherDrives", "facts", "processes", "tools", "server", "realHostRule",
              "systemPartition", "windowsBits"});
    out.realHostRule = Flag(root, "realHostRule", "scenario", false);
    out.windowsBits = Whole(root, "windowsBits", "scenario", 0);
    if (root.isMember("windowsBits") && out.windowsBits != 32 && out.windowsBits != 64)
        Fail("scenario.windowsBits", "must be 32 or 64");
    out.name = Wide(Text(root, "name", "scenario", ""));
    Text(root, "description", "scenario", "");
    const Json::Value& disks = List(root, "disks", "scenario");
    if (disks.empty()) Fail("scenario.disks", "a machine needs at least one disk");
    const Json::Value& others = List(root, "otherDrives", "scenario");
    for (Json::ArrayIndex i = 0; i < others.size(); ++i) {
        std::string at = At("scenario", "otherDrives", i);
        OnlyKeys(others[i], at, {"letter", "type"});
        wchar_t letter = Letter(others[i], "letter", at);
        if (out.otherDrives.count(letter)) Fail(at + ".letter", "is used twice");
        out.otherDrives[letter] = (UINT)Named(others[i], "type", at, kDriveTypeNames,
                                              sizeof(kDriveTypeNames) / sizeof(NamedValue), DRIVE_CDROM);
    }
    for (Json::ArrayIndex i = 0; i < disks.size(); ++i) ReadDisk(disks[i], At("scenario", "disks", i), out);
    ReadSystemPartition(root, out);
    if (root.isMember("facts")) ReadFacts(root["facts"], "scenario.facts", out);
    if (root.isMember("processes")) ReadProcesses(root["processes"], "scenario.processes", out);
    if (root.isMember("tools") && !root["tools"].isObject()) Fail("scenario.tools", "must be an object");
    if (root.isMember("server")) {
        const Json::Value& server = root["server"];
        OnlyKeys(server, "scenario.server", {"mode", "paths", "shares", "mirror"});
        std::string mode = Text(server, "mode", "scenario.server", "normal");
        if (mode != "normal" && mode != "noconfig") Fail("scenario.server.mode", "must be normal or noconfig");
        std::string mirror = Text(server, "mirror", "scenario.server", "");
        // The simulated machine never reaches beyond this host.
        if (!mirror.empty() && mirror.compare(0, 17, "http://127.0.0.1:") != 0)
            Fail("scenario.server.mirror", "must be an address on http://127.0.0.1:");
        out.mirrorUrl = Wide(mirror);
    }
}

}  // namespace

bool ParseSimScenario(const std::string& utf8, SimScenario& out, std::wstring& problem) {
    out = SimScenario();
    Json::CharReaderBuilder builder;
    builder["collectComments"] = false;
    builder["rejectDupKeys"] = true;
    std::unique_ptr<Json::CharReader> reader(builder.newCharReader());
    Json::Value root;
    std::string errors;
    if (!reader->parse(utf8.data(), utf8.data() + utf8.size(), &root, &errors)) {
        while (!errors.empty() && (errors.back() == '\n' || errors.back() == ' ')) errors.pop_back();
        problem = L"not valid JSON: " + Wide(errors);
        return false;
    }
    try {
        ReadScenario(root, out);
    } catch (const Fault& fault) {
        problem = Wide(fault.text);
        out = SimScenario();
        return false;
    }
    return true;
}

bool ReadSimScenario(const std::wstring& path, SimScenario& out, std::wstring& problem) {
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        problem = path + L": cannot be opened (error " + std::to_wstring(GetLastError()) + L")";
        return false;
    }
    std::string text;
    char buffer[8192];
    DWORD n = 0;
    while (ReadFile(file, buffer, sizeof(buffer), &n, nullptr) && n) text.append(buffer, n);
    CloseHandle(file);
    if (!ParseSimScenario(text, out, problem)) {
        problem = path + L": " + problem;
        return false;
    }
    return true;
}
