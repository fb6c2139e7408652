#include <gtest/gtest.h>

#include "controls/os_lists.h"
#include "controls_test_support.h"
#include "core/fixed_texts.h"

namespace {

// A small fake catalogue: three categories and six images.
struct FakeCatalogue {
    COsCatInfo cats[3];
    COnlinefileinfo images[6];
    FakeCatalogue() {
        const wchar_t* ids[] = {L"win1064", L"win764", L"xp"};
        BYTE masks[] = {0x80 | 0x40, 0x80 | 0x20, 0x80 | 0x01};
        for (int i = 0; i < 3; ++i) {
            cats[i].m_id = ids[i];
            cats[i].m_caption.Format(L"分类%d", i);
            cats[i].m_text = L"说明";
            cats[i].m_systemMask = masks[i];
        }
        // Images 0-1 are Windows 10, 2-4 Windows 7, 5 has no main bit.
        BYTE im[] = {0xC0, 0xC0, 0xA0, 0xA0, 0xE0, 0x40};
        for (int i = 0; i < 6; ++i) {
            images[i].m_title.Format(L"系统 %d", i);
            images[i].m_detail1 = L"22H2";
            images[i].m_detail2 = L"4.5GB";
            images[i].m_description = L"描述";
            images[i].m_sectionName.Format(L"win10_%d", i);
            images[i].m_systemMask = im[i];
        }
    }
};

struct ListFixture : ::testing::Test {
    TestPictures pictures;
    CHostWnd host;
    FakeCatalogue cat;
    void SetUp() override {
        pictures.Add(FixedText::kSkinListSelected, RGB(0, 0, 255), 50, 35);
        pictures.Add(FixedText::kSkinListHover, RGB(0, 255, 255), 50, 35);
        pictures.Add(FixedText::kSkinListGroup2Marker, RGB(128, 0, 128), 20, 20);
        pictures.Add(FixedText::kSkinUsbListChosen, RGB(0, 128, 0), 18, 18);
        pictures.Add(FixedText::kSkinUsbListUnchosen, RGB(128, 128, 0), 18, 18);
        ASSERT_TRUE(host.CreateHost(0, 0, 800, 600));
    }
    void TearDown() override { host.DestroyWindow(); }
    void Fill(CMyOsCatListbox& list, bool headers) {
        list.RemoveAllItems();
        if (headers)
            for (int i = 0; i < 3; ++i) list.AddCategory(&cat.cats[i], i);
        for (int i = 0; i < 6; ++i) list.AddEntry(&cat.images[i], i);
        list.RecalcLayout();
    }
    static void ClickRow(COsListWndBase& list, int visibleIndex) {
        OSLIST_ITEM* row = list.VisibleAt(visibleIndex);
        ASSERT_NE(nullptr, row);
        CRect r(row->rect);
        list.SendMessage(WM_LBUTTONUP, 0, MAKELPARAM(r.left + 10, r.top + 10));
    }
    static std::vector<int> VisibleIds(COsListWndBase& list) {
        std::vector<int> ids;
        for (int i = 0; i < list.GetVisibleCount(); ++i) ids.push_back(list.VisibleAt(i)->id);
        return ids;
    }
};

TEST_F(ListFixture, WindowHasTheArrowCursorIdAndEmptyRange) {
    CMyOsCatListbox list;
    ASSERT_TRUE(list.CreateListWindow(&host, CRect(10, 10, 640, 360)));
    EXPECT_EQ(500, list.GetDlgCtrlID());
    EXPECT_EQ((ULONG_PTR)LoadCursorW(nullptr, IDC_ARROW), GetClassLongPtrW(list.m_hWnd, GCLP_HCURSOR));
    EXPECT_EQ(0, list.GetScrollLimit(SB_VERT));
    CMyUsbOsListbox usb;
    ASSERT_TRUE(usb.CreateListWindow(&host, CRect(10, 10, 467, 340)));
    EXPECT_EQ(10608, usb.GetDlgCtrlID());
}

TEST_F(ListFixture, WithoutHeadersEveryItemWithTheMainBitShows) {
    CMyOsCatListbox list;
    ASSERT_TRUE(list.CreateListWindow(&host, CRect(10, 10, 640, 360)));
    Fill(list, false);
    EXPECT_EQ((std::vector<int>{0, 1, 2, 3, 4}), VisibleIds(list));
    EXPECT_EQ(5 * 93, list.GetTotalHeight());
}

TEST_F(ListFixture, HeadersExpandAndCollapse) {
    CMyOsCatListbox list;
    ASSERT_TRUE(list.CreateListWindow(&host, CRect(10, 10, 640, 360)));
    Fill(list, true);
    const int h0 = kCategoryHeaderIdBase, h1 = h0 + 1, h2 = h0 + 2;
    EXPECT_EQ((std::vector<int>{h0, h1, h2}), VisibleIds(list)) << "collapsed headers show no entries";
    EXPECT_EQ(3 * 70, list.GetTotalHeight());

    ClickRow(list, 0);  // expand the first header: its scroll position stays
    EXPECT_EQ((std::vector<int>{h0, 0, 1, 4, h1, h2}), VisibleIds(list));
    EXPECT_EQ(0, list.GetScrollPos(SB_VERT));
    list.UpdateWindow();

    ClickRow(list, 4);  // expand the second: it scrolls to the top as far as the range allows
    EXPECT_EQ((std::vector<int>{h0, 0, 1, 4, h1, 2, 3, 4, h2}), VisibleIds(list));
    int top = 70 + 3 * 93;
    int limit = list.GetScrollLimit(SB_VERT);
    EXPECT_EQ(top < limit ? top : limit, list.GetScrollPos(SB_VERT));
    EXPECT_EQ(h1, list.GetLastToggledId());
    list.UpdateWindow();

    ClickRow(list, 0);  // collapse the first again
    EXPECT_EQ((std::vector<int>{h0, h1, 2, 3, 4, h2}), VisibleIds(list));
}

TEST_F(ListFixture, GroupTwoHeaderNeverToggles) {
    cat.cats[1].m_displayGroup = 2;
    CMyOsCatListbox list;
    ASSERT_TRUE(list.CreateListWindow(&host, CRect(10, 10, 640, 360)));
    Fill(list, true);
    ClickRow(list, 1);
    EXPECT_EQ(3, list.GetVisibleCount());
    EXPECT_EQ(-1, list.GetLastToggledId());
}

TEST_F(ListFixture, EntryClickSelectsAndSelectionSurvivesARefill) {
    CMyOsCatListbox list;
    ASSERT_TRUE(list.CreateListWindow(&host, CRect(10, 10, 640, 360)));
    Fill(list, false);
    ClickRow(list, 2);
    EXPECT_EQ(2, list.m_selectedId);
    // A click below the last row changes nothing.
    list.SendMessage(WM_LBUTTONUP, 0, MAKELPARAM(20, 5000));
    EXPECT_EQ(2, list.m_selectedId);
    Fill(list, true);
    EXPECT_EQ(2, list.m_selectedId);
    // A header id is never an entry id, so no header looks selected.
    for (int i = 0; i < list.GetVisibleCount(); ++i) EXPECT_NE(list.m_selectedId, list.VisibleAt(i)->id);
}

TEST_F(ListFixture, ScrollingAndWheelSteps) {
    CMyOsCatListbox list;
    ASSERT_TRUE(list.CreateListWindow(&host, CRect(10, 10, 640, 360)));
    Fill(list, false);
    int limit = list.GetScrollLimit(SB_VERT);
    ASSERT_GT(limit, 100);
    list.SendMessage(WM_MOUSEWHEEL, MAKEWPARAM(0, 120), 0);
    EXPECT_EQ(0, list.GetScrollPos(SB_VERT)) << "never above the top";
    list.SendMessage(WM_MOUSEWHEEL, MAKEWPARAM(0, (WORD)(short)-120), 0);
    EXPECT_EQ(40, list.GetScrollPos(SB_VERT));
    list.SendMessage(WM_MOUSEWHEEL, MAKEWPARAM(0, (WORD)(short)-480), 0);
    EXPECT_EQ(80, list.GetScrollPos(SB_VERT)) << "one step whatever the delta";
    list.SendMessage(WM_MOUSEWHEEL, MAKEWPARAM(0, 240), 0);
    EXPECT_EQ(40, list.GetScrollPos(SB_VERT));
    list.SendMessage(WM_VSCROLL, SB_LINEDOWN);
    EXPECT_EQ(90, list.GetScrollPos(SB_VERT));
    list.SendMessage(WM_VSCROLL, SB_PAGEUP);
    EXPECT_EQ(40, list.GetScrollPos(SB_VERT));
    list.SendMessage(WM_VSCROLL, SB_LINEUP);
    EXPECT_EQ(0, list.GetScrollPos(SB_VERT));
    for (int i = 0; i < 40; ++i) list.SendMessage(WM_VSCROLL, SB_LINEDOWN);
    EXPECT_EQ(limit, list.GetScrollPos(SB_VERT));
    list.UpdateWindow();
    list.SendMessage(WM_VSCROLL, SB_LINEDOWN);
    EXPECT_EQ(limit, list.GetScrollPos(SB_VERT));
    EXPECT_FALSE(GetUpdateRect(list.m_hWnd, nullptr, FALSE)) << "at the end nothing is repainted";

    // A list that fits does not move.
    CMyOsCatListbox small;
    ASSERT_TRUE(small.CreateListWindow(&host, CRect(10, 10, 640, 590)));
    small.AddEntry(&cat.images[0], 0);
    small.RecalcLayout();
    small.SendMessage(WM_MOUSEWHEEL, MAKEWPARAM(0, (WORD)(short)-120), 0);
    EXPECT_EQ(0, small.GetScrollPos(SB_VERT));
}

TEST_F(ListFixture, HoverFollowsTheMouse) {
    CMyOsCatListbox list;
    ASSERT_TRUE(list.CreateListWindow(&host, CRect(10, 10, 640, 360)));
    Fill(list, false);
    list.UpdateWindow();
    list.SendMessage(WM_MOUSEMOVE, 0, MAKELPARAM(50, 93 + 20));
    EXPECT_EQ(1, list.GetHoverIndex());
    list.SendMessage(WM_MOUSEMOVE, 0, MAKELPARAM(50, 5000));
    EXPECT_EQ(1, list.GetHoverIndex()) << "a point over no row changes nothing";
    list.SendMessage(WM_MOUSELEAVE);
    EXPECT_EQ(-1, list.GetHoverIndex());
}

TEST_F(ListFixture, FlatListGreyRowsAndMarkers) {
    cat.images[1].m_displayGroup = 2;
    CMyOsListbox list;
    ASSERT_TRUE(list.CreateListWindow(&host, CRect(10, 10, 640, 360), 501));
    EXPECT_EQ(501, list.GetDlgCtrlID());
    for (int i = 0; i < 6; ++i) list.AddItem(&cat.images[i], i);
    list.RecalcLayout();
    EXPECT_EQ(5, list.GetVisibleCount());
    EXPECT_EQ(5 * 70, list.GetTotalHeight());
    list.UpdateWindow();

    ClickRow(list, 1);
    EXPECT_EQ(-1, list.m_selectedId) << "a group-2 row is not selectable";
    ClickRow(list, 0);
    EXPECT_EQ(0, list.m_selectedId);

    MemSurface s(630, 70);
    CDC dc;
    dc.Attach(s.dc());
    CRect row(0, 0, 630, 70);
    list.DrawItem(&dc, row, list.VisibleAt(0));
    EXPECT_TRUE(Near(0xFFE3C5, s.At(5, 65), 0)) << "selected background";
    EXPECT_TRUE(Near(RGB(0, 0, 255), s.At(630 - 80 + 25, 25 + 17), 0)) << "selected marker";

    list.m_selectedId = 1;  // the owner may name a grey row: it still shows the marker
    MemSurface grey(630, 70);
    dc.Detach();
    dc.Attach(grey.dc());
    list.DrawItem(&dc, row, list.VisibleAt(1));
    EXPECT_TRUE(Near(0xF5F2EE, grey.At(5, 65), 0));
    EXPECT_TRUE(Near(RGB(0, 0, 255), grey.At(630 - 80 + 25, 25 + 5), 0));
    EXPECT_TRUE(Near(RGB(128, 0, 128), grey.At(630 - 80 + 10, 30 + 10), 0)) << "group-2 marker";
    dc.Detach();
}

TEST_F(ListFixture, UsbListSelectsAnyRowAndShowsTheChosenMark) {
    CMyUsbOsListbox list;
    ASSERT_TRUE(list.CreateListWindow(&host, CRect(10, 10, 467, 340)));
    cat.images[3].m_displayGroup = 2;
    for (int i = 0; i < 6; ++i) list.AddItem(&cat.images[i], i);
    list.RecalcLayout();
    EXPECT_EQ(5 * 66, list.GetTotalHeight());
    list.UpdateWindow();
    ClickRow(list, 3);
    EXPECT_EQ(3, list.m_selectedId);
    MemSurface s(457, 66);
    CDC dc;
    dc.Attach(s.dc());
    list.DrawItem(&dc, CRect(0, 0, 457, 66), list.VisibleAt(3));
    EXPECT_TRUE(Near(RGB(0, 128, 0), s.At(25 + 9, 24 + 9), 0));
    list.DrawItem(&dc, CRect(0, 0, 457, 66), list.VisibleAt(0));
    EXPECT_TRUE(Near(RGB(128, 128, 0), s.At(25 + 9, 24 + 9), 0));
    dc.Detach();
}

}  // namespace
