// Reading the online configuration into the catalogue: categories, images,
// recommended entries, boot environments, linked and single files, and the
// general and version values.
#include <shlwapi.h>

#include "core/catalogue.h"
#include "core/fixed_texts.h"
#include "core/ini.h"
#include "core/online_config.h"
#include "core/process_file_utils.h"
#include "core/tarvel_app.h"
#include "core/text_utils.h"

using namespace FixedText;

namespace {

// The expected digest of a section: its digest key, default the section
// name and the placeholder suffix, in upper case as the file checks compare.
CString ReadDigest(CIni& ini, const CString& section) {
    CString digest = ini.GetString(kCfgDigestKey, section + kCfgDigestDefaultSuffix);
    digest.MakeUpper();
    return digest;
}

// The three detail texts every record kind reads.
void ReadTexts(CIni& ini, COnlinefileinfo& record) {
    record.m_description = ini.GetString(kCfgDescriptionKey, kCfgDescriptionDefault);
    record.m_detail2 = ini.GetString(kCfgDetail2Key, kCfgDetail2Default);
    record.m_detail1 = ini.GetString(kCfgDetail1Key, kCfgDetail1Default);
}

// A key name made from a pattern with the mirror id put in place of "%s".
// The id comes from the file, so it is inserted as text, never as a format.
CString MirrorKey(const wchar_t* pattern, const CString& id) {
    CString key = pattern;
    key.Replace(L"%s", id);
    return key;
}

// What catalogue images and recommended entries read after their texts:
// file name, USB offer, digest, system type, mirrors and the linked file
// (which selects another section, so it comes last). False when the entry
// must be rejected: its file name, or its linked file's, is not a plain file
// name. Those names are joined to the data folder, where files are moved,
// deleted, copied to USB disks and handed to the boot environment, so one
// such as "..\\x" or "C:\\x" would reach outside it.
bool ReadEntryTail(CTarvelApp& app, CIni& ini, COnlinefileinfo& record, const CString& section, const CString& token) {
    record.m_fileName = ini.GetString(kCfgFileKey, section + kCfgFileNameJoin + record.m_typeText);
    if (!IsPlainFileName(record.m_fileName)) return false;
    record.m_usbOffer = ini.GetInt(kCfgUsbKey, 0);
    record.m_expectedMd5 = ReadDigest(ini, section);
    record.m_systemTokens = token;
    if (!record.m_systemTokens.IsEmpty()) ParseSystemTokens(record);
    app.ReadMirrorList(ini, record);
    CString link = ini.GetString(kCfgLinkKey, L"");
    record.m_linkedFileIndex = link.IsEmpty() ? -1 : app.ReadLinkedFile(ini, link);
    return link.IsEmpty() || record.m_linkedFileIndex >= 0;
}

}  // namespace

int CTarvelApp::ParseOnlineConfig(const CString& path, BOOL enciphered) {
    if (!PathFileExistsW(path)) return 0;
    m_osImages.RemoveAll();
    m_linkedFiles.RemoveAll();
    m_fileLinks.SetSize(0);

    CIni ini(path);
    if (enciphered) ini.SetPassword(m_iniPassword);
    if (DetectTextEncoding(path) > 3) ini.m_utf8 = 1;

    COnlinefileinfo scratch;
    for (INT_PTR i = 0; i < m_osCategories.GetSize(); ++i) {
        COsCatInfo& category = m_osCategories[i];
        category.m_enabled = 1;
        ini.SetSection(category.m_id);
        CString list = ini.GetString(kCfgListKey, L"");
        if (list.IsEmpty()) {
            category.m_enabled = 0;
            continue;
        }
        CStringArray names;
        SplitAtChar(list, L'|', names);
        category.m_caption = ini.GetString(kCfgCaptionKey, kCfgCaptionDefault);
        if (category.m_caption.IsEmpty()) {
            category.m_enabled = 0;
            continue;
        }
        category.m_text = ini.GetString(kCfgTextKey, L"");
        for (INT_PTR n = 0; n < names.GetSize(); ++n)
            if (ReadCatalogueEntry(ini, names[n], scratch, category.m_id)) m_osImages.Add(scratch);
    }

    m_recommend1Start = (int)m_osImages.GetSize();
    for (INT_PTR i = 0; i < m_recommendList1.GetSize(); ++i)
        if (ReadRecommendedEntry(ini, m_recommendList1[i], kCfgRecommendedToken)) m_osImages.Add(m_recommendList1[i]);
    m_recommend2Start = (int)m_osImages.GetSize();
    for (INT_PTR i = 0; i < m_recommendList2.GetSize(); ++i)
        if (ReadRecommendedEntry(ini, m_recommendList2[i], kCfgRecommendedToken)) m_osImages.Add(m_recommendList2[i]);

    for (INT_PTR i = 0; i < m_peImages.GetSize(); ++i) ReadPeEntry(ini, m_peImages[i]);
    ReadSingleFileRecords(ini);
    ReadGeneralSection(ini);
    return 1;
}

bool CTarvelApp::ReadCatalogueEntry(CIni& ini, const CString& name, COnlinefileinfo& record, const CString& token) {
    record.Reset();
    ini.SetSection(name);
    record.m_title = ini.GetString(kCfgRequiredKey, kCfgRequiredDefault);
    if (record.m_title.IsEmpty()) return false;
    record.m_sectionName = name;
    record.m_typeText = ini.GetString(kCfgTypeKey, kCfgTypeDefault);
    record.m_number = ini.GetInt(kCfgNumberKey, 1);
    record.m_matchMode = ini.GetInt(kCfgMatchKey, 0);
    record.m_title = ini.GetString(kCfgTitleKey, kCfgTitleDefault);
    ReadTexts(ini, record);
    return ReadEntryTail(*this, ini, record, name, token);
}

bool CTarvelApp::ReadRecommendedEntry(CIni& ini, COnlinefileinfo& record, const CString& token) {
    // Not reset: the record keeps the section name and display group that
    // the recommendation table gave it.
    CString section = record.m_sectionName;
    ini.SetSection(section);
    // The title is the required key here; without a title the entry is rejected.
    record.m_title = ini.GetString(kCfgTitleKey, L"");
    if (record.m_title.IsEmpty()) return false;
    record.m_typeText = ini.GetString(kCfgTypeKey, kCfgTypeDefault);
    record.m_number = ini.GetInt(kCfgNumberKey, 1);
    record.m_matchMode = ini.GetInt(kCfgMatchKey, 0);
    ReadTexts(ini, record);
    return ReadEntryTail(*this, ini, record, section, token);
}

void CTarvelApp::ReadPeEntry(CIni& ini, COnlinefileinfo& record) {
    CString section = record.m_sectionName;
    ini.SetSection(section);
    record.m_matchMode = ini.GetInt(kCfgMatchKey, 1);
    CString title = section;
    if (!m_filePrefix.IsEmpty()) title.Replace(m_filePrefix, kCfgPeTitlePrefixReplacement);
    record.m_title = ini.GetString(kCfgTitleKey, CString(kCfgPeTitlePrefix) + title);
    ReadTexts(ini, record);
    record.m_expectedMd5 = ReadDigest(ini, section);
    record.m_requiredUsb = 1;
    ReadMirrorList(ini, record);
}

int CTarvelApp::ReadLinkedFile(CIni& ini, const CString& name) {
    for (INT_PTR i = 0; i < m_linkedFiles.GetSize(); ++i)
        if (m_linkedFiles[i].m_sectionName == name) return (int)i;
    COnlinefileinfo scratch;
    ReadLinkedFileRecord(ini, name, scratch);
    // A section name that makes no plain file name is no linked file.
    if (!IsPlainFileName(scratch.m_fileName)) return -1;
    return (int)m_linkedFiles.Add(scratch);
}

void CTarvelApp::ReadLinkedFileRecord(CIni& ini, const CString& name, COnlinefileinfo& record) {
    record.Reset();
    ini.SetSection(name);
    record.m_sectionName = name;
    record.m_typeText = kCfgLinkedTypeText;
    record.m_number = 1;
    record.m_matchMode = ini.GetInt(kCfgMatchKey, 0);
    record.m_title = kCfgLinkedTitle;
    ReadTexts(ini, record);
    record.m_fileName = name + kCfgLinkedFileSuffix;
    record.m_linkedFileIndex = -1;
    record.m_expectedMd5 = ReadDigest(ini, name);
    record.m_systemTokens = kCfgFileTokens;  // no mask is derived for files
    ReadMirrorList(ini, record);
}

void CTarvelApp::ReadSingleFileRecords(CIni& ini) {
    struct SingleFile {
        const wchar_t* section;
        const wchar_t* typeText;
        const wchar_t* title;
        const wchar_t* fileDefault;  // null: the tool file's fixed name, no key
        int required;
        COnlinefileinfo CTarvelApp::*target;
    } files[] = {
        {kCfgExtra1Section, kCfgExtra1TypeText, kCfgExtra1Title, kCfgExtra1FileDefault, 0, &CTarvelApp::m_extraFile1},
        {kCfgToolSection, kCfgToolTypeText, kCfgToolTitle, nullptr, 1, &CTarvelApp::m_toolFile},
        {kCfgExtra2Section, kCfgExtra2TypeText, kCfgExtra2Title, kCfgExtra2FileDefault, 0, &CTarvelApp::m_extraFile2},
    };
    COnlinefileinfo scratch;
    for (const SingleFile& f : files) {
        scratch.Reset();
        ini.SetSection(f.section);
        scratch.m_sectionName = f.section;
        scratch.m_typeText = f.typeText;
        scratch.m_number = 1;
        scratch.m_matchMode = ini.GetInt(kCfgMatchKey, 0);
        scratch.m_title = f.title;
        ReadTexts(ini, scratch);
        scratch.m_fileName = f.fileDefault ? ini.GetString(kCfgFileKey, f.fileDefault) : m_toolBaseName + kCfgToolFileSuffix;
        scratch.m_required = f.required;
        scratch.m_linkedFileIndex = -1;
        scratch.m_expectedMd5 = ReadDigest(ini, f.section);
        scratch.m_systemTokens = kCfgFileTokens;
        ReadMirrorList(ini, scratch);
        if (!IsPlainFileName(scratch.m_fileName)) {
            // Rejected: a record without a name or mirrors, never fetched.
            scratch.Reset();
            scratch.m_sectionName = f.section;
        }
        this->*f.target = scratch;
    }
}

void CTarvelApp::ReadMirrorList(CIni& ini, COnlinefileinfo& record) {
    // Records read in place (boot environments, recommended entries) must not
    // keep indices of an earlier parse: those point into a link table that
    // has been rebuilt since. Every record starts without mirrors.
    record.m_linkCount = 0;
    for (int i = 0; i < kCfgMaxMirrors; ++i) record.m_linkIndices[i] = -1;

    CStringArray ids;
    CString idList = ini.GetString(kCfgMirrorIdsKey, kCfgMirrorIdsDefault);
    if (idList.IsEmpty()) {
        int count = ini.GetInt(kCfgMirrorCountKey, 0);
        if (count >= 2) {
            if (count > kCfgMaxMirrors) count = kCfgMaxMirrors;
            for (int n = 1; n <= count; ++n) {
                CString id;
                id.Format(kCfgMirrorCountFormat, n);
                ids.Add(id);
            }
        }
    } else {
        SplitAtChar(idList, L'|', ids);
    }
    if (ids.IsEmpty()) return;

    int stored = 0;
    INT_PTR usable = ids.GetSize() < kCfgMaxMirrors ? ids.GetSize() : kCfgMaxMirrors;
    for (INT_PTR i = 0; i < usable; ++i) {
        CFileLinkInfo link;
        link.m_url = ini.GetString(MirrorKey(kCfgMirrorUrlPattern, ids[i]), kCfgMirrorUrlDefault);
        if (link.m_url.IsEmpty()) continue;  // still one of the ten
        link.m_linkType = ini.GetInt(MirrorKey(kCfgMirrorTypePattern, ids[i]), 0);
        record.m_linkIndices[stored++] = AddFileLink(link);
    }
    record.m_linkCount = stored;
}

int CTarvelApp::AddFileLink(const CFileLinkInfo& link) {
    for (INT_PTR i = 0; i < m_fileLinks.GetSize(); ++i) {
        const CFileLinkInfo& known = m_fileLinks[i];
        if (_wcsicmp(known.m_url, link.m_url) == 0 && known.m_linkType == link.m_linkType) return (int)i;
    }
    return (int)m_fileLinks.Add(link);
}

void CTarvelApp::ReadGeneralSection(CIni& ini) {
    ini.SetSection(kCfgGeneralSection);
    m_headerLinkTarget = ini.GetString(kCfgHeaderLinkKey, CString(m_headerLinkTarget));
    m_webLinkTarget = ini.GetString(kCfgWebLinkKey, CString(m_webLinkTarget));
    // A limit of 0 or less (a value that does not parse reads 0) would give
    // up every transfer at its first poll: such a value keeps the default.
    const int stallLimit = ini.GetInt(kCfgStallKey, kCfgStallDefault);
    m_stallLimit = stallLimit > 0 ? stallLimit : kCfgStallDefault;

    struct SwitchKey {
        const wchar_t* key;
        const wchar_t* defaultText;
        const wchar_t* pattern;
        int CTarvelApp::*order;
        int CTarvelApp::*showMain;
        int CTarvelApp::*showRecommended;
    } switches[] = {
        {kCfgPickerSwitchKey, kCfgPickerSwitchDefault, kCfgPickerSwitchPattern, &CTarvelApp::m_pickerListOrder,
         &CTarvelApp::m_pickerShowMain, &CTarvelApp::m_pickerShowRecommended},
        {kCfgUsbSwitchKey, kCfgUsbSwitchDefault, kCfgUsbSwitchPattern, &CTarvelApp::m_usbListOrder,
         &CTarvelApp::m_usbShowMain, &CTarvelApp::m_usbShowRecommended},
    };
    for (const SwitchKey& s : switches) {
        CString text = ini.GetString(s.key, s.defaultText);
        ListSwitch values;
        if (text.IsEmpty() || !ParseListSwitch(text, s.pattern, values)) continue;
        this->*s.order = values.order;
        this->*s.showMain = values.showMain;
        this->*s.showRecommended = values.showRecommended;
    }

    ini.SetSection(kCfgVersionSection);
    m_updateTarget = ini.GetString(kCfgUpdateTargetKey, kCfgUpdateTargetDefault);
    m_forcedUpdateVersion = ini.GetString(kCfgForcedVersionKey, kCfgForcedVersionDefault);
    m_noticeVersion = ini.GetString(kCfgNoticeVersionKey, kCfgNoticeVersionDefault);
}
