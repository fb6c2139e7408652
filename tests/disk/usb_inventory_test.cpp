// The USB disk inventory: which disks it lists, how it keeps their paths,
// and its lookups between device numbers, paths and drive letters.
#include <gtest/gtest.h>

#include "core/fixed_texts.h"
#include "disk/usb_disk_inventory.h"
#include "disk_test_support.h"
#include "usb_test_support.h"

namespace {

// A stick whose identification strings carry blanks.
FakeDisk Stick(const wchar_t* path, int device) {
    FakeDisk d = UsbStick(path, device);
    d.vendor = "Stick   ";
    d.product = "Go 8G ";
    return d;
}

FakeDisk Sata(int device) {
    FakeDisk d;
    d.path = L"\\\\?\\scsi#disk&ven_acme#" + std::to_wstring(device);
    d.device = device;
    return d;
}

TEST(UsbDiskInventory, KeepsAUsbPathAtItsMemberIndexOnly) {
    FakeMachine m;
    m.disks = {Sata(0), Stick(L"\\\\?\\usbstor#disk&ven_stick#1", 1)};
    CUsbDiskInventory inventory(&m);
    inventory.Refresh();
    EXPECT_EQ(2, inventory.m_pathCount);
    EXPECT_TRUE(inventory.m_paths[0].IsEmpty());
    EXPECT_STREQ(L"\\\\?\\usbstor#disk&ven_stick#1", inventory.m_paths[1]);
    ASSERT_EQ(1, inventory.m_disks.GetSize());
    const usb_disk_info& stick = inventory.m_disks[0];
    EXPECT_EQ(1, stick.device_number);
    // The identification strings keep their blanks; no style text.
    EXPECT_STREQ(L"Stick   Go 8G ", stick.model);
    EXPECT_TRUE(stick.style_text.IsEmpty());
    EXPECT_EQ(BusTypeUsb, stick.bus_type);
    EXPECT_EQ(1, stick.removable);
    EXPECT_EQ(0, m.openHandles);
}

TEST(UsbDiskInventory, EveryRefreshStartsFromEmptySlots) {
    FakeMachine m;
    m.disks = {Sata(0), Stick(L"\\\\?\\usbstor#disk&ven_stick#1", 1)};
    CUsbDiskInventory inventory(&m);
    inventory.Refresh();
    // The stick is pulled and a fixed disk takes member index 1.
    m.disks = {Sata(0), Sata(2)};
    inventory.Refresh();
    EXPECT_EQ(2, inventory.m_pathCount);
    EXPECT_TRUE(inventory.m_paths[1].IsEmpty());
    EXPECT_EQ(0, inventory.m_disks.GetSize());
}

TEST(UsbDiskInventory, ThePrefixIsComparedWithItsCase) {
    FakeMachine m;
    m.disks = {Stick(L"\\\\?\\USBSTOR#disk&ven_stick#1", 1), Stick(L"\\\\?\\usbstor#disk&ven_stick#2", 2)};
    CUsbDiskInventory inventory(&m);
    inventory.Refresh();
    ASSERT_EQ(1, inventory.m_disks.GetSize());
    EXPECT_EQ(2, inventory.m_disks[0].device_number);
}

TEST(UsbDiskInventory, DisksAreSortedByDeviceNumberAndUnopenableOnesLeftOut) {
    FakeMachine m;
    FakeDisk broken = Stick(L"\\\\?\\usbstor#disk&ven_broken#9", 0);
    broken.openFails = true;
    m.disks = {Stick(L"\\\\?\\usbstor#b#5", 5), broken, Stick(L"\\\\?\\usbstor#a#4", 4)};
    CUsbDiskInventory inventory(&m);
    inventory.Refresh();
    ASSERT_EQ(2, inventory.m_disks.GetSize());
    EXPECT_EQ(4, inventory.m_disks[0].device_number);
    EXPECT_EQ(5, inventory.m_disks[1].device_number);
}

class UsbLookups : public ::testing::Test {
protected:
    void SetUp() override {
        BuildUsbMachine(m, 3);
        FakeVolume second = m.volumes[2];
        second.letter = L'E';  // listed before F: by the drive list
        second.partition = 2;
        m.volumes.push_back(second);
        inventory.Refresh();
    }
    FakeMachine m;
    CUsbDiskInventory inventory{&m};
};

TEST_F(UsbLookups, LettersOfPathAppendsEveryLetterInRecordOrder) {
    CString letters = L"x";
    EXPECT_TRUE(inventory.LettersOfPath(UsbStickPath(3).c_str(), letters));
    EXPECT_STREQ(L"xE:F:", letters);
    CString none;
    EXPECT_FALSE(inventory.LettersOfPath(L"\\\\?\\usbstor#unknown", none));
    EXPECT_TRUE(none.IsEmpty());
}

TEST_F(UsbLookups, DeviceNumberOfPathIsExact) {
    EXPECT_EQ(3, inventory.DeviceNumberOfPath(UsbStickPath(3).c_str()));
    CString upper = UsbStickPath(3).c_str();
    upper.MakeUpper();
    EXPECT_EQ(-1, inventory.DeviceNumberOfPath(upper));
    // Only USB disks are in the inventory.
    EXPECT_EQ(-1, inventory.DeviceNumberOfPath(L"\\\\?\\scsi#disk&ven_acme#0"));
}

TEST_F(UsbLookups, LetterOfDeviceCountsAfterReReadingTheLetters) {
    int count = -1;
    CString letter;
    inventory.LetterOfDevice(3, count, letter);
    EXPECT_EQ(2, count);
    EXPECT_STREQ(L"F:", letter);
    inventory.LetterOfDevice(7, count, letter);
    EXPECT_EQ(0, count);
    EXPECT_STREQ(FixedText::kNoLetter, letter);
    // A letter that appears later is seen: the letters are read again.
    FakeVolume g = m.volumes[2];
    g.letter = L'G';
    g.device = 7;
    m.volumes.push_back(g);
    inventory.LetterOfDevice(7, count, letter);
    EXPECT_EQ(1, count);
    EXPECT_STREQ(L"G:", letter);
}

TEST_F(UsbLookups, FindLetterByKeyRefreshesOnlyWhenAsked) {
    CString letter;
    EXPECT_TRUE(inventory.FindLetterByKey(L"3:2", letter, FALSE));
    EXPECT_STREQ(L"E:", letter);
    FakeVolume h = m.volumes[2];
    h.letter = L'H';
    h.partition = 3;
    m.volumes.push_back(h);
    EXPECT_FALSE(inventory.FindLetterByKey(L"3:3", letter, FALSE));
    EXPECT_STREQ(FixedText::kNoLetter, letter);
    EXPECT_TRUE(inventory.FindLetterByKey(L"3:3", letter, TRUE));
    EXPECT_STREQ(L"H:", letter);
    EXPECT_FALSE(inventory.FindLetterByKey(L"3:", letter, FALSE)) << "keys compare exactly";
}

TEST_F(UsbLookups, LetterOfDeviceNumberGivesTheFirstLetter) {
    CString letter;
    EXPECT_TRUE(inventory.LetterOfDeviceNumber(3, letter));
    EXPECT_STREQ(L"E:", letter);
    EXPECT_TRUE(inventory.LetterOfDeviceNumber(9, letter));
    EXPECT_STREQ(FixedText::kNoLetter, letter);
}

TEST_F(UsbLookups, DriveIsOnDeviceReadsTheLettersAfresh) {
    EXPECT_TRUE(DriveIsOnDevice(m, L"F:", 3));
    EXPECT_TRUE(DriveIsOnDevice(m, L"e:", 3)) << "letters compare without case";
    EXPECT_FALSE(DriveIsOnDevice(m, L"C:", 3));
    EXPECT_FALSE(DriveIsOnDevice(m, L"Q:", 3));
    // The stick is pulled and another disk's volume takes its letter: the
    // inventory still says F: is the stick's, the machine no longer does.
    m.volumes[2].device = 0;
    CString letter;
    inventory.LetterOfDeviceNumber(3, letter);
    inventory.FindLetterByKey(L"3:1", letter, FALSE);
    EXPECT_STREQ(L"F:", letter);
    EXPECT_FALSE(DriveIsOnDevice(m, L"F:", 3));
}

}  // namespace
