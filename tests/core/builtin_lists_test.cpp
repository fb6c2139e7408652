// The boot-environment list, the built-in mirror list and the hand-over INI.
#include <gtest/gtest.h>

#include "core/fixed_texts.h"
#include "core/rc4_hex.h"
#include "core/tarvel_app.h"
#include "support/test_files.h"

namespace {

TEST(BuildPeList, ThreeBootEnvironmentRecordsOnce) {
    CTarvelApp app;
    app.BuildPeList();
    ASSERT_EQ(3, app.m_peImages.GetSize());
    const wchar_t* tokens[] = {L"7pe", L"8pe", L"10pe"};
    for (int i = 0; i < 3; ++i) {
        const COnlinefileinfo& pe = app.m_peImages[i];
        EXPECT_STREQ(app.m_filePrefix + tokens[i], pe.m_sectionName);
        EXPECT_STREQ(pe.m_sectionName + FixedText::kPeFileSuffix, pe.m_fileName);
        EXPECT_STREQ(FixedText::kPeTypeText, pe.m_typeText);
        EXPECT_STREQ(FixedText::kPeSystemTokens, pe.m_systemTokens);
        EXPECT_EQ(1, pe.m_number);
        EXPECT_EQ(-1, pe.m_linkedFileIndex);
        EXPECT_EQ(1, pe.m_requiredUsb);
        EXPECT_EQ(0, pe.m_checkState);
    }
    EXPECT_EQ(2, app.m_selectedPeIndex);
    EXPECT_EQ(2, app.m_usbPeIndex);
    app.m_peImages[2].m_title = L"filled by the configuration";
    app.BuildPeList();
    ASSERT_EQ(3, app.m_peImages.GetSize());
    EXPECT_STREQ(L"filled by the configuration", app.m_peImages[2].m_title);
}

TEST(DecipherMirrorList, BuiltInEntryBecomesTheUrlOnce) {
    CTarvelApp app;
    ASSERT_EQ(1, app.m_mirrorUrls.GetSize());
    EXPECT_STRNE(KAVETTA_TEST_MIRROR_URL, app.m_mirrorUrls[0]) << "stored enciphered";
    app.DecipherMirrorList();
    EXPECT_STREQ(KAVETTA_TEST_MIRROR_URL, app.m_mirrorUrls[0]);
    app.DecipherMirrorList();
    EXPECT_STREQ(KAVETTA_TEST_MIRROR_URL, app.m_mirrorUrls[0]);
}

class HandOverIni : public testing::Test {
protected:
    void SetUp() override {
        m_folder = MakeTempFolder(L"handover");
        m_app.m_dataFolder = m_folder.c_str();
        m_path = m_folder + L"\\" + m_app.m_handOverIniName.GetString();
    }
    void TearDown() override { RemoveTree(m_folder); }
    CString Value(const wchar_t* key) {
        wchar_t buf[1024] = {};
        GetPrivateProfileStringW(FixedText::kHandOverSection, key, L"", buf, 1024, m_path.c_str());
        return buf;
    }
    void ExpectValues() {
        const CString plain[5] = {m_app.m_bootEntryTag, m_app.m_iniPassword, m_app.m_handOverTextA,
                                  m_app.m_handOverTextC, m_app.m_handOverTextB};
        for (int i = 0; i < 5; ++i) {
            CString stored = Value(FixedText::kHandOverKeys[i]);
            ASSERT_FALSE(stored.IsEmpty()) << i;
            CString upper = stored;
            upper.MakeUpper();
            EXPECT_STREQ(upper, stored) << "upper-case hex";
            EXPECT_STRNE(plain[i], stored) << i;
            EXPECT_STREQ(plain[i], DecryptFromHex(stored, m_app.m_handOverPassword)) << i;
        }
        // Windows reports hidden alone; Wine also keeps reporting the archive bit.
        DWORD attributes = GetFileAttributesW(m_path.c_str());
        EXPECT_EQ((DWORD)FILE_ATTRIBUTE_HIDDEN, attributes & ~(DWORD)FILE_ATTRIBUTE_ARCHIVE);
    }
    CTarvelApp m_app;
    std::wstring m_folder, m_path;
};

TEST_F(HandOverIni, FiveEncipheredValuesInAHiddenFile) {
    m_app.WriteHandOverIni();
    ExpectValues();
    // The keys stand in the file in their order, in one plain section.
    std::string text = ReadWholeFile(m_path);
    size_t at = text.find("[handover]");
    ASSERT_NE(std::string::npos, at);
    for (const wchar_t* key : FixedText::kHandOverKeys) {
        size_t next = text.find("\n" + std::string(CStringA(key).GetString()) + "=", at);
        ASSERT_NE(std::string::npos, next) << CStringA(key).GetString();
        at = next;
    }
}

TEST_F(HandOverIni, SecondWriteOverwritesAndStaysHidden) {
    m_app.WriteHandOverIni();
    m_app.m_bootEntryTag = L"another tag";
    m_app.WriteHandOverIni();
    ExpectValues();
    EXPECT_STREQ(L"another tag", DecryptFromHex(Value(FixedText::kHandOverKeys[0]), m_app.m_handOverPassword));
}

TEST_F(HandOverIni, MissingDataFolderLeavesNothing) {
    m_app.m_dataFolder = (m_folder + L"\\gone").c_str();
    m_app.WriteHandOverIni();
    EXPECT_FALSE(FileExists(m_folder + L"\\gone\\" + m_app.m_handOverIniName.GetString()));
}

}  // namespace
