#include "pages/page_dialog.h"

bool CPageDialog::IsSwallowedKey(const MSG* pMsg) {
    return pMsg->message == WM_KEYDOWN && (pMsg->wParam == VK_ESCAPE || pMsg->wParam == VK_RETURN);
}

BOOL CPageDialog::PreTranslateMessage(MSG* pMsg) {
    if (IsSwallowedKey(pMsg)) return TRUE;
    return CDialogEx::PreTranslateMessage(pMsg);
}

bool ThreadStillRunning(HANDLE thread) { return thread && WaitForSingleObject(thread, 0) == WAIT_TIMEOUT; }
