#include "disk_test_support.h"

FakePartition MbrPartition(int number, BYTE type, LONGLONG length, bool active) {
    FakePartition p;
    p.number = number;
    p.mbrType = type;
    p.lengthBytes = length;
    p.active = active;
    p.startBytes = number * kGiB;
    p.hiddenSectors = 2048 * (DWORD)number;
    return p;
}

FakePartition GptPartition(int number, const GUID& type, LONGLONG length, const wchar_t* name) {
    FakePartition p;
    p.number = number;
    p.type = type;
    p.id = {0x11110000u + (DWORD)number, 0x2222, 0x3333, {0x44, 0x55, 0x66, 0x77, 0x88, 0x99, 0xAA, (BYTE)number}};
    p.lengthBytes = length;
    p.startBytes = number * kMiB;
    p.name = name;
    return p;
}

FakeVolume Volume(wchar_t letter, int device, int partition, const wchar_t* fs, ULONGLONG freeBytes) {
    FakeVolume v;
    v.letter = letter;
    v.device = device;
    v.partition = partition;
    v.fileSystem = fs;
    v.freeBytes = freeBytes;
    return v;
}

void BuildStandardMachine(FakeMachine& m) {
    FakeDisk raw;
    raw.path = L"\\\\?\\scsi#disk&ven_raw#2";
    raw.device = 2;
    raw.vendor = "RAWCO   ";
    raw.product = "Blank";
    raw.layout = FakeLayout::Raw;

    FakeDisk system;
    system.path = L"\\\\?\\scsi#disk&ven_acme#0";
    system.device = 0;
    system.vendor = "ACME    ";
    system.product = "FastSSD 512 ";
    system.layout = FakeLayout::Gpt;
    system.cylinders = 62260;
    system.partitions = {GptPartition(1, kEfiTypeGuid, 100 * kMiB, L"EFI system partition"),
                         GptPartition(2, kMsrTypeGuid, 16 * kMiB, L"Microsoft reserved partition"),
                         GptPartition(3, kBasicDataGuid, 200 * kGiB, L"Basic data partition"),
                         GptPartition(4, kRecoveryGuid, 512 * kMiB, L"")};
    system.partitions[3].attributes = 0x8000000000000001ULL;

    FakeDisk data;
    data.path = L"\\\\?\\scsi#disk&ven_bulk#1";
    data.device = 1;
    data.vendor = "BULK";
    data.product = " Store 2T";
    data.layout = FakeLayout::Mbr;
    data.partitions = {MbrPartition(1, 0x07, 1 * kGiB, true), MbrPartition(0, 0x0F, 500 * kGiB),
                       MbrPartition(2, 0x07, 400 * kGiB), MbrPartition(0, 0x00, 0)};

    FakeDisk usb;
    usb.path = L"\\\\?\\usbstor#disk&ven_stick#3";
    usb.device = 3;
    usb.bus = BusTypeUsb;
    usb.removable = true;
    usb.vendor = "Stick";
    usb.product = "Go 32G";
    usb.layout = FakeLayout::Mbr;
    usb.partitions = {MbrPartition(1, 0x0C, 32 * kGiB, true)};

    system.diskGuid = {0x5157E000, 0x0001, 0x4000, {0x80, 0, 0, 0, 0, 0, 0, 0x01}};
    data.signature = 0x1D15C001;
    usb.signature = 0x05B00003;
    m.disks = {raw, system, usb, data};

    FakeVolume c = Volume(L'C', 0, 3, L"NTFS", 50 * kGiB);
    c.label = L"System";
    c.hasProbe = true;
    c.probeVersion = L"10.0.19041.1";
    FakeVolume d = Volume(L'D', 1, 1, L"NTFS", 10240 * kMiB);
    d.label = L"Data";
    FakeVolume e = Volume(L'E', 1, 2, L"FAT32", 300 * kGiB);
    FakeVolume f = Volume(L'F', 3, 1, L"FAT32", 30 * kGiB);
    f.driveType = DRIVE_REMOVABLE;
    FakeVolume efi = Volume(0, 0, 1, L"FAT32", 70 * kMiB);
    efi.label = L"EFI";
    FakeVolume recovery = Volume(0, 0, 4, L"NTFS", 100 * kMiB);
    m.volumes = {c, d, e, f, efi, recovery};
    // The firmware starts this Windows from the EFI partition of the system disk.
    m.SetSystemPartition(0, 1);
    m.otherDrives[L'G'] = DRIVE_CDROM;
}

std::string Narrow(const CString& s) { return std::string(Utf16ToUtf8(s).GetString()); }
