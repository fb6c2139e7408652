#include "pages/os_select_dlg.h"

#include "controls/message_box.h"
#include "core/fixed_texts.h"
#include "core/messages.h"
#include "core/tarvel_app.h"
#include "pages/os_download_dlg.h"
#include "pages/reboot_dlg.h"
#include "pages/tarvel_dlg.h"

BEGIN_MESSAGE_MAP(COsSelectDlg, CFlowPage)
    ON_BN_CLICKED(IDC_NEXT, OnClickedOk)
    ON_BN_CLICKED(IDC_BACK, OnClickedCancel)
    ON_BN_CLICKED(IDC_PICKER_TAB1, OnClickedFirstTab)
    ON_BN_CLICKED(IDC_PICKER_TAB2, OnClickedSecondTab)
    ON_BN_CLICKED(IDC_PICKER_TAB3, OnClickedThirdTab)
END_MESSAGE_MAP()

COsSelectDlg::COsSelectDlg(CWnd* pParent) : CFlowPage(IDD_OSSELECT, 3, pParent), m_currentTab(2) {}

namespace {

const RECT kListRect = {240, 35, 870, 385};

}  // namespace

BOOL COsSelectDlg::OnInitDialog() {
    CFlowPage::OnInitDialog();
    // Tab 2 is the leftmost tab and starts the radio group.
    const struct {
        int tab;
        const wchar_t* const* pictures;
        const wchar_t* caption;
        DWORD style;
        RECT rect;
    } tabs[3] = {
        {2, FixedText::kSkinPickerTab2, FixedText::kPickerTab2Caption, WS_GROUP, {380, 7, 480, 35}},
        {1, FixedText::kSkinPickerTab1, FixedText::kPickerTab1Caption, 0, {480, 7, 580, 35}},
        {3, FixedText::kSkinPickerTab3, FixedText::kPickerTab3Caption, 0, {580, 7, 680, 35}},
    };
    const UINT tabIds[3] = {IDC_PICKER_TAB1, IDC_PICKER_TAB2, IDC_PICKER_TAB3};
    for (const auto& t : tabs) {
        CxSkinButton& button = TabButton(t.tab);
        SetButtonSkin(button, t.pictures);
        button.Create(t.caption, WS_CHILD | WS_VISIBLE | BS_AUTORADIOBUTTON | t.style, t.rect, this, tabIds[t.tab - 1]);
    }
    TabButton(2).SendMessage(BM_SETCHECK, BST_CHECKED);

    SetButtonSkin(m_nextButton, FixedText::kSkinPickerOk);
    m_nextButton.Create(FixedText::kPickerOkCaption, WS_CHILD | WS_VISIBLE, CRect(760, 405, 880, 445), this,
                        IDC_NEXT);
    SetButtonSkin(m_backButton, FixedText::kSkinPickerCancel);
    m_backButton.Create(FixedText::kPickerCancelCaption, WS_CHILD | WS_VISIBLE, CRect(600, 405, 720, 445), this,
                        IDC_BACK);
    CreateStepStrip();
    CreateUpdateLink();

    m_categoryList.CreateListWindow(this, kListRect);
    m_recommendList1View.CreateListWindow(this, kListRect, IDC_OSLIST_RECOMMEND1);
    m_recommendList1View.ShowWindow(SW_HIDE);
    m_recommendList2View.CreateListWindow(this, kListRect, IDC_OSLIST_RECOMMEND2);
    m_recommendList2View.ShowWindow(SW_HIDE);
    return TRUE;
}

COsListWndBase& COsSelectDlg::ListOfTab(int tab) {
    if (tab == 1) return m_categoryList;
    return tab == 2 ? static_cast<COsListWndBase&>(m_recommendList1View) : m_recommendList2View;
}

CxSkinButton& COsSelectDlg::TabButton(int tab) { return m_tabButtons[(tab >= 1 && tab <= 3 ? tab : 1) - 1]; }

void COsSelectDlg::TabBlock(const CTarvelApp& app, int tab, int& first, int& end) {
    const int count = static_cast<int>(app.m_osImages.GetSize());
    const int bounds[4] = {0, app.m_recommend1Start, app.m_recommend2Start, count};
    first = end = 0;
    if (tab < 1 || tab > 3) return;
    first = bounds[tab - 1] < 0 ? 0 : (bounds[tab - 1] > count ? count : bounds[tab - 1]);
    end = bounds[tab] < first ? first : (bounds[tab] > count ? count : bounds[tab]);
}

void COsSelectDlg::CheckTabButton(int tab) {
    for (int t = 1; t <= 3; ++t)
        if (t != tab) TabButton(t).SendMessage(BM_SETCHECK, BST_UNCHECKED);
    TabButton(tab).SendMessage(BM_SETCHECK, BST_CHECKED);
}

void COsSelectDlg::ClearLists() {
    for (int t = 1; t <= 3; ++t) ListOfTab(t).ForgetItems();
}

void COsSelectDlg::FillLists() {
    m_categoryList.RemoveAllItems();
    m_recommendList1View.RemoveAllItems();
    m_recommendList2View.RemoveAllItems();

    CTarvelApp* app = GetTarvelApp();
    const int firstTab = app && app->m_pickerShowRecommended == 1 ? 2 : 1;
    CheckTabButton(firstTab);
    for (int t = 1; t <= 3; ++t)
        if (ListOfTab(t).GetSafeHwnd()) ListOfTab(t).ShowWindow(t == firstTab ? SW_SHOWNORMAL : SW_HIDE);
    m_currentTab = firstTab;

    if (app) {
        for (INT_PTR i = 0; i < app->m_osCategories.GetSize(); ++i)
            if (app->m_osCategories[i].m_enabled) m_categoryList.AddCategory(&app->m_osCategories[i], static_cast<int>(i));
        int first, end;
        TabBlock(*app, 1, first, end);
        for (int j = first; j < end; ++j) m_categoryList.AddEntry(&app->m_osImages[j], j);
        m_categoryList.m_selectedId = first;
        TabBlock(*app, 2, first, end);
        for (int j = first; j < end; ++j) m_recommendList1View.AddItem(&app->m_osImages[j], j);
        m_recommendList1View.m_selectedId = first;
        TabBlock(*app, 3, first, end);
        for (int j = first; j < end; ++j) m_recommendList2View.AddItem(&app->m_osImages[j], j);
        m_recommendList2View.m_selectedId = first;
    }
    m_recommendList1View.RecalcLayout();
    m_categoryList.RecalcLayout();
    m_recommendList2View.RecalcLayout();
}

void COsSelectDlg::ShowTab(int tab) {
    if (tab == m_currentTab) return;
    ListOfTab(m_currentTab).ShowWindow(SW_HIDE);
    ListOfTab(tab).ShowWindow(SW_SHOWNORMAL);
    ListOfTab(tab).SetFocus();
    m_currentTab = tab;
}

void COsSelectDlg::OnClickedFirstTab() { ShowTab(1); }

void COsSelectDlg::OnClickedSecondTab() { ShowTab(2); }

void COsSelectDlg::OnClickedThirdTab() { ShowTab(3); }

int COsSelectDlg::ChosenImage() {
    CTarvelApp* app = GetTarvelApp();
    if (!app) return -1;
    int first, end;
    TabBlock(*app, m_currentTab, first, end);
    const int id = ListOfTab(m_currentTab).m_selectedId;
    return id >= first && id < end ? id : -1;
}

void COsSelectDlg::OnClickedOk() {
    CTarvelDlg* mainWindow = CTarvelDlg::FromApp();
    // The restart worker hands the image it took at its start to the boot
    // environment: no other choice is taken while it runs.
    if (mainWindow && mainWindow->m_rebootPage && mainWindow->m_rebootPage->WorkersRunning()) {
        MyMessageBox(MB_ICONINFORMATION, TRUE, FixedText::kPickerRestartRunning, 3);
        return;
    }
    // The list of an empty block still names the first index of that block,
    // which belongs to the next block or lies past the catalogue: the queue
    // builder needs an image of the chosen tab, so such an OK stays here.
    const int image = ChosenImage();
    if (image < 0) {
        MyMessageBox(MB_ICONWARNING, FALSE, FixedText::kPickerNoImage, 0);
        return;
    }
    CTarvelApp* app = GetTarvelApp();
    app->m_selectedImageTab = m_currentTab;
    app->m_selectedImageIndex = image;
    GetParent()->SendMessage(WM_PAGE_NAVIGATE, IDD_OSSELECT, 1);
    // A run that cannot start is reported on the download page, whose Next
    // then stays disabled: the user can only come back and pick again.
    if (mainWindow && mainWindow->m_downloadPage) mainWindow->m_downloadPage->BuildTaskQueue();
}

void COsSelectDlg::OnClickedCancel() { GetParent()->SendMessage(WM_PAGE_NAVIGATE, IDD_OSSELECT, 0); }
