#include "pages/page_dialog.h"

#include "core/messages.h"
#include "core/process_file_utils.h"

BEGIN_MESSAGE_MAP(CPageDialog, CDialogEx)
    ON_MESSAGE(WM_PAGE_UI_CALL, OnPageUiCall)
END_MESSAGE_MAP()

bool CPageDialog::IsSwallowedKey(const MSG* pMsg) {
    return pMsg->message == WM_KEYDOWN && (pMsg->wParam == VK_ESCAPE || pMsg->wParam == VK_RETURN);
}

BOOL CPageDialog::PreTranslateMessage(MSG* pMsg) {
    if (IsSwallowedKey(pMsg)) return TRUE;
    return CDialogEx::PreTranslateMessage(pMsg);
}

bool ThreadStillRunning(HANDLE thread) { return thread && WaitForSingleObject(thread, 0) == WAIT_TIMEOUT; }

LRESULT CPageDialog::OnPageUiCall(WPARAM, LPARAM lParam) {
    (*reinterpret_cast<const std::function<void()>*>(lParam))();
    return 1;
}

void CPageDialog::RunOnPage(const std::function<void()>& call) {
    HWND page = GetSafeHwnd();
    if (!page || !::IsWindow(page)) return;
    if (GetWindowThreadProcessId(page, nullptr) == GetCurrentThreadId()) call();
    else ::SendMessageW(page, WM_PAGE_UI_CALL, 0, reinterpret_cast<LPARAM>(&call));
}

void SetSessionStep(volatile LONG& flag, LONG value) {
    InterlockedExchange(&flag, value);
    TellSessionStep();
}
