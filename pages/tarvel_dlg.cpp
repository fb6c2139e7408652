#include "pages/tarvel_dlg.h"

#include "core/messages.h"

namespace {
// The main window's copy of the hand-shake message id.
const UINT s_activateInstanceMessage = RegisterActivateInstanceMessage();
}  // namespace

BEGIN_MESSAGE_MAP(CTarvelDlg, CDialogEx)
    ON_REGISTERED_MESSAGE(s_activateInstanceMessage, OnActivateInstance)
END_MESSAGE_MAP()

CTarvelDlg::CTarvelDlg(CWnd* pParent) : CDialogEx(IDD_TARVEL_DIALOG, pParent) {
    m_hIcon = LoadIconW(AfxGetInstanceHandle(), MAKEINTRESOURCEW(128));
}

CTarvelDlg::~CTarvelDlg() {}

BOOL CTarvelDlg::OnInitDialog() {
    CDialogEx::OnInitDialog();
    SendMessage(WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(m_hIcon));
    SendMessage(WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(m_hIcon));
    SetWindowText(L"Kavetta");
    SetWindowPos(nullptr, 0, 0, 920, 580, SWP_NOMOVE | SWP_NOZORDER);
    CenterWindow();
    return TRUE;
}

LRESULT CTarvelDlg::OnActivateInstance(WPARAM, LPARAM) {
    if (IsIconic()) ShowWindow(SW_RESTORE);
    else if (!IsWindowVisible()) ShowWindow(SW_SHOW);
    SetForegroundWindow();
    return s_activateInstanceMessage;
}
