// Shared machines and helpers of the disk tests.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "core/tarvel_app.h"
#include "disk/disk_inventory.h"
#include "support/fake_machine.h"
#include "support/scripted_encryption.h"

const LONGLONG kMiB = 1024LL * 1024;
const LONGLONG kGiB = 1024 * kMiB;

FakePartition MbrPartition(int number, BYTE type, LONGLONG length, bool active = false);
FakePartition GptPartition(int number, const GUID& type, LONGLONG length, const wchar_t* name);
FakeVolume Volume(wchar_t letter, int device, int partition, const wchar_t* fs, ULONGLONG freeBytes);

// The standard machine: a GPT system disk (device 0: EFI without letter,
// MSR, C:, recovery without letter), an MBR disk (device 1: active D:, an
// extended container entry, logical E:, an empty slot), a RAW disk (device 2)
// and a USB disk (device 3: active F:), enumerated as 2, 0, 3, 1; G: is an
// optical drive. The firmware starts Windows from the EFI partition (0:1).
void BuildStandardMachine(FakeMachine& m);

std::string Narrow(const CString& s);

// A fresh application object (the one the disk layer reads) and a machine,
// whose BitLocker answers as scripted (no BitLocker unless a test says so).
class DiskTest : public ::testing::Test {
protected:
    CTarvelApp app;
    FakeMachine machine;
    ScopedEncryptionFacts encryption;
};
