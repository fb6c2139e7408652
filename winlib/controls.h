// The standard controls: thin wrappers over the system's button, static,
// edit, list box, progress bar, scroll bar and tooltip classes.
//
// The owner-drawn ones draw through their virtual DrawItem (MeasureItem):
// the parent reflects WM_DRAWITEM / WM_MEASUREITEM to the control object,
// which calls them (see CWnd::OnChildNotify).
#pragma once

#include <windows.h>
#include <commctrl.h>

#include "winlib/window.h"

class CButton : public CWnd {
public:
    virtual BOOL Create(LPCWSTR lpszCaption, DWORD dwStyle, const RECT& rect, CWnd* pParentWnd, UINT nID);
    virtual void DrawItem(LPDRAWITEMSTRUCT lpDrawItemStruct);
    int GetCheck() const { return (int)SendMessage(BM_GETCHECK); }
    void SetCheck(int nCheck) { SendMessage(BM_SETCHECK, (WPARAM)nCheck); }
    UINT GetState() const { return (UINT)SendMessage(BM_GETSTATE); }
    void SetState(BOOL bHighlight) { SendMessage(BM_SETSTATE, (WPARAM)bHighlight); }
    UINT GetButtonStyle() const { return GetStyle() & 0xFFFF; }

protected:
    BOOL OnChildNotify(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* pResult) override;
};

class CStatic : public CWnd {
public:
    virtual BOOL Create(LPCWSTR lpszText, DWORD dwStyle, const RECT& rect, CWnd* pParentWnd, UINT nID = 0xffff);
    virtual void DrawItem(LPDRAWITEMSTRUCT lpDrawItemStruct);

protected:
    BOOL OnChildNotify(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* pResult) override;
};

class CEdit : public CWnd {
public:
    virtual BOOL Create(DWORD dwStyle, const RECT& rect, CWnd* pParentWnd, UINT nID);
    void SetReadOnly(BOOL bReadOnly = TRUE) { SendMessage(EM_SETREADONLY, bReadOnly); }
    void SetSel(int start, int end) { SendMessage(EM_SETSEL, (WPARAM)start, (LPARAM)end); }
};

class CListBox : public CWnd {
public:
    virtual BOOL Create(DWORD dwStyle, const RECT& rect, CWnd* pParentWnd, UINT nID);
    virtual void DrawItem(LPDRAWITEMSTRUCT lpDrawItemStruct);
    virtual void MeasureItem(LPMEASUREITEMSTRUCT lpMeasureItemStruct);
    int GetCount() const { return (int)SendMessage(LB_GETCOUNT); }
    int GetCurSel() const { return (int)SendMessage(LB_GETCURSEL); }
    int SetCurSel(int n) { return (int)SendMessage(LB_SETCURSEL, (WPARAM)n); }
    int AddString(LPCWSTR s) { return (int)SendMessage(LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(s)); }
    void ResetContent() { SendMessage(LB_RESETCONTENT); }
    void GetText(int index, CString& text) const;

protected:
    BOOL OnChildNotify(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* pResult) override;
};

class CProgressCtrl : public CWnd {
public:
    virtual BOOL Create(DWORD dwStyle, const RECT& rect, CWnd* pParentWnd, UINT nID);
    void SetRange(short lower, short upper) { SendMessage(PBM_SETRANGE, 0, MAKELPARAM(lower, upper)); }
    void SetRange32(int lower, int upper) { SendMessage(PBM_SETRANGE32, (WPARAM)lower, (LPARAM)upper); }
    int SetPos(int pos) { return (int)SendMessage(PBM_SETPOS, (WPARAM)pos); }
    int GetPos() const { return (int)SendMessage(PBM_GETPOS); }
};

class CScrollBar : public CWnd {};

class CToolTipCtrl : public CWnd {
public:
    // A tooltip window owned by pParentWnd (style: TTS_* bits added to WS_POPUP).
    virtual BOOL Create(CWnd* pParentWnd, DWORD dwStyle = 0);
    void Activate(BOOL bActivate) { SendMessage(TTM_ACTIVATE, bActivate); }
    int SetMaxTipWidth(int width) { return (int)SendMessage(TTM_SETMAXTIPWIDTH, 0, width); }
    // A tool of window pWnd with the given id, covering rect (the whole client area when null).
    BOOL AddTool(CWnd* pWnd, LPCWSTR text, const RECT* rect = nullptr, UINT_PTR nIDTool = 0);
    void UpdateTipText(LPCWSTR text, CWnd* pWnd, UINT_PTR nIDTool = 0);
    int GetToolCount() const { return (int)SendMessage(TTM_GETTOOLCOUNT); }
    // The tool's text and rectangle; FALSE when there is no such tool.
    BOOL GetToolInfo(CWnd* pWnd, UINT_PTR nIDTool, CString* text, RECT* rect) const;
    void RelayEvent(MSG* pMsg) { SendMessage(TTM_RELAYEVENT, 0, reinterpret_cast<LPARAM>(pMsg)); }
};
