// One labelled text row of a page: its control and how it was made.
#pragma once

#include "winlib/winlib.h"

struct InfoRow {
    CStatic* control = nullptr;  // a CColorText_Static or a CHyperLink, owned by the page
    CString text;
    COLORREF textColor = 0;
    COLORREF backColor = 0xFFFFFF;  // used only by a row that is not transparent
    BYTE transparent = 1;
    RECT rect = {};
    int id = -1;
    const LOGFONTW* font = nullptr;  // used only while the page is being built
};
