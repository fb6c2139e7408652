// The USB disk list: which disks it lists, the line it draws for each, and
// how a click redraws the whole list.
#include <gtest/gtest.h>

#include "controls/usb_list.h"
#include "controls_test_support.h"
#include "core/fixed_texts.h"
#include "disk/usb_test_support.h"

namespace {

class UsbList : public ::testing::Test {
protected:
    void SetUp() override {
        BuildUsbMachine(m, 3);
        FakeVolume e = m.volumes[2];
        e.letter = L'E';
        e.partition = 2;
        m.volumes.push_back(e);
        FakeDisk fixedUsb = UsbStick(L"\\\\?\\usbstor#disk&ven_big&prod_hdd#4&0", 4);
        fixedUsb.removable = false;
        fixedUsb.vendor = "Big ";
        fixedUsb.product = "HDD";
        FakeDisk noMedia = UsbStick(L"\\\\?\\usbstor#disk&ven_card&prod_reader#5&0", 5);
        noMedia.cylinders = 0;
        m.disks.push_back(fixedUsb);
        m.disks.push_back(noMedia);
        ASSERT_TRUE(host.CreateHost(0, 0, 520, 300));
        list.m_inventory = &inventory;
        ASSERT_TRUE(list.Create(WS_CHILD | WS_VISIBLE | WS_VSCROLL | LBS_NOTIFY | LBS_HASSTRINGS |
                                    LBS_NOINTEGRALHEIGHT | LBS_SORT,
                                CRect(30, 58, 478, 244), &host, 10604));
    }
    void TearDown() override { host.DestroyWindow(); }
    CString ItemText(int index) {
        CString text;
        list.GetText(index, text);
        return text;
    }
    // The list loads its pictures when it is constructed: they must be there first.
    struct Pictures : TestPictures {
        Pictures() {
            Add(FixedText::kSkinUsbListChosen, RGB(0, 128, 0), 13, 13);
            Add(FixedText::kSkinUsbListUnchosen, RGB(128, 128, 0), 13, 13);
        }
    } pictures;
    FakeMachine m;
    CUsbDiskInventory inventory{&m};
    CHostWnd host;
    CMyusbListbox list;
};

TEST_F(UsbList, ListsRemovableDisksWithMediaAndFixedOnesOnlyWhenAsked) {
    const LONG style = GetWindowLongW(list.m_hWnd, GWL_STYLE);
    EXPECT_TRUE(style & LBS_OWNERDRAWVARIABLE);
    EXPECT_FALSE(style & LBS_SORT);
    list.FillDisks(0);
    ASSERT_EQ(1, list.GetCount());
    EXPECT_STREQ(UsbStickPath(3).c_str(), ItemText(0));
    EXPECT_EQ(30, (int)list.SendMessage(LB_GETITEMHEIGHT, 0));
    list.FillDisks(1);
    ASSERT_EQ(2, list.GetCount()) << "a disk without media is never listed";
    EXPECT_STREQ(L"\\\\?\\usbstor#disk&ven_big&prod_hdd#4&0", ItemText(1));
    list.FillDisks(0);
    EXPECT_EQ(1, list.GetCount()) << "every fill starts from an empty list";
}

TEST_F(UsbList, AnItemShowsLettersNumberModelAndSize) {
    list.FillDisks(1);
    CString text = ItemText(0);
    list.DiskItemText(text);
    // 1000 x 255 x 63 x 512 bytes = 8.2 GB, rounded up.
    EXPECT_STREQ(L"  E:F:   磁盘 3   StickGo 8G   (9 GB)", text);
    text = ItemText(1);
    list.DiskItemText(text);
    EXPECT_STREQ(L"     磁盘 4   Big HDD   (9 GB)", text) << "no letters, the model untrimmed";
    // The stick is pulled: its item keeps the raw path until the next fill.
    m.disks.erase(m.disks.begin() + 2);
    inventory.Refresh();
    text = ItemText(0);
    list.DiskItemText(text);
    EXPECT_STREQ(UsbStickPath(3).c_str(), text);
}

TEST_F(UsbList, DrawsTheSelectedItemWithItsBackgroundAndCheck) {
    list.FillDisks(1);
    MemSurface s(448, 30);
    DRAWITEMSTRUCT item = {};
    item.CtlType = ODT_LISTBOX;
    item.itemID = 0;
    item.itemAction = ODA_DRAWENTIRE;
    item.itemState = ODS_SELECTED;
    item.hDC = s.dc();
    item.rcItem = {0, 0, 448, 30};
    list.DrawItem(&item);
    EXPECT_TRUE(Near(0xF5F2EE, s.At(3, 3), 0)) << "selected background";
    EXPECT_TRUE(Near(RGB(0, 128, 0), s.At(26, 14), 0)) << "checked picture at (20, 8)";
    MemSurface plain(448, 30, RGB(255, 255, 255));
    item.hDC = plain.dc();
    item.itemState = 0;
    list.DrawItem(&item);
    EXPECT_TRUE(Near(RGB(255, 255, 255), plain.At(3, 3), 0));
    EXPECT_TRUE(Near(RGB(128, 128, 0), plain.At(26, 14), 0)) << "unchecked picture";
    // A selection or focus change draws the whole item too, check mark and all.
    struct Case {
        const char* name;
        UINT action;
        UINT state;
        COLORREF background, check;
    } cases[] = {
        {"selected", ODA_SELECT, ODS_SELECTED, 0xF5F2EE, RGB(0, 128, 0)},
        {"deselected", ODA_SELECT, 0, RGB(1, 2, 3), RGB(128, 128, 0)},
        {"focused", ODA_FOCUS, ODS_SELECTED | ODS_FOCUS, 0xF5F2EE, RGB(0, 128, 0)},
        {"focus lost", ODA_FOCUS, 0, RGB(1, 2, 3), RGB(128, 128, 0)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        MemSurface surface(448, 30, RGB(1, 2, 3));
        SetBkColor(surface.dc(), RGB(1, 2, 3));
        item.hDC = surface.dc();
        item.itemAction = c.action;
        item.itemState = c.state;
        list.DrawItem(&item);
        EXPECT_TRUE(Near(c.background, surface.At(3, 3), 0));
        EXPECT_TRUE(Near(c.check, surface.At(26, 14), 0));
    }
}

TEST_F(UsbList, AClickSelectsAndRedrawsTheWholeList) {
    list.FillDisks(1);
    list.SetCurSel(0);
    list.UpdateWindow();
    list.SendMessage(WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(100, 45));
    list.SendMessage(WM_LBUTTONUP, 0, MAKELPARAM(100, 45));
    EXPECT_EQ(1, list.GetCurSel());
    RECT dirty = {}, client = {};
    GetUpdateRect(list.m_hWnd, &dirty, FALSE);
    GetClientRect(list.m_hWnd, &client);
    EXPECT_TRUE(EqualRect(&dirty, &client)) << "every item is drawn again, the old selection too";
}

// What the screen shows at a point of the list's client area.
COLORREF OnScreen(HWND list, int x, int y) {
    POINT at = {x, y};
    ClientToScreen(list, &at);
    HDC screen = GetDC(nullptr);
    COLORREF color = GetPixel(screen, at.x, at.y);
    ReleaseDC(nullptr, screen);
    return color;
}

// After a click the list has the focus, and the keyboard moves the
// selection: the check mark on the screen moves with it, so the disk shown
// as chosen is the one a job would erase. Read from the screen without a
// repaint of the whole list, which would hide a selection drawn nowhere.
TEST_F(UsbList, TheKeyboardMovesTheCheckMarkWithTheSelection) {
    m.disks.push_back(UsbStick(L"\\\\?\\usbstor#disk&ven_third&prod_stick#6&0", 6));
    list.FillDisks(1);
    ASSERT_EQ(3, list.GetCount());
    // The run's screen captures take turns through this mutex and raise the
    // window they capture: none may come over this one while it is read.
    HANDLE turn = CreateMutexW(nullptr, FALSE, L"Local\\KavettaTestScreenCapture");
    if (turn) WaitForSingleObject(turn, 120000);
    SetWindowPos(host.m_hWnd, HWND_TOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
    const COLORREF checked = RGB(0, 128, 0), unchecked = RGB(128, 128, 0);
    // Where the screen shows the check mark: on `chosen` only.
    auto checkMarkOn = [&](int chosen) {
        for (int i = 0; i < 3; ++i)
            if (OnScreen(list.m_hWnd, 26, i * CMyusbListbox::kItemHeight + 14) != (i == chosen ? checked : unchecked))
                return false;
        return true;
    };
    list.SendMessage(WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(100, 15));
    list.SendMessage(WM_LBUTTONUP, 0, MAKELPARAM(100, 15));
    EXPECT_EQ(0, list.GetCurSel());
    EXPECT_TRUE(PumpUntil([&] { return checkMarkOn(0); }, 30000)) << "the click";
    struct Key {
        const char* name;
        UINT key;
        int selected;
    } keys[] = {{"Down", VK_DOWN, 1}, {"End", VK_END, 2}, {"Up", VK_UP, 1}, {"Home", VK_HOME, 0}};
    for (const Key& k : keys) {
        SCOPED_TRACE(k.name);
        list.SendMessage(WM_KEYDOWN, k.key, 0);
        list.SendMessage(WM_KEYUP, k.key, 0xC0000000);
        EXPECT_EQ(k.selected, list.GetCurSel());
        EXPECT_TRUE(PumpUntil([&] { return checkMarkOn(k.selected); }, 30000));
    }
    SetWindowPos(host.m_hWnd, HWND_NOTOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
    if (turn) {
        ReleaseMutex(turn);
        CloseHandle(turn);
    }
}

}  // namespace
