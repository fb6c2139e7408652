// The TEA-family decipher against published vectors and the built-in entry.
#include <gtest/gtest.h>

#include <vector>

#include "core/fixed_texts.h"
#include "core/md5.h"
#include "core/tea.h"

namespace {

// Stores four key words as the decipher reads them (little-endian bytes).
void SetKeyWords(TeaDecipher& tea, const UINT32 (&k)[4]) {
    for (int j = 0; j < 4; ++j)
        for (int b = 0; b < 4; ++b) tea.m_key[4 * j + b] = (BYTE)(k[j] >> (8 * b));
}

TEST(TeaDecipher, ConstructorTakesTheMd5OfThePassphrase) {
    TeaDecipher tea(L"abc");
    EXPECT_EQ(2, tea.m_mode);
    EXPECT_EQ(0x9E3779B9u, tea.m_delta);
    EXPECT_TRUE(tea.m_words.empty());
    // MD5("abc") = 900150983cd24fb0d6963f7d28e17f72 (RFC 1321).
    const BYTE expected[16] = {0x90, 0x01, 0x50, 0x98, 0x3c, 0xd2, 0x4f, 0xb0,
                               0xd6, 0x96, 0x3f, 0x7d, 0x28, 0xe1, 0x7f, 0x72};
    EXPECT_EQ(0, memcmp(expected, tea.m_key, 16));
    Md5Hasher hasher;
    hasher.m_sourceKind = Md5Hasher::kKindText;
    hasher.m_sourceText = L"Kavetta";
    hasher.Compute();
    TeaDecipher other(L"Kavetta");
    EXPECT_EQ(0, memcmp(hasher.m_digest, other.m_key, 16));
}

TEST(TeaDecipher, XxteaPublishedVectorsWithAnInjectedKey) {
    struct Case {
        UINT32 key[4];
        std::vector<UINT32> cipher;
        std::vector<UINT32> plain;
    } cases[] = {
        {{0, 0, 0, 0}, {0x053704AB, 0x575D8C80}, {0, 0}},
        {{0, 0, 0, 0}, {0xE6911910, 0x0C35DCDA}, {0x01020304, 0x05060708}},
    };
    for (const Case& c : cases) {
        TeaDecipher tea(L"unused");
        SetKeyWords(tea, c.key);
        tea.m_words = c.cipher;
        tea.XxteaDecipher();
        EXPECT_EQ(c.plain, tea.m_words);
    }
}

TEST(TeaDecipher, KnownEntryDeciphersToItsText) {
    TeaDecipher tea(L"abc");
    CString text = L"1405520615,1569012247,3240585630";
    tea.Parse(text);
    ASSERT_EQ(3u, tea.m_words.size());
    EXPECT_EQ(3, tea.Decipher(text));
    EXPECT_STREQ(L"Hi!", text);
}

TEST(TeaDecipher, PairModesUsePublishedTeaAndXtea) {
    struct Case {
        int mode;
        UINT32 key[4];
        UINT32 plain[2];
        UINT32 cipher[2];
    } cases[] = {
        {0, {0, 0, 0, 0}, {0, 0}, {0x41EA3A0A, 0x94BAA940}},
        {0, {0, 0, 0, 0}, {0x01020304, 0x05060708}, {0x6A2F9CF3, 0xFCCF3C55}},
        {0, {0x01234567, 0x12345678, 0x23456789, 0x3456789A}, {0x01020304, 0x05060708}, {0x773DC179, 0x878A81C0}},
        {1, {0, 0, 0, 0}, {0, 0}, {0xDEE9D4D8, 0xF7131ED9}},
        {1, {0, 0, 0, 0}, {0x01020304, 0x05060708}, {0x065C1B89, 0x75C6A816}},
        {1, {0x01234567, 0x12345678, 0x23456789, 0x3456789A}, {0x01020304, 0x05060708}, {0x8C67155B, 0x2EF91EAD}},
    };
    for (const Case& c : cases) {
        TeaDecipher tea(L"unused");
        tea.m_mode = c.mode;
        SetKeyWords(tea, c.key);
        // Two blocks and an odd last word: one code unit per pair, the last word untouched.
        tea.m_words = {c.cipher[0], c.cipher[1], c.cipher[0], c.cipher[1], 77};
        CString out;
        EXPECT_EQ(5, tea.Decipher(out)) << c.mode;
        EXPECT_EQ(2, out.GetLength()) << c.mode;
        EXPECT_EQ((wchar_t)(c.plain[0] & 0xFFFF), out[0]) << c.mode;
        std::vector<UINT32> expected = {c.plain[0], c.plain[1], c.plain[0], c.plain[1], 77};
        EXPECT_EQ(expected, tea.m_words) << c.mode;
    }
}

TEST(TeaDecipher, ParseStopsWhereTheWordsEnd) {
    struct Case {
        const wchar_t* text;
        std::vector<UINT32> words;
    } cases[] = {
        {L"12,34 , 56", {12, 34, 56}},
        {L"12,,56", {12}},
        {L"12,0,56", {12}},
        {L"12,abc,56", {12}},
        {L"12x,56", {12, 56}},
        {L"  7  ", {7}},
        {L"4294967294,5", {4294967294u, 5}},
        {L"1,4294967295,5", {1}},
        {L"1,99999999999,5", {1}},
        {L"0,5", {}},
        {L"9,", {9}},
    };
    for (const Case& c : cases) {
        TeaDecipher tea(L"k");
        tea.m_words = {1, 2, 3};  // replaced, never extended
        tea.Parse(c.text);
        EXPECT_EQ(c.words, tea.m_words) << c.text;
    }
}

TEST(TeaDecipher, EmptyTextGivesEmptyOutput) {
    TeaDecipher tea(L"abc");
    tea.Parse(L"1405520615,1569012247,3240585630");
    tea.Parse(L"");
    EXPECT_TRUE(tea.m_words.empty()) << "an earlier entry's words are not deciphered again";
    CString out = L"old";
    EXPECT_EQ(0, tea.Decipher(out));
    EXPECT_STREQ(L"", out);
}

TEST(TeaDecipher, EveryWordGivesOneCodeUnit) {
    TeaDecipher tea(L"abc");
    for (size_t n : {1u, 2u, 5u, 40u}) {
        tea.m_words.assign(n, 0x87654321u);
        CString out;
        EXPECT_EQ((int)n, tea.Decipher(out));
        EXPECT_EQ((int)n, out.GetLength());
    }
}

TEST(TeaDecipher, BuiltInMirrorEntryDeciphersToTheConfiguredUrl) {
    CString entry = CString(FixedText::kBuiltInMirrorHead) + FixedText::kBuiltInMirrorTail;
    TeaDecipher tea(FixedText::kMirrorPassphrase);
    tea.Parse(entry);
    EXPECT_GE(tea.m_words.size(), 2u);
    tea.Decipher(entry);
    EXPECT_STREQ(KAVETTA_TEST_MIRROR_URL, entry);
}

TEST(ExtractSubstring, FieldsBetweenSeparators) {
    EXPECT_STREQ(L"a", ExtractSubstring(L"a,b,,c", 0, L','));
    EXPECT_STREQ(L"b", ExtractSubstring(L"a,b,,c", 1, L','));
    EXPECT_STREQ(L"", ExtractSubstring(L"a,b,,c", 2, L','));
    EXPECT_STREQ(L"c", ExtractSubstring(L"a,b,,c", 3, L','));
    EXPECT_STREQ(L"", ExtractSubstring(L"a,b,,c", 4, L','));
    EXPECT_STREQ(L"abc", ExtractSubstring(L"abc", 0, L','));
}

}  // namespace
