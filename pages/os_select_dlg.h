// Step 3 of the install flow: the picker. The catalogue images in three
// tabs, each a list window: tab 1 the whole catalogue under its category
// headers, tab 2 the first recommendation list, tab 3 the second. OK stores
// the choice in the application object, shows the download page and starts
// its queue; Cancel goes back to the backup page.
//
// Every list item's id is the image's index in the application's
// m_osImages, laid out in three blocks: the catalogue [0, m_recommend1Start),
// the first recommendation list [m_recommend1Start, m_recommend2Start), the
// second [m_recommend2Start, count).
#pragma once

#include "controls/os_lists.h"
#include "controls/skin_button.h"
#include "pages/flow_page.h"

#define IDD_OSSELECT 135
#define IDC_PICKER_TAB1 502
#define IDC_PICKER_TAB2 503
#define IDC_PICKER_TAB3 504
#define IDC_OSLIST_CATEGORY 500
#define IDC_OSLIST_RECOMMEND1 501
#define IDC_OSLIST_RECOMMEND2 505

class CTarvelApp;

class COsSelectDlg : public CFlowPage {
public:
    COsSelectDlg(CWnd* pParent = nullptr);
    BOOL OnInitDialog() override;

    // Empties and refills the three lists from the catalogue, selects the
    // first image of each block and shows the first tab (tab 2 when the
    // configuration asks for the recommendations first, else tab 1). The
    // main window calls it after every check with a full result.
    void FillLists();
    // Empties the three lists (nothing selected) until the next FillLists.
    void ClearLists();

    // The list window of a tab (1..3).
    COsListWndBase& ListOfTab(int tab);
    // The tab button of a tab (1..3).
    CxSkinButton& TabButton(int tab);
    // The part [first, end) of m_osImages that a tab shows, within the
    // count of m_osImages.
    static void TabBlock(const CTarvelApp& app, int tab, int& first, int& end);
    // The image OK would store: the selected id of the shown tab's list when
    // it names an image of that tab's block, else -1.
    int ChosenImage();

    CxSkinButton m_nextButton;
    CxSkinButton m_backButton;
    // Tab 1, tab 2, tab 3 (ids 502, 503, 504).
    CxSkinButton m_tabButtons[3];
    int m_currentTab;
    CMyOsCatListbox m_categoryList;
    CMyOsListbox m_recommendList1View;
    CMyOsListbox m_recommendList2View;

    void OnClickedOk();
    void OnClickedCancel();
    void OnClickedFirstTab();
    void OnClickedSecondTab();
    void OnClickedThirdTab();

protected:
    DECLARE_MESSAGE_MAP()

private:
    void ShowTab(int tab);
    // Checks the tab's button and clears the other two.
    void CheckTabButton(int tab);
};
