// Catalogue records: system categories, downloadable files and the shared
// link table.
#pragma once

#include "winlib/winlib.h"

class COsCatInfo {
public:
    CString m_typeToken;
    CString m_id;
    CString m_caption;
    CString m_text;
    int m_displayGroup = 0;
    BYTE m_systemMask = 0x80;
    int m_enabled = 0;
};

class COnlinefileinfo {
public:
    CString m_sectionName;
    CString m_title;
    CString m_description;
    CString m_detail2;
    CString m_detail1;
    CString m_fileName;
    int m_displayGroup = 0;
    BYTE m_systemMask = 0x80;
};

class CFileLinkInfo {
public:
    CString m_url;
    int m_linkType = 0;
};
