// The built-in lists of the application object and the hand-over INI.
#include "core/fixed_texts.h"
#include "core/ini.h"
#include "core/rc4_hex.h"
#include "core/tarvel_app.h"
#include "core/tea.h"

namespace {
// An enciphered entry holds only decimal words, commas and blanks.
bool LooksEnciphered(const CString& entry) {
    if (entry.IsEmpty()) return false;
    for (int i = 0; i < entry.GetLength(); ++i) {
        wchar_t c = entry[i];
        if (!(c >= L'0' && c <= L'9') && c != L',' && c != L' ' && c != L'\t') return false;
    }
    return true;
}
}  // namespace

void CTarvelApp::BuildPeList() {
    if (!m_peImages.IsEmpty()) return;
    COnlinefileinfo pe;
    pe.m_typeText = FixedText::kPeTypeText;
    pe.m_number = 1;
    pe.m_linkedFileIndex = -1;
    pe.m_requiredUsb = 1;
    pe.m_systemTokens = FixedText::kPeSystemTokens;
    for (const wchar_t* token : FixedText::kPeTokens) {
        pe.m_sectionName = m_filePrefix + token;
        pe.m_fileName = pe.m_sectionName + FixedText::kPeFileSuffix;
        m_peImages.Add(pe);
    }
}

void CTarvelApp::DecipherMirrorList() {
    TeaDecipher tea(FixedText::kMirrorPassphrase);
    for (INT_PTR i = 0; i < m_mirrorUrls.GetSize(); ++i) {
        CString& entry = m_mirrorUrls[i];
        if (!LooksEnciphered(entry)) continue;
        tea.Parse(entry);
        tea.Decipher(entry);
    }
}

void CTarvelApp::WriteHandOverIni() {
    const CString password = m_handOverPassword;
    const CString path = m_dataFolder + FixedText::kPathSeparator + m_handOverIniName;
    CIni ini(path);
    ini.SetSection(FixedText::kHandOverSection);
    // A hidden file cannot be replaced by a plain one: let the profile calls
    // rewrite it, then hide it again.
    DWORD attributes = GetFileAttributesW(ini.m_path);
    if (attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY))
        SetFileAttributesW(ini.m_path, FILE_ATTRIBUTE_NORMAL);
    const CString* values[5] = {&m_bootEntryTag, &m_iniPassword, &m_handOverTextA, &m_handOverTextC, &m_handOverTextB};
    for (int i = 0; i < 5; ++i) {
        CString value = EncryptToHex(*values[i], password);
        WritePrivateProfileStringW(ini.m_section, FixedText::kHandOverKeys[i], value, ini.m_path);
    }
    SetFileAttributesW(ini.m_path, FILE_ATTRIBUTE_HIDDEN);
}
