#include "winlib/window.h"

#include <string>
#include <unordered_map>

#include "winlib/app.h"

namespace {

// Process-wide handle maps. Windows are created on the main thread and on
// workers that open message boxes, so every access takes the lock.
struct HandleMaps {
    CRITICAL_SECTION lock;
    std::unordered_map<HWND, CWnd*> permanent;
    HandleMaps() { InitializeCriticalSection(&lock); }
};

HandleMaps& Maps() {
    static HandleMaps* maps = new HandleMaps;  // never destroyed: windows may outlive static destruction
    return *maps;
}

struct MapLock {
    MapLock() { EnterCriticalSection(&Maps().lock); }
    ~MapLock() { LeaveCriticalSection(&Maps().lock); }
};

// Temporary wrappers belong to the thread that asked for them: only that
// thread uses the pointer it was given, so only it may free them, at its next
// idle moment. (A plain pointer per thread: the run-time's clean-up of
// thread-local objects at thread end is not to be relied on with every
// compiler's threads.)
typedef std::unordered_map<HWND, CWnd*> TempWrapperMap;
thread_local TempWrapperMap* t_tempWrappers = nullptr;

TempWrapperMap& TempWrappers() {
    if (!t_tempWrappers) t_tempWrappers = new TempWrapperMap;
    return *t_tempWrappers;
}

thread_local int t_modalDepth = 0;

thread_local CWnd* t_creatingWnd = nullptr;
thread_local HHOOK t_createHook = nullptr;

}  // namespace

LRESULT CALLBACK WlCbtHook(int code, WPARAM wParam, LPARAM lParam) {
    if (code == HCBT_CREATEWND && t_creatingWnd) {
        CWnd* wnd = t_creatingWnd;
        t_creatingWnd = nullptr;  // only the first window; its children are not ours
        wnd->SubclassWindow(reinterpret_cast<HWND>(wParam));
    }
    return CallNextHookEx(t_createHook, code, wParam, lParam);
}

// ---------------------------------------------------------------- CCmdTarget

const WlMsgMap* CCmdTarget::GetThisMessageMap() {
    static const WlMsgMapEntry s_entries[] = {{0, 0, 0, 0, WlSig_end, nullptr, nullptr}};
    static const WlMsgMap s_map = {nullptr, s_entries};
    return &s_map;
}

const WlMsgMap* CCmdTarget::GetMessageMap() const { return GetThisMessageMap(); }

// ---------------------------------------------------------------------- CWnd

BEGIN_MESSAGE_MAP(CWnd, CCmdTarget)
END_MESSAGE_MAP()

CWnd::CWnd() : m_hWnd(nullptr), m_pfnSuper(nullptr), m_pCurrentMsg(nullptr) {}

CWnd::~CWnd() {
    if (m_hWnd && FromHandlePermanent(m_hWnd) == this) {
        if (reinterpret_cast<WNDPROC>(GetWindowLongPtrW(m_hWnd, GWLP_WNDPROC)) == StdWndProc &&
            GetWindowThreadProcessId(m_hWnd, nullptr) == GetCurrentThreadId()) {
            ::DestroyWindow(m_hWnd);
        }
        if (m_hWnd) {
            if (m_pfnSuper) SetWindowLongPtrW(m_hWnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(m_pfnSuper));
            Detach();
        }
    }
}

CWnd* CWnd::FromHandlePermanent(HWND hWnd) {
    if (!hWnd) return nullptr;
    MapLock lock;
    auto it = Maps().permanent.find(hWnd);
    return it == Maps().permanent.end() ? nullptr : it->second;
}

CWnd* CWnd::FromHandle(HWND hWnd) {
    if (!hWnd) return nullptr;
    {
        MapLock lock;
        auto it = Maps().permanent.find(hWnd);
        if (it != Maps().permanent.end()) return it->second;
    }
    CWnd*& temp = TempWrappers()[hWnd];
    if (!temp) {
        temp = new CWnd;
        temp->m_hWnd = hWnd;
    }
    return temp;
}

void CWnd::DeleteTempMap() {
    if (!t_tempWrappers) return;
    for (auto& item : *t_tempWrappers) {
        item.second->m_hWnd = nullptr;  // never attached: nothing to detach or destroy
        delete item.second;
    }
    t_tempWrappers->clear();
}

size_t CWnd::TempWrapperCount() { return t_tempWrappers ? t_tempWrappers->size() : 0; }

BOOL CWnd::Attach(HWND hWnd) {
    if (!hWnd || m_hWnd) return FALSE;
    MapLock lock;
    m_hWnd = hWnd;
    Maps().permanent[hWnd] = this;
    return TRUE;
}

HWND CWnd::Detach() {
    HWND h = m_hWnd;
    if (h) {
        MapLock lock;
        auto it = Maps().permanent.find(h);
        if (it != Maps().permanent.end() && it->second == this) Maps().permanent.erase(it);
    }
    m_hWnd = nullptr;
    m_pfnSuper = nullptr;
    return h;
}

BOOL CWnd::SubclassWindow(HWND hWnd) {
    if (!Attach(hWnd)) return FALSE;
    PreSubclassWindow();
    WNDPROC old = reinterpret_cast<WNDPROC>(
        SetWindowLongPtrW(hWnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(StdWndProc)));
    if (old != StdWndProc) m_pfnSuper = old;
    return TRUE;
}

BOOL CWnd::SubclassDlgItem(UINT nID, CWnd* pParent) {
    HWND h = ::GetDlgItem(pParent->m_hWnd, nID);
    return h ? SubclassWindow(h) : FALSE;
}

HWND CWnd::UnsubclassWindow() {
    if (m_pfnSuper) SetWindowLongPtrW(m_hWnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(m_pfnSuper));
    return Detach();
}

void CWnd::HookWindowCreate() {
    if (!t_createHook) t_createHook = SetWindowsHookExW(WH_CBT, WlCbtHook, nullptr, GetCurrentThreadId());
    t_creatingWnd = this;
}

bool CWnd::UnhookWindowCreate() {
    if (t_createHook) {
        UnhookWindowsHookEx(t_createHook);
        t_createHook = nullptr;
    }
    bool consumed = t_creatingWnd == nullptr;
    t_creatingWnd = nullptr;
    return consumed;
}

BOOL CWnd::PreCreateWindow(CREATESTRUCTW& cs) {
    if (!cs.lpszClass) cs.lpszClass = AfxRegisterWndClass(CS_DBLCLKS, LoadCursorW(nullptr, IDC_ARROW));
    return TRUE;
}

void CWnd::PreSubclassWindow() {}

BOOL CWnd::CreateEx(DWORD dwExStyle, LPCWSTR lpszClassName, LPCWSTR lpszWindowName, DWORD dwStyle, int x, int y,
                    int nWidth, int nHeight, HWND hWndParent, HMENU nIDorHMenu, LPVOID lpParam) {
    CREATESTRUCTW cs = {};
    cs.dwExStyle = dwExStyle;
    cs.lpszClass = lpszClassName;
    cs.lpszName = lpszWindowName;
    cs.style = dwStyle;
    cs.x = x;
    cs.y = y;
    cs.cx = nWidth;
    cs.cy = nHeight;
    cs.hwndParent = hWndParent;
    cs.hMenu = nIDorHMenu;
    cs.hInstance = AfxGetInstanceHandle();
    cs.lpCreateParams = lpParam;
    if (!PreCreateWindow(cs)) {
        PostNcDestroy();
        return FALSE;
    }
    HookWindowCreate();
    HWND h = CreateWindowExW(cs.dwExStyle, cs.lpszClass, cs.lpszName, cs.style, cs.x, cs.y, cs.cx, cs.cy,
                             cs.hwndParent, cs.hMenu, cs.hInstance, cs.lpCreateParams);
    bool attached = UnhookWindowCreate();
    if (!h) return FALSE;
    if (!attached || m_hWnd != h) SubclassWindow(h);
    return TRUE;
}

BOOL CWnd::Create(LPCWSTR lpszClassName, LPCWSTR lpszWindowName, DWORD dwStyle, const RECT& rect, CWnd* pParentWnd,
                  UINT nID, LPVOID lpParam) {
    return CreateEx(0, lpszClassName, lpszWindowName, dwStyle | WS_CHILD, rect.left, rect.top,
                    rect.right - rect.left, rect.bottom - rect.top, pParentWnd ? pParentWnd->m_hWnd : nullptr,
                    reinterpret_cast<HMENU>(static_cast<UINT_PTR>(nID)), lpParam);
}

BOOL CWnd::DestroyWindow() {
    if (!m_hWnd) return FALSE;
    HWND h = m_hWnd;
    bool ours = reinterpret_cast<WNDPROC>(GetWindowLongPtrW(h, GWLP_WNDPROC)) == StdWndProc;
    BOOL ok = ::DestroyWindow(h);
    if (!ours && m_hWnd == h) Detach();  // no WM_NCDESTROY reached us
    return ok;
}

void CWnd::PostNcDestroy() {}

BOOL CWnd::PreTranslateMessage(MSG*) { return FALSE; }

LRESULT CWnd::WindowProc(UINT message, WPARAM wParam, LPARAM lParam) {
    LRESULT result = 0;
    if (!OnWndMsg(message, wParam, lParam, &result)) result = DefWindowProc(message, wParam, lParam);
    return result;
}

LRESULT CWnd::DefWindowProc(UINT message, WPARAM wParam, LPARAM lParam) {
    if (m_pfnSuper) return CallWindowProcW(m_pfnSuper, m_hWnd, message, wParam, lParam);
    return ::DefWindowProcW(m_hWnd, message, wParam, lParam);
}

LRESULT CWnd::Default() {
    if (!m_pCurrentMsg) return 0;
    return DefWindowProc(m_pCurrentMsg->message, m_pCurrentMsg->wParam, m_pCurrentMsg->lParam);
}

LRESULT CALLBACK CWnd::StdWndProc(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam) {
    CWnd* wnd = FromHandlePermanent(hWnd);
    if (!wnd) return ::DefWindowProcW(hWnd, message, wParam, lParam);
    MSG current = {hWnd, message, wParam, lParam, 0, {0, 0}};
    const MSG* saved = wnd->m_pCurrentMsg;
    wnd->m_pCurrentMsg = &current;
    LRESULT result = wnd->WindowProc(message, wParam, lParam);
    wnd->m_pCurrentMsg = saved;
    if (message == WM_NCDESTROY) {
        WNDPROC super = wnd->m_pfnSuper;
        if (super) SetWindowLongPtrW(hWnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(super));
        wnd->Detach();
        wnd->PostNcDestroy();  // may delete the object
    }
    return result;
}

static bool IsCtlColorMessage(UINT message) {
    return message >= WM_CTLCOLORMSGBOX && message <= WM_CTLCOLORSTATIC;
}

// Finds the child object a parent reflects a message to.
static CWnd* ReflectTarget(HWND parent, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_DRAWITEM: {
        const DRAWITEMSTRUCT* dis = reinterpret_cast<const DRAWITEMSTRUCT*>(lParam);
        if (dis->CtlType == ODT_MENU) return nullptr;
        return CWnd::FromHandlePermanent(dis->hwndItem);
    }
    case WM_MEASUREITEM: {
        const MEASUREITEMSTRUCT* mis = reinterpret_cast<const MEASUREITEMSTRUCT*>(lParam);
        if (mis->CtlType == ODT_MENU) return nullptr;
        return CWnd::FromHandlePermanent(::GetDlgItem(parent, (int)mis->CtlID));
    }
    case WM_COMPAREITEM:
        return CWnd::FromHandlePermanent(reinterpret_cast<const COMPAREITEMSTRUCT*>(lParam)->hwndItem);
    case WM_DELETEITEM:
        return CWnd::FromHandlePermanent(reinterpret_cast<const DELETEITEMSTRUCT*>(lParam)->hwndItem);
    case WM_CTLCOLORBTN:
    case WM_CTLCOLORDLG:
    case WM_CTLCOLOREDIT:
    case WM_CTLCOLORLISTBOX:
    case WM_CTLCOLORMSGBOX:
    case WM_CTLCOLORSCROLLBAR:
    case WM_CTLCOLORSTATIC:
    case WM_HSCROLL:
    case WM_VSCROLL:
    case WM_CHARTOITEM:
    case WM_VKEYTOITEM:
        (void)wParam;
        return CWnd::FromHandlePermanent(reinterpret_cast<HWND>(lParam));
    default:
        return nullptr;
    }
}

BOOL CWnd::OnWndMsg(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* pResult) {
    *pResult = 0;
    if (message == WM_COMMAND) return OnCommand(wParam, lParam);
    if (message == WM_NOTIFY) return OnNotify(wParam, lParam, pResult);
    if (CWnd* child = ReflectTarget(m_hWnd, message, wParam, lParam)) {
        if (child != this && child->OnChildNotify(message, wParam, lParam, pResult)) return TRUE;
    }
    if (IsCtlColorMessage(message)) return DispatchMap(WM_CTLCOLOR, 0, 0, wParam, lParam, pResult, message);
    return DispatchMap(message, 0, 0, wParam, lParam, pResult, message);
}

BOOL CWnd::OnCommand(WPARAM wParam, LPARAM lParam) {
    LRESULT result = 0;
    HWND control = reinterpret_cast<HWND>(lParam);
    if (control) {
        CWnd* child = FromHandlePermanent(control);
        if (child && child != this && child->OnChildNotify(WM_COMMAND, wParam, lParam, &result)) return TRUE;
    }
    return DispatchMap(WM_COMMAND, HIWORD(wParam), LOWORD(wParam), wParam, lParam, &result);
}

BOOL CWnd::OnNotify(WPARAM wParam, LPARAM lParam, LRESULT* pResult) {
    const NMHDR* hdr = reinterpret_cast<const NMHDR*>(lParam);
    if (!hdr) return FALSE;
    CWnd* child = FromHandlePermanent(hdr->hwndFrom);
    if (child && child != this && child->OnChildNotify(WM_NOTIFY, wParam, lParam, pResult)) return TRUE;
    return DispatchMap(WM_NOTIFY, hdr->code, (UINT)hdr->idFrom, wParam, lParam, pResult);
}

BOOL CWnd::OnChildNotify(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* pResult) {
    return ReflectChildNotify(message, wParam, lParam, pResult);
}

BOOL CWnd::ReflectChildNotify(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* pResult) {
    switch (message) {
    case WM_COMMAND:
        return DispatchMap(WL_REFLECT_BASE + WM_COMMAND, HIWORD(wParam), 0, wParam, lParam, pResult);
    case WM_NOTIFY:
        return DispatchMap(WL_REFLECT_BASE + WM_NOTIFY, reinterpret_cast<const NMHDR*>(lParam)->code, 0, wParam,
                           lParam, pResult);
    default:
        if (IsCtlColorMessage(message))
            return DispatchMap(WL_REFLECT_BASE + WM_CTLCOLOR, 0, 0, wParam, lParam, pResult, message);
        return DispatchMap(WL_REFLECT_BASE + message, 0, 0, wParam, lParam, pResult, message);
    }
}

static bool IsControlMessage(UINT message) {
    return message == WM_COMMAND || message == WM_NOTIFY;
}

bool CWnd::DispatchMap(UINT lookupMessage, UINT code, UINT id, WPARAM wParam, LPARAM lParam, LRESULT* pResult,
                       UINT message) {
    if (!message) message = lookupMessage;
    for (const WlMsgMap* map = GetMessageMap(); map; map = map->pfnGetBaseMap ? map->pfnGetBaseMap() : nullptr) {
        for (const WlMsgMapEntry* e = map->lpEntries; e->nSig != WlSig_end; ++e) {
            if (e->pRegId) {
                if (*e->pRegId != lookupMessage || lookupMessage == 0) continue;
            } else {
                if (e->nMessage != lookupMessage) continue;
                if (IsControlMessage(lookupMessage) && (e->nCode != code || id < e->nID || id > e->nLastID)) continue;
                if (IsControlMessage(lookupMessage - WL_REFLECT_BASE) && e->nCode != code) continue;
            }
            if (DispatchEntry(e, message, wParam, lParam, pResult)) return true;
        }
    }
    return false;
}

bool CWnd::DispatchEntry(const WlMsgMapEntry* e, UINT message, WPARAM wParam, LPARAM lParam, LRESULT* pResult) {
    switch (e->nSig) {
    case WlSig_lwl:
        *pResult = (this->*reinterpret_cast<LRESULT (CWnd::*)(WPARAM, LPARAM)>(e->pfn))(wParam, lParam);
        return true;
    case WlSig_vv:
        (this->*reinterpret_cast<void (CWnd::*)()>(e->pfn))();
        return true;
    case WlSig_bv: {
        BOOL handled = (this->*reinterpret_cast<BOOL (CWnd::*)()>(e->pfn))();
        return handled != FALSE;
    }
    case WlSig_vID:
        (this->*reinterpret_cast<void (CWnd::*)(UINT)>(e->pfn))(LOWORD(wParam));
        return true;
    case WlSig_vw:
        (this->*reinterpret_cast<void (CWnd::*)(UINT_PTR)>(e->pfn))(static_cast<UINT_PTR>(wParam));
        return true;
    case WlSig_vwl:
        (this->*reinterpret_cast<void (CWnd::*)(UINT, LPARAM)>(e->pfn))(static_cast<UINT>(wParam), lParam);
        return true;
    case WlSig_vwii:
        (this->*reinterpret_cast<void (CWnd::*)(UINT, int, int)>(e->pfn))(
            static_cast<UINT>(wParam), (short)LOWORD(lParam), (short)HIWORD(lParam));
        return true;
    case WlSig_vbw:
        (this->*reinterpret_cast<void (CWnd::*)(BOOL, UINT)>(e->pfn))(static_cast<BOOL>(wParam),
                                                                      static_cast<UINT>(lParam));
        return true;
    case WlSig_iCREATE:
        *pResult = (this->*reinterpret_cast<int (CWnd::*)(LPCREATESTRUCTW)>(e->pfn))(
            reinterpret_cast<LPCREATESTRUCTW>(lParam));
        return true;
    case WlSig_vNOTIFY:
        (this->*reinterpret_cast<void (CWnd::*)(NMHDR*, LRESULT*)>(e->pfn))(reinterpret_cast<NMHDR*>(lParam),
                                                                            pResult);
        return true;
    case WlSig_bD: {
        CDC dc;
        dc.Attach(reinterpret_cast<HDC>(wParam));
        *pResult = (this->*reinterpret_cast<BOOL (CWnd::*)(CDC*)>(e->pfn))(&dc);
        dc.Detach();
        return true;
    }
    case WlSig_hDWw:
    case WlSig_hw: {
        CDC dc;
        dc.Attach(reinterpret_cast<HDC>(wParam));
        UINT type = message - WM_CTLCOLORMSGBOX;
        HBRUSH brush;
        if (e->nSig == WlSig_hw) {
            brush = (this->*reinterpret_cast<HBRUSH (CWnd::*)(CDC*, UINT)>(e->pfn))(&dc, type);
        } else {
            brush = (this->*reinterpret_cast<HBRUSH (CWnd::*)(CDC*, CWnd*, UINT)>(e->pfn))(
                &dc, FromHandle(reinterpret_cast<HWND>(lParam)), type);
        }
        dc.Detach();
        // A reflected handler that gives no brush leaves the message to the parent.
        if (e->nSig == WlSig_hw && !brush) return false;
        *pResult = reinterpret_cast<LRESULT>(brush);
        return true;
    }
    case WlSig_vOWNER:
        (this->*reinterpret_cast<void (CWnd::*)(int, LPARAM)>(e->pfn))(static_cast<int>(wParam), lParam);
        *pResult = TRUE;
        return true;
    case WlSig_vDRAW:
    case WlSig_vMEASURE:
        (this->*reinterpret_cast<void (CWnd::*)(LPARAM)>(e->pfn))(lParam);
        *pResult = TRUE;
        return true;
    case WlSig_vwp:
        (this->*reinterpret_cast<void (CWnd::*)(UINT, CPoint)>(e->pfn))(static_cast<UINT>(wParam), CPoint(lParam));
        return true;
    case WlSig_bwsp: {
        // The wheel's point is in screen coordinates.
        *pResult = (this->*reinterpret_cast<BOOL (CWnd::*)(UINT, short, CPoint)>(e->pfn))(
            LOWORD(wParam), static_cast<short>(HIWORD(wParam)), CPoint(lParam));
        return true;
    }
    case WlSig_bWww:
        *pResult = (this->*reinterpret_cast<BOOL (CWnd::*)(CWnd*, UINT, UINT)>(e->pfn))(
            FromHandle(reinterpret_cast<HWND>(wParam)), LOWORD(lParam), HIWORD(lParam));
        return true;
    case WlSig_vwww:
        (this->*reinterpret_cast<void (CWnd::*)(UINT, UINT, UINT)>(e->pfn))(
            static_cast<UINT>(wParam), LOWORD(lParam), HIWORD(lParam));
        return true;
    case WlSig_vW:
        (this->*reinterpret_cast<void (CWnd::*)(CWnd*)>(e->pfn))(FromHandle(reinterpret_cast<HWND>(wParam)));
        return true;
    case WlSig_bDEVICE:
        *pResult = (this->*reinterpret_cast<BOOL (CWnd::*)(UINT, DWORD_PTR)>(e->pfn))(static_cast<UINT>(wParam),
                                                                                    static_cast<DWORD_PTR>(lParam));
        return true;
    case WlSig_vwwW:
        (this->*reinterpret_cast<void (CWnd::*)(UINT, UINT, CScrollBar*)>(e->pfn))(
            LOWORD(wParam), HIWORD(wParam), reinterpret_cast<CScrollBar*>(FromHandlePermanent(reinterpret_cast<HWND>(lParam))));
        return true;
    default:
        return false;
    }
}

void CWnd::OnDestroy() { Default(); }
void CWnd::OnClose() { Default(); }
void CWnd::OnPaint() { Default(); }
void CWnd::OnTimer(UINT_PTR) { Default(); }
void CWnd::OnSysCommand(UINT, LPARAM) { Default(); }
void CWnd::OnSize(UINT, int, int) { Default(); }
void CWnd::OnShowWindow(BOOL, UINT) { Default(); }
int CWnd::OnCreate(LPCREATESTRUCTW) { return (int)Default(); }
BOOL CWnd::OnEraseBkgnd(CDC*) { return (BOOL)Default(); }
void CWnd::OnNcPaint() { Default(); }
HBRUSH CWnd::OnCtlColor(CDC*, CWnd*, UINT) { return reinterpret_cast<HBRUSH>(Default()); }
void CWnd::OnDrawItem(int, LPDRAWITEMSTRUCT) { Default(); }
void CWnd::OnMeasureItem(int, LPMEASUREITEMSTRUCT) { Default(); }
void CWnd::OnMouseMove(UINT, CPoint) { Default(); }
void CWnd::OnLButtonDown(UINT, CPoint) { Default(); }
void CWnd::OnLButtonUp(UINT, CPoint) { Default(); }
void CWnd::OnLButtonDblClk(UINT, CPoint) { Default(); }
void CWnd::OnRButtonDown(UINT, CPoint) { Default(); }
void CWnd::OnRButtonUp(UINT, CPoint) { Default(); }
void CWnd::OnRButtonDblClk(UINT, CPoint) { Default(); }
void CWnd::OnMouseLeave() { Default(); }
BOOL CWnd::OnMouseWheel(UINT, short, CPoint) { return (BOOL)Default(); }
BOOL CWnd::OnSetCursor(CWnd*, UINT, UINT) { return (BOOL)Default(); }
void CWnd::OnKeyDown(UINT, UINT, UINT) { Default(); }
void CWnd::OnKeyUp(UINT, UINT, UINT) { Default(); }
void CWnd::OnChar(UINT, UINT, UINT) { Default(); }
void CWnd::OnSetFocus(CWnd*) { Default(); }
void CWnd::OnKillFocus(CWnd*) { Default(); }
void CWnd::OnVScroll(UINT, UINT, CScrollBar*) { Default(); }
void CWnd::OnHScroll(UINT, UINT, CScrollBar*) { Default(); }
BOOL CWnd::OnDeviceChange(UINT, DWORD_PTR) { return static_cast<BOOL>(Default()); }

int CWnd::GetScrollLimit(int bar) {
    SCROLLINFO si = {};
    if (!GetScrollInfo(bar, &si, SIF_RANGE | SIF_PAGE)) return 0;
    int page = si.nPage > 0 ? (int)si.nPage - 1 : 0;
    int limit = si.nMax - page;
    return limit > si.nMin ? limit : si.nMin;
}

void CWnd::ScreenToClient(RECT* r) const {
    ::ScreenToClient(m_hWnd, reinterpret_cast<POINT*>(&r->left));
    ::ScreenToClient(m_hWnd, reinterpret_cast<POINT*>(&r->right));
}

void CWnd::ClientToScreen(RECT* r) const {
    ::ClientToScreen(m_hWnd, reinterpret_cast<POINT*>(&r->left));
    ::ClientToScreen(m_hWnd, reinterpret_cast<POINT*>(&r->right));
}

void CWnd::GetWindowText(CString& text) const {
    int n = ::GetWindowTextLengthW(m_hWnd);
    wchar_t* p = text.GetBuffer(n + 1);
    int got = ::GetWindowTextW(m_hWnd, p, n + 1);
    text.ReleaseBuffer(got > 0 ? got : 0);
}

static BOOL ModifyLong(HWND h, int index, DWORD remove, DWORD add, UINT flags) {
    DWORD style = (DWORD)::GetWindowLongW(h, index);
    DWORD updated = (style & ~remove) | add;
    if (style == updated) return FALSE;
    ::SetWindowLongW(h, index, (LONG)updated);
    if (flags) ::SetWindowPos(h, nullptr, 0, 0, 0, 0, SWP_NOSIZE | SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE | flags);
    return TRUE;
}

BOOL CWnd::ModifyStyle(DWORD remove, DWORD add, UINT flags) { return ModifyLong(m_hWnd, GWL_STYLE, remove, add, flags); }
BOOL CWnd::ModifyStyleEx(DWORD remove, DWORD add, UINT flags) {
    return ModifyLong(m_hWnd, GWL_EXSTYLE, remove, add, flags);
}

void CWnd::CenterWindow(CWnd* pAlternateOwner) {
    DWORD style = GetStyle();
    HWND center = pAlternateOwner ? pAlternateOwner->m_hWnd : nullptr;
    if (!center) center = (style & WS_CHILD) ? ::GetParent(m_hWnd) : ::GetWindow(m_hWnd, GW_OWNER);
    RECT rc;
    ::GetWindowRect(m_hWnd, &rc);
    RECT area;
    RECT around;
    if (style & WS_CHILD) {
        HWND parent = ::GetParent(m_hWnd);
        ::GetClientRect(parent, &area);
        if (center && center != parent) {
            ::GetWindowRect(center, &around);
            ::MapWindowPoints(nullptr, parent, reinterpret_cast<POINT*>(&around), 2);
        } else {
            around = area;
        }
    } else {
        HMONITOR mon = MonitorFromWindow(center ? center : m_hWnd, MONITOR_DEFAULTTONEAREST);
        MONITORINFO mi = {sizeof(mi)};
        GetMonitorInfoW(mon, &mi);
        area = mi.rcWork;
        if (center && ::IsWindowVisible(center) && !::IsIconic(center)) ::GetWindowRect(center, &around);
        else around = area;
    }
    int w = rc.right - rc.left, h = rc.bottom - rc.top;
    int x = (around.left + around.right) / 2 - w / 2;
    int y = (around.top + around.bottom) / 2 - h / 2;
    if (x + w > area.right) x = area.right - w;
    if (x < area.left) x = area.left;
    if (y + h > area.bottom) y = area.bottom - h;
    if (y < area.top) y = area.top;
    ::SetWindowPos(m_hWnd, nullptr, x, y, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

BOOL WalkPreTranslateTree(HWND hWndStop, MSG* pMsg) {
    for (HWND h = pMsg->hwnd; h; h = ::GetParent(h)) {
        CWnd* wnd = CWnd::FromHandlePermanent(h);
        if (wnd && wnd->PreTranslateMessage(pMsg)) return TRUE;
        if (h == hWndStop) break;
    }
    return FALSE;
}

LPCWSTR AfxRegisterWndClass(UINT nClassStyle, HCURSOR hCursor, HBRUSH hbrBackground, HICON hIcon) {
    // One buffer per distinct class; the returned text stays valid for the process.
    static CRITICAL_SECTION* lock = [] {
        CRITICAL_SECTION* cs = new CRITICAL_SECTION;
        InitializeCriticalSection(cs);
        return cs;
    }();
    static std::unordered_map<std::wstring, CString>* names = new std::unordered_map<std::wstring, CString>;
    CString name;
    name.Format(L"WlWnd:%x:%p:%p:%p", nClassStyle, hCursor, hbrBackground, hIcon);
    EnterCriticalSection(lock);
    CString& stored = (*names)[std::wstring(name.GetString())];
    if (stored.IsEmpty()) {
        WNDCLASSW wc = {};
        wc.style = nClassStyle;
        wc.lpfnWndProc = ::DefWindowProcW;
        wc.hInstance = AfxGetInstanceHandle();
        wc.hCursor = hCursor;
        wc.hbrBackground = hbrBackground;
        wc.hIcon = hIcon;
        wc.lpszClassName = name;
        WNDCLASSW existing;
        if (GetClassInfoW(wc.hInstance, name, &existing) || RegisterClassW(&wc)) stored = name;
    }
    LPCWSTR result = stored;
    LeaveCriticalSection(lock);
    return result;
}

// ------------------------------------------------------------------- CDialog

BEGIN_MESSAGE_MAP(CDialog, CWnd)
END_MESSAGE_MAP()

BEGIN_MESSAGE_MAP(CDialogEx, CDialog)
END_MESSAGE_MAP()

CDialog::CDialog()
    : m_pParentWnd(nullptr), m_lpszTemplateName(nullptr), m_bModal(FALSE), m_bEndModal(FALSE), m_nModalResult(-1) {}

CDialog::CDialog(UINT nIDTemplate, CWnd* pParentWnd) : CDialog() {
    m_pParentWnd = pParentWnd;
    m_lpszTemplateName = MAKEINTRESOURCEW(nIDTemplate);
}

CDialog::CDialog(LPCWSTR lpszTemplateName, CWnd* pParentWnd) : CDialog() {
    m_pParentWnd = pParentWnd;
    m_lpszTemplateName = lpszTemplateName;
}

const DLGTEMPLATE* CDialog::LoadTemplate() const {
    if (m_lpszTemplateName) {
        HINSTANCE inst = AfxGetResourceHandle();
        HRSRC res = FindResourceW(inst, m_lpszTemplateName, reinterpret_cast<LPCWSTR>(RT_DIALOG));
        if (res) {
            HGLOBAL data = LoadResource(inst, res);
            if (data) return static_cast<const DLGTEMPLATE*>(LockResource(data));
        }
    }
    // An empty popup: no menu, default class, no title, no controls.
    alignas(4) static const WORD s_empty[] = {
        LOWORD(WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME), HIWORD(WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME),
        0, 0,  // extended style
        0,     // no controls
        0, 0, 200, 100,
        0, 0, 0,  // menu, class, title
    };
    return reinterpret_cast<const DLGTEMPLATE*>(s_empty);
}

INT_PTR CALLBACK CDialog::DlgProc(HWND hWnd, UINT message, WPARAM, LPARAM lParam) {
    if (message != WM_INITDIALOG) return FALSE;
    CDialog* dlg = static_cast<CDialog*>(FromHandlePermanent(hWnd));
    if (!dlg) {
        // The creation hook missed this window; attach now.
        dlg = reinterpret_cast<CDialog*>(lParam);
        if (!dlg) return FALSE;
        dlg->SubclassWindow(hWnd);
    }
    return dlg->HandleInitDialog();
}

BOOL CDialog::HandleInitDialog() {
    RECT before;
    ::GetWindowRect(m_hWnd, &before);
    DWORD style = GetStyle();
    BOOL result = OnInitDialog();
    RECT after;
    // Only a move counts: a dialog that merely resized itself is still centred.
    if (!m_keepPosition && m_hWnd && ::GetWindowRect(m_hWnd, &after) && !(style & (WS_CHILD | WS_VISIBLE)) &&
        !IsWindowVisible() && before.left == after.left && before.top == after.top) {
        CenterWindow();
    }
    return result;
}

BOOL CDialog::OnInitDialog() { return TRUE; }
void CDialog::OnOK() { EndDialog(IDOK); }
void CDialog::OnCancel() { EndDialog(IDCANCEL); }

BOOL CDialog::OnCommand(WPARAM wParam, LPARAM lParam) {
    if (CWnd::OnCommand(wParam, lParam)) return TRUE;
    UINT code = HIWORD(wParam);
    if (lParam != 0 && code != BN_CLICKED) return FALSE;
    switch (LOWORD(wParam)) {
    case IDOK:
        OnOK();
        return TRUE;
    case IDCANCEL:
        OnCancel();
        return TRUE;
    default:
        return FALSE;
    }
}

BOOL CDialog::PreTranslateMessage(MSG* pMsg) {
    bool input = (pMsg->message >= WM_KEYFIRST && pMsg->message <= WM_KEYLAST) ||
                 (pMsg->message >= WM_MOUSEFIRST && pMsg->message <= WM_MOUSELAST);
    if (!input || !m_hWnd) return FALSE;
    if (pMsg->hwnd != m_hWnd && !::IsChild(m_hWnd, pMsg->hwnd)) return FALSE;
    return ::IsDialogMessageW(m_hWnd, pMsg);
}

void CDialog::EndDialog(int nResult) {
    if (m_bModal) {
        m_nModalResult = nResult;
        // Any thread may end the loop: the flag is published after the result.
        InterlockedExchange(&m_bEndModal, TRUE);
        if (m_hWnd) ::PostMessageW(m_hWnd, WM_NULL, 0, 0);  // wakes the modal loop, whichever thread asks
    } else if (m_hWnd) {
        ::EndDialog(m_hWnd, nResult);
    }
}

void CDialog::RunModalLoop() {
    MSG msg;
    // Only the outermost loop of a thread frees the temporary wrappers: a
    // handler that opened a nested box may still hold one.
    struct Depth {
        Depth() { ++t_modalDepth; }
        ~Depth() { --t_modalDepth; }
    } depth;
    while (!InterlockedCompareExchange(&m_bEndModal, 0, 0) && m_hWnd) {
        // An empty queue is the idle moment at which this thread's temporary
        // window wrappers are freed.
        if (t_modalDepth == 1 && !PeekMessageW(&msg, nullptr, 0, 0, PM_NOREMOVE)) DeleteTempMap();
        BOOL got = GetMessageW(&msg, nullptr, 0, 0);
        if (got == -1) break;
        if (got == 0) {
            PostQuitMessage(static_cast<int>(msg.wParam));  // leave WM_QUIT for the outer loop
            break;
        }
        if (!WalkPreTranslateTree(m_hWnd, &msg)) {
            TranslateMessage(&msg);
            DispatchMessageW(&msg);
        }
    }
}

INT_PTR CDialog::DoModal() {
    const DLGTEMPLATE* tmpl = LoadTemplate();
    HWND owner = m_pParentWnd ? m_pParentWnd->m_hWnd : nullptr;
    if (!owner) {
        CWnd* main = AfxGetMainWnd();
        if (main && main != this && main->m_hWnd && ::IsWindow(main->m_hWnd)) owner = main->m_hWnd;
    }
    // The owner is the top-level window above the given one.
    while (owner && (::GetWindowLongW(owner, GWL_STYLE) & WS_CHILD)) owner = ::GetParent(owner);
    bool reenable = false;
    if (owner && ::IsWindowEnabled(owner)) {
        ::EnableWindow(owner, FALSE);
        reenable = true;
    }
    m_bModal = TRUE;
    InterlockedExchange(&m_bEndModal, FALSE);
    m_nModalResult = -1;
    HookWindowCreate();
    HWND h = CreateDialogIndirectParamW(AfxGetResourceHandle(), tmpl, owner, DlgProc, reinterpret_cast<LPARAM>(this));
    UnhookWindowCreate();
    if (h && !InterlockedCompareExchange(&m_bEndModal, 0, 0)) {
        if (!::IsWindowVisible(h)) {
            ::ShowWindow(h, SW_SHOWNORMAL);
            ::UpdateWindow(h);
        }
        RunModalLoop();
    }
    if (reenable) ::EnableWindow(owner, TRUE);
    if (owner && m_hWnd && ::GetActiveWindow() == m_hWnd) ::SetActiveWindow(owner);
    if (m_hWnd) {
        ::SetWindowPos(m_hWnd, nullptr, 0, 0, 0, 0,
                       SWP_HIDEWINDOW | SWP_NOSIZE | SWP_NOMOVE | SWP_NOACTIVATE | SWP_NOZORDER);
        DestroyWindow();
    }
    m_bModal = FALSE;
    return h ? m_nModalResult : -1;
}

BOOL CDialog::Create(UINT nIDTemplate, CWnd* pParentWnd) {
    m_lpszTemplateName = MAKEINTRESOURCEW(nIDTemplate);
    m_pParentWnd = pParentWnd;
    m_bModal = FALSE;
    HookWindowCreate();
    HWND h = CreateDialogIndirectParamW(AfxGetResourceHandle(), LoadTemplate(),
                                        pParentWnd ? pParentWnd->m_hWnd : nullptr, DlgProc,
                                        reinterpret_cast<LPARAM>(this));
    UnhookWindowCreate();
    return h != nullptr;
}
