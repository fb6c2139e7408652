#include "pages_test_support.h"

#include "controls/message_box.h"
#include "core/tarvel_app.h"
#include "../controls/controls_test_support.h"
#include "pages/osinfo_dlg.h"
#include "support/test_files.h"

namespace {
class FakeQuery : public IFactsQuery {
public:
    explicit FakeQuery(const FakeFacts& facts) : m_facts(facts) {}
    int QueryProperty(const CString& className, const CString&, CString& out) override {
        out = className.Find(L"Processor") >= 0 ? m_facts.cpu : m_facts.board;
        return 1;
    }
    void OsDescription(CString& out) override { out = m_facts.os; }
    void LookupDisplayText(CString& out) override { out = m_facts.chassis; }

private:
    const FakeFacts& m_facts;
};
}  // namespace

IFactsQuery* FakeFacts::OpenQuery() { return new FakeQuery(*this); }

HINSTANCE ShellRecorder::Execute(HWND, LPCWSTR verb, LPCWSTR file, LPCWSTR parameters, LPCWSTR folder, int show) {
    executes.push_back({file ? file : L"", parameters ? parameters : L"", verb == nullptr, folder ? folder : L"", show});
    return reinterpret_cast<HINSTANCE>(42);
}

BOOL ShellRecorder::NotifyIcon(DWORD message, NOTIFYICONDATAW*) {
    if (message == NIM_ADD) ++iconsAdded;
    if (message == NIM_DELETE) ++iconsDeleted;
    return TRUE;
}

DWORD EmptyStorage::LogicalDriveStrings(DWORD length, wchar_t* buffer) {
    if (length) buffer[0] = 0;
    return 0;
}

PageTestMachine& TestMachine() {
    static PageTestMachine machine;
    return machine;
}

bool LoadTestSkin() {
    std::string bytes = ReadWholeFile(KAVETTA_PLAIN_SKIN_ARCHIVE);
    if (bytes.empty()) return false;
    BYTE* buffer = static_cast<BYTE*>(malloc(bytes.size() + 16));
    memcpy(buffer, bytes.data(), bytes.size());
    GetTarvelApp()->m_skinZip.Attach(buffer, (int)bytes.size(), 0);
    return GetTarvelApp()->m_skinZip.m_zip != nullptr;
}

MainWindowFixture::MainWindowFixture() {}

MainWindowFixture::~MainWindowFixture() {
    if (dlg) {
        WaitForCheck();
        if (dlg->GetSafeHwnd()) dlg->DestroyWindow();
        GetTarvelApp()->m_pMainWnd = nullptr;
    }
}

bool MainWindowFixture::Create() {
    dlg.reset(new CTarvelDlg);
    GetTarvelApp()->m_pMainWnd = dlg.get();
    if (!dlg->Create(IDD_TARVEL_DIALOG, nullptr)) return false;
    dlg->ShowWindow(SW_SHOW);
    return true;
}

bool MainWindowFixture::WaitForCheck(DWORD ms) {
    return PumpUntil([&] { return !dlg->m_osinfoPage->WorkersRunning(); }, ms);
}

namespace {
BOOL CALLBACK FindBoxProc(HWND h, LPARAM p) {
    CWnd* wnd = CWnd::FromHandlePermanent(h);
    if (wnd && dynamic_cast<CMyMessageBox*>(wnd) && IsWindowVisible(h)) {
        *reinterpret_cast<HWND*>(p) = h;
        return FALSE;
    }
    return TRUE;
}
}  // namespace

HWND FindMessageBox() {
    HWND found = nullptr;
    EnumThreadWindows(GetCurrentThreadId(), FindBoxProc, reinterpret_cast<LPARAM>(&found));
    return found;
}

namespace {
bool s_answerFirst = true;
int s_answered = 0;
void CALLBACK AnswerTimer(HWND, UINT, UINT_PTR id, DWORD) {
    HWND box = FindMessageBox();
    if (!box) return;
    KillTimer(nullptr, id);
    int button = s_answerFirst ? CMyMessageBox::kFirstButtonId : CMyMessageBox::kSecondButtonId;
    PostMessageW(box, WM_COMMAND, MAKEWPARAM(button, BN_CLICKED), (LPARAM)GetDlgItem(box, button));
    ++s_answered;
}
}  // namespace

void AnswerNextMessageBox(bool first) {
    s_answerFirst = first;
    SetTimer(nullptr, 0, 50, AnswerTimer);
}

BoxAnswerer* BoxAnswerer::s_current = nullptr;

BoxAnswerer::BoxAnswerer() : m_previous(s_current) {
    s_current = this;
    m_timer = SetTimer(nullptr, 0, 50, Answer);
}

BoxAnswerer::~BoxAnswerer() {
    KillTimer(nullptr, m_timer);
    s_current = m_previous;
}

bool BoxAnswerer::Shown(const wchar_t* part) const {
    for (const std::wstring& t : texts)
        if (t.find(part) != std::wstring::npos) return true;
    return false;
}

void CALLBACK BoxAnswerer::Answer(HWND, UINT, UINT_PTR, DWORD) {
    BoxAnswerer* self = s_current;
    HWND box = FindMessageBox();
    if (!box || !self || box == self->m_last) return;
    self->m_last = box;
    CMyMessageBox* dialog = static_cast<CMyMessageBox*>(CWnd::FromHandlePermanent(box));
    self->texts.push_back(dialog ? std::wstring(dialog->m_message.GetString()) : L"");
    self->shapes.push_back(dialog ? Shape{dialog->m_flags, dialog->m_autoClose, dialog->m_remainingSeconds}
                                  : Shape{-1, FALSE, -1});
    if (self->onShown) self->onShown();
    bool first = true;
    if (!self->script.empty()) {
        first = self->script.front();
        self->script.pop_front();
    }
    int button = first ? CMyMessageBox::kFirstButtonId : CMyMessageBox::kSecondButtonId;
    PostMessageW(box, WM_COMMAND, MAKEWPARAM(button, BN_CLICKED), (LPARAM)GetDlgItem(box, button));
}

int MessageBoxesAnswered() { return s_answered; }

bool ClickListRow(COsListWndBase& list, int id) {
    for (int i = 0; i < list.GetVisibleCount(); ++i) {
        OSLIST_ITEM* row = list.VisibleAt(i);
        if (row && row->id == id) {
            list.SendMessage(WM_LBUTTONUP, 0, MAKELPARAM(row->rect.left + 5, row->rect.top + 5));
            return true;
        }
    }
    return false;
}
