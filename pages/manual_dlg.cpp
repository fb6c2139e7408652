#include "pages/manual_dlg.h"

#include "core/fixed_texts.h"
#include "core/skin.h"

bool LoadSkinPicture(CPicStaticCtrl& box, const wchar_t* name) {
    DWORD size = 0;
    BYTE* data = LoadSkinImageData(name, &size);
    if (!data) return false;
    const bool loaded = box.SetImageData(data, size) != FALSE;
    free(data);
    return loaded;
}

CManualDlg::CManualDlg(CWnd* pParent) : CPageDialog(IDD_MANUAL, pParent) {}

BOOL CManualDlg::OnInitDialog() {
    CPageDialog::OnInitDialog();
    m_picture.Create(FixedText::kManualPictureCaption, WS_CHILD | WS_VISIBLE, CRect(0, 0, 920, 460), this,
                     (UINT)-1);
    LoadSkinPicture(m_picture, FixedText::kSkinManualPicture);
    // A picture only: it takes no mouse input.
    m_picture.EnableWindow(FALSE);
    return TRUE;
}
