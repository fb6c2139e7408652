// The picture page and the USB page's help dialog: they open with their
// pictures, the help dialog's tabs switch its picture, and the help dialog
// closes with its button and with the stock keys (Enter, Escape).
#include <gtest/gtest.h>

#include <functional>

#include "../controls/controls_test_support.h"
#include "core/fixed_texts.h"
#include "pages/hotkey_dlg.h"
#include "pages/manual_dlg.h"
#include "support/test_files.h"

namespace {

bool Shown(CWnd& control) { return (::GetWindowLongW(control.GetSafeHwnd(), GWL_STYLE) & WS_VISIBLE) != 0; }

TEST(PicturePage, OneDisabledPictureFillsThePage) {
    CHostWnd host;
    ASSERT_TRUE(host.CreateHost(0, 0, 920, 460));
    CManualDlg page;
    ASSERT_TRUE(page.Create(IDD_MANUAL, &host));
    page.MoveWindow(0, 0, 920, 460);
    page.ShowWindow(SW_SHOW);
    Pump(100);
    EXPECT_TRUE(page.m_picture.IsLoaded());
    EXPECT_FALSE(page.m_picture.IsWindowEnabled());
    CRect r;
    page.m_picture.GetWindowRect(&r);
    EXPECT_EQ(920, r.Width());
    EXPECT_EQ(460, r.Height());
    // A click on the picture reaches nobody: the disabled control takes no input.
    const size_t notes = host.m_notes.size();
    page.m_picture.SendMessage(WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(100, 100));
    page.m_picture.SendMessage(WM_LBUTTONUP, 0, MAKELPARAM(100, 100));
    Pump(50);
    EXPECT_EQ(notes, host.m_notes.size());
    std::wstring shot = TestProgramDirectory() + L"\\picture_page.png";
    EXPECT_GT(CaptureWindow(host.GetSafeHwnd(), shot.c_str()), 20);
    page.DestroyWindow();
    host.DestroyWindow();
}

std::function<void()>* s_drive = nullptr;

void CALLBACK DriveHelpDialog(HWND, UINT, UINT_PTR id, DWORD) {
    KillTimer(nullptr, id);
    if (s_drive) (*s_drive)();
}

// Runs the help dialog modally; `drive` runs once inside its modal loop.
INT_PTR RunHelpDialog(Chotkey& dialog, std::function<void()> drive) {
    s_drive = &drive;
    const UINT_PTR timer = SetTimer(nullptr, 0, 200, DriveHelpDialog);
    const INT_PTR result = dialog.DoModal();
    KillTimer(nullptr, timer);
    s_drive = nullptr;
    return result;
}

void PressKey(HWND focus, UINT key) {
    // Through the thread's queue, so the modal loop's translation sees it.
    PostMessageW(focus, WM_KEYDOWN, key, 1);
    PostMessageW(focus, WM_KEYUP, key, 0xC0000001);
}

TEST(HelpDialog, TabsShowExactlyOnePictureAndTheCloseButtonEndsIt) {
    Chotkey dialog;
    int visibleCounts[5] = {};
    int tabs[5] = {};
    const INT_PTR result = RunHelpDialog(dialog, [&] {
        CRect r;
        dialog.GetWindowRect(&r);
        EXPECT_EQ(720, r.Width());
        EXPECT_EQ(400, r.Height());
        EXPECT_TRUE(dialog.m_background.IsLoaded());
        EXPECT_EQ(1, dialog.m_tabButtons[0].SendMessage(BM_GETCHECK));
        // Tab 3, tab 3 again, tab 2, tab 1, tab 1 again.
        const int clicks[5] = {3, 3, 2, 1, 1};
        for (int i = 0; i < 5; ++i) {
            dialog.m_tabButtons[clicks[i] - 1].SendMessage(BM_CLICK);
            Pump(30);
            for (CPicStaticCtrl& picture : dialog.m_pictures) visibleCounts[i] += Shown(picture) ? 1 : 0;
            tabs[i] = dialog.m_currentTab;
            EXPECT_TRUE(Shown(dialog.m_pictures[clicks[i] - 1])) << i;
            if (i == 0) {
                std::wstring shot = TestProgramDirectory() + L"\\help_dialog_tab3.png";
                EXPECT_GT(CaptureWindow(dialog.GetSafeHwnd(), shot.c_str()), 20);
            }
        }
        dialog.m_closeButton.SendMessage(BM_CLICK);
    });
    EXPECT_EQ(IDOK, result);
    const int expectedTabs[5] = {3, 3, 2, 1, 1};
    for (int i = 0; i < 5; ++i) {
        EXPECT_EQ(1, visibleCounts[i]) << i;
        EXPECT_EQ(expectedTabs[i], tabs[i]) << i;
    }
}

TEST(HelpDialog, EnterAndEscapeCloseIt) {
    const UINT keys[2] = {VK_RETURN, VK_ESCAPE};
    const INT_PTR expected[2] = {IDOK, IDCANCEL};
    for (int i = 0; i < 2; ++i) {
        Chotkey dialog;
        const INT_PTR result = RunHelpDialog(dialog, [&] {
            if (i == 0) {
                std::wstring shot = TestProgramDirectory() + L"\\help_dialog.png";
                EXPECT_GT(CaptureWindow(dialog.GetSafeHwnd(), shot.c_str()), 20);
            }
            PressKey(::GetFocus() ? ::GetFocus() : dialog.GetSafeHwnd(), keys[i]);
        });
        EXPECT_EQ(expected[i], result) << i;
        EXPECT_EQ(nullptr, dialog.GetSafeHwnd());
    }
}

}  // namespace
