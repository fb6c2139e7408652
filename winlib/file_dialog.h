// CFileDialog: the system's open and save dialogs. The filter is written the
// class library's way ("Text (*.txt)|*.txt||"). The dialog itself is run by
// a runner that a test may replace (SetFileDialogRunner), so that a page's
// browse command can be answered without a real dialog; the program never
// replaces it.
#pragma once

#include <windows.h>
#include <commdlg.h>

#include "winlib/strings.h"
#include "winlib/window.h"

class CFileDialog;

// Runs one file dialog modally: IDOK with the chosen path in the dialog's
// m_ofn buffer, IDCANCEL otherwise.
class IFileDialogRunner {
public:
    virtual ~IFileDialogRunner() {}
    virtual INT_PTR Run(CFileDialog& dialog) = 0;
};

// Replaces the runner of every later DoModal (null: the system's dialogs);
// returns the previous one.
IFileDialogRunner* SetFileDialogRunner(IFileDialogRunner* runner);

class CFileDialog {
public:
    CFileDialog(BOOL bOpenFileDialog, LPCWSTR lpszDefExt = nullptr, LPCWSTR lpszFileName = nullptr,
                DWORD dwFlags = OFN_HIDEREADONLY | OFN_OVERWRITEPROMPT, LPCWSTR lpszFilter = nullptr,
                CWnd* pParentWnd = nullptr);
    virtual ~CFileDialog() {}
    CFileDialog(const CFileDialog&) = delete;
    CFileDialog& operator=(const CFileDialog&) = delete;

    // IDOK or IDCANCEL.
    virtual INT_PTR DoModal();
    // The chosen path (empty before an OK).
    CString GetPathName() const { return CString(m_fileBuffer); }
    BOOL IsOpenDialog() const { return m_openDialog; }
    // Puts a path in the result buffer (what a runner answers with); FALSE
    // when it does not fit.
    BOOL SetPathName(LPCWSTR path);

    // Set m_ofn.lpstrTitle and m_ofn.lpstrInitialDir before DoModal; the
    // texts must live until it returns.
    OPENFILENAMEW m_ofn;

private:
    BOOL m_openDialog;
    CString m_defaultExtension;
    wchar_t m_filterBuffer[1024];
    wchar_t m_fileBuffer[MAX_PATH * 2];
};
