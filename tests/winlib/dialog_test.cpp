#include <gtest/gtest.h>
#include <process.h>

#include "winlib/winlib.h"

namespace {

const UINT WM_PING = WM_APP + 1;
const UINT WM_FINISH = WM_APP + 2;
const UINT s_registered = RegisterWindowMessageW(L"winlib.test.registered");

// A button that handles its own click when the parent reflects it.
class ReflectingButton : public CWnd {
public:
    int m_clicks = 0;
    BOOL m_passOn = FALSE;  // when set, the reflected handler lets the parent see the click too
    int m_subclassed = 0;

protected:
    void PreSubclassWindow() override { ++m_subclassed; }
    BOOL OnReflectedClick() {
        ++m_clicks;
        return !m_passOn;
    }
    DECLARE_MESSAGE_MAP()
};

BEGIN_MESSAGE_MAP(ReflectingButton, CWnd)
    ON_CONTROL_REFLECT_EX(BN_CLICKED, OnReflectedClick)
END_MESSAGE_MAP()

class TestDialog : public CDialogEx {
public:
    explicit TestDialog(CWnd* parent = nullptr) : CDialogEx(999u, parent) {}

    CWnd* m_owner = nullptr;
    int m_inits = 0;
    BOOL m_ownerEnabledDuringRun = TRUE;
    LRESULT m_pingAnswer = 0;
    LRESULT m_registeredAnswer = 0;
    int m_parentClicks = 0;
    int m_enterSeen = 0;
    bool m_finishOnInit = true;
    bool m_clickTest = false;
    ReflectingButton m_button;

    BOOL OnInitDialog() override {
        CDialogEx::OnInitDialog();
        ++m_inits;
        if (m_owner) m_ownerEnabledDuringRun = m_owner->IsWindowEnabled();
        m_button.CreateEx(0, L"BUTTON", L"go", WS_CHILD | WS_VISIBLE | BS_PUSHBUTTON, 5, 5, 60, 20, m_hWnd,
                          reinterpret_cast<HMENU>(100));
        if (m_finishOnInit) PostMessage(WM_FINISH);
        return TRUE;
    }
    BOOL PreTranslateMessage(MSG* msg) override {
        // Swallow Enter, as the program's pages do.
        if (msg->message == WM_KEYDOWN && msg->wParam == VK_RETURN) {
            ++m_enterSeen;
            return TRUE;
        }
        return CDialogEx::PreTranslateMessage(msg);
    }

protected:
    LRESULT OnPing(WPARAM wParam, LPARAM) { return 70 + (LRESULT)wParam; }
    LRESULT OnRegistered(WPARAM, LPARAM) { return 5; }
    LRESULT OnFinish(WPARAM, LPARAM) {
        m_pingAnswer = SendMessage(WM_PING, 7);
        m_registeredAnswer = SendMessage(s_registered);
        if (m_clickTest) {
            SendMessage(WM_COMMAND, MAKEWPARAM(100, BN_CLICKED), reinterpret_cast<LPARAM>(m_button.m_hWnd));
            m_button.m_passOn = TRUE;
            SendMessage(WM_COMMAND, MAKEWPARAM(100, BN_CLICKED), reinterpret_cast<LPARAM>(m_button.m_hWnd));
        }
        EndDialog(42);
        return 0;
    }
    void OnButton() { ++m_parentClicks; }
    DECLARE_MESSAGE_MAP()
};

BEGIN_MESSAGE_MAP(TestDialog, CDialogEx)
    ON_MESSAGE(WM_PING, OnPing)
    ON_MESSAGE(WM_FINISH, OnFinish)
    ON_REGISTERED_MESSAGE(s_registered, OnRegistered)
    ON_BN_CLICKED(100, OnButton)
END_MESSAGE_MAP()

}  // namespace

TEST(CDialog, RunsModalFromEmptyTemplateWithMessageMap) {
    TestDialog dlg;
    dlg.m_clickTest = true;
    EXPECT_EQ(42, dlg.DoModal());
    EXPECT_EQ(1, dlg.m_inits);
    EXPECT_EQ(77, dlg.m_pingAnswer);
    EXPECT_EQ(5, dlg.m_registeredAnswer);
    EXPECT_EQ(nullptr, dlg.m_hWnd);  // destroyed and detached
    // The first click was handled by the button itself, the second passed on.
    EXPECT_EQ(2, dlg.m_button.m_clicks);
    EXPECT_EQ(1, dlg.m_parentClicks);
    EXPECT_EQ(1, dlg.m_button.m_subclassed);
}

TEST(CDialog, DisablesAndReenablesTheOwner) {
    CWnd owner;
    ASSERT_TRUE(owner.CreateEx(0, nullptr, L"owner", WS_POPUP | WS_VISIBLE, 0, 0, 300, 200, nullptr, nullptr));
    TestDialog dlg(&owner);
    dlg.m_owner = &owner;
    EXPECT_EQ(42, dlg.DoModal());
    EXPECT_FALSE(dlg.m_ownerEnabledDuringRun);
    EXPECT_TRUE(owner.IsWindowEnabled());
    owner.DestroyWindow();
    EXPECT_EQ(nullptr, owner.m_hWnd);
}

TEST(CDialog, CloseEndsWithCancel) {
    TestDialog dlg;
    dlg.m_finishOnInit = false;
    struct Closer : CDialogEx {};
    // Post WM_CLOSE once the loop runs: the dialog manager turns it into IDCANCEL.
    class ClosingDialog : public TestDialog {
        BOOL OnInitDialog() override {
            m_finishOnInit = false;
            TestDialog::OnInitDialog();
            PostMessage(WM_CLOSE);
            return TRUE;
        }
    } closing;
    EXPECT_EQ(IDCANCEL, closing.DoModal());
}

TEST(CDialog, ModalLoopWalksPreTranslateMessageFromChild) {
    class EnterDialog : public TestDialog {
        BOOL OnInitDialog() override {
            m_finishOnInit = false;
            TestDialog::OnInitDialog();
            // Enter on the child would end the dialog with IDOK unless the
            // dialog's PreTranslateMessage swallows it.
            ::PostMessageW(m_button.m_hWnd, WM_KEYDOWN, VK_RETURN, 0);
            PostMessage(WM_FINISH);
            return TRUE;
        }
    } dlg;
    EXPECT_EQ(42, dlg.DoModal());
    EXPECT_EQ(1, dlg.m_enterSeen);
}

TEST(CDialog, RunsModalOnAWorkerThread) {
    struct Result {
        INT_PTR code = 0;
        int inits = 0;
    } result;
    struct Worker {
        static unsigned __stdcall Proc(void* arg) {
            Result* r = static_cast<Result*>(arg);
            TestDialog dlg;
            r->code = dlg.DoModal();
            r->inits = dlg.m_inits;
            return 0;
        }
    };
    auto proc = &Worker::Proc;
    HANDLE thread = reinterpret_cast<HANDLE>(_beginthreadex(nullptr, 0, proc, &result, 0, nullptr));
    ASSERT_NE(nullptr, thread);
    ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(thread, 20000));
    CloseHandle(thread);
    EXPECT_EQ(42, result.code);
    EXPECT_EQ(1, result.inits);
}

TEST(CWinApp, FalseFromInitInstanceSkipsTheLoop) {
    class App : public CWinApp {
    public:
        int m_exits = 0;
        BOOL InitInstance() override { return FALSE; }
        int ExitInstance() override {
            ++m_exits;
            return 17;
        }
        int Run() override {
            ADD_FAILURE() << "the message loop must not run";
            return -1;
        }
    } app;
    EXPECT_EQ(&app, AfxGetApp());
    EXPECT_EQ(17, AfxWinMain(GetModuleHandleW(nullptr), nullptr, const_cast<LPWSTR>(L""), SW_SHOW));
    EXPECT_EQ(1, app.m_exits);
    app.SetRegistryKey(L"Company");
    EXPECT_STREQ(L"Company", app.m_pszRegistryKey);
    EXPECT_STREQ(L"winlib_tests", app.m_pszAppName);
}

TEST(CException, DeletesThrownPointers) {
    try {
        throw new CInvalidArgException;
    } catch (CException* e) {
        wchar_t text[64] = {};
        EXPECT_TRUE(e->GetErrorMessage(text, 64));
        EXPECT_NE(L'\0', text[0]);
        e->Delete();
    }
}

namespace {

// Ends itself from another thread, and counts device changes.
class DeviceDialog : public CDialogEx {
public:
    DeviceDialog() : CDialogEx(999u) {}
    UINT m_lastEvent = 0;
    DWORD_PTR m_lastData = 0;
    HANDLE m_ender = nullptr;
    HWND m_plain = nullptr;
    size_t m_tempsDuringRun = 0;
    size_t m_tempsAfterIdle = 99;
    DWORD m_timerStart = 0;

    BOOL OnInitDialog() override {
        CDialogEx::OnInitDialog();
        PostMessage(WM_FINISH);
        return TRUE;
    }
    BOOL OnDeviceChange(UINT nEventType, DWORD_PTR dwData) {
        m_lastEvent = nEventType;
        m_lastData = dwData;
        return nEventType == 0x8000 ? 7 : TRUE;
    }
    LRESULT OnFinish(WPARAM, LPARAM) {
        // A plain window nobody attached: FromHandle gives a temporary wrapper.
        m_plain = ::CreateWindowExW(0, L"STATIC", L"", WS_CHILD, 0, 0, 10, 10, m_hWnd, nullptr, nullptr, nullptr);
        CWnd* temp = CWnd::FromHandle(m_plain);
        EXPECT_EQ(temp, CWnd::FromHandle(m_plain));  // one per handle while it lives
        EXPECT_EQ(nullptr, CWnd::FromHandlePermanent(m_plain));
        m_tempsDuringRun = CWnd::TempWrapperCount();
        // A timer comes only when the queue is empty; on a loaded machine the
        // first may already be due the moment it first empties, before the
        // loop's idle step, so the ticks go on until the idle step has come
        // (within a generous bound).
        m_timerStart = GetTickCount();
        SetTimer(1, 30);
        return 0;
    }
    void OnTimer(UINT_PTR) {
        m_tempsAfterIdle = CWnd::TempWrapperCount();
        if (m_tempsAfterIdle != 0 && GetTickCount() - m_timerStart < 60000) return;
        KillTimer(1);
        struct Ender {
            static unsigned __stdcall Proc(void* arg) {
                Sleep(50);
                static_cast<CDialog*>(arg)->EndDialog(17);
                return 0;
            }
        };
        m_ender = reinterpret_cast<HANDLE>(_beginthreadex(nullptr, 0, &Ender::Proc, this, 0, nullptr));
    }
    DECLARE_MESSAGE_MAP()
};

BEGIN_MESSAGE_MAP(DeviceDialog, CDialogEx)
    ON_WM_DEVICECHANGE()
    ON_MESSAGE(WM_FINISH, OnFinish)
    ON_WM_TIMER()
END_MESSAGE_MAP()

}  // namespace

TEST(CDialog, DeviceChangeEntryPassesEventDataAndResult) {
    CWnd host;
    class Probe : public DeviceDialog {
        BOOL OnInitDialog() override {
            CDialogEx::OnInitDialog();
            int marker = 0;
            m_result = SendMessage(WM_DEVICECHANGE, 0x8000, reinterpret_cast<LPARAM>(&marker));
            m_sawData = m_lastData == reinterpret_cast<DWORD_PTR>(&marker);
            m_result2 = SendMessage(WM_DEVICECHANGE, 0x8004, 0);
            EndDialog(1);
            return TRUE;
        }

    public:
        LRESULT m_result = 0, m_result2 = 0;
        bool m_sawData = false;
    } dlg;
    EXPECT_EQ(1, dlg.DoModal());
    EXPECT_EQ(7, dlg.m_result);
    EXPECT_TRUE(dlg.m_sawData);
    EXPECT_EQ(TRUE, dlg.m_result2);
    EXPECT_EQ(0x8004u, dlg.m_lastEvent);
}

TEST(CDialog, EndedFromAnotherThreadAndTemporaryWrappersFreedAtIdle) {
    DeviceDialog dlg;
    EXPECT_EQ(17, dlg.DoModal());
    EXPECT_GE(dlg.m_tempsDuringRun, 1u);
    EXPECT_EQ(0u, dlg.m_tempsAfterIdle);
    ASSERT_NE(nullptr, dlg.m_ender);
    EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(dlg.m_ender, 10000));
    CloseHandle(dlg.m_ender);
}

TEST(CWnd, TemporaryWrappersBelongToTheirThread) {
    HWND plain = ::CreateWindowExW(0, L"STATIC", L"", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr, nullptr, nullptr);
    CWnd* mine = CWnd::FromHandle(plain);
    struct Other {
        static unsigned __stdcall Proc(void* arg) {
            HWND* h = static_cast<HWND*>(arg);
            CWnd* theirs = CWnd::FromHandle(h[0]);
            h[1] = reinterpret_cast<HWND>(theirs);
            h[2] = reinterpret_cast<HWND>(CWnd::TempWrapperCount());
            CWnd::DeleteTempMap();  // a worker frees its own at its idle moments
            return 0;
        }
    };
    HWND exchange[3] = {plain, nullptr, nullptr};
    HANDLE thread = reinterpret_cast<HANDLE>(_beginthreadex(nullptr, 0, &Other::Proc, exchange, 0, nullptr));
    ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(thread, 10000));
    CloseHandle(thread);
    EXPECT_NE(reinterpret_cast<HWND>(mine), exchange[1]);
    EXPECT_EQ(reinterpret_cast<HWND>(1), exchange[2]);
    EXPECT_EQ(plain, mine->m_hWnd);  // still valid here: this thread has not been idle
    CWnd::DeleteTempMap();
    EXPECT_EQ(0u, CWnd::TempWrapperCount());
    ::DestroyWindow(plain);
}
