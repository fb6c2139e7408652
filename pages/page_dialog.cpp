#include "pages/page_dialog.h"

#include "core/messages.h"

bool CPageDialog::IsSwallowedKey(const MSG* pMsg) {
    return pMsg->message == WM_KEYDOWN && (pMsg->wParam == VK_ESCAPE || pMsg->wParam == VK_RETURN);
}

BOOL CPageDialog::PreTranslateMessage(MSG* pMsg) {
    if (IsSwallowedKey(pMsg)) return TRUE;
    return CDialogEx::PreTranslateMessage(pMsg);
}

bool ThreadStillRunning(HANDLE thread) { return thread && WaitForSingleObject(thread, 0) == WAIT_TIMEOUT; }

void RunOnPageThread(HWND page, const std::function<void()>& call) {
    if (!page || !::IsWindow(page)) return;
    if (GetWindowThreadProcessId(page, nullptr) == GetCurrentThreadId()) call();
    else ::SendMessageW(page, WM_PAGE_UI_CALL, 0, reinterpret_cast<LPARAM>(&call));
}

LRESULT RunPageUiCall(LPARAM lParam) {
    (*reinterpret_cast<const std::function<void()>*>(lParam))();
    return 1;
}
