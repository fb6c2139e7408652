// The configuration parser against the test catalogue in tests/fixtures, in
// both forms, field by field; bad input; a fuzz loop; the recommendation
// tables; and the whole fetch against a local server.
#include <gtest/gtest.h>

#include <functional>
#include <random>
#include <string>
#include <vector>

#include "core/catalogue.h"
#include "core/fixed_texts.h"
#include "core/online_config.h"
#include "core/rc4_hex.h"
#include "core/tarvel_app.h"
#include "core_test_support.h"
#include "support/route_table.h"
#include "support/code_page.h"
#include "support/temp_folder.h"

using namespace FixedText;

namespace {

const ULONGLONG kMiB = 1024ull * 1024;

std::wstring FixturePath(const wchar_t* name) {
    return std::wstring(TestProgramFolder().GetString()) + L"\\fixtures\\" + name;
}
std::string FixtureBytes(const wchar_t* name) { return TempFolder::Read(FixturePath(name)); }

std::string Narrow(const CString& s) { return CStringA(Utf16ToUtf8(s)).GetString(); }

// Sentinels in the fields that reading a boot-environment section must leave alone.
const wchar_t* const kPeFileSentinel = L"pe-file-set-by-the-built-in-list";

// The three boot-environment records of the built-in list, with a sentinel
// in a field that reading their sections must leave alone.
void PreparePeList(CTarvelApp& app) {
    app.m_peImages.RemoveAll();
    app.BuildPeList();
    for (INT_PTR i = 0; i < app.m_peImages.GetSize(); ++i) app.m_peImages[i].m_fileName = kPeFileSentinel;
}

// What the system check does before a fetch, with table D (MBR, 8 GiB, another kind).
void PrepareCheck(CTarvelApp& app) {
    app.BuildRecommendLists(L"another system", 8192 * kMiB, FALSE);
    PreparePeList(app);
}

std::vector<int> Links(const COnlinefileinfo& r) {
    std::vector<int> v;
    for (int i = 0; i < r.m_linkCount && i < 10; ++i) v.push_back(r.m_linkIndices[i]);
    return v;
}

std::vector<int> Range(int first, int last) {
    std::vector<int> v;
    for (int i = first; i <= last; ++i) v.push_back(i);
    return v;
}

// The enciphered form of a plain configuration text, made with the
// program's own cipher (for variants the committed fixture does not cover).
std::string Encipher(const std::string& plain, const wchar_t* password) {
    std::string out;
    size_t pos = 0;
    while (pos < plain.size()) {
        size_t end = plain.find('\n', pos);
        if (end == std::string::npos) end = plain.size();
        std::string line = plain.substr(pos, end - pos);
        pos = end + 1;
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.empty()) continue;
        auto hex = [&](const std::string& s) { return std::string(CStringA(EncryptToHex(CString(s.c_str()), password))); };
        if (line[0] == ';') {
            if (line == ";KAVETTA-CATALOGUE") out += hex(line) + "\r\n";
        } else if (line[0] == '[') {
            out += "[" + hex(line.substr(1, line.size() - 2)) + "]\r\n";
        } else {
            // Key and value as the profile reader gives them: without the blanks around them.
            auto trim = [](std::string t) {
                size_t first = t.find_first_not_of(" \t"), last = t.find_last_not_of(" \t");
                return first == std::string::npos ? std::string() : t.substr(first, last - first + 1);
            };
            size_t eq = line.find('=');
            out += hex(trim(line.substr(0, eq))) + "=" + hex(trim(line.substr(eq + 1))) + "\r\n";
        }
    }
    return out;
}

// Replaces the first occurrence; a pattern that is not there fails the test.
std::string Replace(std::string s, const std::string& from, const std::string& to) {
    size_t at = s.find(from);
    if (at == std::string::npos) {
        ADD_FAILURE() << "not in the fixture: " << from;
        return s;
    }
    s.replace(at, from.size(), to);
    return s;
}

std::string Hex(const wchar_t* text, const wchar_t* password = kIniPassword) {
    return std::string(CStringA(EncryptToHex(text, password)));
}

struct ImageRow {
    const wchar_t* section;
    const wchar_t* token;
    int group;
    const wchar_t* title;
    const wchar_t* typeText;
    int number, matchMode;
    const wchar_t* fileName;
    int usbOffer;
    const wchar_t* md5;
    BYTE mask;
    std::vector<int> links;
    int linkedFile;
};

// m_osImages of the fixture under table D, in order.
std::vector<ImageRow> ExpectedImages() {
    return {
        {L"win10_pro_x64", L"win1064", 0, L"Windows 10 Pro 22H2 x64", L"iso", 3, 1, L"win10_pro_x64.iso", 1,
         L"0123456789ABCDEF0123456789ABCDEF", 0xC0, {0, 1}, 0},
        {L"win10_ltsc_x64", L"win1064", 0, L"Windows 10 LTSC x64", L"wim", 0, 2, L"win10_ltsc_x64.wim", 0,
         L"WIN10_LTSC_X64.NOMD5", 0xC0, {0, 3}, -1},
        {L"shared_img", L"win1064", 0, L"Shared image", L"iso", 1, 0, L"shared_img.iso", 0,
         L"FEDCBA9876543210FEDCBA9876543210", 0xC0, Range(4, 13), 0},
        {L"win7_ult_x64", L"win764", 0, L"Windows 7 Ultimate x64", L"iso", 1, 0, L"win7_ult_x64.iso", 1,
         L"WIN7_ULT_X64.NOMD5", 0xA0, {14, 15, 16, 17, 18, 19, 20, 21, 22}, -1},
        {L"shared_img", L"win764", 0, L"Shared image", L"iso", 1, 0, L"shared_img.iso", 0,
         L"FEDCBA9876543210FEDCBA9876543210", 0xA0, Range(4, 13), 0},
        {L"win7_nomirror", L"win764", 0, L"Windows 7 without mirrors", L"iso", 1, 0, L"win7_nomirror.iso", 0,
         L"WIN7_NOMIRROR.NOMD5", 0xA0, {}, -1},
        // The first recommendation list (table D: rows 4 and 7 are rejected).
        {L"rec_win10x64", kCfgRecommendedToken, 1, L"Recommended: Windows 10 x64", L"esd", 2, 1, L"rec_win10x64.esd", 1,
         L"11112222333344445555666677778888", 0xC0, {23, 0}, -1},
        {L"rec_win7x64", kCfgRecommendedToken, 0, L"Recommended: Windows 7 x64", L"iso", 1, 0, L"rec_win7x64.iso", 0,
         L"REC_WIN7X64.NOMD5", 0xC0, {}, -1},
        {L"rec_win81x64", kCfgRecommendedToken, 0, L"Recommended: Windows 8.1 x64", L"iso", 1, 0, L"win81.iso", 0,
         L"REC_WIN81X64.NOMD5", 0xC0, {24, 25}, -1},
        {L"rec_win10x86", kCfgRecommendedToken, 0, L"Recommended: Windows 10 x86", L"iso", 1, 0, L"rec_win10x86.iso", 0,
         L"REC_WIN10X86.NOMD5", 0xC0, {26}, 0},
        {L"rec_win7x86", kCfgRecommendedToken, 0, L"Recommended: Windows 7 x86", L"iso", 1, 0, L"rec_win7x86.iso", 0,
         L"REC_WIN7X86.NOMD5", 0xC0, {27}, -1},
        // The second list.
        {L"rec_lite_x64", kCfgRecommendedToken, 1, L"Lite Windows 10 x64", L"iso", 1, 0, L"rec_lite_x64.iso", 0,
         L"REC_LITE_X64.NOMD5", 0xC0, {28}, -1},
        {L"rec_pure_x64", kCfgRecommendedToken, 0, L"Pure Windows 10 x64", L"iso", 1, 0, L"rec_pure_x64.iso", 0,
         L"REC_PURE_X64.NOMD5", 0xC0, {29}, 1},
    };
}

void ExpectImage(const ImageRow& e, const COnlinefileinfo& r, const std::string& where) {
    EXPECT_EQ(CString(e.section), r.m_sectionName) << where;
    EXPECT_EQ(CString(e.token), r.m_systemTokens) << where;
    EXPECT_EQ(e.group, r.m_displayGroup) << where;
    EXPECT_EQ(CString(e.title), r.m_title) << where;
    EXPECT_EQ(CString(e.typeText), r.m_typeText) << where;
    EXPECT_EQ(e.number, r.m_number) << where;
    EXPECT_EQ(e.matchMode, r.m_matchMode) << where;
    EXPECT_EQ(CString(e.fileName), r.m_fileName) << where;
    EXPECT_EQ(e.usbOffer, r.m_usbOffer) << where;
    EXPECT_EQ(CString(e.md5), r.m_expectedMd5) << where;
    EXPECT_EQ((int)e.mask, (int)r.m_systemMask) << where;
    EXPECT_EQ(e.links, Links(r)) << where;
    EXPECT_EQ(e.linkedFile, r.m_linkedFileIndex) << where;
}

// Checks the whole catalogue of the fixture (parsed under table D).
void ExpectFixtureCatalogue(CTarvelApp& app, const char* form) {
    SCOPED_TRACE(form);
    struct CategoryRow {
        const wchar_t* id;
        int enabled;
        const wchar_t* caption;
        const wchar_t* text;
    } categories[] = {
        {L"win1064", 1, L"Windows 10 64-bit", L"Windows 10 for 64-bit machines"},
        {L"win764", 1, L"Windows 7 64-bit", L"Windows 7 for 64-bit machines"},
        {L"win864", 0, L"", L""},               // empty list
        {L"win1032", 0, L"", L""},              // no list key
        {L"win732", 0, L"", L""},               // a list but an empty caption
        {L"win832", 1, L"Windows 8.1 32-bit", L"Listed, but none of its images is accepted"},
        {L"xp", 0, L"", L""},                   // no section at all
    };
    ASSERT_EQ(7, app.m_osCategories.GetSize());
    for (int i = 0; i < 7; ++i) {
        const COsCatInfo& c = app.m_osCategories[i];
        EXPECT_EQ(CString(categories[i].id), c.m_id) << i;
        EXPECT_EQ(categories[i].enabled, c.m_enabled) << Narrow(c.m_id);
        EXPECT_EQ(CString(categories[i].caption), c.m_caption) << Narrow(c.m_id);
        EXPECT_EQ(CString(categories[i].text), c.m_text) << Narrow(c.m_id);
    }

    std::vector<ImageRow> images = ExpectedImages();
    ASSERT_EQ((INT_PTR)images.size(), app.m_osImages.GetSize());
    for (size_t i = 0; i < images.size(); ++i) ExpectImage(images[i], app.m_osImages[i], "image " + std::to_string(i));
    EXPECT_EQ(6, app.m_recommend1Start);
    EXPECT_EQ(11, app.m_recommend2Start);
    // The rejected entries stay in their list.
    ASSERT_EQ(7, app.m_recommendList1.GetSize());
    EXPECT_EQ(CString(L"rec_win11x64"), app.m_recommendList1[3].m_sectionName);
    EXPECT_TRUE(app.m_recommendList1[3].m_title.IsEmpty());
    EXPECT_TRUE(app.m_recommendList1[6].m_title.IsEmpty());

    // Linked files: read once each, in first-use order.
    ASSERT_EQ(2, app.m_linkedFiles.GetSize());
    ImageRow drivers = {L"drivers_pack", kCfgFileTokens, 0, kCfgLinkedTitle, kCfgLinkedTypeText, 1, 1,
                        L"drivers_pack.zip", 0, L"AAAABBBBCCCCDDDDEEEEFFFF00001111", 0x80, {2}, -1};
    ExpectImage(drivers, app.m_linkedFiles[0], "drivers_pack");
    EXPECT_EQ(CString(L"Drivers and tools"), app.m_linkedFiles[0].m_description);
    EXPECT_EQ(CString(L"120 MB"), app.m_linkedFiles[0].m_detail2);
    EXPECT_EQ(CString(kCfgDetail1Default), app.m_linkedFiles[0].m_detail1);
    ImageRow pure = {L"pure_tools", kCfgFileTokens, 0, kCfgLinkedTitle, kCfgLinkedTypeText, 1, 0,
                     L"pure_tools.zip", 0, L"PURE_TOOLS.NOMD5", 0x80, {}, -1};
    ExpectImage(pure, app.m_linkedFiles[1], "pure_tools");
    EXPECT_EQ(CString(kCfgDescriptionDefault), app.m_linkedFiles[1].m_description);

    // Texts of one fully written image and one that uses the defaults.
    EXPECT_EQ(CString(L"Windows 10 Pro, 22H2, 64-bit"), app.m_osImages[0].m_description);
    EXPECT_EQ(CString(L"4.6 GB"), app.m_osImages[0].m_detail2);
    EXPECT_EQ(CString(L"2026-11"), app.m_osImages[0].m_detail1);
    EXPECT_EQ(CString(kCfgDescriptionDefault), app.m_osImages[1].m_description);
    EXPECT_EQ(CString(kCfgDetail2Default), app.m_osImages[1].m_detail2);

    // Boot environments: read in place; the other fields stay as the built-in list set them.
    ASSERT_EQ(3, app.m_peImages.GetSize());
    struct PeRow {
        int matchMode;
        const wchar_t* title;
        const wchar_t* description;
        const wchar_t* md5;
        std::vector<int> links;
    } pe[] = {
        {2, L"Boot environment 7", L"For older machines", L"99990000AAAABBBBCCCCDDDDEEEEFFFF", {30, 31}},
        {1, L"维护环境 Win8pe", L"A boot environment without mirrors", L"KVT8PE.NOMD5", {}},
        {1, L"Boot environment 10", kCfgDescriptionDefault, L"ABCDEFABCDEFABCDEFABCDEFABCDEFAB", {32, 32}},
    };
    for (int i = 0; i < 3; ++i) {
        const COnlinefileinfo& r = app.m_peImages[i];
        EXPECT_EQ(pe[i].matchMode, r.m_matchMode) << i;
        EXPECT_EQ(CString(pe[i].title), r.m_title) << i;
        EXPECT_EQ(CString(pe[i].description), r.m_description) << i;
        EXPECT_EQ(CString(pe[i].md5), r.m_expectedMd5) << i;
        EXPECT_EQ(pe[i].links, Links(r)) << i;
        EXPECT_EQ(1, r.m_requiredUsb) << i;
        EXPECT_EQ(CString(kPeFileSentinel), r.m_fileName) << i;
        EXPECT_EQ(-1, r.m_linkedFileIndex) << i;
    }

    // The single files.
    struct SingleRow {
        const COnlinefileinfo* record;
        const wchar_t* section;
        const wchar_t* title;
        const wchar_t* typeText;
        int matchMode;
        const wchar_t* description;
        CString fileName;
        int required;
        const wchar_t* md5;
        std::vector<int> links;
    } singles[] = {
        {&app.m_extraFile1, kCfgExtra1Section, kCfgExtra1Title, kCfgExtra1TypeText, 1, L"First extra file",
         L"extra_one.zip", 0, L"12121212343434345656565678787878", {33}},
        {&app.m_toolFile, kCfgToolSection, kCfgToolTitle, kCfgToolTypeText, 0, L"The tool file",
         app.m_toolBaseName + kCfgToolFileSuffix, 1, L"CAFEBABECAFEBABECAFEBABECAFEBABE", {34, 35}},
        {&app.m_extraFile2, kCfgExtra2Section, kCfgExtra2Title, kCfgExtra2TypeText, 0, kCfgDescriptionDefault,
         kCfgExtra2FileDefault, 0, L"EXTRA2.NOMD5", {}},
    };
    for (const SingleRow& s : singles) {
        const COnlinefileinfo& r = *s.record;
        std::string where = Narrow(s.section);
        EXPECT_EQ(CString(s.section), r.m_sectionName) << where;
        EXPECT_EQ(CString(s.title), r.m_title) << where;
        EXPECT_EQ(CString(s.typeText), r.m_typeText) << where;
        EXPECT_EQ(1, r.m_number) << where;
        EXPECT_EQ(s.matchMode, r.m_matchMode) << where;
        EXPECT_EQ(CString(s.description), r.m_description) << where;
        EXPECT_EQ(s.fileName, r.m_fileName) << where;
        EXPECT_EQ(s.required, r.m_required) << where;
        EXPECT_EQ(-1, r.m_linkedFileIndex) << where;
        EXPECT_EQ(CString(s.md5), r.m_expectedMd5) << where;
        EXPECT_EQ(CString(kCfgFileTokens), r.m_systemTokens) << where;
        EXPECT_EQ(0x80, (int)r.m_systemMask) << where;
        EXPECT_EQ(s.links, Links(r)) << where;
    }

    // The link table: one entry per distinct URL (case ignored) and type.
    ASSERT_EQ(36, app.m_fileLinks.GetSize());
    struct LinkRow {
        int index, type;
        const wchar_t* url;
    } links[] = {
        {0, 0, L"http://127.0.0.1:18080/files/Win10_Pro_x64.iso"},  // as first written
        {1, 2, L"http://127.0.0.1:18080/share/win10pro"},
        {2, 0, L"http://127.0.0.1:18080/files/drivers_pack.zip"},
        {3, 2, L"http://127.0.0.1:18080/files/Win10_Pro_x64.iso"},  // same URL, other type
        {4, 0, L"http://127.0.0.1:18080/files/shared_1.iso"},
        {13, 0, L"http://127.0.0.1:18080/files/shared_10.iso"},
        {16, 0, L"http://127.0.0.1:18080/files/w7_4.iso"},
        {22, 0, L"http://127.0.0.1:18080/files/w7_10.iso"},
        {23, 0, L"http://127.0.0.1:18080/files/rec_win10x64.esd"},
        {31, 2, L"http://127.0.0.1:18080/share/kvt7pe"},
        {32, 0, L"http://127.0.0.1:18080/files/kvt10pe.wim"},
        {35, 2, L"http://127.0.0.1:18080/share/kvttool"},
    };
    for (const LinkRow& l : links) {
        EXPECT_EQ(l.type, app.m_fileLinks[l.index].m_linkType) << l.index;
        EXPECT_EQ(CString(l.url), app.m_fileLinks[l.index].m_url) << l.index;
    }
    for (INT_PTR i = 0; i < app.m_fileLinks.GetSize(); ++i)
        for (INT_PTR j = i + 1; j < app.m_fileLinks.GetSize(); ++j)
            EXPECT_FALSE(_wcsicmp(app.m_fileLinks[i].m_url, app.m_fileLinks[j].m_url) == 0 &&
                         app.m_fileLinks[i].m_linkType == app.m_fileLinks[j].m_linkType)
                << i << " and " << j;

    // General and version values.
    EXPECT_EQ(CString(L"http://127.0.0.1:18080/home"), app.m_headerLinkTarget);
    EXPECT_EQ(CString(L"http://127.0.0.1:18080/help"), app.m_webLinkTarget);
    EXPECT_EQ(35, app.m_stallLimit);
    EXPECT_EQ(0, app.m_pickerListOrder);  // "  MR10 "
    EXPECT_EQ(1, app.m_pickerShowMain);
    EXPECT_EQ(0, app.m_pickerShowRecommended);
    EXPECT_EQ(1, app.m_usbListOrder);  // "rm11"
    EXPECT_EQ(1, app.m_usbShowMain);
    EXPECT_EQ(1, app.m_usbShowRecommended);
    EXPECT_EQ(CString(L"http://127.0.0.1:18080/files/kvtupdate.exe"), app.m_updateTarget);
    EXPECT_EQ(CString(L"1.0.0.0"), app.m_forcedUpdateVersion);
    EXPECT_EQ(CString(L"9.9.9.9"), app.m_noticeVersion);
}

// What a parse that finds no section at all leaves (the wrong form or password).
void ExpectNothingFound(CTarvelApp& app) {
    for (INT_PTR i = 0; i < app.m_osCategories.GetSize(); ++i) EXPECT_EQ(0, app.m_osCategories[i].m_enabled) << i;
    EXPECT_EQ(0, app.m_osImages.GetSize());
    EXPECT_EQ(0, app.m_recommend1Start);
    EXPECT_EQ(0, app.m_recommend2Start);
    EXPECT_EQ(0, app.m_fileLinks.GetSize());
    EXPECT_EQ(0, app.m_linkedFiles.GetSize());
    ASSERT_EQ(3, app.m_peImages.GetSize());
    EXPECT_EQ(CString(L"维护环境 Win7pe"), app.m_peImages[0].m_title);
    EXPECT_EQ(1, app.m_peImages[0].m_matchMode);
    EXPECT_EQ(0, app.m_peImages[0].m_linkCount);
    EXPECT_EQ(CString(L"KVT10PE.NOMD5"), app.m_peImages[2].m_expectedMd5);
    EXPECT_EQ(CString(kCfgExtra1FileDefault), app.m_extraFile1.m_fileName);
    EXPECT_EQ(0, app.m_toolFile.m_linkCount);
    EXPECT_EQ(20, app.m_stallLimit);
    EXPECT_EQ(CString(kHeaderLinkTarget), app.m_headerLinkTarget);  // its own current value
    EXPECT_EQ(0, app.m_pickerListOrder);
    EXPECT_EQ(1, app.m_pickerShowRecommended);
    EXPECT_TRUE(app.m_updateTarget.IsEmpty());
    EXPECT_TRUE(app.m_noticeVersion.IsEmpty());
}

int ParseText(CTarvelApp& app, TempFolder& dir, const std::string& bytes, BOOL enciphered) {
    std::wstring path = dir.Write(L"config.ini", bytes);
    return app.ParseOnlineConfig(path.c_str(), enciphered);
}

}  // namespace

TEST(ParseOnlineConfig, FixtureInBothForms) {
    struct Form {
        const char* name;
        const wchar_t* file;
        BOOL enciphered;
    } forms[] = {
        {"plain", L"online_config_plain.ini", FALSE},
        {"enciphered", L"online_config_enciphered.ini", TRUE},
    };
    for (const Form& f : forms) {
        CTarvelApp app;
        PrepareCheck(app);
        ASSERT_EQ(1, app.ParseOnlineConfig(FixturePath(f.file).c_str(), f.enciphered)) << f.name;
        ExpectFixtureCatalogue(app, f.name);
    }
}

TEST(ParseOnlineConfig, TheGeneratorAgreesWithTheProgramsCipher) {
    // The enciphered fixture is made by a Python RC4; its marker line must be
    // what the program's CryptoAPI cipher makes of the marker.
    std::string bytes = FixtureBytes(L"online_config_enciphered.ini");
    std::string firstLine = bytes.substr(0, bytes.find("\r\n"));
    EXPECT_EQ(Hex(kConfigMarker), firstLine);
    EXPECT_EQ(kConfigEnciphered,
              ClassifyConfigLine(CString(firstLine.c_str()), kConfigMarker, EncryptToHex(kConfigMarker, kIniPassword)));
    EXPECT_NE(std::string::npos, bytes.find("[" + Hex(L"win10_pro_x64") + "]"));
    EXPECT_NE(std::string::npos, bytes.find(Hex(L"title") + "=" + Hex(L"Windows 10 Pro 22H2 x64") + "\r\n"));
}

TEST(ParseOnlineConfig, RepeatedCheckLeavesNoStaleRecords) {
    CTarvelApp app;
    PrepareCheck(app);
    std::wstring path = FixturePath(L"online_config_plain.ini");
    ASSERT_EQ(1, app.ParseOnlineConfig(path.c_str(), FALSE));
    // Another table in between: other categories, other entries.
    app.BuildRecommendLists(L"another system", 2048 * kMiB, FALSE);  // table C
    ASSERT_EQ(1, app.ParseOnlineConfig(path.c_str(), FALSE));
    EXPECT_EQ(CString(L"win732"), app.m_osCategories[0].m_id);
    EXPECT_EQ(0, app.m_osCategories[0].m_enabled);
    // Back to table D, as a repeated check does: exactly the first catalogue again.
    PrepareCheck(app);
    ASSERT_EQ(1, app.ParseOnlineConfig(path.c_str(), FALSE));
    ExpectFixtureCatalogue(app, "third parse");
    // A parse without a new table reads the recommended entries again in place.
    ASSERT_EQ(1, app.ParseOnlineConfig(path.c_str(), FALSE));
    ExpectFixtureCatalogue(app, "fourth parse");
}

TEST(ParseOnlineConfig, BootEnvironmentWithoutMirrorsKeepsNoOldIndices) {
    CTarvelApp app;
    PrepareCheck(app);
    TempFolder dir;
    std::string plain = FixtureBytes(L"online_config_plain.ini");
    ASSERT_EQ(1, ParseText(app, dir, plain, FALSE));
    ASSERT_EQ(2, app.m_peImages[0].m_linkCount);
    // The same boot environment without its mirror keys: no indices into the rebuilt table remain.
    std::string withoutMirrors = Replace(plain, "mirrors=a|b\r\nurla=http://127.0.0.1:18080/files/kvt7pe.wim", "");
    ASSERT_NE(plain, withoutMirrors);
    ASSERT_EQ(1, ParseText(app, dir, withoutMirrors, FALSE));
    EXPECT_EQ(0, app.m_peImages[0].m_linkCount);
    for (int i = 0; i < 10; ++i) EXPECT_EQ(-1, app.m_peImages[0].m_linkIndices[i]) << i;
}

TEST(ParseOnlineConfig, WrongFormOrPasswordFindsNothing) {
    TempFolder dir;
    std::string plain = FixtureBytes(L"online_config_plain.ini");
    struct Case {
        const char* name;
        std::string bytes;
        BOOL enciphered;
    } cases[] = {
        {"enciphered read as plain", FixtureBytes(L"online_config_enciphered.ini"), FALSE},
        {"plain read as enciphered", plain, TRUE},
        {"under another password", Encipher(plain, L"another password"), TRUE},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        CTarvelApp app;
        PrepareCheck(app);
        ASSERT_EQ(1, ParseText(app, dir, c.bytes, c.enciphered));
        ExpectNothingFound(app);
    }
    // The program's own enciphering of the fixture reads like the generator's.
    CTarvelApp app;
    PrepareCheck(app);
    ASSERT_EQ(1, ParseText(app, dir, Encipher(plain, kIniPassword), TRUE));
    ExpectFixtureCatalogue(app, "enciphered by the program");
}

TEST(ParseOnlineConfig, MissingFileChangesNothing) {
    CTarvelApp app;
    PrepareCheck(app);
    ASSERT_EQ(1, app.ParseOnlineConfig(FixturePath(L"online_config_plain.ini").c_str(), FALSE));
    TempFolder dir;
    EXPECT_EQ(0, app.ParseOnlineConfig(dir.File(L"absent.ini").c_str(), FALSE));
    EXPECT_EQ(0, app.ParseOnlineConfig(L"", TRUE));
    ExpectFixtureCatalogue(app, "after the missing file");
}

TEST(ParseOnlineConfig, BadInput) {
    TempFolder dir;
    std::string plain = FixtureBytes(L"online_config_plain.ini");
    std::string enciphered = FixtureBytes(L"online_config_enciphered.ini");
    const std::string titleKey = Hex(L"title") + "=";
    const std::string proTitle = titleKey + Hex(L"Windows 10 Pro 22H2 x64") + "\r\n";
    struct Case {
        const char* name;
        std::string bytes;
        BOOL enciphered;
        std::function<void(CTarvelApp&)> check;
    } cases[] = {
        {"unknown section", plain + "[mystery]\r\nname=x\r\nlist=a|b\r\n", FALSE,
         [](CTarvelApp& app) { ExpectFixtureCatalogue(app, "unknown section"); }},
        {"missing required key", Replace(plain, "name=win10pro\r\n", ""), FALSE,
         [](CTarvelApp& app) {
             ASSERT_EQ(12, app.m_osImages.GetSize());
             EXPECT_EQ(CString(L"win10_ltsc_x64"), app.m_osImages[0].m_sectionName);
             EXPECT_EQ(5, app.m_recommend1Start);
         }},
        {"garbage numbers", Replace(Replace(plain, "stall=35", "stall=fast"), "number=3", "number=x3"), FALSE,
         [](CTarvelApp& app) {
             EXPECT_EQ(20, app.m_stallLimit) << "a stall limit that does not parse keeps the default";
             EXPECT_EQ(0, app.m_osImages[0].m_number);
         }},
        {"missing stall key", Replace(plain, "stall=35\r\n", ""), FALSE,
         [](CTarvelApp& app) { EXPECT_EQ(20, app.m_stallLimit); }},
        {"not hex where a value belongs", Replace(enciphered, proTitle, titleKey + "ZZ-not-hex\r\n"), TRUE,
         [](CTarvelApp& app) {
             // Nothing deciphers from it: the title takes its default; the entry stays.
             ASSERT_EQ(13, app.m_osImages.GetSize());
             EXPECT_EQ(CString(kCfgTitleDefault), app.m_osImages[0].m_title);
             EXPECT_EQ(CString(L"Windows 10 LTSC x64"), app.m_osImages[1].m_title);
         }},
        {"a value under another password", Replace(enciphered, proTitle, titleKey + Hex(L"Windows 10 Pro 22H2 x64", L"other") + "\r\n"),
         TRUE,
         [](CTarvelApp& app) {
             // RC4 has no integrity check: the title is garbage, and accepted.
             ASSERT_EQ(13, app.m_osImages.GetSize());
             EXPECT_FALSE(app.m_osImages[0].m_title.IsEmpty());
             EXPECT_NE(CString(L"Windows 10 Pro 22H2 x64"), app.m_osImages[0].m_title);
         }},
    };
    for (Case& c : cases) {
        SCOPED_TRACE(c.name);
        CTarvelApp app;
        PrepareCheck(app);
        ASSERT_EQ(1, ParseText(app, dir, c.bytes, c.enciphered));
        c.check(app);
    }
}

// The stall limit is a count of one-second polls: only a positive number
// replaces the default of 20; 0, a negative number or text keeps it.
TEST(ParseOnlineConfig, OnlyAPositiveStallLimitReplacesTheDefault) {
    TempFolder dir;
    const std::string plain = FixtureBytes(L"online_config_plain.ini");
    const struct {
        const char* value;
        int limit;
    } cases[] = {
        {"35", 35}, {"1", 1}, {"0", 20}, {"-5", 20}, {"fast", 20}, {"", 20}, {" 7", 7}, {"12abc", 12},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.value);
        CTarvelApp app;
        PrepareCheck(app);
        app.m_stallLimit = 99;
        ASSERT_EQ(1, ParseText(app, dir, Replace(plain, "stall=35", std::string("stall=") + c.value), FALSE));
        EXPECT_EQ(c.limit, app.m_stallLimit);
    }
}

TEST(ParseOnlineConfig, TruncatedFiles) {
    TempFolder dir;
    for (const wchar_t* name : {L"online_config_plain.ini", L"online_config_enciphered.ini"}) {
        std::string bytes = FixtureBytes(name);
        BOOL enciphered = std::wstring(name).find(L"enciphered") != std::wstring::npos;
        // Cuts anywhere, also inside names, keys, values and hex digits.
        const size_t pieces = enciphered ? 4 : 13;
        for (size_t cut = 0; cut <= bytes.size(); cut += bytes.size() / pieces + 1) {
            CTarvelApp app;
            PrepareCheck(app);
            ASSERT_EQ(1, ParseText(app, dir, bytes.substr(0, cut), enciphered)) << cut;
            EXPECT_LE(app.m_osImages.GetSize(), 13) << cut;
            if (cut < bytes.size() / 2) EXPECT_LT(app.m_osImages.GetSize(), 13) << cut;
        }
        CTarvelApp app;
        PrepareCheck(app);
        ASSERT_EQ(1, ParseText(app, dir, bytes.substr(0, bytes.size() - 3), enciphered));
        EXPECT_EQ(13, app.m_osImages.GetSize()) << "only the last value was cut";
    }
}

TEST(ParseOnlineConfig, FuzzedFixturesNeitherCrashNorHang) {
    TempFolder dir;
    std::mt19937 random(20261210);
    const char noise[] = "[]=|\r\n;%sx0A\0\xff\xfe\xef";
    for (const wchar_t* name : {L"online_config_plain.ini", L"online_config_enciphered.ini"}) {
        std::string original = FixtureBytes(name);
        BOOL enciphered = std::wstring(name).find(L"enciphered") != std::wstring::npos;
        // An enciphered parse costs two cipher calls a key, so it gets fewer rounds.
        const int rounds = enciphered ? 4 : 80;
        for (int round = 0; round < rounds; ++round) {
            std::string bytes = original;
            int edits = 1 + (int)(random() % 40);
            for (int e = 0; e < edits && !bytes.empty(); ++e) {
                size_t at = random() % bytes.size();
                switch (random() % 4) {
                    case 0: bytes[at] = noise[random() % (sizeof(noise) - 1)]; break;
                    case 1: bytes.erase(at, 1 + random() % 64); break;
                    case 2: bytes.insert(at, 1, noise[random() % (sizeof(noise) - 1)]); break;
                    case 3: bytes.insert(at, bytes.substr(random() % bytes.size(), 1 + random() % 200)); break;
                }
            }
            CTarvelApp app;
            PrepareCheck(app);
            ASSERT_EQ(1, ParseText(app, dir, bytes, enciphered)) << round;
            ASSERT_LE(app.m_fileLinks.GetSize(), 10 * (app.m_osImages.GetSize() + app.m_linkedFiles.GetSize() + 6)) << round;
            for (INT_PTR i = 0; i < app.m_osImages.GetSize(); ++i) {
                const COnlinefileinfo& r = app.m_osImages[i];
                ASSERT_LE(r.m_linkCount, 10);
                for (int k = 0; k < r.m_linkCount; ++k) {
                    ASSERT_GE(r.m_linkIndices[k], 0);
                    ASSERT_LT(r.m_linkIndices[k], app.m_fileLinks.GetSize());
                }
                ASSERT_LT(r.m_linkedFileIndex, app.m_linkedFiles.GetSize());
            }
        }
    }
}

TEST(ParseOnlineConfig, TextEncodings) {
    // The same small configuration in each encoding the reader handles.
    const wchar_t* wide =
        L";KAVETTA-CATALOGUE\r\n[win1064]\r\nlist=img\r\ncaption=Windows 10 专业版\r\n"
        L"[img]\r\nname=img\r\ntitle=纯净版 Windows 10\r\ndesc=多行\r\nmirrors=1\r\nurl1=http://127.0.0.1/镜像.iso\r\n";
    const wchar_t* latin = L";KAVETTA-CATALOGUE\r\n[win1064]\r\nlist=img\r\ncaption=Caf\u00e9 10\r\n"
                           L"[img]\r\nname=img\r\ntitle=Cr\u00e8me\r\nmirrors=1\r\nurl1=http://127.0.0.1/a.iso\r\n";
    std::string utf8 = std::string(CStringA(Utf16ToUtf8(wide)));
    std::string utf16 = "\xff\xfe" + std::string((const char*)wide, wcslen(wide) * 2);
    struct Case {
        const char* name;
        std::string bytes;
        const wchar_t* caption;
        const wchar_t* title;
    } cases[] = {
        {"UTF-8 without mark", utf8, L"Windows 10 专业版", L"纯净版 Windows 10"},
        {"UTF-8 with mark", "\xef\xbb\xbf" + utf8, L"Windows 10 专业版", L"纯净版 Windows 10"},
        {"UTF-16 with mark", utf16, L"Windows 10 专业版", L"纯净版 Windows 10"},
    };
    TempFolder dir;
    auto check = [&](const std::string& bytes, const wchar_t* caption, const wchar_t* title, const char* name) {
        SCOPED_TRACE(name);
        CTarvelApp app;
        PrepareCheck(app);
        ASSERT_EQ(1, ParseText(app, dir, bytes, FALSE));
        EXPECT_EQ(Narrow(caption), Narrow(app.m_osCategories[0].m_caption));
        ASSERT_GE(app.m_osImages.GetSize(), 1);
        EXPECT_EQ(Narrow(title), Narrow(app.m_osImages[0].m_title));
        EXPECT_EQ(1, app.m_osImages[0].m_linkCount);
    };
    for (const Case& c : cases) {
        check(c.bytes, c.caption, c.title, c.name);
    }

    // ANSI: only where the code page holds the characters.
    BOOL lossy = FALSE;
    int n = WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, latin, -1, nullptr, 0, nullptr, &lossy);
    std::string ansi(n, '\0');
    WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, latin, -1, &ansi[0], n, nullptr, &lossy);
    ansi.resize(strlen(ansi.c_str()));
    if (!lossy) check(ansi, L"Caf\u00e9 10", L"Cr\u00e8me", "ANSI");
}

// The hand-written Chinese configuration (tests/fixtures/online_config_chinese.ini).
void ExpectChineseCatalogue(CTarvelApp& app) {
    EXPECT_EQ(1, app.m_osCategories[0].m_enabled);
    EXPECT_EQ(L"Windows 10 64位", std::wstring(app.m_osCategories[0].m_caption));
    EXPECT_EQ(L"适用于 64 位电脑的系统版", std::wstring(app.m_osCategories[0].m_text));
    ASSERT_EQ(2, app.m_osImages.GetSize());
    const COnlinefileinfo& pro = app.m_osImages[0];
    EXPECT_EQ(L"专业版镜像", std::wstring(pro.m_sectionName));
    EXPECT_EQ(L"Windows 10 专业版", std::wstring(pro.m_title));  // blanks around it dropped
    EXPECT_EQ(L"iso", std::wstring(pro.m_typeText));
    EXPECT_EQ(2, pro.m_number);
    EXPECT_EQ(1, pro.m_matchMode);
    EXPECT_EQ(L"带引号的介绍，末尾是汉字位", std::wstring(pro.m_description));  // quotes dropped
    EXPECT_EQ(L"4.6 GB", std::wstring(pro.m_detail2));
    EXPECT_EQ(L"2026年11月", std::wstring(pro.m_detail1));
    EXPECT_EQ(L"win10_专业版.iso", std::wstring(pro.m_fileName));
    EXPECT_EQ(1, pro.m_usbOffer);
    EXPECT_EQ(L"0123456789ABCDEF0123456789ABCDEF", std::wstring(pro.m_expectedMd5));
    ASSERT_EQ(2, pro.m_linkCount);
    EXPECT_EQ(L"http://127.0.0.1:18080/files/专业版.iso", std::wstring(app.m_fileLinks[pro.m_linkIndices[0]].m_url));
    ASSERT_EQ(0, pro.m_linkedFileIndex);
    EXPECT_EQ(L"驱动包.zip", std::wstring(app.m_linkedFiles[0].m_fileName));
    EXPECT_EQ(L"驱动与工具", std::wstring(app.m_linkedFiles[0].m_description));
    EXPECT_EQ(1, app.m_linkedFiles[0].m_linkCount);
    const COnlinefileinfo& lite = app.m_osImages[1];
    EXPECT_EQ(L"精简版 Windows 10", std::wstring(lite.m_title));
    EXPECT_EQ(L"lite.iso", std::wstring(lite.m_fileName));
    EXPECT_EQ(1, lite.m_number);
    EXPECT_EQ(0, lite.m_linkCount);  // a count of 1 stands for no id
    EXPECT_EQ(35, app.m_stallLimit);
    EXPECT_EQ(L"9.9.9.9", std::wstring(app.m_noticeVersion));
}

TEST(ParseOnlineConfig, HandWrittenChineseConfigurationInPlainForm) {
    // UTF-8 without a mark, read the same under every code page.
    CTarvelApp app;
    PrepareCheck(app);
    ASSERT_EQ(1, app.ParseOnlineConfig(FixturePath(L"online_config_chinese.ini").c_str(), FALSE));
    ExpectChineseCatalogue(app);
}

TEST(ParseOnlineConfig, HandWrittenChineseConfigurationInEncipheredForm) {
    SKIP_UNLESS_CODE_PAGE(936, "the enciphered form holds Chinese values as GBK bytes");
    CTarvelApp app;
    PrepareCheck(app);
    ASSERT_EQ(1, app.ParseOnlineConfig(FixturePath(L"online_config_chinese_enciphered.ini").c_str(), TRUE));
    ExpectChineseCatalogue(app);
}

TEST(ParseOnlineConfig, FileNamesThatLeaveTheDataFolderAreRejected) {
    // Names from the configuration are joined to the data folder, where the
    // queue moves and deletes files, the USB writer copies them and the
    // restart INI hands them to the boot environment.
    const char* const hostile[] = {"..\\evil.iso", "../evil.iso", "sub\\evil.iso", "sub/evil.iso", "C:evil.iso",
                                   "C:\\Windows\\evil.iso", "\\\\server\\share\\evil.iso", "..", ".",
                                   "evil.iso.", "CON", "nul.iso", "COM1.txt", "a*b.iso", "a?b", "a\"b", "a<b>", "a|b"};
    // Parses the text in both forms; one image must be accepted.
    auto parseBoth = [](const std::string& plain, const std::function<void(CTarvelApp&)>& check) {
        for (BOOL enciphered : {FALSE, TRUE}) {
            SCOPED_TRACE(enciphered ? "enciphered form" : "plain form");
            TempFolder dir;
            CTarvelApp app;
            PrepareCheck(app);
            ASSERT_EQ(1, ParseText(app, dir, enciphered ? Encipher(plain, kIniPassword) : plain, enciphered));
            ASSERT_EQ(1, app.m_osImages.GetSize());
            check(app);
        }
    };
    for (const char* name : hostile) {
        SCOPED_TRACE(name);
        parseBoth(std::string(";KAVETTA-CATALOGUE\r\n[win1064]\r\nlist=bad|good\r\ncaption=c\r\n") +
                      "[bad]\r\nname=n\r\nfile=" + name + "\r\nmirrors=1\r\nurl1=http://127.0.0.1/b\r\n" +
                      "[good]\r\nname=n\r\nfile=good.iso\r\nmirrors=1\r\nurl1=http://127.0.0.1/g\r\n" +
                      "[extra1]\r\nfile=" + name + "\r\nmirrors=1\r\nurl1=http://127.0.0.1/e\r\n",
                  [](CTarvelApp& app) {
                      EXPECT_EQ(L"good", std::wstring(app.m_osImages[0].m_sectionName));
                      EXPECT_TRUE(app.m_extraFile1.m_fileName.IsEmpty());
                      EXPECT_EQ(0, app.m_extraFile1.m_linkCount);
                  });
    }
    // A linked file's name comes from its section name: an image whose
    // linked file would leave the folder is rejected with it.
    parseBoth(";KAVETTA-CATALOGUE\r\n[win1064]\r\nlist=img|ok\r\ncaption=c\r\n"
              "[img]\r\nname=n\r\nlink=..\\..\\drivers\r\n[..\\..\\drivers]\r\nmirrors=1\r\nurl1=u\r\n"
              "[ok]\r\nname=n\r\nlink=drivers\r\n[drivers]\r\nmirrors=1\r\nurl1=u\r\n",
              [](CTarvelApp& app) {
                  EXPECT_EQ(L"ok", std::wstring(app.m_osImages[0].m_sectionName));
                  ASSERT_EQ(1, app.m_linkedFiles.GetSize());
                  EXPECT_EQ(L"drivers.zip", std::wstring(app.m_linkedFiles[0].m_fileName));
              });
}

TEST(ParseOnlineConfig, MirrorLists) {
    // Ids: a list (empty fields count, the first ten are used) or a count.
    struct Case {
        const char* name;
        const char* keys;
        std::vector<std::string> urls;  // the record's mirrors, in order
    } cases[] = {
        {"no keys", "", {}},
        {"count 0", "mirrorcount=0\r\nurl1=u1\r\n", {}},
        {"count 1", "mirrorcount=1\r\nurl1=u1\r\n", {}},
        {"count 2", "mirrorcount=2\r\nurl1=u1\r\nurl2=u2\r\nurl3=u3\r\n", {"u1", "u2"}},
        {"count 15", "mirrorcount=15\r\nurl1=u1\r\nurl10=u10\r\nurl11=u11\r\n", {"u1", "u10"}},
        {"list wins over count", "mirrors=3\r\nmirrorcount=2\r\nurl1=u1\r\nurl3=u3\r\n", {"u3"}},
        {"list of names", "mirrors=x|y\r\nurlx=ux\r\nurly=uy\r\n", {"ux", "uy"}},
        {"empty field and trailing separator", "mirrors=|a|\r\nurl=u-empty\r\nurla=ua\r\n", {"u-empty", "ua"}},
        {"twelve ids, empty URL still counts",
         "mirrors=1|2|3|4|5|6|7|8|9|10|11|12\r\nurl1=u1\r\nurl3=u3\r\nurl10=u10\r\nurl11=u11\r\nurl12=u12\r\n",
         {"u1", "u3", "u10"}},
        {"format text in an id is just text", "mirrors=%s%n|%d\r\nurl%s%n=odd\r\nurl%d=odd2\r\n", {"odd", "odd2"}},
    };
    TempFolder dir;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        CTarvelApp app;
        PrepareCheck(app);
        std::string bytes = std::string(";KAVETTA-CATALOGUE\r\n[win1064]\r\nlist=img\r\ncaption=c\r\n[img]\r\nname=n\r\n") +
                            c.keys + "urltype2=2\r\n";
        ASSERT_EQ(1, ParseText(app, dir, bytes, FALSE));
        ASSERT_EQ(1, app.m_osImages.GetSize());
        std::vector<std::string> urls;
        const COnlinefileinfo& r = app.m_osImages[0];
        for (int i = 0; i < r.m_linkCount; ++i) urls.push_back(Narrow(app.m_fileLinks[r.m_linkIndices[i]].m_url));
        EXPECT_EQ(c.urls, urls);
        if (c.urls.size() >= 2 && std::string(c.name) == "count 2") EXPECT_EQ(2, app.m_fileLinks[1].m_linkType);
    }
}

TEST(AddFileLink, SharesEntriesByUrlAndType) {
    CTarvelApp app;
    auto link = [](int type, const wchar_t* url) {
        CFileLinkInfo l;
        l.m_linkType = type;
        l.m_url = url;
        return l;
    };
    EXPECT_EQ(0, app.AddFileLink(link(0, L"http://Host/A.iso")));
    EXPECT_EQ(0, app.AddFileLink(link(0, L"HTTP://host/a.ISO")));
    EXPECT_EQ(1, app.AddFileLink(link(2, L"http://host/a.iso")));
    EXPECT_EQ(2, app.AddFileLink(link(0, L"http://host/a.iso ")));
    EXPECT_EQ(1, app.AddFileLink(link(2, L"http://HOST/a.iso")));
    EXPECT_EQ(3, app.m_fileLinks.GetSize());
    EXPECT_EQ(CString(L"http://Host/A.iso"), app.m_fileLinks[0].m_url) << "the first spelling is kept";
}

TEST(BuildRecommendLists, ChoosesTheTable) {
    const ULONGLONG limit = 3000 * kMiB;  // exactly 3000 MiB
    struct Case {
        const char* name;
        const wchar_t* kind;
        ULONGLONG memory;
        BOOL gpt;
        int table;  // 0 A, 1 B, 2 C, 3 D
    } cases[] = {
        {"GPT, little memory", L"another system", 512 * kMiB, TRUE, 0},
        {"GPT, much memory, listed kind", kRecommendKindTexts[0], 16384 * kMiB, TRUE, 0},
        {"exactly 3000 MiB", kRecommendKindTexts[0], limit, FALSE, 2},
        {"one byte less", L"another system", limit - 1, FALSE, 2},
        {"no memory reported", L"", 0, FALSE, 2},
        {"one byte more, listed kind 1", kRecommendKindTexts[0], limit + 1, FALSE, 1},
        {"listed kind 2", kRecommendKindTexts[1], 8192 * kMiB, FALSE, 1},
        {"listed kind 3", kRecommendKindTexts[2], 8192 * kMiB, FALSE, 1},
        {"one byte more, other kind", L"another system", limit + 1, FALSE, 3},
        {"kind compared exactly", L"windows 10", 8192 * kMiB, FALSE, 3},
        {"empty kind", L"", 8192 * kMiB, FALSE, 3},
    };
    // The display groups of each table, in row order.
    const std::vector<int> groups[4][3] = {
        {{1, 0, 0, 2, 2, 2}, {1, 0, 0, 2, 2, 2, 2}, {1, 0}},
        {{1, 0, 0, 0, 0, 0, 2}, {1, 0, 0, 0, 0, 0, 2}, {1, 0}},
        {{1, 0, 0, 0, 0, 0, 0}, {1, 0, 0, 0, 0, 0, 0}, {1, 0}},
        {{1, 0, 0, 0, 0, 0, 0}, {1, 0, 0, 0, 0, 0, 0}, {1, 0}},
    };
    CTarvelApp app;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        app.m_selectedPeIndex = 7;
        CString hint = app.BuildRecommendLists(c.kind, c.memory, c.gpt);
        EXPECT_EQ(CString(kRecommendTables[c.table].hint), hint);
        EXPECT_EQ(c.table == 2 ? 0 : 2, app.m_selectedPeIndex);
        std::vector<int> got[3];
        for (INT_PTR i = 0; i < app.m_osCategories.GetSize(); ++i) {
            const COsCatInfo& cat = app.m_osCategories[i];
            got[0].push_back(cat.m_displayGroup);
            EXPECT_EQ(1, cat.m_enabled);
            EXPECT_NE(0x80, (int)cat.m_systemMask) << "a row that is not a system-type token: " << Narrow(cat.m_id);
            EXPECT_EQ(0x80, cat.m_systemMask & 0x80);
        }
        for (INT_PTR i = 0; i < app.m_recommendList1.GetSize(); ++i) got[1].push_back(app.m_recommendList1[i].m_displayGroup);
        for (INT_PTR i = 0; i < app.m_recommendList2.GetSize(); ++i) got[2].push_back(app.m_recommendList2[i].m_displayGroup);
        for (int k = 0; k < 3; ++k) EXPECT_EQ(groups[c.table][k], got[k]) << "list " << k;
        // Entry rows carry only their section name and group.
        for (INT_PTR i = 0; i < app.m_recommendList1.GetSize(); ++i) {
            const COnlinefileinfo& r = app.m_recommendList1[i];
            EXPECT_EQ(CString(kRecommendTables[c.table].list1[i].text), r.m_sectionName);
            EXPECT_EQ(0, r.m_linkCount);
            EXPECT_EQ(-1, r.m_linkedFileIndex);
        }
    }
    // The tokens of table A, with their masks.
    app.BuildRecommendLists(L"", 0, TRUE);
    const wchar_t* tokens[] = {L"win1064", L"win864", L"win764", L"win1032", L"win732", L"xp"};
    const int masks[] = {0xC0, 0x90, 0xA0, 0x84, 0x88, 0x81};
    for (int i = 0; i < 6; ++i) {
        EXPECT_EQ(CString(tokens[i]), app.m_osCategories[i].m_id);
        EXPECT_EQ(masks[i], (int)app.m_osCategories[i].m_systemMask) << i;
    }
}

TEST(FetchOnlineConfig, LoadsTheFixtureFromTheThirdMirror) {
    for (const wchar_t* file : {L"online_config_plain.ini", L"online_config_enciphered.ini"}) {
        SCOPED_TRACE(Narrow(file));
        RouteTable routes;
        LocalHttpServer server(routes.Handler());
        ASSERT_TRUE(server.Started());
        routes.Set("/missing", 404, FixtureBytes(file));
        routes.Set("/nomarker", 200, "[general]\r\nstall=5\r\n");
        routes.Set("/catalogue.ini", 200, "\r\n\r\n" + FixtureBytes(file));
        TempFolder work;
        CTarvelApp app;
        app.m_workFolder = work.Path().c_str();
        app.m_workFolderCreated = true;  // as PrepareWorkFolder leaves it
        app.m_mirrorUrls.RemoveAll();
        for (const char* path : {"/missing", "/nomarker", "/catalogue.ini"}) app.m_mirrorUrls.Add(server.WideUrl(path).c_str());
        PrepareCheck(app);
        app.m_configLoaded = 7;
        EXPECT_EQ(1, app.FetchOnlineConfig());
        EXPECT_EQ(1, app.m_configLoaded);
        ExpectFixtureCatalogue(app, "fetched");
        EXPECT_EQ(0u, work.Count()) << "the temporary file remained";
    }
}

TEST(FetchOnlineConfig, NoMirrorNoConfiguration) {
    RouteTable routes;
    LocalHttpServer server(routes.Handler());
    routes.Set("/line2", 200, "[general]\r\n;KAVETTA-CATALOGUE\r\n");
    TempFolder work;
    CTarvelApp app;
    app.m_workFolder = work.Path().c_str();
    app.m_workFolderCreated = true;  // as PrepareWorkFolder leaves it, so the mirrors are asked
    PrepareCheck(app);
    app.m_mirrorUrls.RemoveAll();
    app.m_mirrorUrls.Add(server.WideUrl("/line2").c_str());
    app.m_mirrorUrls.Add((L"http://127.0.0.1:" + std::to_wstring(UnusedLocalPort()) + L"/x").c_str());
    app.m_configLoaded = 7;
    EXPECT_EQ(0, app.FetchOnlineConfig());
    EXPECT_EQ(0, app.m_configLoaded);
    EXPECT_EQ(0, app.m_osImages.GetSize());
    // The first mirror answered (its marker is not on the first line), the
    // second could not be reached, and the temporary file went.
    EXPECT_EQ(std::vector<std::string>{"/line2"}, RequestedTargets(server));
    EXPECT_EQ(0u, work.Count());
    app.m_mirrorUrls.RemoveAll();
    EXPECT_EQ(0, app.FetchOnlineConfig());
    EXPECT_EQ(0u, work.Count());
}
