#include "winlib/file_dialog.h"

#include <atomic>

namespace {

class SystemFileDialogRunner : public IFileDialogRunner {
public:
    INT_PTR Run(CFileDialog& dialog) override {
        const BOOL ok = dialog.IsOpenDialog() ? GetOpenFileNameW(&dialog.m_ofn) : GetSaveFileNameW(&dialog.m_ofn);
        return ok ? IDOK : IDCANCEL;
    }
};

SystemFileDialogRunner g_systemRunner;
std::atomic<IFileDialogRunner*> g_runner{nullptr};

}  // namespace

IFileDialogRunner* SetFileDialogRunner(IFileDialogRunner* runner) { return g_runner.exchange(runner); }

CFileDialog::CFileDialog(BOOL bOpenFileDialog, LPCWSTR lpszDefExt, LPCWSTR lpszFileName, DWORD dwFlags,
                         LPCWSTR lpszFilter, CWnd* pParentWnd)
    : m_ofn(), m_openDialog(bOpenFileDialog), m_defaultExtension(lpszDefExt ? lpszDefExt : L""), m_filterBuffer(),
      m_fileBuffer() {
    m_ofn.lStructSize = sizeof(m_ofn);
    m_ofn.hwndOwner = pParentWnd ? pParentWnd->GetSafeHwnd() : nullptr;
    m_ofn.Flags = dwFlags | OFN_EXPLORER | OFN_ENABLESIZING | (bOpenFileDialog ? OFN_FILEMUSTEXIST : 0);
    if (lpszFileName) SetPathName(lpszFileName);
    m_ofn.lpstrFile = m_fileBuffer;
    m_ofn.nMaxFile = sizeof(m_fileBuffer) / sizeof(m_fileBuffer[0]);
    if (!m_defaultExtension.IsEmpty()) m_ofn.lpstrDefExt = m_defaultExtension;
    if (lpszFilter) {
        // "a|b|c|d||" becomes the double-null list the system expects.
        lstrcpynW(m_filterBuffer, lpszFilter, sizeof(m_filterBuffer) / sizeof(m_filterBuffer[0]) - 1);
        for (wchar_t* p = m_filterBuffer; *p; ++p)
            if (*p == L'|') *p = L'\0';
        m_ofn.lpstrFilter = m_filterBuffer;
        m_ofn.nFilterIndex = 1;
    }
}

BOOL CFileDialog::SetPathName(LPCWSTR path) {
    const size_t capacity = sizeof(m_fileBuffer) / sizeof(m_fileBuffer[0]);
    if (!path || wcslen(path) >= capacity) return FALSE;
    lstrcpynW(m_fileBuffer, path, (int)capacity);
    return TRUE;
}

INT_PTR CFileDialog::DoModal() {
    IFileDialogRunner* runner = g_runner.load();
    const INT_PTR result = (runner ? runner : &g_systemRunner)->Run(*this);
    if (result != IDOK) m_fileBuffer[0] = L'\0';
    return result;
}
