// The backup page (its boxes, select-all, the folder link, Next and Back)
// and the picker (its three tabs and lists, the fill from the catalogue and
// OK with its refusals), each on a host window that records where the page
// asks to go, plus the road through the main window.
#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "../controls/controls_test_support.h"
#include "core/fixed_texts.h"
#include "core/messages.h"
#include "core/tarvel_app.h"
#include "pages/backup_dlg.h"
#include "pages/os_download_dlg.h"
#include "pages/os_select_dlg.h"
#include "pages/osinfo_dlg.h"
#include "pages_test_support.h"

namespace {

// A 920 x 460 host that records the page's WM_PAGE_NAVIGATE requests.
class NavHost : public CHostWnd {
public:
    std::vector<std::pair<WPARAM, LPARAM>> m_navigations;

protected:
    LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam) override {
        if (message == WM_PAGE_NAVIGATE) {
            m_navigations.push_back({wParam, lParam});
            return 0;
        }
        return CHostWnd::WindowProc(message, wParam, lParam);
    }
};

template <typename Page>
bool CreatePage(NavHost& host, Page& page, UINT id) {
    if (!host.CreateHost(0, 0, 920, 460)) return false;
    if (!page.Create(id, &host)) return false;
    page.MoveWindow(0, 0, 920, 460);
    page.ShowWindow(SW_SHOW);
    Pump(100);
    return true;
}

CRect RectInPage(CWnd& page, UINT id) {
    CRect r;
    HWND h = ::GetDlgItem(page.GetSafeHwnd(), id);
    if (!h) return r;
    ::GetWindowRect(h, &r);
    ::MapWindowPoints(nullptr, page.GetSafeHwnd(), reinterpret_cast<POINT*>(&r), 2);
    return r;
}

CString WindowText(HWND h) {
    wchar_t text[512] = {};
    ::GetWindowTextW(h, text, 511);
    return text;
}

// ------------------------------------------------------------ backup page

class BackupPage : public testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(CreatePage(host, page, IDD_BACKUP)); }
    void TearDown() override {
        if (page.GetSafeHwnd()) page.DestroyWindow();
        if (host.GetSafeHwnd()) host.DestroyWindow();
    }
    int Check(UINT id) { return (int)::SendDlgItemMessageW(page.GetSafeHwnd(), id, BM_GETCHECK, 0, 0); }
    NavHost host;
    CbackupDlg page;
};

TEST_F(BackupPage, ControlsSitWhereTheyShouldAndTheBoxesStartUnchecked) {
    struct Case {
        UINT id;
        RECT rect;
        int kind;  // -1: not a skin button
    } cases[] = {
        {IDC_NEXT, {760, 380, 880, 420}, CxSkinButton::kPush},
        {IDC_BACK, {600, 380, 720, 420}, CxSkinButton::kPush},
        {IDC_BACKUP_FOLDER_LINK, {310, 60, 810, 85}, -1},
        {IDC_BACKUP_ALL, {250, 55, 300, 85}, CxSkinButton::kCheck},
        {IDC_BACKUP_DESKTOP, {330, 160, 430, 240}, CxSkinButton::kCheck},
        {IDC_BACKUP_DOCUMENTS, {510, 160, 610, 240}, CxSkinButton::kCheck},
        {IDC_BACKUP_FAVORITES, {690, 160, 790, 240}, CxSkinButton::kCheck},
        {IDC_BACKUP_NEW_WINDOWS_NOTE, {256, 102, 866, 122}, -1},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(CRect(c.rect), RectInPage(page, c.id)) << c.id;
        HWND h = ::GetDlgItem(page.GetSafeHwnd(), c.id);
        ASSERT_TRUE(h) << c.id;
        EXPECT_TRUE(::IsWindowVisible(h)) << c.id;
        if (c.kind < 0) continue;
        auto* button = dynamic_cast<CxSkinButton*>(CWnd::FromHandlePermanent(h));
        ASSERT_TRUE(button) << c.id;
        EXPECT_EQ(c.kind, button->GetKind()) << c.id;
        if (c.kind == CxSkinButton::kCheck) {
            EXPECT_EQ(BST_UNCHECKED, Check(c.id)) << c.id;
        }
    }
    EXPECT_EQ(CString(FixedText::kBackupFolderLinkInitial), WindowText(page.m_folderLink.GetSafeHwnd()));
    HWND update = ::GetDlgItem(page.GetSafeHwnd(), IDC_UPDATE_LINK);
    ASSERT_TRUE(update);
    EXPECT_FALSE(::IsWindowVisible(update));
    EXPECT_EQ(2, page.m_currentStep);
    // The named boxes are the first three of the four.
    EXPECT_EQ(IDC_BACKUP_DESKTOP, page.m_desktopBox.GetDlgCtrlID());
    EXPECT_EQ(IDC_BACKUP_FAVORITES, page.m_favoritesBox.GetDlgCtrlID());
    EXPECT_EQ(IDC_BACKUP_ALL, page.m_selectAllBox.GetDlgCtrlID());
}

TEST_F(BackupPage, SelectAllSetsTheThreeBoxesToItsOwnStateOnly) {
    const UINT folders[] = {IDC_BACKUP_DESKTOP, IDC_BACKUP_DOCUMENTS, IDC_BACKUP_FAVORITES};
    page.m_selectAllBox.SendMessage(BM_CLICK);
    EXPECT_EQ(BST_CHECKED, Check(IDC_BACKUP_ALL));
    for (UINT id : folders) EXPECT_EQ(BST_CHECKED, Check(id)) << id;
    // A single box does not change select-all.
    page.m_documentsBox.SendMessage(BM_CLICK);
    EXPECT_EQ(BST_UNCHECKED, Check(IDC_BACKUP_DOCUMENTS));
    EXPECT_EQ(BST_CHECKED, Check(IDC_BACKUP_ALL));
    EXPECT_EQ(BST_CHECKED, Check(IDC_BACKUP_DESKTOP));
    // Clicking select-all again clears all three, the cleared one included.
    page.m_selectAllBox.SendMessage(BM_CLICK);
    EXPECT_EQ(BST_UNCHECKED, Check(IDC_BACKUP_ALL));
    for (UINT id : folders) EXPECT_EQ(BST_UNCHECKED, Check(id)) << id;
    // And checks all three once more, whatever they held.
    page.m_favoritesBox.SendMessage(BM_CLICK);
    page.m_selectAllBox.SendMessage(BM_CLICK);
    for (UINT id : folders) EXPECT_EQ(BST_CHECKED, Check(id)) << id;
    EXPECT_TRUE(host.m_navigations.empty());
}

TEST_F(BackupPage, NextAndBackAskTheMainWindowToMove) {
    page.m_nextButton.SendMessage(BM_CLICK);
    page.m_backButton.SendMessage(BM_CLICK);
    std::vector<std::pair<WPARAM, LPARAM>> expected = {{IDD_BACKUP, 1}, {IDD_BACKUP, 0}};
    EXPECT_EQ(expected, host.m_navigations);
}

TEST_F(BackupPage, EnterAndEscapeDoNothing) {
    page.m_desktopBox.SetFocus();
    for (WPARAM key : {(WPARAM)VK_RETURN, (WPARAM)VK_ESCAPE}) {
        MSG msg = {page.m_desktopBox.GetSafeHwnd(), WM_KEYDOWN, key, 0};
        EXPECT_TRUE(page.PreTranslateMessage(&msg)) << key;
    }
    EXPECT_TRUE(page.IsWindowVisible());
    EXPECT_TRUE(host.m_navigations.empty());
}

// The reinstalled Windows has accounts of its own: the page says, under the
// folder link, that the backup folder opens for an administrator there, on
// one line that fits its box.
TEST_F(BackupPage, SaysTheBackupFolderOpensForAnAdministratorOfTheNewWindows) {
    HWND note = ::GetDlgItem(page.GetSafeHwnd(), IDC_BACKUP_NEW_WINDOWS_NOTE);
    ASSERT_TRUE(note);
    EXPECT_TRUE(::IsWindowVisible(note));
    EXPECT_EQ(CString(FixedText::kBackupFolderNewWindowsNote), WindowText(note));
    const CRect box = RectInPage(page, IDC_BACKUP_NEW_WINDOWS_NOTE);
    CRect overlap;
    for (UINT id : {IDC_BACKUP_FOLDER_LINK, IDC_BACKUP_ALL, IDC_BACKUP_DESKTOP})
        EXPECT_FALSE(overlap.IntersectRect(box, RectInPage(page, id))) << id;
    ASSERT_TRUE(page.m_newWindowsNote.m_font) << "the note's own font";
    HDC dc = ::GetDC(note);
    HGDIOBJ old = ::SelectObject(dc, page.m_newWindowsNote.m_font->GetSafeHandle());
    SIZE size = {};
    ASSERT_TRUE(::GetTextExtentPoint32W(dc, FixedText::kBackupFolderNewWindowsNote,
                                        (int)wcslen(FixedText::kBackupFolderNewWindowsNote), &size));
    ::SelectObject(dc, old);
    ::ReleaseDC(note, dc);
    EXPECT_LE(size.cx, box.Width()) << "one line, whole";
    EXPECT_LE(size.cy, box.Height());
}

TEST_F(BackupPage, Screenshot) {
    page.m_desktopBox.SendMessage(BM_SETCHECK, BST_CHECKED);
    page.m_folderLink.SetWindowText(CString(FixedText::kBackupFolderLinkPrefix) + L"D:\\KavettaData\\用户资料备份");
    page.RedrawWindow(nullptr, nullptr, RDW_INVALIDATE | RDW_ALLCHILDREN | RDW_UPDATENOW | RDW_ERASE);
    Pump(200);
    EXPECT_GT(CaptureWindow(page.GetSafeHwnd(), L"page_backup.png"), 20);
}

// Where the desktop shell's token cannot be had, the page names the account
// whose folders would be copied, and, in red, the account signed in when it
// is another; with the token (the signed-in user's own folders) it says
// nothing. The page asks each time it is shown.
TEST_F(BackupPage, NamesTheAccountWhoseFoldersAreCopiedWithoutTheShellsToken) {
    struct Case {
        const char* what;
        bool shellToken;
        const wchar_t* signedIn;
        const wchar_t* processAccount;
        bool shown, other;
    } cases[] = {
        {"the desktop shell's token", true, L"KVT-PC\\小明", L"KVT-PC\\Administrator", false, false},
        {"no token, another account elevated", false, L"KVT-PC\\小明", L"KVT-PC\\Administrator", true, true},
        {"no token, the account signed in", false, L"KVT-PC\\小明", L"KVT-PC\\小明", true, false},
        {"no token, no session answer", false, L"", L"KVT-PC\\Administrator", true, true},
    };
    for (const Case& c : cases) {
        TestMachine().shell = ShellRecorder();
        TestMachine().shell.shellToken = c.shellToken;
        TestMachine().shell.signedIn = c.signedIn;
        TestMachine().shell.processAccount = c.processAccount;
        page.ShowWindow(SW_HIDE);
        page.ShowWindow(SW_SHOW);
        Pump(100);
        EXPECT_EQ(c.shown, page.m_accountNote.IsWindowVisible()) << c.what;
        if (!c.shown) continue;
        const std::wstring note = WindowText(page.m_accountNote.GetSafeHwnd()).GetString();
        EXPECT_EQ(0u, note.find(std::wstring(FixedText::kBackupAccountPrefix) + c.processAccount +
                                FixedText::kBackupAccountSuffix))
            << c.what;
        const std::wstring otherLine =
            std::wstring(FixedText::kBackupAccountOtherPrefix) +
            (*c.signedIn ? c.signedIn : FixedText::kBackupAccountUnknown) + FixedText::kBackupAccountOtherSuffix;
        EXPECT_EQ(c.other, note.find(otherLine) != std::wstring::npos) << c.what;
        EXPECT_EQ(c.other ? CbackupDlg::kOtherAccountColor : CbackupDlg::kNoteColor, page.m_accountNote.m_textColor)
            << c.what;
        EXPECT_EQ(0, TestMachine().shell.openTokens) << c.what;
        if (c.other && *c.signedIn) {
            page.RedrawWindow(nullptr, nullptr, RDW_INVALIDATE | RDW_ALLCHILDREN | RDW_UPDATENOW | RDW_ERASE);
            Pump(200);
            EXPECT_GT(CaptureWindow(page.GetSafeHwnd(), L"page_backup_other_account.png"), 20);
        }
    }
    TestMachine().shell = ShellRecorder();
}

// ------------------------------------------------------------------ picker

// A small catalogue in the application object: categories 10 (x64) and 7,
// catalogue images 0..2, first recommendation list 3..4, second 5.
struct CatalogueSpec {
    int catalogue, recommend1, recommend2;
    int showRecommended;
};

void FillCatalogue(const CatalogueSpec& spec) {
    CTarvelApp& app = *GetTarvelApp();
    app.m_osCategories.RemoveAll();
    app.m_osImages.RemoveAll();
    COsCatInfo win10(L"win10x64", 0), win7(L"win7x64", 0);
    win10.m_caption = L"Windows 10 64位";
    win10.m_text = L"适合近几年的电脑";
    win10.m_systemMask = kSystemMaskBase | kSystemWin10x64;
    win10.m_enabled = 1;
    win7.m_caption = L"Windows 7 64位";
    win7.m_text = L"适合较旧的电脑";
    win7.m_systemMask = kSystemMaskBase | kSystemWin7x64;
    win7.m_enabled = 1;
    app.m_osCategories.Add(win10);
    app.m_osCategories.Add(win7);
    const int blocks[3] = {spec.catalogue, spec.recommend1, spec.recommend2};
    const wchar_t* blockNames[3] = {L"目录", L"推荐一", L"推荐二"};
    for (int b = 0; b < 3; ++b) {
        if (b == 1) app.m_recommend1Start = (int)app.m_osImages.GetSize();
        if (b == 2) app.m_recommend2Start = (int)app.m_osImages.GetSize();
        for (int i = 0; i < blocks[b]; ++i) {
            CString section;
            section.Format(L"image%d_%d", b, i);
            COnlinefileinfo image(section, 0);
            image.m_title.Format(L"Windows %s 专业版 %s%d", i % 2 ? L"7" : L"10", blockNames[b], i + 1);
            image.m_detail1 = L"22H2";
            image.m_detail2 = L"4.5 GB";
            image.m_description = L"纯净安装，保留驱动";
            image.m_systemMask = kSystemMaskBase | (i % 2 ? kSystemWin7x64 : kSystemWin10x64);
            app.m_osImages.Add(image);
        }
    }
    app.m_pickerShowRecommended = spec.showRecommended;
}

void ClearCatalogue() {
    CTarvelApp& app = *GetTarvelApp();
    app.m_osImages.RemoveAll();
    app.m_osCategories.RemoveAll();
    app.m_recommend1Start = app.m_recommend2Start = 0;
    app.m_pickerShowRecommended = 1;
    app.m_selectedImageIndex = 0;
    app.m_selectedImageTab = 0;
}

class Picker : public testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(CreatePage(host, page, IDD_OSSELECT)); }
    void TearDown() override {
        // The lists point into the catalogue: the page goes first.
        if (page.GetSafeHwnd()) page.DestroyWindow();
        if (host.GetSafeHwnd()) host.DestroyWindow();
        ClearCatalogue();
    }
    void Fill(const CatalogueSpec& spec) {
        FillCatalogue(spec);
        page.FillLists();
        Pump(50);
    }
    int Check(UINT id) { return (int)::SendDlgItemMessageW(page.GetSafeHwnd(), id, BM_GETCHECK, 0, 0); }
    void ClickTab(int tab) {
        page.TabButton(tab).SendMessage(BM_CLICK);
        Pump(50);  // the group's other buttons are cleared by posted messages
    }
    // Clicks OK expecting a refusal; returns whether a message box was answered.
    bool OkRefused() {
        int answered = MessageBoxesAnswered();
        AnswerNextMessageBox(true);
        page.m_nextButton.SendMessage(BM_CLICK);
        PumpUntil([&] { return MessageBoxesAnswered() > answered; }, 60000);
        return MessageBoxesAnswered() > answered;
    }
    NavHost host;
    COsSelectDlg page;
};

TEST_F(Picker, StartsWithTabTwoCheckedAndEmptyListsUnderTheCategoryList) {
    struct Case {
        UINT id;
        RECT rect;
        bool visible;
    } cases[] = {
        {IDC_PICKER_TAB2, {380, 7, 480, 35}, true},      {IDC_PICKER_TAB1, {480, 7, 580, 35}, true},
        {IDC_PICKER_TAB3, {580, 7, 680, 35}, true},      {IDC_NEXT, {760, 405, 880, 445}, true},
        {IDC_BACK, {600, 405, 720, 445}, true}, {IDC_UPDATE_LINK, {410, 435, 510, 455}, false},
        {IDC_OSLIST_CATEGORY, {240, 35, 870, 385}, true}, {IDC_OSLIST_RECOMMEND1, {240, 35, 870, 385}, false},
        {IDC_OSLIST_RECOMMEND2, {240, 35, 870, 385}, false},
    };
    for (const Case& c : cases) {
        HWND h = ::GetDlgItem(page.GetSafeHwnd(), c.id);
        ASSERT_TRUE(h) << c.id;
        EXPECT_EQ(CRect(c.rect), RectInPage(page, c.id)) << c.id;
        EXPECT_EQ(c.visible, ::IsWindowVisible(h) != FALSE) << c.id;
    }
    EXPECT_EQ(BST_CHECKED, Check(IDC_PICKER_TAB2));
    EXPECT_EQ(BST_UNCHECKED, Check(IDC_PICKER_TAB1));
    EXPECT_EQ(BST_UNCHECKED, Check(IDC_PICKER_TAB3));
    EXPECT_TRUE(::GetWindowLongW(::GetDlgItem(page.GetSafeHwnd(), IDC_PICKER_TAB2), GWL_STYLE) & WS_GROUP);
    EXPECT_EQ(CxSkinButton::kRadio, page.TabButton(1).GetKind());
    EXPECT_EQ(2, page.m_currentTab);
    EXPECT_EQ(3, page.m_currentStep);
    for (int tab = 1; tab <= 3; ++tab) EXPECT_EQ(0, page.ListOfTab(tab).m_items.GetSize()) << tab;
}

TEST_F(Picker, OkWithoutAnImageIsRefused) {
    // Before any fill: nothing selected.
    GetTarvelApp()->m_selectedImageTab = 0;
    EXPECT_TRUE(OkRefused());
    EXPECT_TRUE(host.m_navigations.empty());
    EXPECT_EQ(0, GetTarvelApp()->m_selectedImageTab);
}

TEST_F(Picker, FillBuildsTheThreeBlocksAndChoosesTheFirstTab) {
    struct Case {
        int showRecommended;
        int tab;
    } cases[] = {{1, 2}, {0, 1}};
    for (const Case& c : cases) {
        Fill({3, 2, 1, c.showRecommended});
        EXPECT_EQ(c.tab, page.m_currentTab) << c.showRecommended;
        const UINT tabIds[3] = {IDC_PICKER_TAB1, IDC_PICKER_TAB2, IDC_PICKER_TAB3};
        for (int t = 1; t <= 3; ++t) {
            EXPECT_EQ(t == c.tab, page.ListOfTab(t).IsWindowVisible() != FALSE) << c.showRecommended << " " << t;
            EXPECT_EQ(t == c.tab ? BST_CHECKED : BST_UNCHECKED, Check(tabIds[t - 1])) << c.showRecommended << " " << t;
        }
        // Two headers, then the catalogue images 0..2 with their indices as ids.
        CMyOsCatListbox& cat = page.m_categoryList;
        ASSERT_EQ(5, cat.m_items.GetSize());
        EXPECT_EQ(2, cat.GetHeaderCount());
        EXPECT_EQ(kCategoryHeaderIdBase, cat.m_items[0]->id);
        for (int j = 0; j < 3; ++j) {
            OSLIST_ITEM* item = cat.m_items[2 + j];
            EXPECT_EQ(j, item->id);
            EXPECT_EQ(93, item->height);
            EXPECT_EQ(&GetTarvelApp()->m_osImages[j], item->data);
        }
        ASSERT_EQ(2, page.m_recommendList1View.m_items.GetSize());
        EXPECT_EQ(3, page.m_recommendList1View.m_items[0]->id);
        EXPECT_EQ(70, page.m_recommendList1View.m_items[0]->height);
        ASSERT_EQ(1, page.m_recommendList2View.m_items.GetSize());
        EXPECT_EQ(5, page.m_recommendList2View.m_items[0]->id);
        EXPECT_EQ(0, cat.m_selectedId);
        EXPECT_EQ(3, page.m_recommendList1View.m_selectedId);
        EXPECT_EQ(5, page.m_recommendList2View.m_selectedId);
        EXPECT_GT(page.m_recommendList1View.GetVisibleCount(), 0);
    }
}

TEST_F(Picker, OkWithNothingClickedStoresTheFirstImageOfTheShownTab) {
    struct Case {
        int showRecommended;
        int tab, index;
    } cases[] = {{1, 2, 3}, {0, 1, 0}};
    for (const Case& c : cases) {
        host.m_navigations.clear();
        Fill({3, 2, 1, c.showRecommended});
        page.m_nextButton.SendMessage(BM_CLICK);
        EXPECT_EQ(c.tab, GetTarvelApp()->m_selectedImageTab) << c.showRecommended;
        EXPECT_EQ(c.index, GetTarvelApp()->m_selectedImageIndex) << c.showRecommended;
        std::vector<std::pair<WPARAM, LPARAM>> expected = {{IDD_OSSELECT, 1}};
        EXPECT_EQ(expected, host.m_navigations) << c.showRecommended;
    }
}

TEST_F(Picker, OkStoresTheShownTabsSelectionNotAnotherTabs) {
    Fill({3, 2, 2, 1});
    ClickTab(3);
    EXPECT_EQ(3, page.m_currentTab);
    EXPECT_TRUE(page.m_recommendList2View.IsWindowVisible());
    EXPECT_FALSE(page.m_recommendList1View.IsWindowVisible());
    EXPECT_EQ(BST_UNCHECKED, Check(IDC_PICKER_TAB2));
    ASSERT_TRUE(ClickListRow(page.m_recommendList2View, 6));
    EXPECT_EQ(6, page.m_recommendList2View.m_selectedId);
    ClickTab(1);
    EXPECT_TRUE(page.m_categoryList.IsWindowVisible());
    EXPECT_FALSE(page.m_recommendList2View.IsWindowVisible());
    EXPECT_EQ(CWnd::GetFocus(), (CWnd*)&page.m_categoryList);
    page.m_nextButton.SendMessage(BM_CLICK);
    EXPECT_EQ(1, GetTarvelApp()->m_selectedImageTab);
    EXPECT_EQ(0, GetTarvelApp()->m_selectedImageIndex);
    // Back on tab 3 the choice made there is still its selection.
    ClickTab(3);
    page.m_nextButton.SendMessage(BM_CLICK);
    EXPECT_EQ(3, GetTarvelApp()->m_selectedImageTab);
    EXPECT_EQ(6, GetTarvelApp()->m_selectedImageIndex);
    // Clicking the shown tab again changes nothing.
    ClickTab(3);
    EXPECT_EQ(3, page.m_currentTab);
    EXPECT_TRUE(page.m_recommendList2View.IsWindowVisible());
}

TEST_F(Picker, OkOnATabWhoseBlockIsEmptyIsRefused) {
    // Tab 2 empty: its selected id is the first catalogue index of tab 3.
    // Tab 3 empty: its selected id is the count of the catalogue.
    struct Case {
        CatalogueSpec spec;
        int tab;
    } cases[] = {{{3, 0, 2, 1}, 2}, {{3, 2, 0, 1}, 3}, {{0, 2, 1, 0}, 1}};
    for (const Case& c : cases) {
        host.m_navigations.clear();
        Fill(c.spec);
        if (page.m_currentTab != c.tab) ClickTab(c.tab);
        ASSERT_EQ(c.tab, page.m_currentTab);
        GetTarvelApp()->m_selectedImageTab = 0;
        GetTarvelApp()->m_selectedImageIndex = -7;
        EXPECT_TRUE(OkRefused()) << c.tab;
        EXPECT_TRUE(host.m_navigations.empty()) << c.tab;
        EXPECT_EQ(0, GetTarvelApp()->m_selectedImageTab) << c.tab;
        EXPECT_EQ(-7, GetTarvelApp()->m_selectedImageIndex) << c.tab;
        EXPECT_EQ(-1, page.ChosenImage()) << c.tab;
    }
}

TEST_F(Picker, ASecondFillResetsSelectionsAndTheFirstTab) {
    Fill({3, 2, 2, 1});
    ClickTab(1);
    ASSERT_TRUE(ClickListRow(page.m_categoryList, kCategoryHeaderIdBase));  // expands the first category
    EXPECT_EQ(0, page.m_categoryList.m_selectedId);                     // a header is no choice
    ASSERT_TRUE(ClickListRow(page.m_categoryList, 2)) << "an entry under the opened header";
    ClickTab(2);
    ASSERT_TRUE(ClickListRow(page.m_recommendList1View, 4));
    ClickTab(1);
    Fill({3, 2, 2, 1});
    EXPECT_EQ(2, page.m_currentTab);
    EXPECT_TRUE(page.m_recommendList1View.IsWindowVisible());
    EXPECT_FALSE(page.m_categoryList.IsWindowVisible());
    EXPECT_EQ(0, page.m_categoryList.m_selectedId);
    EXPECT_EQ(3, page.m_recommendList1View.m_selectedId);
    EXPECT_EQ(5, page.m_recommendList2View.m_selectedId);
    EXPECT_EQ(5, page.m_categoryList.m_items.GetSize());
}

TEST_F(Picker, CancelGoesBack) {
    page.m_backButton.SendMessage(BM_CLICK);
    std::vector<std::pair<WPARAM, LPARAM>> expected = {{IDD_OSSELECT, 0}};
    EXPECT_EQ(expected, host.m_navigations);
}

TEST_F(Picker, Screenshots) {
    Fill({3, 2, 1, 1});
    Pump(200);
    EXPECT_GT(CaptureWindow(page.GetSafeHwnd(), L"page_picker_tab2.png"), 20);
    ClickTab(1);
    ClickListRow(page.m_categoryList, kCategoryHeaderIdBase);
    Pump(200);
    EXPECT_GT(CaptureWindow(page.GetSafeHwnd(), L"page_picker_tab1.png"), 20);
}

// ------------------------------------------------------- through the main window

class BackupAndPickerInTheMainWindow : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(window.Create());
        ASSERT_TRUE(window.WaitForCheck());
        Pump(100);
    }
    void TearDown() override {
        if (window.dlg && window.dlg->m_selectPage->GetSafeHwnd()) {
            ClearCatalogue();
            window.dlg->m_selectPage->FillLists();
        }
    }
    CTarvelDlg& dlg() { return *window.dlg; }
    MainWindowFixture window;
};

TEST_F(BackupAndPickerInTheMainWindow, TheRestartWorkersQuestionsReadTheBoxes) {
    CbackupDlg& backup = *dlg().m_backupPage;
    for (WPARAM folder = 0; folder < 3; ++folder) EXPECT_EQ(0, dlg().SendMessage(WM_GET_BACKUP_CHOICE, folder));
    backup.m_selectAllBox.SendMessage(BM_CLICK);
    for (WPARAM folder = 0; folder < 3; ++folder) EXPECT_EQ(1, dlg().SendMessage(WM_GET_BACKUP_CHOICE, folder));
    backup.m_documentsBox.SendMessage(BM_CLICK);
    EXPECT_EQ(BST_CHECKED, backup.m_selectAllBox.SendMessage(BM_GETCHECK));
    EXPECT_EQ(0, dlg().SendMessage(WM_GET_BACKUP_CHOICE, 1));
    EXPECT_EQ(1, dlg().SendMessage(WM_GET_BACKUP_CHOICE, 0));
}

TEST_F(BackupAndPickerInTheMainWindow, TheRoadFromBackupThroughThePickerToTheDownloadPage) {
    FillCatalogue({3, 2, 1, 0});
    dlg().SendMessage(WM_LISTS_REFRESH);
    dlg().SendMessage(WM_PAGE_NAVIGATE, IDD_OSINFO, 1);
    ASSERT_EQ((CWnd*)dlg().m_backupPage, dlg().m_shownPage);
    dlg().m_backupPage->m_nextButton.SendMessage(BM_CLICK);
    ASSERT_EQ((CWnd*)dlg().m_selectPage, dlg().m_shownPage);
    COsSelectDlg& picker = *dlg().m_selectPage;
    EXPECT_EQ(1, picker.m_currentTab);
    picker.m_backButton.SendMessage(BM_CLICK);
    EXPECT_EQ((CWnd*)dlg().m_backupPage, dlg().m_shownPage);
    dlg().m_backupPage->m_nextButton.SendMessage(BM_CLICK);
    picker.m_categoryList.m_selectedId = 2;
    picker.m_nextButton.SendMessage(BM_CLICK);
    EXPECT_EQ((CWnd*)dlg().m_downloadPage, dlg().m_shownPage);
    EXPECT_EQ(1, GetTarvelApp()->m_selectedImageTab);
    EXPECT_EQ(2, GetTarvelApp()->m_selectedImageIndex);
}

}  // namespace
