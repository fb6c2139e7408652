// Windows and dialogs: message maps, CCmdTarget, CWnd, CDialog, CDialogEx.
//
// A CWnd holds the window handle and the window procedure it replaced. The
// handle-to-object map is process-wide and locked (message boxes are built on
// worker threads). A window made through CWnd::CreateEx or a dialog made
// through CDialog is attached on its first message: the creating object is
// handed over in thread-local storage and picked up by a CBT hook that also
// subclasses the window, so even WM_NCCREATE reaches the object.
//
// Handlers come from message maps: each class has a table of message ->
// handler with its base class's table behind it. The parent reflects
// WM_COMMAND and WM_NOTIFY from controls, WM_DRAWITEM, WM_MEASUREITEM,
// WM_CTLCOLOR* and scroll messages to the child object first
// (OnChildNotify); only what the child leaves unhandled reaches the parent.
#pragma once

#include <windows.h>

#include "winlib/gdi.h"
#include "winlib/strings.h"

class CCmdTarget;
class CWnd;
class CScrollBar;

typedef void (CCmdTarget::*WlPmsg)();

// Handler signatures a message-map entry can have.
enum WlSig {
    WlSig_end = 0,
    WlSig_lwl,      // LRESULT (WPARAM, LPARAM)
    WlSig_vv,       // void ()
    WlSig_bv,       // BOOL ()
    WlSig_vw,       // void (UINT_PTR)
    WlSig_vwl,      // void (UINT, LPARAM)
    WlSig_vwp,      // void (UINT nFlags, CPoint point)
    WlSig_vwii,     // void (UINT nType, int cx, int cy)
    WlSig_bWww,     // BOOL (CWnd*, UINT nHitTest, UINT message)
    WlSig_vWww,     // void (CWnd* pWnd?, ...) reserved
    WlSig_hDWw,     // HBRUSH (CDC*, CWnd*, UINT nCtlColor)
    WlSig_hw,       // HBRUSH (CDC*, UINT nCtlColor) for reflected WM_CTLCOLOR
    WlSig_bD,       // BOOL (CDC*)
    WlSig_vOWNER,   // void (int nIDCtl, LPDRAWITEMSTRUCT / LPMEASUREITEMSTRUCT)
    WlSig_vDRAW,    // void (LPDRAWITEMSTRUCT) reflected
    WlSig_vMEASURE, // void (LPMEASUREITEMSTRUCT) reflected
    WlSig_vbw,      // void (BOOL, UINT)
    WlSig_vwwW,     // void (UINT nSBCode, UINT nPos, CScrollBar*/CWnd*)
    WlSig_bwsp,     // BOOL (UINT nFlags, short zDelta, CPoint)
    WlSig_vNOTIFY,  // void (NMHDR*, LRESULT*)
    WlSig_iCREATE,  // int (LPCREATESTRUCT)
    WlSig_vwww,     // void (UINT, UINT, UINT)
    WlSig_bDEVICE,  // BOOL (UINT nEventType, DWORD_PTR dwData)
    WlSig_vID,      // void (UINT nID) for control-id ranges
    WlSig_vW,       // void (CWnd*) (focus changes)
};

struct WlMsgMapEntry {
    UINT nMessage;       // the message; WM_COMMAND / WM_NOTIFY for control entries
    UINT nCode;          // notification code for WM_COMMAND / WM_NOTIFY entries
    UINT nID;            // first control id (WM_COMMAND / WM_NOTIFY)
    UINT nLastID;        // last control id
    int nSig;            // WlSig
    WlPmsg pfn;          // the handler, cast back by its signature
    const UINT* pRegId;  // registered message id (ON_REGISTERED_MESSAGE), else null
};

struct WlMsgMap {
    const WlMsgMap* (*pfnGetBaseMap)();
    const WlMsgMapEntry* lpEntries;
};

// The old colour message: the map key of every WM_CTLCOLOR* message.
#ifndef WM_CTLCOLOR
#define WM_CTLCOLOR 0x0019
#endif

// Reflected messages are looked up in the child's map as WL_REFLECT_BASE + msg.
#define WL_REFLECT_BASE 0xBC00

#define DECLARE_MESSAGE_MAP()                        \
protected:                                           \
    static const WlMsgMap* GetThisMessageMap();      \
    const WlMsgMap* GetMessageMap() const override;

#define BEGIN_MESSAGE_MAP(theClass, baseClass)                                      \
    const WlMsgMap* theClass::GetMessageMap() const { return GetThisMessageMap(); } \
    const WlMsgMap* theClass::GetThisMessageMap() {                                 \
        typedef theClass ThisClass;                                                 \
        typedef baseClass TheBaseClass;                                             \
        (void)sizeof(ThisClass);                                                    \
        static const WlMsgMapEntry s_entries[] = {

#define END_MESSAGE_MAP()                                                       \
        {0, 0, 0, 0, WlSig_end, nullptr, nullptr}};                             \
        static const WlMsgMap s_map = {&TheBaseClass::GetThisMessageMap, s_entries}; \
        return &s_map;                                                          \
    }

#define WL_PMSG(type, fn) reinterpret_cast<WlPmsg>(static_cast<type>(&ThisClass::fn))

#define ON_MESSAGE(message, fn) \
    {message, 0, 0, 0, WlSig_lwl, WL_PMSG(LRESULT (CWnd::*)(WPARAM, LPARAM), fn), nullptr},
#define ON_REGISTERED_MESSAGE(idVariable, fn) \
    {0xC000, 0, 0, 0, WlSig_lwl, WL_PMSG(LRESULT (CWnd::*)(WPARAM, LPARAM), fn), &idVariable},
#define ON_COMMAND(id, fn) \
    {WM_COMMAND, 0, (UINT)(id), (UINT)(id), WlSig_vv, WL_PMSG(void (CCmdTarget::*)(), fn), nullptr},
#define ON_CONTROL(code, id, fn) \
    {WM_COMMAND, (UINT)(code), (UINT)(id), (UINT)(id), WlSig_vv, WL_PMSG(void (CCmdTarget::*)(), fn), nullptr},
#define ON_CONTROL_RANGE(code, idFirst, idLast, fn) \
    {WM_COMMAND, (UINT)(code), (UINT)(idFirst), (UINT)(idLast), WlSig_vID, WL_PMSG(void (CCmdTarget::*)(UINT), fn), nullptr},
#define ON_BN_CLICKED(id, fn) ON_CONTROL(BN_CLICKED, id, fn)
#define ON_CONTROL_REFLECT(code, fn) \
    {WL_REFLECT_BASE + WM_COMMAND, (UINT)(code), 0, 0, WlSig_vv, WL_PMSG(void (CCmdTarget::*)(), fn), nullptr},
#define ON_CONTROL_REFLECT_EX(code, fn) \
    {WL_REFLECT_BASE + WM_COMMAND, (UINT)(code), 0, 0, WlSig_bv, WL_PMSG(BOOL (CCmdTarget::*)(), fn), nullptr},
#define ON_NOTIFY(code, id, fn) \
    {WM_NOTIFY, (UINT)(code), (UINT)(id), (UINT)(id), WlSig_vNOTIFY, WL_PMSG(void (CCmdTarget::*)(NMHDR*, LRESULT*), fn), nullptr},
#define ON_NOTIFY_REFLECT(code, fn) \
    {WL_REFLECT_BASE + WM_NOTIFY, (UINT)(code), 0, 0, WlSig_vNOTIFY, WL_PMSG(void (CCmdTarget::*)(NMHDR*, LRESULT*), fn), nullptr},

#define ON_WM_DESTROY() {WM_DESTROY, 0, 0, 0, WlSig_vv, WL_PMSG(void (CWnd::*)(), OnDestroy), nullptr},
#define ON_WM_CLOSE() {WM_CLOSE, 0, 0, 0, WlSig_vv, WL_PMSG(void (CWnd::*)(), OnClose), nullptr},
#define ON_WM_PAINT() {WM_PAINT, 0, 0, 0, WlSig_vv, WL_PMSG(void (CWnd::*)(), OnPaint), nullptr},
#define ON_WM_TIMER() {WM_TIMER, 0, 0, 0, WlSig_vw, WL_PMSG(void (CWnd::*)(UINT_PTR), OnTimer), nullptr},
#define ON_WM_SYSCOMMAND() {WM_SYSCOMMAND, 0, 0, 0, WlSig_vwl, WL_PMSG(void (CWnd::*)(UINT, LPARAM), OnSysCommand), nullptr},
#define ON_WM_SIZE() {WM_SIZE, 0, 0, 0, WlSig_vwii, WL_PMSG(void (CWnd::*)(UINT, int, int), OnSize), nullptr},
#define ON_WM_SHOWWINDOW() {WM_SHOWWINDOW, 0, 0, 0, WlSig_vbw, WL_PMSG(void (CWnd::*)(BOOL, UINT), OnShowWindow), nullptr},
#define ON_WM_CREATE() {WM_CREATE, 0, 0, 0, WlSig_iCREATE, WL_PMSG(int (CWnd::*)(LPCREATESTRUCT), OnCreate), nullptr},
#define ON_WM_ERASEBKGND() {WM_ERASEBKGND, 0, 0, 0, WlSig_bD, WL_PMSG(BOOL (CWnd::*)(CDC*), OnEraseBkgnd), nullptr},
#define ON_WM_NCPAINT() {WM_NCPAINT, 0, 0, 0, WlSig_vv, WL_PMSG(void (CWnd::*)(), OnNcPaint), nullptr},
// Every WM_CTLCOLOR* message of the window's children, nCtlColor telling which (CTLCOLOR_*).
#define ON_WM_CTLCOLOR() \
    {WM_CTLCOLOR, 0, 0, 0, WlSig_hDWw, WL_PMSG(HBRUSH (CWnd::*)(CDC*, CWnd*, UINT), OnCtlColor), nullptr},
// The colour message the parent reflects to the control; a null brush lets the parent decide.
#define ON_WM_CTLCOLOR_REFLECT() \
    {WL_REFLECT_BASE + WM_CTLCOLOR, 0, 0, 0, WlSig_hw, WL_PMSG(HBRUSH (CWnd::*)(CDC*, UINT), CtlColor), nullptr},
#define ON_WM_DRAWITEM() \
    {WM_DRAWITEM, 0, 0, 0, WlSig_vOWNER, WL_PMSG(void (CWnd::*)(int, LPDRAWITEMSTRUCT), OnDrawItem), nullptr},
#define ON_WM_MEASUREITEM() \
    {WM_MEASUREITEM, 0, 0, 0, WlSig_vOWNER, WL_PMSG(void (CWnd::*)(int, LPMEASUREITEMSTRUCT), OnMeasureItem), nullptr},
#define ON_WM_DRAWITEM_REFLECT() \
    {WL_REFLECT_BASE + WM_DRAWITEM, 0, 0, 0, WlSig_vDRAW, WL_PMSG(void (CWnd::*)(LPDRAWITEMSTRUCT), DrawItem), nullptr},
#define ON_WM_MEASUREITEM_REFLECT() \
    {WL_REFLECT_BASE + WM_MEASUREITEM, 0, 0, 0, WlSig_vMEASURE, \
     WL_PMSG(void (CWnd::*)(LPMEASUREITEMSTRUCT), MeasureItem), nullptr},
#define WL_ON_MOUSE(msg, fn) {msg, 0, 0, 0, WlSig_vwp, WL_PMSG(void (CWnd::*)(UINT, CPoint), fn), nullptr},
#define ON_WM_MOUSEMOVE() WL_ON_MOUSE(WM_MOUSEMOVE, OnMouseMove)
#define ON_WM_LBUTTONDOWN() WL_ON_MOUSE(WM_LBUTTONDOWN, OnLButtonDown)
#define ON_WM_LBUTTONUP() WL_ON_MOUSE(WM_LBUTTONUP, OnLButtonUp)
#define ON_WM_LBUTTONDBLCLK() WL_ON_MOUSE(WM_LBUTTONDBLCLK, OnLButtonDblClk)
#define ON_WM_RBUTTONDOWN() WL_ON_MOUSE(WM_RBUTTONDOWN, OnRButtonDown)
#define ON_WM_RBUTTONUP() WL_ON_MOUSE(WM_RBUTTONUP, OnRButtonUp)
#define ON_WM_RBUTTONDBLCLK() WL_ON_MOUSE(WM_RBUTTONDBLCLK, OnRButtonDblClk)
#define ON_WM_MOUSELEAVE() {WM_MOUSELEAVE, 0, 0, 0, WlSig_vv, WL_PMSG(void (CWnd::*)(), OnMouseLeave), nullptr},
#define ON_WM_MOUSEWHEEL() \
    {WM_MOUSEWHEEL, 0, 0, 0, WlSig_bwsp, WL_PMSG(BOOL (CWnd::*)(UINT, short, CPoint), OnMouseWheel), nullptr},
#define ON_WM_SETCURSOR() \
    {WM_SETCURSOR, 0, 0, 0, WlSig_bWww, WL_PMSG(BOOL (CWnd::*)(CWnd*, UINT, UINT), OnSetCursor), nullptr},
#define ON_WM_KEYDOWN() {WM_KEYDOWN, 0, 0, 0, WlSig_vwww, WL_PMSG(void (CWnd::*)(UINT, UINT, UINT), OnKeyDown), nullptr},
#define ON_WM_KEYUP() {WM_KEYUP, 0, 0, 0, WlSig_vwww, WL_PMSG(void (CWnd::*)(UINT, UINT, UINT), OnKeyUp), nullptr},
#define ON_WM_CHAR() {WM_CHAR, 0, 0, 0, WlSig_vwww, WL_PMSG(void (CWnd::*)(UINT, UINT, UINT), OnChar), nullptr},
#define ON_WM_SETFOCUS() {WM_SETFOCUS, 0, 0, 0, WlSig_vW, WL_PMSG(void (CWnd::*)(CWnd*), OnSetFocus), nullptr},
#define ON_WM_KILLFOCUS() {WM_KILLFOCUS, 0, 0, 0, WlSig_vW, WL_PMSG(void (CWnd::*)(CWnd*), OnKillFocus), nullptr},
// BOOL OnDeviceChange(UINT nEventType, DWORD_PTR dwData): the result is the message's.
#define ON_WM_DEVICECHANGE() \
    {WM_DEVICECHANGE, 0, 0, 0, WlSig_bDEVICE, WL_PMSG(BOOL (CWnd::*)(UINT, DWORD_PTR), OnDeviceChange), nullptr},
#define ON_WM_VSCROLL() \
    {WM_VSCROLL, 0, 0, 0, WlSig_vwwW, WL_PMSG(void (CWnd::*)(UINT, UINT, CScrollBar*), OnVScroll), nullptr},
#define ON_WM_HSCROLL() \
    {WM_HSCROLL, 0, 0, 0, WlSig_vwwW, WL_PMSG(void (CWnd::*)(UINT, UINT, CScrollBar*), OnHScroll), nullptr},

class CCmdTarget {
public:
    CCmdTarget() {}
    virtual ~CCmdTarget() {}

protected:
    static const WlMsgMap* GetThisMessageMap();
    virtual const WlMsgMap* GetMessageMap() const;
    friend class CWnd;
};

class CWnd : public CCmdTarget {
public:
    CWnd();
    ~CWnd() override;

    HWND m_hWnd;
    operator HWND() const { return m_hWnd; }
    HWND GetSafeHwnd() const { return m_hWnd; }

    // The object attached to a handle, or null.
    static CWnd* FromHandlePermanent(HWND hWnd);
    // The object attached to a handle; a temporary wrapper when none is
    // attached. A temporary belongs to the calling thread and lives until that
    // thread's next idle moment (DeleteTempMap) or its end: never keep it.
    static CWnd* FromHandle(HWND hWnd);
    // Frees the calling thread's temporary wrappers (modal loops and the
    // application's loop call it when their queue is empty).
    static void DeleteTempMap();
    static size_t TempWrapperCount();

    BOOL Attach(HWND hWnd);
    HWND Detach();
    // Replaces the window's procedure with ours and attaches; calls PreSubclassWindow first.
    BOOL SubclassWindow(HWND hWnd);
    BOOL SubclassDlgItem(UINT nID, CWnd* pParent);
    HWND UnsubclassWindow();

    virtual BOOL PreCreateWindow(CREATESTRUCTW& cs);
    virtual void PreSubclassWindow();
    virtual BOOL CreateEx(DWORD dwExStyle, LPCWSTR lpszClassName, LPCWSTR lpszWindowName, DWORD dwStyle,
                          int x, int y, int nWidth, int nHeight, HWND hWndParent, HMENU nIDorHMenu,
                          LPVOID lpParam = nullptr);
    virtual BOOL Create(LPCWSTR lpszClassName, LPCWSTR lpszWindowName, DWORD dwStyle, const RECT& rect,
                        CWnd* pParentWnd, UINT nID, LPVOID lpParam = nullptr);
    virtual BOOL DestroyWindow();
    // Called after the last message (WM_NCDESTROY) once the handle is gone.
    virtual void PostNcDestroy();

    virtual BOOL PreTranslateMessage(MSG* pMsg);
    virtual LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam);
    virtual BOOL OnWndMsg(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* pResult);
    virtual LRESULT DefWindowProc(UINT message, WPARAM wParam, LPARAM lParam);
    // The child's chance to handle a message its parent reflects to it.
    virtual BOOL OnChildNotify(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* pResult);
    BOOL ReflectChildNotify(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* pResult);
    virtual BOOL OnCommand(WPARAM wParam, LPARAM lParam);
    virtual BOOL OnNotify(WPARAM wParam, LPARAM lParam, LRESULT* pResult);

    // Thin wrappers over the Win32 calls of the same name.
    BOOL ShowWindow(int nCmdShow) { return ::ShowWindow(m_hWnd, nCmdShow); }
    BOOL IsWindowVisible() const { return ::IsWindowVisible(m_hWnd); }
    BOOL IsWindowEnabled() const { return ::IsWindowEnabled(m_hWnd); }
    BOOL EnableWindow(BOOL bEnable = TRUE) { return ::EnableWindow(m_hWnd, bEnable); }
    BOOL IsIconic() const { return ::IsIconic(m_hWnd); }
    BOOL IsWindow() const { return m_hWnd && ::IsWindow(m_hWnd); }
    void UpdateWindow() { ::UpdateWindow(m_hWnd); }
    void Invalidate(BOOL bErase = TRUE) { ::InvalidateRect(m_hWnd, nullptr, bErase); }
    void InvalidateRect(const RECT* rect, BOOL bErase = TRUE) { ::InvalidateRect(m_hWnd, rect, bErase); }
    void ValidateAll() { ::ValidateRect(m_hWnd, nullptr); }
    void MoveWindow(int x, int y, int w, int h, BOOL bRepaint = TRUE) { ::MoveWindow(m_hWnd, x, y, w, h, bRepaint); }
    void MoveWindow(const RECT* r, BOOL bRepaint = TRUE) {
        ::MoveWindow(m_hWnd, r->left, r->top, r->right - r->left, r->bottom - r->top, bRepaint);
    }
    BOOL SetWindowPos(const CWnd* pAfter, int x, int y, int cx, int cy, UINT flags) {
        return ::SetWindowPos(m_hWnd, pAfter ? pAfter->m_hWnd : nullptr, x, y, cx, cy, flags);
    }
    void GetWindowRect(RECT* r) const { ::GetWindowRect(m_hWnd, r); }
    void GetClientRect(RECT* r) const { ::GetClientRect(m_hWnd, r); }
    void ScreenToClient(RECT* r) const;
    void ClientToScreen(RECT* r) const;
    void SetWindowText(LPCWSTR text) { ::SetWindowTextW(m_hWnd, text); }
    void GetWindowText(CString& text) const;
    int GetWindowTextLength() const { return ::GetWindowTextLengthW(m_hWnd); }
    CWnd* GetParent() const { return FromHandle(::GetParent(m_hWnd)); }
    CWnd* GetDlgItem(int nID) const { return FromHandle(::GetDlgItem(m_hWnd, nID)); }
    int GetDlgCtrlID() const { return ::GetDlgCtrlID(m_hWnd); }
    CWnd* SetFocus() { return FromHandle(::SetFocus(m_hWnd)); }
    BOOL SetForegroundWindow() { return ::SetForegroundWindow(m_hWnd); }
    CWnd* SetActiveWindow() { return FromHandle(::SetActiveWindow(m_hWnd)); }
    void BringWindowToTop() { ::BringWindowToTop(m_hWnd); }
    LRESULT SendMessage(UINT msg, WPARAM wp = 0, LPARAM lp = 0) const { return ::SendMessageW(m_hWnd, msg, wp, lp); }
    BOOL PostMessage(UINT msg, WPARAM wp = 0, LPARAM lp = 0) const { return ::PostMessageW(m_hWnd, msg, wp, lp); }
    UINT_PTR SetTimer(UINT_PTR id, UINT elapse, TIMERPROC proc = nullptr) { return ::SetTimer(m_hWnd, id, elapse, proc); }
    BOOL KillTimer(UINT_PTR id) { return ::KillTimer(m_hWnd, id); }
    DWORD GetStyle() const { return (DWORD)::GetWindowLongW(m_hWnd, GWL_STYLE); }
    DWORD GetExStyle() const { return (DWORD)::GetWindowLongW(m_hWnd, GWL_EXSTYLE); }
    BOOL ModifyStyle(DWORD remove, DWORD add, UINT flags = 0);
    BOOL ModifyStyleEx(DWORD remove, DWORD add, UINT flags = 0);
    void CenterWindow(CWnd* pAlternateOwner = nullptr);
    void SetFont(HFONT font, BOOL bRedraw = TRUE) { SendMessage(WM_SETFONT, (WPARAM)font, bRedraw); }
    HFONT GetFont() const { return reinterpret_cast<HFONT>(SendMessage(WM_GETFONT)); }
    void ScreenToClient(POINT* p) const { ::ScreenToClient(m_hWnd, p); }
    void ClientToScreen(POINT* p) const { ::ClientToScreen(m_hWnd, p); }
    CWnd* SetCapture() { return FromHandle(::SetCapture(m_hWnd)); }
    static CWnd* GetCapture() { return FromHandle(::GetCapture()); }
    static CWnd* GetFocus() { return FromHandle(::GetFocus()); }
    static CWnd* WindowFromPoint(POINT p) { return FromHandle(::WindowFromPoint(p)); }
    BOOL RedrawWindow(const RECT* r = nullptr, HRGN rgn = nullptr,
                      UINT flags = RDW_INVALIDATE | RDW_UPDATENOW | RDW_ERASE) {
        return ::RedrawWindow(m_hWnd, r, rgn, flags);
    }
    CWnd* GetNextDlgGroupItem(CWnd* pCtl, BOOL bPrevious = FALSE) const {
        return FromHandle(::GetNextDlgGroupItem(m_hWnd, pCtl ? pCtl->m_hWnd : nullptr, bPrevious));
    }
    BOOL GetScrollInfo(int bar, SCROLLINFO* si, UINT mask = SIF_ALL) {
        si->cbSize = sizeof(SCROLLINFO);
        si->fMask = mask;
        return ::GetScrollInfo(m_hWnd, bar, si);
    }
    BOOL SetScrollInfo(int bar, SCROLLINFO* si, BOOL redraw = TRUE) {
        si->cbSize = sizeof(SCROLLINFO);
        ::SetScrollInfo(m_hWnd, bar, si, redraw);
        return TRUE;
    }
    int GetScrollPos(int bar) const { return ::GetScrollPos(m_hWnd, bar); }
    int SetScrollPos(int bar, int pos, BOOL redraw = TRUE) { return ::SetScrollPos(m_hWnd, bar, pos, redraw); }
    // The largest position the bar can take: maximum - max(page - 1, 0).
    int GetScrollLimit(int bar);

    // Handlers that message-map macros name (ON_WM_*); each default passes the
    // message to DefWindowProc.
    void OnDestroy();
    void OnClose();
    void OnPaint();
    void OnTimer(UINT_PTR nIDEvent);
    void OnSysCommand(UINT nID, LPARAM lParam);
    void OnSize(UINT nType, int cx, int cy);
    void OnShowWindow(BOOL bShow, UINT nStatus);
    int OnCreate(LPCREATESTRUCT lpCreateStruct);
    BOOL OnEraseBkgnd(CDC* pDC);
    void OnNcPaint();
    HBRUSH OnCtlColor(CDC* pDC, CWnd* pWnd, UINT nCtlColor);
    void OnDrawItem(int nIDCtl, LPDRAWITEMSTRUCT lpDrawItemStruct);
    void OnMeasureItem(int nIDCtl, LPMEASUREITEMSTRUCT lpMeasureItemStruct);
    void OnMouseMove(UINT nFlags, CPoint point);
    void OnLButtonDown(UINT nFlags, CPoint point);
    void OnLButtonUp(UINT nFlags, CPoint point);
    void OnLButtonDblClk(UINT nFlags, CPoint point);
    void OnRButtonDown(UINT nFlags, CPoint point);
    void OnRButtonUp(UINT nFlags, CPoint point);
    void OnRButtonDblClk(UINT nFlags, CPoint point);
    void OnMouseLeave();
    BOOL OnMouseWheel(UINT nFlags, short zDelta, CPoint pt);
    BOOL OnSetCursor(CWnd* pWnd, UINT nHitTest, UINT message);
    void OnKeyDown(UINT nChar, UINT nRepCnt, UINT nFlags);
    void OnKeyUp(UINT nChar, UINT nRepCnt, UINT nFlags);
    void OnChar(UINT nChar, UINT nRepCnt, UINT nFlags);
    void OnSetFocus(CWnd* pOldWnd);
    void OnKillFocus(CWnd* pNewWnd);
    void OnVScroll(UINT nSBCode, UINT nPos, CScrollBar* pScrollBar);
    void OnHScroll(UINT nSBCode, UINT nPos, CScrollBar* pScrollBar);
    BOOL OnDeviceChange(UINT nEventType, DWORD_PTR dwData);

    // The window procedure of every window winlib subclasses.
    static LRESULT CALLBACK StdWndProc(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam);

protected:
    DECLARE_MESSAGE_MAP()

    // Hands `this` to the CBT hook for the next window created on this thread.
    void HookWindowCreate();
    static bool UnhookWindowCreate();
    // The current message's default result (for handlers that pass it on).
    LRESULT Default();

    WNDPROC m_pfnSuper;  // the procedure our subclassing replaced
    const MSG* m_pCurrentMsg;

private:
    // `message` is the original message (it tells a colour handler which
    // WM_CTLCOLOR* it serves); `lookupMessage` the key searched in the maps.
    bool DispatchEntry(const WlMsgMapEntry* e, UINT message, WPARAM wParam, LPARAM lParam, LRESULT* pResult);
    bool DispatchMap(UINT lookupMessage, UINT code, UINT id, WPARAM wParam, LPARAM lParam, LRESULT* pResult,
                     UINT message = 0);
    friend LRESULT CALLBACK WlCbtHook(int, WPARAM, LPARAM);
};

// Walks PreTranslateMessage from the message's window up the parent chain,
// stopping after hWndStop; TRUE when one of them translated the message.
BOOL WalkPreTranslateTree(HWND hWndStop, MSG* pMsg);

class CDialog : public CWnd {
public:
    CDialog();
    CDialog(UINT nIDTemplate, CWnd* pParentWnd = nullptr);
    CDialog(LPCWSTR lpszTemplateName, CWnd* pParentWnd = nullptr);

    // Runs the dialog modally on the calling thread: disables the owner, runs
    // its own message loop (which walks PreTranslateMessage), re-enables the
    // owner and destroys the window. Returns the EndDialog value, or -1 when
    // the window could not be created.
    virtual INT_PTR DoModal();
    // Creates the dialog modeless, as a child or popup of pParentWnd.
    virtual BOOL Create(UINT nIDTemplate, CWnd* pParentWnd = nullptr);
    void EndDialog(int nResult);

    virtual BOOL OnInitDialog();
    virtual void OnOK();
    virtual void OnCancel();
    BOOL PreTranslateMessage(MSG* pMsg) override;
    BOOL OnCommand(WPARAM wParam, LPARAM lParam) override;

    static INT_PTR CALLBACK DlgProc(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam);

    CWnd* m_pParentWnd;
    LPCWSTR m_lpszTemplateName;

protected:
    DECLARE_MESSAGE_MAP()
    // The dialog template: the resource named by the template id in the
    // program's module, or an empty in-memory template when there is none.
    const DLGTEMPLATE* LoadTemplate() const;
    // Runs OnInitDialog and centres a popup over its owner when
    // OnInitDialog left it where it was.
    BOOL HandleInitDialog();
    void RunModalLoop();
    BOOL m_bModal;
    // Set by a dialog that places itself: the unmoved-popup centring is skipped.
    bool m_keepPosition = false;
    // Set by EndDialog from any thread; read by the modal loop.
    volatile LONG m_bEndModal;
    INT_PTR m_nModalResult;
};

class CDialogEx : public CDialog {
public:
    CDialogEx() {}
    CDialogEx(UINT nIDTemplate, CWnd* pParent = nullptr) : CDialog(nIDTemplate, pParent) {}
    CDialogEx(LPCWSTR lpszTemplateName, CWnd* pParent = nullptr) : CDialog(lpszTemplateName, pParent) {}

protected:
    DECLARE_MESSAGE_MAP()
};

// A class name registered once for the given class style, cursor, brush and icon.
LPCWSTR AfxRegisterWndClass(UINT nClassStyle, HCURSOR hCursor = nullptr, HBRUSH hbrBackground = nullptr,
                            HICON hIcon = nullptr);
