#include <wctype.h>

#include "core/fixed_texts.h"
#include "usb_test_support.h"

std::wstring UsbStickPath(int usbDevice) {
    return L"\\\\?\\usbstor#disk&ven_stick&prod_go_8g#" + std::to_wstring(usbDevice) + L"&0";
}

LONGLONG UsbStickBytes() { return 1000LL * 255 * 63 * 512; }

FakeDisk UsbStick(const std::wstring& path, int device) {
    FakeDisk stick;
    stick.path = path;
    stick.device = device;
    stick.bus = BusTypeUsb;
    stick.removable = true;
    stick.vendor = "Stick";
    stick.product = "Go 8G";
    return stick;
}

void BuildUsbMachine(FakeMachine& m, int usbDevice) {
    int others[2], n = 0;
    for (int d = 0; n < 2; ++d)
        if (d != usbDevice) others[n++] = d;

    FakeDisk system;
    system.path = L"\\\\?\\scsi#disk&ven_acme#0";
    system.device = others[0];
    system.vendor = "ACME";
    system.product = "SSD";
    FakePartition c;
    c.number = 1;
    c.lengthBytes = 200LL << 30;
    system.partitions = {c};

    FakeDisk data = system;
    data.path = L"\\\\?\\scsi#disk&ven_bulk#1";
    data.device = others[1];

    FakeDisk stick = UsbStick(UsbStickPath(usbDevice), usbDevice);
    FakePartition p;
    p.number = 1;
    p.mbrType = 0x0C;
    p.lengthBytes = UsbStickBytes() - (2 << 20);
    stick.partitions = {p};
    m.disks = {system, data, stick};

    FakeVolume cv;
    cv.letter = L'C';
    cv.device = others[0];
    cv.partition = 1;
    FakeVolume dv = cv;
    dv.letter = L'D';
    dv.device = others[1];
    FakeVolume fv;
    fv.letter = L'F';
    fv.device = usbDevice;
    fv.partition = 1;
    fv.fileSystem = L"FAT32";
    fv.driveType = DRIVE_REMOVABLE;
    m.volumes = {cv, dv, fv};
    // The test program's own drive (under Wine the build tree's Z:) is a
    // protected drive of every check; it is none of these disks.
    wchar_t own[MAX_PATH] = {};
    if (GetModuleFileNameW(nullptr, own, MAX_PATH) > 2 && own[1] == L':') {
        wchar_t letter = (wchar_t)towupper(own[0]);
        if (letter != L'C' && letter != L'D' && letter != L'F') m.otherDrives[letter] = DRIVE_REMOTE;
    }
}

void AddUsbWriterSources(FakeMachine& m, const std::wstring& workFolder) {
    static const wchar_t* const kBootSources[10] = {L"wgl4_boot.ttf", L"chs_boot.ttf", L"bootmgr.exe.mui", L"bootmgr",
                                                    L"bootmgfw.efi", L"bootmgfw.efi.mui", L"waldr", L"boot.sdi",
                                                    L"bhd", L"efibcd"};
    m.AddFolder(workFolder);
    m.AddFolder(workFolder + L"\\tools");
    for (const wchar_t* tool : {FixedText::kUsbPrepareTool, FixedText::kUsbPartitionTool,
                                FixedText::kUsbBootSectorTool, FixedText::kUsbBootRecordFile})
        m.AddFile(workFolder + L"\\" + tool, 1024);
    for (const wchar_t* name : kBootSources) m.AddFile(workFolder + L"\\tools\\" + name, 262144);
    m.files[FakeMachine::Upper(workFolder + L"\\" + FixedText::kUsbBootRecordFile)].content = UsbBootRecordBytes();
}

std::string UsbBootRecordBytes() {
    std::string record(1024, '\0');
    record[510] = (char)0x55;
    record[511] = (char)0xAA;
    record.replace(512 + 16, 5, "GRLDR");
    return record;
}
