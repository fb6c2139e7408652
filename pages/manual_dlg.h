// The picture page behind the main window's picture tab: one picture from
// the skin archive that fills the page.
#pragma once

#include "controls/picture_controls.h"
#include "pages/page_dialog.h"

#define IDD_MANUAL 133

class CManualDlg : public CPageDialog {
public:
    CManualDlg(CWnd* pParent = nullptr);
    BOOL OnInitDialog() override;

    CPicStaticCtrl m_picture;
};

// Loads a skin picture by name into a picture box; false when the archive
// has no such entry (the box then draws nothing).
bool LoadSkinPicture(CPicStaticCtrl& box, const wchar_t* name);
