// The catalogue list windows: CMyOsCatListbox (categories as headers that
// expand and collapse, with their images below), CMyOsListbox (a flat image
// list) and CMyUsbOsListbox (the USB page's flat image list). Plain child
// windows drawn row by row into an off-screen bitmap (CMyMemDC). The owner
// creates the items, points each at its catalogue record, lays the list out
// and later reads the selected id; the lists send no notifications.
#pragma once

#include "controls/skin_picture.h"
#include "core/catalogue.h"
#include "winlib/winlib.h"

// One row of a flat list (and the common part of a category-list row).
struct OSLIST_ITEM {
    int visibleIndex = -1;   // position in the visible list, -1 not shown
    int height = 0;          // row height in pixels
    int flag = 1;            // nothing reads it
    CString text;            // nothing sets or reads it
    void* data = nullptr;    // the record shown (not owned)
    RECT rect = {0, 0, 0, 0};  // where the row was last painted (client coordinates)
    int value1 = 0;          // nothing reads it
    int added = 0;           // set to 1 when added; nothing reads it
    int value2 = 0;          // nothing reads it
    int id = -1;             // the record's index in its catalogue list (a header: see below)
    virtual ~OSLIST_ITEM() {}
};

struct USBOSLIST_ITEM : OSLIST_ITEM {};

struct OSCATLIST_ITEM : OSLIST_ITEM {
    int entry = 1;      // 1 entry (data = COnlinefileinfo), 0 header (data = COsCatInfo)
    int collapsed = 1;  // headers: collapsed until clicked
};

// Header ids: the category index plus this base, far above any catalogue
// index, so that a header id never equals an entry id.
const int kCategoryHeaderIdBase = 0x40000000;

// A DC drawing into an off-screen bitmap the size of the served DC's clip
// box; the destructor copies it back in one BitBlt. A printing DC is drawn
// on directly.
class CMyMemDC : public CDC {
public:
    explicit CMyMemDC(CDC* pDC);
    ~CMyMemDC() override;
    const CRect& GetRect() const { return m_rect; }

private:
    CDC* m_pDC;
    HGDIOBJ m_oldBitmap;
    CBitmap m_bitmap;
    CRect m_rect;
    bool m_memDC;
};

// What the three lists share: the items, the visible rows, painting,
// scrolling, the wheel, hover and size handling.
class COsListWndBase : public CWnd {
public:
    COsListWndBase(int windowId, int baseHeight, int titleHeight, int detailHeight, int descriptionHeight);
    ~COsListWndBase() override;

    // Deletes every item and empties the rows; the selected id, the hover
    // index and the last toggled id stay.
    void RemoveAllItems();
    // Empties the list with nothing selected, and redraws it when it is shown
    // (the items point into the catalogue, which is about to change).
    void ForgetItems();
    void ClearVisibleItems();
    void IndexVisibleItems();
    virtual void RecalcLayout() = 0;
    // Draws one row into dc (skipped when it lies outside the clip box).
    virtual void DrawItem(CDC* dc, const CRect& row, OSLIST_ITEM* item) = 0;

    int GetVisibleCount() const { return m_visibleCount; }
    int GetTotalHeight() const { return m_totalHeight; }
    int GetHoverIndex() const { return m_hoverIndex; }
    // The visible row at a visible index, or null.
    OSLIST_ITEM* VisibleAt(int index) const;

    CArray<OSLIST_ITEM*, OSLIST_ITEM*> m_items;
    int m_selectedId;

protected:
    BOOL CreateListWindow(CWnd* parent, const RECT& rect, int id);
    // The logos, badges and markers of the catalogue lists (the collapsed and
    // expanded markers only for the category list).
    void LoadCataloguePictures(bool headerMarkers);
    void AppendVisible(OSLIST_ITEM* item);
    void UpdateScrollInfo();
    OSLIST_ITEM* RowAt(CPoint point) const;
    void InvalidateRow(int visibleIndex);
    // The logo of a system token: the first family text it holds, else the default.
    Gdiplus::Image* LogoFor(const CString& token) const;
    void FillRowBackground(CDC* dc, const CRect& row, OSLIST_ITEM* item, bool grey) const;
    void DrawSeparator(CDC* dc, const CRect& row) const;
    virtual void OnRowClicked(OSLIST_ITEM* item) = 0;

    void OnPaint();
    BOOL OnEraseBkgnd(CDC* pDC);
    void OnVScroll(UINT nSBCode, UINT nPos, CScrollBar* pScrollBar);
    void OnSize(UINT nType, int cx, int cy);
    void OnSetFocus(CWnd* pOldWnd);
    void OnKillFocus(CWnd* pNewWnd);
    void OnDestroy();
    BOOL OnMouseWheel(UINT nFlags, short zDelta, CPoint pt);
    void OnMouseMove(UINT nFlags, CPoint point);
    void OnMouseLeave();
    void OnLButtonUp(UINT nFlags, CPoint point);
    DECLARE_MESSAGE_MAP()

    CList<OSLIST_ITEM*, OSLIST_ITEM*> m_visible;
    CMap<int, int, OSLIST_ITEM*, OSLIST_ITEM*> m_indexMap;
    int m_visibleCount;
    int m_lastToggledId;
    int m_windowId;
    int m_totalHeight;
    int m_clientWidth;
    int m_clientHeight;
    CFont m_baseFont;
    CFont m_titleFont;
    CFont m_detailFont;
    CFont m_descriptionFont;
    int m_tracking;
    int m_hoverIndex;
    int m_headerCount;
    // Pictures by role (null when missing).
    Gdiplus::Image* m_logoDefault = nullptr;
    Gdiplus::Image* m_logoFamily[3] = {nullptr, nullptr, nullptr};
    Gdiplus::Image* m_group1Badge = nullptr;
    Gdiplus::Image* m_group2Marker = nullptr;
    Gdiplus::Image* m_collapsedMarker = nullptr;
    Gdiplus::Image* m_expandedMarker = nullptr;
    Gdiplus::Image* m_hoverMarker = nullptr;
    Gdiplus::Image* m_selectedMarker = nullptr;
    Gdiplus::Image* m_unchosenMark = nullptr;
    Gdiplus::Image* m_chosenMark = nullptr;
};

class CMyOsCatListbox : public COsListWndBase {
public:
    CMyOsCatListbox();
    BOOL CreateListWindow(CWnd* parent, const RECT& rect);
    // A header for the category (id = index + kCategoryHeaderIdBase), after the earlier headers.
    void AddCategory(COsCatInfo* category, int index);
    // An entry row for the record (id = its catalogue index), at the end.
    void AddEntry(COnlinefileinfo* record, int index);
    void RecalcLayout() override;
    void DrawItem(CDC* dc, const CRect& row, OSLIST_ITEM* item) override;
    int GetHeaderCount() const { return m_headerCount; }
    int GetLastToggledId() const { return m_lastToggledId; }

protected:
    void OnRowClicked(OSLIST_ITEM* item) override;
};

class CMyOsListbox : public COsListWndBase {
public:
    CMyOsListbox();
    BOOL CreateListWindow(CWnd* parent, const RECT& rect, int id);
    // A row for the record (id = its catalogue index), at the end.
    virtual void AddItem(COnlinefileinfo* record, int index);
    void RecalcLayout() override;
    void DrawItem(CDC* dc, const CRect& row, OSLIST_ITEM* item) override;

protected:
    CMyOsListbox(int windowId);
    void OnRowClicked(OSLIST_ITEM* item) override;
};

class CMyUsbOsListbox : public CMyOsListbox {
public:
    CMyUsbOsListbox();
    BOOL CreateListWindow(CWnd* parent, const RECT& rect);
    void AddItem(COnlinefileinfo* record, int index) override;
    void DrawItem(CDC* dc, const CRect& row, OSLIST_ITEM* item) override;

protected:
    void OnRowClicked(OSLIST_ITEM* item) override;
};
