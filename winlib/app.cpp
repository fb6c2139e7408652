#include "winlib/app.h"

#include <objbase.h>
#include <shlwapi.h>

namespace {
CWinApp* g_app = nullptr;
}

BEGIN_MESSAGE_MAP(CWinApp, CCmdTarget)
END_MESSAGE_MAP()

CWinApp::CWinApp(LPCWSTR lpszAppName)
    : m_pszAppName(nullptr),
      m_pszRegistryKey(nullptr),
      m_pszProfileName(nullptr),
      m_pszExeName(nullptr),
      m_hInstance(GetModuleHandleW(nullptr)),
      m_lpCmdLine(nullptr),
      m_nCmdShow(SW_SHOWDEFAULT),
      m_pMainWnd(nullptr) {
    wchar_t path[MAX_PATH + 1] = {};
    GetModuleFileNameW(nullptr, path, MAX_PATH);
    m_exeName = PathFindFileNameW(path);
    int dot = m_exeName.ReverseFind(L'.');
    if (dot > 0) m_exeName = m_exeName.Left(dot);
    m_appName = lpszAppName ? CString(lpszAppName) : m_exeName;
    m_pszAppName = m_appName;
    m_pszExeName = m_exeName;
    g_app = this;
}

CWinApp::~CWinApp() {
    if (g_app == this) g_app = nullptr;
}

BOOL CWinApp::InitInstance() { return TRUE; }

int CWinApp::ExitInstance() { return 0; }

int CWinApp::Run() {
    MSG msg;
    for (;;) {
        if (!PeekMessageW(&msg, nullptr, 0, 0, PM_NOREMOVE)) CWnd::DeleteTempMap();
        BOOL got = GetMessageW(&msg, nullptr, 0, 0);
        if (got == 0 || got == -1) break;
        if (!WalkPreTranslateTree(nullptr, &msg)) {
            TranslateMessage(&msg);
            DispatchMessageW(&msg);
        }
    }
    return ExitInstance();
}

void CWinApp::SetRegistryKey(LPCWSTR lpszRegistryKey) {
    if (!lpszRegistryKey) return;
    m_registryKey = lpszRegistryKey;
    m_pszRegistryKey = m_registryKey;
    m_pszProfileName = m_pszAppName;
}

CWinApp* AfxGetApp() { return g_app; }

CWnd* AfxGetMainWnd() { return g_app ? g_app->m_pMainWnd : nullptr; }

HINSTANCE AfxGetInstanceHandle() { return g_app ? g_app->m_hInstance : GetModuleHandleW(nullptr); }

HINSTANCE AfxGetResourceHandle() { return AfxGetInstanceHandle(); }

LPCWSTR AfxGetAppName() { return g_app ? g_app->m_pszAppName : L""; }

void AfxEnableControlContainer() { CoInitialize(nullptr); }

int AfxWinMain(HINSTANCE hInstance, HINSTANCE, LPWSTR lpCmdLine, int nCmdShow) {
    CWinApp* app = AfxGetApp();
    if (!app) return -1;
    app->m_hInstance = hInstance;
    app->m_lpCmdLine = lpCmdLine;
    app->m_nCmdShow = nCmdShow;
    if (!app->InitInstance()) return app->ExitInstance();
    return app->Run();
}
