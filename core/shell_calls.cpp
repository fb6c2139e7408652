#include "core/shell_calls.h"

#include <exdisp.h>
#include <shldisp.h>
#include <shlobj.h>
#include <shobjidl.h>
#include <wtsapi32.h>

#include "core/dll_search.h"
#include "core/fixed_texts.h"

namespace {

// Holds one COM reference and releases it at the end of its scope.
template <class T>
class ComRef {
public:
    ComRef() = default;
    ComRef(const ComRef&) = delete;
    ComRef& operator=(const ComRef&) = delete;
    ~ComRef() {
        if (m_p) m_p->Release();
    }
    T** Out() { return &m_p; }
    void** OutVoid() { return reinterpret_cast<void**>(&m_p); }
    T* operator->() const { return m_p; }
    explicit operator bool() const { return m_p != nullptr; }

private:
    T* m_p = nullptr;
};

// The shell's objects named by their GUIDs here, so that nothing depends on
// which of them the toolchain's GUID library carries.
const CLSID kClsidShellWindows = {0x9BA05972, 0xF6A8, 0x11CF, {0xA4, 0x42, 0x00, 0xA0, 0xC9, 0x0A, 0x8F, 0x39}};
const GUID kSidTopLevelBrowser = {0x4C96BE40, 0x915C, 0x11CF, {0x99, 0xD3, 0x00, 0xAA, 0x00, 0x4A, 0xE8, 0x37}};

// The known folders of the three user folders, and their CSIDLs for a
// Windows without SHGetKnownFolderPath (XP).
const GUID kKnownUserFolders[kUserFolderKinds] = {
    {0xB4BFCC3A, 0xDB2C, 0x424C, {0xB0, 0x29, 0x7F, 0xE9, 0x9A, 0x87, 0xC6, 0x41}},  // FOLDERID_Desktop
    {0xFDD39AD0, 0x238F, 0x46AF, {0xAD, 0xB4, 0x6C, 0x85, 0x48, 0x03, 0x69, 0xC7}},  // FOLDERID_Documents
    {0x1777F761, 0x68AD, 0x4D8A, {0x87, 0xBD, 0x30, 0xB7, 0x59, 0xFA, 0x33, 0xDD}},  // FOLDERID_Favorites
};
const int kUserFolderCsidl[kUserFolderKinds] = {CSIDL_DESKTOPDIRECTORY, CSIDL_PERSONAL, CSIDL_FAVORITES};

typedef HRESULT(WINAPI* KnownFolderPathFn)(REFGUID id, DWORD flags, HANDLE token, PWSTR* path);
typedef BOOL(WINAPI* WtsQueryFn)(HANDLE server, DWORD session, WTS_INFO_CLASS what, LPWSTR* buffer, DWORD* bytes);
typedef void(WINAPI* WtsFreeFn)(PVOID memory);

// One text of this session from the terminal services' session query.
bool SessionText(WtsQueryFn query, WtsFreeFn release, WTS_INFO_CLASS what, CString& text) {
    LPWSTR buffer = nullptr;
    DWORD bytes = 0;
    if (!query(WTS_CURRENT_SERVER_HANDLE, WTS_CURRENT_SESSION, what, &buffer, &bytes) || !buffer) return false;
    text = buffer;
    release(buffer);
    return true;
}

// The desktop's ShellExecute, reached the documented way from a process
// that is not the shell: the desktop's window in the shell's window list,
// its top-level browser, the active view, that view's automation object
// and its Application, which runs in the shell's process. COM must be
// initialised on the calling thread.
HRESULT ShellExecuteOnDesktop(LPCWSTR address, LPCWSTR folder) {
    // Without a shell window no desktop shell runs, and asking COM for its
    // window list could start a shell process with our rights.
    if (!GetShellWindow()) return HRESULT_FROM_WIN32(ERROR_NOT_FOUND);
    ComRef<IShellWindows> windows;
    HRESULT hr = CoCreateInstance(kClsidShellWindows, nullptr, CLSCTX_LOCAL_SERVER, __uuidof(IShellWindows),
                                  windows.OutVoid());
    if (FAILED(hr)) return hr;
    VARIANT location, root;
    VariantInit(&location);
    VariantInit(&root);
    location.vt = VT_I4;
    location.lVal = CSIDL_DESKTOP;
    LONG window = 0;
    ComRef<IDispatch> desktop;
    hr = windows->FindWindowSW(&location, &root, SWC_DESKTOP, &window, SWFO_NEEDDISPATCH, desktop.Out());
    if (hr != S_OK || !desktop) return FAILED(hr) ? hr : HRESULT_FROM_WIN32(ERROR_NOT_FOUND);
    ComRef<IServiceProvider> provider;
    if (FAILED(hr = desktop->QueryInterface(__uuidof(IServiceProvider), provider.OutVoid()))) return hr;
    ComRef<IShellBrowser> browser;
    if (FAILED(hr = provider->QueryService(kSidTopLevelBrowser, __uuidof(IShellBrowser), browser.OutVoid())))
        return hr;
    ComRef<IShellView> view;
    if (FAILED(hr = browser->QueryActiveShellView(view.Out()))) return hr;
    ComRef<IDispatch> background;
    if (FAILED(hr = view->GetItemObject(SVGIO_BACKGROUND, __uuidof(IDispatch), background.OutVoid()))) return hr;
    ComRef<IShellFolderViewDual> folderView;
    if (FAILED(hr = background->QueryInterface(__uuidof(IShellFolderViewDual), folderView.OutVoid()))) return hr;
    ComRef<IDispatch> application;
    if (FAILED(hr = folderView->get_Application(application.Out()))) return hr;
    ComRef<IShellDispatch2> shell;
    if (FAILED(hr = application->QueryInterface(__uuidof(IShellDispatch2), shell.OutVoid()))) return hr;

    BSTR file = SysAllocString(address);
    VARIANT arguments, directory, operation, show;
    VariantInit(&arguments);
    VariantInit(&directory);
    VariantInit(&operation);
    VariantInit(&show);
    arguments.vt = VT_BSTR;
    arguments.bstrVal = SysAllocString(L"");
    directory.vt = VT_BSTR;
    directory.bstrVal = SysAllocString(folder ? folder : L"");
    // The default verb: the shell opens the address the way it is registered to.
    operation.vt = VT_BSTR;
    operation.bstrVal = SysAllocString(L"");
    show.vt = VT_I4;
    show.lVal = SW_SHOWNORMAL;
    hr = file && arguments.bstrVal && directory.bstrVal && operation.bstrVal
             ? shell->ShellExecute(file, arguments, directory, operation, show)
             : E_OUTOFMEMORY;
    SysFreeString(file);
    VariantClear(&arguments);
    VariantClear(&directory);
    VariantClear(&operation);
    return hr;
}

class Win32ShellCalls : public IShellCalls {
public:
    HINSTANCE Execute(HWND owner, LPCWSTR verb, LPCWSTR file, LPCWSTR parameters, LPCWSTR folder,
                      int show) override {
        return ShellExecuteW(owner, verb, file, parameters, folder, show);
    }
    BOOL NotifyIcon(DWORD message, NOTIFYICONDATAW* data) override { return Shell_NotifyIconW(message, data); }

    HRESULT OpenWithDesktopShell(LPCWSTR address, LPCWSTR folder) override {
        // A thread already in the other apartment keeps it and is served all the same.
        const HRESULT init = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
        const HRESULT hr = ShellExecuteOnDesktop(address, folder);
        if (SUCCEEDED(init)) CoUninitialize();
        return hr;
    }

    bool SessionAccount(CString& account) override {
        // Not a known DLL: loaded from the system folder by its full path.
        HMODULE module = LoadLibraryFromItsFolder(SystemFolderDllPath(FixedText::kSessionQueryModule));
        if (!module) return false;
        WtsQueryFn query = reinterpret_cast<WtsQueryFn>(
            reinterpret_cast<void*>(GetProcAddress(module, FixedText::kSessionQueryFunction)));
        WtsFreeFn release =
            reinterpret_cast<WtsFreeFn>(reinterpret_cast<void*>(GetProcAddress(module, FixedText::kSessionFreeFunction)));
        CString user, domain;
        const bool known = query && release && SessionText(query, release, WTSUserName, user) && !user.IsEmpty();
        if (known) SessionText(query, release, WTSDomainName, domain);
        FreeLibrary(module);
        if (!known) return false;
        account = domain.IsEmpty() ? user : domain + FixedText::kAccountDomainSeparator + user;
        return true;
    }

    HANDLE OpenShellToken() override {
        HWND shell = GetShellWindow();
        if (!shell) return nullptr;
        DWORD processId = 0;
        GetWindowThreadProcessId(shell, &processId);
        if (!processId) return nullptr;
        // The limited right is enough and more often granted; XP knows only the full one.
        const DWORD kQueryLimitedInformation = 0x1000;  // PROCESS_QUERY_LIMITED_INFORMATION
        HANDLE process = OpenProcess(kQueryLimitedInformation, FALSE, processId);
        if (!process) process = OpenProcess(PROCESS_QUERY_INFORMATION, FALSE, processId);
        if (!process) return nullptr;
        HANDLE token = nullptr;
        if (!OpenProcessToken(process, TOKEN_QUERY | TOKEN_IMPERSONATE | TOKEN_DUPLICATE, &token)) token = nullptr;
        CloseHandle(process);
        return token;
    }

    void CloseToken(HANDLE token) override {
        if (token) CloseHandle(token);
    }

    bool UserFolderPath(UserFolderKind kind, HANDLE token, CString& path) override {
        if (kind < 0 || kind >= kUserFolderKinds) return false;
        KnownFolderPathFn known = reinterpret_cast<KnownFolderPathFn>(reinterpret_cast<void*>(
            GetProcAddress(GetModuleHandleW(L"shell32.dll"), FixedText::kKnownFolderPathFunction)));
        if (known) {
            PWSTR found = nullptr;
            const HRESULT hr = known(kKnownUserFolders[kind], 0, token, &found);
            if (SUCCEEDED(hr) && found) path = found;
            // The buffer is the caller's to free, on failure too.
            CoTaskMemFree(found);
            return SUCCEEDED(hr) && !path.IsEmpty();
        }
        wchar_t buffer[MAX_PATH] = {};
        if (FAILED(SHGetFolderPathW(nullptr, kUserFolderCsidl[kind], token, SHGFP_TYPE_CURRENT, buffer))) return false;
        path = buffer;
        return !path.IsEmpty();
    }

    bool TokenAccount(HANDLE token, CString& account) override {
        HANDLE own = nullptr;
        if (!token) {
            if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &own)) return false;
            token = own;
        }
        bool named = false;
        DWORD bytes = 0;
        GetTokenInformation(token, TokenUser, nullptr, 0, &bytes);
        if (bytes > 0) {
            BYTE* buffer = new BYTE[bytes];
            if (GetTokenInformation(token, TokenUser, buffer, bytes, &bytes)) {
                PSID sid = reinterpret_cast<TOKEN_USER*>(buffer)->User.Sid;
                wchar_t name[256] = {}, domain[256] = {};
                DWORD nameLength = 256, domainLength = 256;
                SID_NAME_USE use;
                if (LookupAccountSidW(nullptr, sid, name, &nameLength, domain, &domainLength, &use) && name[0]) {
                    account = domain[0] ? CString(domain) + FixedText::kAccountDomainSeparator + name : CString(name);
                    named = true;
                }
            }
            delete[] buffer;
        }
        if (own) CloseHandle(own);
        return named;
    }
};

Win32ShellCalls g_win32Shell;
IShellCalls* g_shell = &g_win32Shell;

// The length of the scheme prefix ("http://" or "https://", any case) that
// target starts with, or 0.
int WebSchemeLength(const CString& target) {
    for (const wchar_t* scheme : FixedText::kWebSchemes) {
        int n = (int)wcslen(scheme);
        if (target.GetLength() >= n && _wcsnicmp(target, scheme, n) == 0) return n;
    }
    return 0;
}

}  // namespace

IShellCalls& CurrentShellCalls() { return *g_shell; }

IShellCalls* SetShellCalls(IShellCalls* calls) {
    IShellCalls* previous = g_shell;
    g_shell = calls ? calls : &g_win32Shell;
    return previous;
}

bool IsWebAddress(const CString& target) {
    int scheme = WebSchemeLength(target);
    if (scheme == 0 || target.GetLength() <= scheme) return false;
    for (int i = 0; i < target.GetLength(); ++i) {
        wchar_t c = target[i];
        // C0 and C1 control characters and DEL: a line break or a NUL could
        // hand the shell something other than the address that was checked.
        if (c < 0x20 || c == 0x7F || (c >= 0x80 && c <= 0x9F)) return false;
    }
    return true;
}

bool OpenWebTarget(const CString& target) {
    if (!IsWebAddress(target)) return false;
    // A working folder only administrators can write, never the program's
    // own (often the user's downloads): a browser looks there for libraries.
    wchar_t system[MAX_PATH] = {};
    const UINT n = GetSystemDirectoryW(system, MAX_PATH);
    if (n == 0 || n >= MAX_PATH) return false;
    return SUCCEEDED(CurrentShellCalls().OpenWithDesktopShell(target, system));
}

bool UserFolders::OfSignedInUser() const {
    if (fromDesktopShell) return true;
    return !account.IsEmpty() && !signedInAccount.IsEmpty() &&
           CompareStringOrdinal(account, account.GetLength(), signedInAccount, signedInAccount.GetLength(), TRUE) ==
               CSTR_EQUAL;
}

void FindUserFolders(UserFolders& folders) {
    IShellCalls& shell = CurrentShellCalls();
    folders = UserFolders();
    if (!shell.SessionAccount(folders.signedInAccount)) folders.signedInAccount.Empty();
    HANDLE token = shell.OpenShellToken();
    folders.fromDesktopShell = token != nullptr;
    // The desktop shell's user is the one signed in: named as the session names it.
    if (token && !folders.signedInAccount.IsEmpty()) folders.account = folders.signedInAccount;
    else if (!shell.TokenAccount(token, folders.account)) folders.account.Empty();
    for (int kind = 0; kind < kUserFolderKinds; ++kind)
        if (!shell.UserFolderPath(static_cast<UserFolderKind>(kind), token, folders.paths[kind]))
            folders.paths[kind].Empty();
    if (token) shell.CloseToken(token);
}
