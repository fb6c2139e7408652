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
}
