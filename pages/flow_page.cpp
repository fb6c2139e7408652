#include "pages/flow_page.h"

#include <cstdlib>

#include "core/fixed_texts.h"
#include "core/skin.h"
#include "core/tarvel_app.h"

namespace {

enum PanelKind { kNoPanel, kRoundPanel, kPlainPanel };

// How the five steps' pages differ.
struct FrameLook {
    bool updateLink;
    bool pointFontLink;  // the picker's link takes its height in tenths of a point
    const wchar_t* title;
    RECT titleRect;
    PanelKind panel;
    RECT panelRect;
    bool dottedSeparator;
};

const FrameLook kLooks[5] = {
    {true, false, nullptr, {}, kNoPanel, {}, true},
    {true, false, FixedText::kTitleBackupPage, {233, 20, 353, 45}, kRoundPanel, {240, 90, 880, 352}, false},
    {true, true, FixedText::kTitlePickerPage, {240, 5, 360, 30}, kPlainPanel, {239, 34, 871, 386}, false},
    {true, false, FixedText::kTitleDownloadPage, {233, 10, 353, 35}, kPlainPanel, {240, 165, 880, 285}, false},
    {false, false, nullptr, {}, kNoPanel, {}, false},
};

const FrameLook& LookOf(int step) { return kLooks[(step >= 1 && step <= 5 ? step : 1) - 1]; }

}  // namespace

void LoadPicture(CPicStaticCtrl& control, LPCWSTR name) {
    DWORD size = 0;
    BYTE* data = LoadSkinImageData(name, &size);
    if (!data) return;
    control.SetImageData(data, size);
    free(data);
}

void SetButtonSkin(CxSkinButton& button, const wchar_t* const* pictures) {
    button.SetSkin(pictures[0], pictures[1], pictures[2], pictures[3]);
}

LOGFONTW PageFont(LONG height) {
    LOGFONTW lf = {};
    lf.lfHeight = height;
    wcsncpy(lf.lfFaceName, FixedText::kPageFontFace, LF_FACESIZE - 1);
    return lf;
}

BEGIN_MESSAGE_MAP(CFlowPage, CPageDialog)
    ON_WM_PAINT()
END_MESSAGE_MAP()

CFlowPage::CFlowPage(UINT nIDTemplate, int step, CWnd* pParent) : CPageDialog(nIDTemplate, pParent), m_currentStep(step) {}

bool CFlowPage::HasUpdateLink() const { return LookOf(m_currentStep).updateLink; }

CString CFlowPage::StepCaptionPicture(int i, int step) {
    CString name;
    name.Format(i <= step ? FixedText::kSkinStepCaptionDone : FixedText::kSkinStepCaptionTodo, i);
    return name;
}

CString CFlowPage::StepDotPicture(int i, int step) {
    return i <= step ? FixedText::kSkinStepDotDone : FixedText::kSkinStepDotTodo;
}

CString CFlowPage::StepConnectorPicture(int i, int step) {
    return i < step ? FixedText::kSkinStepLineDone : FixedText::kSkinStepLineTodo;
}

void CFlowPage::CreateStepStrip() {
    for (int i = 1; i <= 5; ++i) {
        const int y = 30 + 70 * i;
        m_stepCaptions[i - 1].Create(FixedText::kStepPictureCaption, WS_CHILD | WS_VISIBLE, CRect(65, y - 30, 185, y), this);
        LoadPicture(m_stepCaptions[i - 1], StepCaptionPicture(i, m_currentStep));
        m_stepDots[i - 1].Create(FixedText::kStepPictureCaption, WS_CHILD | WS_VISIBLE, CRect(30, y - 20, 39, y - 11), this);
        LoadPicture(m_stepDots[i - 1], StepDotPicture(i, m_currentStep));
        if (i < 5) {
            m_stepConnectors[i - 1].Create(FixedText::kStepPictureCaption, WS_CHILD | WS_VISIBLE,
                                           CRect(30, y, 39, y + 45), this);
            LoadPicture(m_stepConnectors[i - 1], StepConnectorPicture(i, m_currentStep));
        }
    }
}

void CFlowPage::CreateUpdateLink() {
    if (!HasUpdateLink()) return;
    CTarvelApp* app = GetTarvelApp();
    CString text = CString(FixedText::kVersionLinkPrefix) + (app ? app->m_ownVersion : CString());
    m_updateLink.Create(text, WS_CHILD | WS_VISIBLE, CRect(410, 435, 510, 455), this, IDC_UPDATE_LINK);
    m_updateLink.ShowWindow(SW_HIDE);
}

void CFlowPage::ShowUpdateLink() {
    if (!m_updateLink.GetSafeHwnd()) return;
    if (LookOf(m_currentStep).pointFontLink) {
        LOGFONTW lf = PageFont(90);
        m_updateLink.SetPointFont(&lf, TRUE);
    } else {
        LOGFONTW lf = PageFont(-12);
        m_updateLink.SetFont(&lf, TRUE);
    }
    m_updateLink.SetWindowText(FixedText::kUpdateLinkText);
    CTarvelApp* app = GetTarvelApp();
    m_updateLink.SetLink(FixedText::kUpdateLinkTooltip, app ? (LPCWSTR)app->m_updateTarget : L"", 1);
    m_updateLink.ShowWindow(SW_SHOWNORMAL);
}

void CFlowPage::PaintFrame(HDC hdc, int step, int w, int h) {
    const FrameLook& look = LookOf(step);
    CDC dc;
    dc.Attach(hdc);
    dc.FillSolidRect(200, 0, w - 200, h, 0xFFFFFF);
    dc.FillSolidRect(0, 0, 200, h, 0xF5F5F5);
    // The border: left, bottom and right; the header above the page is its top.
    CBrush blue(0xFF0000);
    HGDIOBJ oldBrush = dc.SelectObject(&blue);
    ::PatBlt(hdc, 0, 0, 1, h, PATCOPY);
    ::PatBlt(hdc, 0, h - 1, w, 1, PATCOPY);
    ::PatBlt(hdc, w - 1, 0, 1, h, PATCOPY);
    dc.SelectObject(oldBrush);

    if (look.dottedSeparator) {
        CPen dots(PS_DOT, 1, 0xC0C0C0);
        HGDIOBJ oldPen = dc.SelectObject(&dots);
        dc.MoveTo(202, 130);
        dc.LineTo(918, 130);
        dc.SelectObject(oldPen);
    }
    if (look.title) {
        CPen grey(PS_SOLID, 1, 0x808080);
        HGDIOBJ oldPen = look.panel == kRoundPanel ? dc.SelectObject(&grey) : nullptr;
        CFont font;
        font.CreateFont(-18, 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, DEFAULT_CHARSET, OUT_DEFAULT_PRECIS,
                        CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY, DEFAULT_PITCH, FixedText::kPageFontFace);
        HGDIOBJ oldFont = dc.SelectObject(&font);
        dc.SetBkMode(TRANSPARENT);
        dc.SetTextColor(0x212121);
        RECT titleRect = look.titleRect;
        dc.DrawText(look.title, &titleRect, DT_VCENTER | DT_WORDBREAK);
        dc.SelectObject(oldFont);
        const RECT& p = look.panelRect;
        if (look.panel == kRoundPanel) dc.RoundRect(&p, CPoint(8, 8));
        else if (look.panel == kPlainPanel) dc.Rectangle(&p);
        if (oldPen) dc.SelectObject(oldPen);
    }
    dc.Detach();
}

void CFlowPage::OnPaint() {
    CPaintDC paint(this);
    CRect window;
    GetWindowRect(&window);
    const int w = window.Width(), h = window.Height();
    CDC memory;
    memory.CreateCompatibleDC(&paint);
    CBitmap bitmap;
    bitmap.CreateCompatibleBitmap(paint.GetSafeHdc(), w, h);
    HGDIOBJ old = memory.SelectObject(&bitmap);
    PaintFrame(memory.GetSafeHdc(), m_currentStep, w, h);
    paint.BitBlt(0, 0, w, h, &memory, 0, 0, SRCCOPY);
    memory.SelectObject(old);
}
