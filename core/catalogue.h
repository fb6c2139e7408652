// Catalogue records: system categories, downloadable files and the shared
// link table.
#pragma once

#include "winlib/winlib.h"

class COsCatInfo {
public:
    CString m_typeToken;
    CString m_caption;
    int m_enabled = 0;
};

class COnlinefileinfo {
public:
    CString m_sectionName;
    CString m_fileName;
};

class CFileLinkInfo {
public:
    CString m_url;
    int m_linkType = 0;
};
