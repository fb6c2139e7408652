// The page frame of the five install-flow pages (system check, backup,
// picker, download, restart): the step strip in the grey left column, the
// white work area with its blue border, the page's title and panel, and the
// hidden update link that the version check reveals. One implementation; a
// page gives its step and the frame looks the step's look up.
#pragma once

#include "controls/color_text.h"
#include "controls/picture_controls.h"
#include "controls/skin_button.h"
#include "pages/page_dialog.h"

// Next and Back of the install-flow pages.
#define IDC_NEXT 10109
#define IDC_BACK 10112
#define IDC_UPDATE_LINK 10113

class CFlowPage : public CPageDialog {
public:
    CFlowPage(UINT nIDTemplate, int step, CWnd* pParent = nullptr);

    // Creates the 14 strip controls; called once by the page's OnInitDialog.
    void CreateStepStrip();
    // Creates the hidden version link on the pages that have one.
    void CreateUpdateLink();
    // Turns the version link into the update link and shows it.
    void ShowUpdateLink();
    bool HasUpdateLink() const;

    // Paints the frame of a step's page into a DC of w x h.
    static void PaintFrame(HDC hdc, int step, int w, int h);
    // The picture names of strip element i (1-based) on a page of the given step.
    static CString StepCaptionPicture(int i, int step);
    static CString StepDotPicture(int i, int step);
    static CString StepConnectorPicture(int i, int step);

    int m_currentStep;
    CPicStaticCtrl m_stepCaptions[5];
    CPicStaticCtrl m_stepDots[5];
    CPicStaticCtrl m_stepConnectors[4];
    CHyperLink m_updateLink;

protected:
    void OnPaint();
    DECLARE_MESSAGE_MAP()
};

// Gives a picture control its skin picture by name; a missing picture leaves it empty.
void LoadPicture(CPicStaticCtrl& control, LPCWSTR name);
// Gives a skin button its four pictures (normal, down, hover, disabled).
void SetButtonSkin(CxSkinButton& button, const wchar_t* const* pictures);
// A LOGFONT with only the height and the page's face name set.
LOGFONTW PageFont(LONG height);
