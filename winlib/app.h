// The application: CWinApp, its global accessors and the program's entry point.
//
// The program defines one global object derived from CWinApp. The entry point
// (AfxWinMain, called from wWinMain in winmain.cpp) calls InitInstance; when
// it returns FALSE the entry point calls ExitInstance at once and returns its
// result, and the message loop (Run) is never entered.
#pragma once

#include <windows.h>

#include "winlib/strings.h"
#include "winlib/window.h"

class CWinApp : public CCmdTarget {
public:
    explicit CWinApp(LPCWSTR lpszAppName = nullptr);
    ~CWinApp() override;

    virtual BOOL InitInstance();
    virtual int ExitInstance();
    // The message loop of an application whose InitInstance returned TRUE.
    virtual int Run();

    // Sets the registry key (HKCU\Software\<key>\<application name>) under
    // which the stock profile calls would keep settings.
    void SetRegistryKey(LPCWSTR lpszRegistryKey);

    LPCWSTR m_pszAppName;       // the application name: given, or the program file's base name
    LPCWSTR m_pszRegistryKey;   // company key, null until SetRegistryKey
    LPCWSTR m_pszProfileName;   // equals m_pszAppName once a registry key is set
    LPCWSTR m_pszExeName;       // the program file's base name
    HINSTANCE m_hInstance;
    LPWSTR m_lpCmdLine;
    int m_nCmdShow;
    CWnd* m_pMainWnd;

protected:
    DECLARE_MESSAGE_MAP()

private:
    CString m_appName;
    CString m_exeName;
    CString m_registryKey;
};

CWinApp* AfxGetApp();
CWnd* AfxGetMainWnd();
HINSTANCE AfxGetInstanceHandle();
HINSTANCE AfxGetResourceHandle();
LPCWSTR AfxGetAppName();
// Kept for programs that host ActiveX controls; winlib hosts none, so this only
// initialises COM's single-threaded apartment on the calling thread.
void AfxEnableControlContainer();
// The entry point's work: InitInstance, then Run or ExitInstance.
int AfxWinMain(HINSTANCE hInstance, HINSTANCE hPrevInstance, LPWSTR lpCmdLine, int nCmdShow);
