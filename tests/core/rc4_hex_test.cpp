// The hex cipher against an RC4 written here: RC4 keyed with the full 16-byte
// MD5 of the password, which is what CryptDeriveKey gives at the default
// provider's RC4 length (and what the boot environment derives).
#include <gtest/gtest.h>

#include <string>

#include "core/md5.h"
#include "core/rc4_hex.h"
#include "support/code_page.h"
#include "utils_test_support.h"

namespace {

std::string Rc4(const std::string& key, const std::string& data) {
    unsigned char s[256];
    for (int i = 0; i < 256; ++i) s[i] = (unsigned char)i;
    for (int i = 0, j = 0; i < 256; ++i) {
        j = (j + s[i] + (unsigned char)key[i % key.size()]) & 255;
        std::swap(s[i], s[j]);
    }
    std::string out(data.size(), '\0');
    for (size_t n = 0, i = 0, j = 0; n < data.size(); ++n) {
        i = (i + 1) & 255;
        j = (j + s[i]) & 255;
        std::swap(s[i], s[j]);
        out[n] = (char)(data[n] ^ s[(s[i] + s[j]) & 255]);
    }
    return out;
}

std::string Md5Key(const std::string& password) {
    Md5Context context;
    context.Init();
    context.Update(password.data(), password.size());
    context.Final();
    return std::string(reinterpret_cast<const char*>(context.digest), 16);
}

std::string UpperHex(const std::string& bytes) {
    static const char digits[] = "0123456789ABCDEF";
    std::string out;
    for (unsigned char c : bytes) {
        out += digits[c >> 4];
        out += digits[c & 15];
    }
    return out;
}

std::string Expected(const std::string& plain, const std::string& password) {
    return UpperHex(Rc4(Md5Key(password), plain));
}

}  // namespace

TEST(EncryptToHex, PinnedValue) {
    // The value the boot environment expects for this pair; it must never drift.
    EXPECT_EQ("438185AC5F", Narrow(EncryptToHex(L"hello", L"abc")));
}

TEST(EncryptToHex, MatchesAnIndependentRc4) {
    struct {
        const char* plain;
        const char* password;
    } cases[] = {
        {"hello", "abc"},
        {"C:\\KavettaData\\backup", "kvt-ini-7Qm2"},
        {"a", "a much longer password than the sixteen bytes of the key"},
        {"0123456789", ""},  // an empty password hashes zero bytes
        {"same text twice", "same text twice"},
    };
    for (const auto& c : cases) {
        CString hex = EncryptToHex(CString(c.plain), CString(c.password));
        EXPECT_EQ(Expected(c.plain, c.password), Narrow(hex)) << c.plain << " / " << c.password;
        EXPECT_EQ(2 * strlen(c.plain), (size_t)hex.GetLength());
        EXPECT_EQ(c.plain, Narrow(DecryptFromHex(hex, CString(c.password))));
    }
    // Longer than the 4096 spare bytes of the buffer.
    std::string longText(10000, 'x');
    for (size_t i = 0; i < longText.size(); ++i) longText[i] = (char)('a' + i % 26);
    EXPECT_EQ(Expected(longText, "pw"), Narrow(EncryptToHex(CString(longText.c_str()), L"pw")));
}

TEST(EncryptToHex, EmptyPlainTextGivesNoDigits) {
    EXPECT_EQ("", Narrow(EncryptToHex(L"", L"abc")));
    EXPECT_EQ("", Narrow(DecryptFromHex(L"", L"abc")));
}

TEST(DecryptFromHex, AcceptsEitherCaseAndDropsAnUnpairedDigit) {
    EXPECT_EQ("hello", Narrow(DecryptFromHex(L"438185ac5f", L"abc")));
    EXPECT_EQ("hello", Narrow(DecryptFromHex(L"438185Ac5F", L"abc")));
    EXPECT_EQ("hello", Narrow(DecryptFromHex(L"438185AC5F7", L"abc")));
    // Characters that are no hex digits are skipped.
    EXPECT_EQ("hello", Narrow(DecryptFromHex(L"43 81-85:AC 5F", L"abc")));
    // A wrong password is no failure: RC4 has no check, the bytes differ.
    EXPECT_NE("hello", Narrow(DecryptFromHex(L"438185AC5F", L"abd")));
}

TEST(DecryptFromHex, CipherBytesOfZeroSurviveAndPlainTextStopsAtZero) {
    // A text whose cipher text holds a zero byte: at a key-stream byte that is
    // a printable character, the plain text takes that very character. The
    // hex form carries the zero, so the text comes back whole.
    const std::string stream = Rc4(Md5Key("abc"), std::string(64, '\0'));
    std::string plain;
    for (size_t i = 0; i < stream.size() && plain.empty(); ++i) {
        if (stream[i] < 0x21 || stream[i] > 0x7e) continue;
        plain = std::string(i, 'a') + stream[i] + "tail";
        for (size_t k = 0; k < plain.size(); ++k)
            if (k != i && plain[k] == stream[k]) plain[k] = 'b';
    }
    ASSERT_FALSE(plain.empty());
    CString hex = EncryptToHex(CString(plain.c_str()), L"abc");
    EXPECT_NE(std::string::npos, Narrow(hex).find("00"));
    EXPECT_EQ(plain, Narrow(DecryptFromHex(hex, L"abc")));

    // A deciphered text with a zero byte inside is cut there.
    std::string withZero("ab\0cd", 5);
    EXPECT_EQ("ab", Narrow(DecryptFromHex(CString(UpperHex(Rc4(Md5Key("abc"), withZero)).c_str()), L"abc")));
}

TEST(HexToBytes, CountsCompleteBytesPlusOneAndTerminates) {
    struct {
        const char* text;
        int result;
        std::string bytes;  // including the terminating zero
    } cases[] = {
        {"", 1, std::string("\0", 1)},
        {"AB", 2, std::string("\xAB\0", 2)},
        {"abC", 2, std::string("\xAB\0", 2)},
        {"0f1E", 3, std::string("\x0F\x1E\0", 3)},
        {"x0-fz", 2, std::string("\x0F\0", 2)},
    };
    for (const auto& c : cases) {
        unsigned char out[8];
        memset(out, 0x55, sizeof out);
        EXPECT_EQ(c.result, HexToBytes(c.text, out)) << c.text;
        EXPECT_EQ(c.bytes, std::string(reinterpret_cast<char*>(out), c.result)) << c.text;
    }
}

TEST(EncryptBuffer, ReportsTheCipherLength) {
    const BYTE input[] = {1, 2, 3, 4, 5};
    BYTE buffer[5 + 4096];
    DWORD length = sizeof buffer;
    ASSERT_TRUE(EncryptBuffer(buffer, &length, input, 5, reinterpret_cast<const BYTE*>("abc"), 3));
    EXPECT_EQ(5u, length);
    EXPECT_EQ(Rc4(Md5Key("abc"), std::string("\1\2\3\4\5")), std::string(reinterpret_cast<char*>(buffer), 5));
    BYTE plain[5 + 4096];
    DWORD plainLength = 0;
    ASSERT_TRUE(DecryptBuffer(plain, &plainLength, buffer, 5, reinterpret_cast<const BYTE*>("abc"), 3));
    EXPECT_EQ(5u, plainLength);
    EXPECT_EQ(0, memcmp(plain, input, 5));
}

TEST(DecryptFromHex, DropsADoubleByteCharacterCutInHalf) {
    SKIP_UNLESS_CODE_PAGE(936, "Chinese text is enciphered as GBK bytes, two a character");
    // "中文" is four cipher bytes; six digits keep "中" and the lead byte of "文".
    CString hex = EncryptToHex(L"中文", L"pw");
    ASSERT_EQ(8, hex.GetLength());
    EXPECT_EQ(std::wstring(L"中"), std::wstring(DecryptFromHex(hex.Left(6), L"pw").GetString()));
    EXPECT_EQ(std::wstring(L"中文"), std::wstring(DecryptFromHex(hex, L"pw").GetString()));
    // A single-byte character before it: nothing whole is lost.
    CString mixed = EncryptToHex(L"a中文", L"pw");
    EXPECT_EQ(std::wstring(L"a中"), std::wstring(DecryptFromHex(mixed.Left(8), L"pw").GetString()));
}
