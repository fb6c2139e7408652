// Machines with a USB stick, shared by the USB inventory, writer and tool tests.
#pragma once

#include <string>

#include "support/fake_machine.h"

// A SATA system disk (C:, the Windows volume), a SATA data disk (D:) and a
// removable USB stick of about 8 GB with one FAT32 partition (F:). The stick
// has device number `usbDevice`; the SATA disks take the two lowest others.
void BuildUsbMachine(FakeMachine& m, int usbDevice = 3);
// The interface path of the stick of BuildUsbMachine.
std::wstring UsbStickPath(int usbDevice = 3);
// A removable USB disk of about 8 GB without partitions.
FakeDisk UsbStick(const std::wstring& path, int device);
// The stick's size in bytes.
LONGLONG UsbStickBytes();
// The files the boot-disk writer reads from the work folder: our tools and
// the boot-record file (1 KiB each), the ten boot files under tools\ (256 KiB each).
void AddUsbWriterSources(FakeMachine& m, const std::wstring& workFolder);
// A boot record as the boot-sector tool takes it: two sectors, the boot
// signature, the loader's name in the second sector.
std::string UsbBootRecordBytes();
