#include "controls/os_lists.h"

#include "core/fixed_texts.h"

// ----------------------------------------------------------------- CMyMemDC

CMyMemDC::CMyMemDC(CDC* pDC) : m_pDC(pDC), m_oldBitmap(nullptr), m_memDC(!pDC->IsPrinting()) {
    pDC->GetClipBox(&m_rect);
    if (m_memDC && CreateCompatibleDC(pDC)) {
        m_bitmap.CreateCompatibleBitmap(*pDC, m_rect.Width(), m_rect.Height());
        m_oldBitmap = SelectObject(&m_bitmap);
        SetMapMode(pDC->GetMapMode());
        SetWindowOrg(m_rect.left, m_rect.top);
    } else {
        m_memDC = false;
        m_bPrinting = pDC->m_bPrinting;
        Attach(pDC->m_hDC);
    }
}

CMyMemDC::~CMyMemDC() {
    if (m_memDC) {
        m_pDC->BitBlt(m_rect.left, m_rect.top, m_rect.Width(), m_rect.Height(), this, m_rect.left, m_rect.top,
                      SRCCOPY);
        SelectObject(m_oldBitmap);
    } else {
        Detach();
    }
}

// ----------------------------------------------------------- COsListWndBase

BEGIN_MESSAGE_MAP(COsListWndBase, CWnd)
    ON_WM_PAINT()
    ON_WM_ERASEBKGND()
    ON_WM_VSCROLL()
    ON_WM_SIZE()
    ON_WM_SETFOCUS()
    ON_WM_KILLFOCUS()
    ON_WM_DESTROY()
    ON_WM_MOUSEWHEEL()
    ON_WM_MOUSEMOVE()
    ON_WM_MOUSELEAVE()
    ON_WM_LBUTTONUP()
END_MESSAGE_MAP()

static void MakeListFont(CFont& font, int height) {
    font.CreateFont(height, 0, 0, 0, FW_NORMAL, 0, 0, 0, DEFAULT_CHARSET, OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS,
                    DEFAULT_QUALITY, DEFAULT_PITCH | FF_DONTCARE, FixedText::kListFontFace);
}

COsListWndBase::COsListWndBase(int windowId, int baseHeight, int titleHeight, int detailHeight,
                               int descriptionHeight)
    : m_selectedId(-1),
      m_indexMap(17),
      m_visibleCount(0),
      m_lastToggledId(-1),
      m_windowId(windowId),
      m_totalHeight(0),
      m_clientWidth(0),
      m_clientHeight(0),
      m_tracking(0),
      m_hoverIndex(-1),
      m_headerCount(0) {
    MakeListFont(m_baseFont, baseHeight);
    MakeListFont(m_titleFont, titleHeight);
    MakeListFont(m_detailFont, detailHeight);
    MakeListFont(m_descriptionFont, descriptionHeight);
}

COsListWndBase::~COsListWndBase() {
    RemoveAllItems();
    Gdiplus::Image** all[] = {&m_logoDefault,     &m_logoFamily[0],   &m_logoFamily[1], &m_logoFamily[2],
                              &m_group1Badge,     &m_group2Marker,    &m_collapsedMarker,
                              &m_expandedMarker,  &m_hoverMarker,     &m_selectedMarker,
                              &m_unchosenMark,    &m_chosenMark};
    for (Gdiplus::Image** p : all) ReleasePicture(*p);
}

void COsListWndBase::LoadCataloguePictures(bool headerMarkers) {
    m_logoDefault = LoadControlPicture(FixedText::kSkinListLogoDefault);
    m_logoFamily[0] = LoadControlPicture(FixedText::kSkinListLogoFamily1);
    m_logoFamily[1] = LoadControlPicture(FixedText::kSkinListLogoFamily2);
    m_logoFamily[2] = LoadControlPicture(FixedText::kSkinListLogoFamily3);
    m_group1Badge = LoadControlPicture(FixedText::kSkinListGroup1Badge);
    m_group2Marker = LoadControlPicture(FixedText::kSkinListGroup2Marker);
    if (headerMarkers) {
        m_collapsedMarker = LoadControlPicture(FixedText::kSkinListCollapsed);
        m_expandedMarker = LoadControlPicture(FixedText::kSkinListExpanded);
    }
    m_hoverMarker = LoadControlPicture(FixedText::kSkinListHover);
    m_selectedMarker = LoadControlPicture(FixedText::kSkinListSelected);
}

BOOL COsListWndBase::CreateListWindow(CWnd* parent, const RECT& rect, int id) {
    // The class has the arrow cursor: without one the cursor would keep
    // whatever shape it had when it entered the list.
    LPCWSTR cls = AfxRegisterWndClass(CS_DBLCLKS, ::LoadCursorW(nullptr, IDC_ARROW));
    m_windowId = id;
    if (!CreateEx(0, cls, L"", WS_CHILD | WS_VISIBLE | WS_VSCROLL | WS_TABSTOP, rect.left, rect.top,
                  rect.right - rect.left, rect.bottom - rect.top, parent ? parent->m_hWnd : nullptr,
                  reinterpret_cast<HMENU>(static_cast<UINT_PTR>(id))))
        return FALSE;
    m_clientWidth = rect.right - rect.left;
    m_clientHeight = rect.bottom - rect.top;
    m_totalHeight = 0;
    SCROLLINFO si = {};
    si.fMask = SIF_RANGE | SIF_PAGE;
    si.nMin = 0;
    si.nMax = 0;
    si.nPage = 0;
    SetScrollInfo(SB_VERT, &si, TRUE);
    return m_hWnd != nullptr;
}

void COsListWndBase::RemoveAllItems() {
    for (INT_PTR i = 0; i < m_items.GetSize(); ++i) delete m_items[i];
    m_items.RemoveAll();
    m_visible.RemoveAll();
    m_indexMap.RemoveAll();
    m_headerCount = 0;
    m_totalHeight = 0;
    m_visibleCount = 0;
}

void COsListWndBase::ForgetItems() {
    RemoveAllItems();
    m_selectedId = -1;
    if (!GetSafeHwnd()) return;
    RecalcLayout();
    Invalidate();
}

void COsListWndBase::ClearVisibleItems() {
    if (m_visible.IsEmpty()) return;
    m_totalHeight = 0;
    m_visibleCount = 0;
    m_visible.RemoveAll();
    m_indexMap.RemoveAll();
}

void COsListWndBase::UpdateScrollInfo() {
    if (!m_hWnd) return;
    SCROLLINFO si = {};
    si.fMask = SIF_RANGE | SIF_PAGE;
    si.nMin = 0;
    si.nMax = m_totalHeight;
    si.nPage = (UINT)(m_clientHeight > 0 ? m_clientHeight : 0);
    SetScrollInfo(SB_VERT, &si, TRUE);
}

void COsListWndBase::AppendVisible(OSLIST_ITEM* item) {
    item->visibleIndex = m_visibleCount;
    m_visible.AddTail(item);
    ++m_visibleCount;
    m_totalHeight += item->height;
    UpdateScrollInfo();
    m_indexMap[item->visibleIndex] = item;
}

void COsListWndBase::IndexVisibleItems() {
    m_indexMap.RemoveAll();
    m_visibleCount = 0;
    m_totalHeight = 0;
    for (POSITION pos = m_visible.GetHeadPosition(); pos;) {
        OSLIST_ITEM* item = m_visible.GetNext(pos);
        item->visibleIndex = m_visibleCount++;
        m_totalHeight += item->height;
        m_indexMap[item->visibleIndex] = item;
    }
}

OSLIST_ITEM* COsListWndBase::VisibleAt(int index) const {
    OSLIST_ITEM* item = nullptr;
    return m_indexMap.Lookup(index, item) ? item : nullptr;
}

OSLIST_ITEM* COsListWndBase::RowAt(CPoint point) const {
    for (POSITION pos = m_visible.GetHeadPosition(); pos;) {
        OSLIST_ITEM* item = m_visible.GetNext(pos);
        if (::PtInRect(&item->rect, point)) return item;
    }
    return nullptr;
}

void COsListWndBase::InvalidateRow(int visibleIndex) {
    OSLIST_ITEM* item = VisibleAt(visibleIndex);
    if (item) InvalidateRect(&item->rect, TRUE);
}

Gdiplus::Image* COsListWndBase::LogoFor(const CString& token) const {
    CString upper(token);
    upper.MakeUpper();
    if (upper.Find(FixedText::kListFamilyText1) >= 0) return m_logoFamily[0];
    if (upper.Find(FixedText::kListFamilyText2) >= 0) return m_logoFamily[1];
    if (upper.Find(FixedText::kListFamilyText3) >= 0) return m_logoFamily[2];
    return m_logoDefault;
}

void COsListWndBase::FillRowBackground(CDC* dc, const CRect& row, OSLIST_ITEM* item, bool grey) const {
    if (grey) dc->FillSolidRect(&row, 0xF5F2EE);
    else if (m_selectedId != -1 && m_selectedId == item->id) dc->FillSolidRect(&row, 0xFFE3C5);
    else if (m_hoverIndex != -1 && m_hoverIndex == item->visibleIndex) dc->FillSolidRect(&row, 0xFFE3D2);
}

void COsListWndBase::DrawSeparator(CDC* dc, const CRect& row) const {
    CPen pen(PS_DOT, 1, 0xFF0000);
    HGDIOBJ old = dc->SelectObject(&pen);
    dc->MoveTo(row.left, row.bottom - 1);
    dc->LineTo(row.right, row.bottom - 1);
    dc->SelectObject(old);
}

void COsListWndBase::OnPaint() {
    CPaintDC dc(this);
    CMyMemDC mem(&dc);
    mem.FillSolidRect(&mem.GetRect(), 0xFFFFFF);
    HGDIOBJ oldFont = mem.SelectObject(&m_baseFont);
    int top = -GetScrollPos(SB_VERT);
    for (POSITION pos = m_visible.GetHeadPosition(); pos;) {
        OSLIST_ITEM* item = m_visible.GetNext(pos);
        CRect row(0, top, m_clientWidth, top + item->height);
        DrawItem(&mem, row, item);
        item->rect = row;
        top += item->height;
    }
    mem.SelectObject(oldFont);
}

BOOL COsListWndBase::OnEraseBkgnd(CDC*) { return TRUE; }

void COsListWndBase::OnVScroll(UINT nSBCode, UINT, CScrollBar*) {
    int pos = GetScrollPos(SB_VERT);
    int limit = GetScrollLimit(SB_VERT);
    switch (nSBCode) {
    case SB_LINEUP:
    case SB_PAGEUP:
        if (pos <= 0) return;
        SetScrollPos(SB_VERT, pos - (pos < 50 ? pos : 50), TRUE);
        break;
    case SB_LINEDOWN:
    case SB_PAGEDOWN:
        if (pos >= limit) return;
        SetScrollPos(SB_VERT, pos + (limit - pos < 50 ? limit - pos : 50), TRUE);
        break;
    case SB_THUMBPOSITION:
    case SB_THUMBTRACK: {
        SCROLLINFO si = {};
        GetScrollInfo(SB_VERT, &si, SIF_TRACKPOS);
        SetScrollPos(SB_VERT, si.nTrackPos, nSBCode == SB_THUMBPOSITION);
        break;
    }
    default:
        break;
    }
    Invalidate(TRUE);
    UpdateWindow();
    Default();
}

void COsListWndBase::OnSize(UINT nType, int cx, int cy) {
    CWnd::OnSize(nType, cx, cy);
    CRect rc;
    GetClientRect(&rc);
    m_clientWidth = rc.Width();
    m_clientHeight = rc.Height();
    IndexVisibleItems();
    UpdateScrollInfo();
    Invalidate(FALSE);
}

void COsListWndBase::OnSetFocus(CWnd* pOldWnd) { CWnd::OnSetFocus(pOldWnd); }
void COsListWndBase::OnKillFocus(CWnd* pNewWnd) { CWnd::OnKillFocus(pNewWnd); }

void COsListWndBase::OnDestroy() {
    m_baseFont.DeleteObject();
    CWnd::OnDestroy();
}

BOOL COsListWndBase::OnMouseWheel(UINT nFlags, short zDelta, CPoint pt) {
    int limit = GetScrollLimit(SB_VERT);
    if (limit != 0) {
        // One step per message, whatever the delta's size.
        int pos = GetScrollPos(SB_VERT);
        pos = zDelta >= 0 ? (pos - 40 < 0 ? 0 : pos - 40) : (pos + 40 > limit ? limit : pos + 40);
        SetScrollPos(SB_VERT, pos, TRUE);
        Invalidate(TRUE);
        UpdateWindow();
    }
    return CWnd::OnMouseWheel(nFlags, zDelta, pt);
}

void COsListWndBase::OnMouseMove(UINT nFlags, CPoint point) {
    OSLIST_ITEM* row = RowAt(point);
    if (row && row->visibleIndex != m_hoverIndex) {
        int old = m_hoverIndex;
        m_hoverIndex = row->visibleIndex;
        if (old != -1) InvalidateRow(old);
        InvalidateRow(m_hoverIndex);
    }
    if (!m_tracking) {
        TRACKMOUSEEVENT tme = {sizeof(tme), TME_LEAVE, m_hWnd, 0};
        m_tracking = _TrackMouseEvent(&tme) ? 1 : 0;
    }
    CWnd::OnMouseMove(nFlags, point);
}

void COsListWndBase::OnMouseLeave() {
    m_tracking = 0;
    if (m_hoverIndex != -1) {
        InvalidateRow(m_hoverIndex);
        m_hoverIndex = -1;
    }
}

void COsListWndBase::OnLButtonUp(UINT nFlags, CPoint point) {
    SetFocus();
    OSLIST_ITEM* row = RowAt(point);
    if (row) {
        OnRowClicked(row);
        Invalidate(FALSE);
    }
    CWnd::OnLButtonUp(nFlags, point);
}

// ---------------------------------------------------------- CMyOsCatListbox

CMyOsCatListbox::CMyOsCatListbox() : COsListWndBase(500, -14, -14, -12, -12) { LoadCataloguePictures(true); }

BOOL CMyOsCatListbox::CreateListWindow(CWnd* parent, const RECT& rect) {
    return COsListWndBase::CreateListWindow(parent, rect, 500);
}

// A new row record, marked as added.
template <typename Item>
static Item* NewRow(int height, void* data, int id) {
    Item* item = new Item;
    item->height = height;
    item->added = 1;
    item->data = data;
    item->id = id;
    return item;
}

void CMyOsCatListbox::AddCategory(COsCatInfo* category, int index) {
    OSCATLIST_ITEM* item = NewRow<OSCATLIST_ITEM>(70, category, index + kCategoryHeaderIdBase);
    item->entry = 0;
    // Headers come first, in the order added.
    m_items.InsertAt(m_headerCount, item);
    ++m_headerCount;
}

void CMyOsCatListbox::AddEntry(COnlinefileinfo* record, int index) {
    m_items.Add(NewRow<OSCATLIST_ITEM>(93, record, index));
}

static COnlinefileinfo* EntryOf(OSLIST_ITEM* item) { return static_cast<COnlinefileinfo*>(item->data); }
static COsCatInfo* CategoryOf(OSLIST_ITEM* item) { return static_cast<COsCatInfo*>(item->data); }
static OSCATLIST_ITEM* CatItem(OSLIST_ITEM* item) { return static_cast<OSCATLIST_ITEM*>(item); }

void CMyOsCatListbox::RecalcLayout() {
    ClearVisibleItems();
    for (INT_PTR i = 0; i < m_items.GetSize(); ++i) m_items[i]->visibleIndex = -1;
    int target = 0;
    if (m_headerCount == 0) {
        for (INT_PTR i = 0; i < m_items.GetSize(); ++i) {
            OSLIST_ITEM* item = m_items[i];
            if (EntryOf(item)->m_systemMask & 0x80) AppendVisible(item);
        }
    } else {
        for (int h = 0; h < m_headerCount && h < m_items.GetSize(); ++h) {
            OSCATLIST_ITEM* header = CatItem(m_items[h]);
            if (header->id == m_lastToggledId) target = m_totalHeight;
            AppendVisible(header);
            if (header->collapsed) continue;
            BYTE mask = CategoryOf(header)->m_systemMask;
            for (INT_PTR e = m_headerCount; e < m_items.GetSize(); ++e) {
                OSLIST_ITEM* entry = m_items[e];
                if ((EntryOf(entry)->m_systemMask & mask) == mask) AppendVisible(entry);
            }
        }
    }
    if (m_hWnd) {
        if (target > 0) {
            int limit = GetScrollLimit(SB_VERT);
            SetScrollPos(SB_VERT, target < limit ? target : limit, TRUE);
        }
        Invalidate(TRUE);
        UpdateWindow();
    }
}

static void DrawTextAt(CDC* dc, CFont& font, COLORREF color, int x, int y, const CString& text) {
    HGDIOBJ old = dc->SelectObject(&font);
    dc->SetTextColor(color);
    dc->TextOut(x, y, text);
    dc->SelectObject(old);
}

static void DrawTextIn(CDC* dc, CFont& font, COLORREF color, CRect box, const CString& text) {
    HGDIOBJ old = dc->SelectObject(&font);
    dc->SetTextColor(color);
    dc->DrawText(text, &box, DT_WORDBREAK | DT_VCENTER);
    dc->SelectObject(old);
}

static bool RowOutsideClip(CDC* dc, const CRect& row) {
    CRect clip;
    dc->GetClipBox(&clip);
    return row.bottom < clip.top || row.top > clip.bottom;
}

void CMyOsCatListbox::DrawItem(CDC* dc, const CRect& row, OSLIST_ITEM* item) {
    if (RowOutsideClip(dc, row)) return;
    OSCATLIST_ITEM* cat = CatItem(item);
    int x = row.left, y = row.top;
    int oldMode = dc->SetBkMode(TRANSPARENT);
    FillRowBackground(dc, row, item, false);
    if (cat->entry) {
        COnlinefileinfo* rec = EntryOf(item);
        DrawTextAt(dc, m_titleFont, 0x000000, x + 30, y + 5, rec->m_title);
        DrawTextAt(dc, m_detailFont, 0x343434, x + 30, y + 33,
                   CString(FixedText::kListDetailPrefix) + rec->m_detail1 + FixedText::kListDetailSeparator +
                       rec->m_detail2);
        DrawTextIn(dc, m_descriptionFont, 0x000000, CRect(x + 30, y + 55, x + 580, y + 90), rec->m_description);
    } else {
        COsCatInfo* c = CategoryOf(item);
        DrawTextAt(dc, m_titleFont, 0x000000, x + 90, y + 5, c->m_caption);
        DrawTextIn(dc, m_descriptionFont, 0x000000, CRect(x + 90, y + 40, x + 610, y + 70), c->m_text);
    }
    DrawSeparator(dc, row);
    dc->SetBkMode(oldMode);

    if (cat->entry) {
        bool selected = m_selectedId != -1 && m_selectedId == item->id;
        bool hovered = m_hoverIndex != -1 && m_hoverIndex == item->visibleIndex;
        if (selected) DrawSkinPicture(*dc, m_selectedMarker, row.right - 200, y + 10, 50, 35);
        else if (hovered) DrawSkinPicture(*dc, m_hoverMarker, row.right - 200, y + 10, 50, 35);
    } else {
        COsCatInfo* c = CategoryOf(item);
        if (c->m_displayGroup == 1) DrawSkinPicture(*dc, m_group1Badge, x, y, 49, 43);
        DrawSkinPicture(*dc, LogoFor(c->m_id), x + 30, y + 10, 45, 45);
        Gdiplus::Image* marker = c->m_displayGroup == 2 ? m_group2Marker
                                 : cat->collapsed       ? m_collapsedMarker
                                                        : m_expandedMarker;
        DrawSkinPicture(*dc, marker, row.right - 50, y + 30, 20, 20);
    }
}

void CMyOsCatListbox::OnRowClicked(OSLIST_ITEM* item) {
    OSCATLIST_ITEM* cat = CatItem(item);
    if (cat->entry) {
        m_selectedId = item->id;
    } else if (CategoryOf(item)->m_displayGroup != 2) {
        cat->collapsed = !cat->collapsed;
        m_lastToggledId = item->id;
        RecalcLayout();
    }
}

// ------------------------------------------------------------- CMyOsListbox

CMyOsListbox::CMyOsListbox(int windowId) : COsListWndBase(windowId, -16, -16, -13, -12) {}

CMyOsListbox::CMyOsListbox() : CMyOsListbox(0) { LoadCataloguePictures(false); }

BOOL CMyOsListbox::CreateListWindow(CWnd* parent, const RECT& rect, int id) {
    return COsListWndBase::CreateListWindow(parent, rect, id);
}

void CMyOsListbox::AddItem(COnlinefileinfo* record, int index) {
    m_items.Add(NewRow<OSLIST_ITEM>(70, record, index));
}

void CMyOsListbox::RecalcLayout() {
    ClearVisibleItems();
    for (INT_PTR i = 0; i < m_items.GetSize(); ++i) {
        OSLIST_ITEM* item = m_items[i];
        item->visibleIndex = -1;
        if (EntryOf(item)->m_systemMask & 0x80) AppendVisible(item);
    }
    if (m_hWnd) {
        Invalidate(TRUE);
        UpdateWindow();
    }
}

void CMyOsListbox::DrawItem(CDC* dc, const CRect& row, OSLIST_ITEM* item) {
    if (RowOutsideClip(dc, row)) return;
    COnlinefileinfo* rec = EntryOf(item);
    int x = row.left, y = row.top;
    int oldMode = dc->SetBkMode(TRANSPARENT);
    FillRowBackground(dc, row, item, rec->m_displayGroup == 2);
    DrawTextAt(dc, m_titleFont, 0x000000, x + 105, y + 5, rec->m_title);
    DrawTextAt(dc, m_detailFont, 0x343434, x + 105, y + 35,
               CString(FixedText::kListDetailPrefix) + rec->m_detail1 + FixedText::kListDetailSeparator +
                   rec->m_detail2);
    DrawSeparator(dc, row);
    dc->SetBkMode(oldMode);

    DrawSkinPicture(*dc, LogoFor(rec->m_sectionName), x + 30, y + 10, 45, 45);
    bool selected = m_selectedId != -1 && m_selectedId == item->id;
    bool hovered = m_hoverIndex != -1 && m_hoverIndex == item->visibleIndex;
    if (selected) DrawSkinPicture(*dc, m_selectedMarker, row.right - 80, y + 25, 50, 35);
    else if (hovered && rec->m_displayGroup != 2) DrawSkinPicture(*dc, m_hoverMarker, row.right - 80, y + 25, 50, 35);
    if (rec->m_displayGroup == 1) DrawSkinPicture(*dc, m_group1Badge, x, y, 49, 43);
    else if (rec->m_displayGroup == 2) DrawSkinPicture(*dc, m_group2Marker, row.right - 80, y + 30, 20, 20);
}

void CMyOsListbox::OnRowClicked(OSLIST_ITEM* item) {
    if (EntryOf(item)->m_displayGroup != 2) m_selectedId = item->id;
}

// ---------------------------------------------------------- CMyUsbOsListbox

CMyUsbOsListbox::CMyUsbOsListbox() : CMyOsListbox(10608) {
    m_unchosenMark = LoadControlPicture(FixedText::kSkinUsbListUnchosen);
    m_chosenMark = LoadControlPicture(FixedText::kSkinUsbListChosen);
}

BOOL CMyUsbOsListbox::CreateListWindow(CWnd* parent, const RECT& rect) {
    return COsListWndBase::CreateListWindow(parent, rect, 10608);
}

void CMyUsbOsListbox::AddItem(COnlinefileinfo* record, int index) {
    m_items.Add(NewRow<USBOSLIST_ITEM>(66, record, index));
}

void CMyUsbOsListbox::DrawItem(CDC* dc, const CRect& row, OSLIST_ITEM* item) {
    if (RowOutsideClip(dc, row)) return;
    COnlinefileinfo* rec = EntryOf(item);
    int x = row.left, y = row.top;
    int oldMode = dc->SetBkMode(TRANSPARENT);
    FillRowBackground(dc, row, item, false);
    DrawTextAt(dc, m_titleFont, 0x000000, x + 80, y + 5, rec->m_title);
    DrawTextAt(dc, m_detailFont, 0x343434, x + 80, y + 28,
               rec->m_detail1 + FixedText::kListDetailSeparator + rec->m_detail2);
    DrawTextIn(dc, m_descriptionFont, 0x000000, CRect(x + 80, y + 48, x + 655, y + 66), rec->m_description);
    DrawSeparator(dc, row);
    dc->SetBkMode(oldMode);
    bool selected = m_selectedId != -1 && m_selectedId == item->id;
    DrawSkinPicture(*dc, selected ? m_chosenMark : m_unchosenMark, x + 25, y + 24, 18, 18);
}

void CMyUsbOsListbox::OnRowClicked(OSLIST_ITEM* item) { m_selectedId = item->id; }
