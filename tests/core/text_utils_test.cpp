// Text, size and version utilities.
#include <gtest/gtest.h>
#include <process.h>

#include <set>
#include <string>
#include <vector>

#include "core/fixed_texts.h"
#include "core/text_utils.h"
#include "core_test_support.h"
#include "utils_test_support.h"

namespace {

std::vector<std::string> Items(const CStringArray& array) {
    std::vector<std::string> items;
    for (INT_PTR i = 0; i < array.GetSize(); ++i) items.push_back(Narrow(array[i]));
    return items;
}

std::string NameOf(const wchar_t* buffer) { return Narrow(CString(buffer)); }

}  // namespace

TEST(MakeRandomName, TenLettersOrDigitsThenATerminator) {
    bool upper = false, lower = false, digit = false;
    for (int n = 0; n < 200; ++n) {
        wchar_t buffer[12];
        buffer[11] = L'#';
        MakeRandomName(buffer);
        EXPECT_EQ(0, buffer[10]);
        EXPECT_EQ(L'#', buffer[11]) << "wrote past the terminator";
        for (int i = 0; i < 10; ++i) {
            wchar_t c = buffer[i];
            ASSERT_TRUE(iswascii(c) && iswalnum(c)) << NameOf(buffer);
            upper |= iswupper(c) != 0;
            lower |= iswlower(c) != 0;
            digit |= iswdigit(c) != 0;
        }
    }
    EXPECT_TRUE(upper && lower && digit);
}

namespace {

unsigned __stdcall MakeNames(void* arg) {
    auto* names = static_cast<std::vector<std::string>*>(arg);
    for (int i = 0; i < 500; ++i) {
        wchar_t buffer[11];
        MakeRandomName(buffer);
        names->push_back(NameOf(buffer));
    }
    return 0;
}

}  // namespace

TEST(MakeRandomName, SuccessiveCallsOnAnyThreadDiffer) {
    // The work folder's five tries follow each other within one second; each
    // must get a new name, also when two threads draw at once.
    std::vector<std::string> a, b;
    HANDLE threads[2] = {(HANDLE)_beginthreadex(nullptr, 0, MakeNames, &a, 0, nullptr),
                         (HANDLE)_beginthreadex(nullptr, 0, MakeNames, &b, 0, nullptr)};
    WaitForMultipleObjects(2, threads, TRUE, 30000);
    CloseHandle(threads[0]);
    CloseHandle(threads[1]);
    std::set<std::string> all(a.begin(), a.end());
    all.insert(b.begin(), b.end());
    EXPECT_EQ(1000u, all.size());
}

TEST(CompareVersions, Table) {
    struct {
        const wchar_t* first;
        const wchar_t* second;
        int expected;
    } cases[] = {
        {L"1.2.3.4", L"1.2.3.4", 0},
        {L"1.2.3.4", L"1.2.3.5", -1},  // only the fourth part is larger
        {L"1.2.3.5", L"1.2.3.4", 1},
        {L"1.2", L"1.2.0.0", 0},       // missing parts count as 0
        {L"1.2", L"1.2.0.1", -1},
        {L"2", L"1.9.9.9", 1},
        {L"1.10.0.0", L"1.9.0.0", 1},  // numbers, not characters
        {L"", L"0.0.0.0", 0},
        {L"1.2.3.4.5", L"1.2.3.4", 0},  // a fifth part is not read
        {L"-1", L"0", -1},              // signed parts
        {nullptr, L"1.0", -2},
        {L"1.0", nullptr, -2},
        {nullptr, nullptr, -2},
    };
    for (const auto& c : cases)
        EXPECT_EQ(c.expected, CompareVersions(c.first, c.second))
            << (c.first ? Narrow(c.first) : "null") << " vs " << (c.second ? Narrow(c.second) : "null");
}

TEST(GetFileVersionText, ProductVersionOrTheFixedTexts) {
    ScratchFolder folder(L"version");
    CString plain = folder / L"plain.txt";
    ASSERT_TRUE(WriteBytes(plain, "no resources here"));
    CString truncated = folder / L"truncated.exe";
    // The first 300 bytes of a real program: a PE header whose resources lie
    // beyond the end of the file.
    ASSERT_TRUE(WriteBytes(truncated, ReadBytes(TestProgramFolder() + L"\\exit_code.exe").substr(0, 300)));
    struct {
        CString path;
        CString expected;
    } cases[] = {
        // The helper's file version is 1.2.3.4; the product version is read.
        {TestProgramFolder() + L"\\exit_code.exe", L"5.60.700.8000"},
        {plain, FixedText::kNoVersionResourceText},
        {truncated, FixedText::kNoVersionResourceText},
        {folder / L"missing.exe", FixedText::kNoVersionText},
        {folder.Path(), FixedText::kNoVersionText},
    };
    for (const auto& c : cases) EXPECT_EQ(Narrow(c.expected), Narrow(GetFileVersionText(c.path))) << Narrow(c.path);
    EXPECT_EQ(Narrow(FixedText::kNoVersionText), Narrow(GetFileVersionText(nullptr)));
    // The program's version resource and its own version text agree.
    EXPECT_EQ(0, CompareVersions(GetFileVersionText(TestProgramFolder() + L"\\kavetta.exe"), FixedText::kOwnVersion));
}

TEST(FormatSizeText, StepsOf1024) {
    struct {
        ULONGLONG count;
        const char* expected;
    } cases[] = {
        {0, "0.00 bytes"},
        {1023, "1023.00 bytes"},
        {1024, "1.00 KB"},
        {1536, "1.50 KB"},
        {1048576 - 513, "1.00 MB"},  // 1023.5 KB is still above 1023
        {1048576 - 1024 - 1, "1023.00 KB"},
        {8ULL << 30, "8.00 GB"},
        {3ULL << 40, "3.00 TB"},
        {0xFFFFFFFFFFFFFFFFULL, "16.00 EB"},
    };
    for (const auto& c : cases) EXPECT_EQ(c.expected, Narrow(FormatSizeText(c.count))) << c.count;
}

TEST(FormatByteSize, StepsOf1000) {
    struct {
        ULONGLONG count;
        const char* expected;
    } cases[] = {
        {0, "0 bytes"},
        {999, "999 bytes"},
        {1000, "1 KB"},
        {1001, "2 KB"},  // rounded up up to GB
        {999999, "1 MB"},
        {16000000000ULL, "16 GB"},
        {15728640000ULL, "16 GB"},
        {1500000000000ULL, "1 TB"},  // rounded down from TB on
        {2000398934016ULL, "2 TB"},
    };
    for (const auto& c : cases) EXPECT_EQ(c.expected, Narrow(FormatByteSize(c.count))) << c.count;
}

TEST(FormatDuration, HoursMinutesSecondsOfOneDay) {
    struct {
        DWORD seconds;
        const char* expected;
    } cases[] = {
        {0, "00:00:00"},
        {59, "00:00:59"},
        {3599, "00:59:59"},
        {86399, "23:59:59"},
        {86400, "00:00:00"},
        {86400 + 3600 + 60 + 1, "01:01:01"},  // the day is dropped
        {0xFFFFFFFFu, "06:28:15"},
    };
    for (const auto& c : cases) EXPECT_EQ(c.expected, Narrow(FormatDuration(c.seconds))) << c.seconds;
}

TEST(SplitString, RunsOfDelimitersSeparateOnce) {
    struct {
        const wchar_t* text;
        const wchar_t* delimiters;
        std::vector<std::string> expected;
    } cases[] = {
        {L"a,,,b", L",", {"a", "b"}},
        {L",a;b,", L",;", {"a", "b"}},
        {L"one\r\ntwo\r\n\r\nthree", L"\r\n", {"one", "two", "three"}},
        {L"abc", L",", {"abc"}},
        {L",,,", L",", {}},
        {L"", L",", {}},
    };
    for (const auto& c : cases) {
        CStringArray tokens;
        tokens.Add(L"left over");
        SplitString(c.text, c.delimiters, tokens);
        EXPECT_EQ(c.expected, Items(tokens)) << Narrow(c.text);
    }
}

TEST(SplitAtChar, EmptyFieldsStayExceptAfterTheLastDelimiter) {
    struct {
        const wchar_t* text;
        std::vector<std::string> expected;
    } cases[] = {
        {L"a|b|c", {"a", "b", "c"}},
        {L"|a||b|", {"", "a", "", "b"}},
        {L"a||", {"a", ""}},
        {L"|", {""}},
        {L"abc", {"abc"}},
        {L"", {}},
    };
    for (const auto& c : cases) {
        CStringArray fields;
        fields.Add(L"left over");
        SplitAtChar(c.text, L'|', fields);
        EXPECT_EQ(c.expected, Items(fields)) << Narrow(c.text);
    }
}

TEST(Utf8ToWide, StrictDecoding) {
    struct {
        const char* bytes;
        int capacity;
        int expected;
        std::wstring units;
    } cases[] = {
        {"abc", 8, 3, L"abc"},
        {"\xE4\xB8\xAD\xE6\x96\x87", 8, 2, L"\x4E2D\x6587"},
        {"\xC2\x80", 8, 1, L"\x0080"},
        {"\xC0\x80", 8, -1, L""},  // overlong zero
        {"\xC1\xBF", 8, -1, L""},
        {"\xE0\x9F\xBF", 8, -1, L""},  // overlong three-byte form
        {"\xE0\xA0\x80", 8, 1, L"\x0800"},
        {"\xED\xA0\x80", 8, 1, L"\xD800"},  // an encoded surrogate passes
        {"\xF0\x8F\xBF\xBF", 8, -1, L""},
        {"\xF0\x90\x80\x80", 8, 2, L"\xD800\xDC00"},
        {"\xF4\x8F\xBF\xBF", 8, 2, L"\xDBFF\xDFFF"},
        {"\xF4\x90\x80\x80", 8, -1, L""},  // above U+10FFFF
        {"\xF5\x80\x80\x80", 8, -1, L""},
        {"\xF8\x80\x80\x80\x80", 8, -1, L""},
        {"\x80", 8, -1, L""},
        {"a\xE4\xB8", 8, -1, L""},  // cut short
        {"\xE4\xB8\x41", 8, -1, L""},
        {"a\xF0\x90\x80\x80", 2, 1, L"a"},  // the pair needs two free units
        {"a\xF0\x90\x80\x80", 3, 3, L"a\xD800\xDC00"},
        {"\xF0\x90\x80\x80", 1, 0, L""},
        {"abcdef", 4, 4, L"abcd"},
    };
    for (const auto& c : cases) {
        wchar_t out[8] = {};
        int result = Utf8ToWide(c.bytes, (int)strlen(c.bytes), out, c.capacity);
        EXPECT_EQ(c.expected, result) << c.bytes;
        if (result > 0) EXPECT_EQ(c.units, std::wstring(out, result)) << c.bytes;
    }
}

TEST(Utf8ToWideText, FallsBackToTheAnsiCodePage) {
    EXPECT_EQ(L"中文 text", std::wstring(Utf8ToWideText("\xE4\xB8\xAD\xE6\x96\x87 text").GetString()));
    EXPECT_EQ(L"", std::wstring(Utf8ToWideText("").GetString()));
    EXPECT_EQ(L"", std::wstring(Utf8ToWideText(nullptr).GetString()));
    // Not UTF-8: read in the thread's ANSI code page, byte for character.
    const char* ansi = "caf\xE9";
    wchar_t expected[8] = {};
    MultiByteToWideChar(CP_THREAD_ACP, 0, ansi, 4, expected, 8);
    EXPECT_EQ(std::wstring(expected), std::wstring(Utf8ToWideText(ansi).GetString()));
}

TEST(IsUtf8Text, Table) {
    struct {
        std::string bytes;
        BOOL mayEndCut;
        BOOL expected;
    } cases[] = {
        {"plain ascii", FALSE, FALSE},  // no non-ASCII byte: no
        {"", FALSE, FALSE},
        {"\xE4\xB8\xAD", FALSE, TRUE},
        {"ok \xC3\xA9", FALSE, TRUE},
        {"\xE4\xB8", FALSE, FALSE},  // open at the end
        {"\xE4\xB8", TRUE, TRUE},    // ... unless the bytes were cut from a longer text
        {"\x80", FALSE, FALSE},
        {"\xE4\x41\xAD", FALSE, FALSE},
        {"\xFC\x80\x80\x80\x80\x80", FALSE, TRUE},  // the old five-continuation form
        {"\xFE\x80\x80\x80\x80", FALSE, TRUE},
        {"\xC0\x80", FALSE, TRUE},  // overlong forms are not examined here
    };
    for (const auto& c : cases)
        EXPECT_EQ(c.expected, IsUtf8Text(reinterpret_cast<const BYTE*>(c.bytes.data()), (int)c.bytes.size(),
                                         c.mayEndCut))
            << c.bytes;
}

TEST(DetectTextEncoding, Table) {
    ScratchFolder folder(L"encoding");
    const std::string chinese = "\xE4\xB8\xAD\xE6\x96\x87";
    struct {
        const wchar_t* name;
        std::string bytes;
        int expected;
    } cases[] = {
        {L"empty.ini", "", 1},
        {L"ansi.ini", "[a]\r\nk=v\r\n", 1},
        {L"latin1.ini", "k=caf\xE9", 1},
        {L"utf16le.ini", "\xFF\xFE[\0a\0]\0", 2},
        {L"utf16be.ini", "\xFE\xFF\0[\0a\0]", 3},
        {L"utf8bom.ini", "\xEF\xBB\xBFk=v", 4},
        {L"utf8.ini", "k=" + chinese, 5},
        {L"ff.ini", "\xFF\x80\x80\x80\x80", 5},  // FF without FE goes through the UTF-8 test
        {L"ff-alone.ini", "\xFF", 1},
        // 499 ASCII bytes, then a character that the 500-byte window cuts: the
        // file goes on, so the window's open end is no fault.
        {L"cut.ini", std::string(499, 'x') + chinese, 5},
        // The same open character at the file's real end is one.
        {L"open-end.ini", std::string(499, 'x') + "\xE4", 1},
        {L"bad-later.ini", std::string(600, 'x') + "\xE4", 1},  // beyond the window: ASCII
    };
    for (const auto& c : cases) {
        CString path = folder / c.name;
        ASSERT_TRUE(WriteBytes(path, c.bytes));
        EXPECT_EQ(c.expected, DetectTextEncoding(path)) << Narrow(c.name);
    }
    EXPECT_EQ(-1, DetectTextEncoding(folder / L"missing.ini"));
}
