// The main window.
#pragma once

#include "winlib/winlib.h"

#include "resources/resource_ids.h"

class CTarvelDlg : public CDialogEx {
public:
    CTarvelDlg(CWnd* pParent = nullptr);
    ~CTarvelDlg() override;

    BOOL OnInitDialog() override;

    // The single-instance hand-shake: come to the front and answer with the
    // message's own id, which the second copy takes as the sign of life.
    LRESULT OnActivateInstance(WPARAM wParam, LPARAM lParam);

protected:
    DECLARE_MESSAGE_MAP()
    HICON m_hIcon;
};
