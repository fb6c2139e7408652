#include <gtest/gtest.h>

#include "winlib/strings.h"

TEST(CString, PiecesClampLikeTheStockLibrary) {
    struct Case {
        const wchar_t* text;
        int first, count;
        const wchar_t* mid;
    } cases[] = {
        {L"abcdef", 0, 3, L"abc"}, {L"abcdef", 2, 10, L"cdef"}, {L"abcdef", -3, 2, L"ab"},
        {L"abcdef", 6, 1, L""},    {L"abcdef", 9, 1, L""},      {L"abcdef", 1, -1, L""},
        {L"", 0, 5, L""},
    };
    for (const Case& c : cases) {
        EXPECT_STREQ(c.mid, CString(c.text).Mid(c.first, c.count)) << c.text << " " << c.first << " " << c.count;
    }
    CString s(L"abcdef");
    EXPECT_STREQ(L"def", s.Mid(3));
    EXPECT_STREQ(L"ab", s.Left(2));
    EXPECT_STREQ(L"abcdef", s.Left(99));
    EXPECT_STREQ(L"ef", s.Right(2));
    EXPECT_STREQ(L"", s.Right(-1));
}

TEST(CString, SearchAndReplace) {
    CString s(L"a\\b\\c.txt");
    EXPECT_EQ(1, s.Find(L'\\'));
    EXPECT_EQ(3, s.Find(L'\\', 2));
    EXPECT_EQ(3, s.ReverseFind(L'\\'));
    EXPECT_EQ(5, s.Find(L".txt"));
    EXPECT_EQ(-1, s.Find(L"zz"));
    EXPECT_EQ(-1, s.Find(L'b', 10));
    EXPECT_EQ(1, s.FindOneOf(L".\\"));
    EXPECT_EQ(2, s.Replace(L"\\", L"//"));
    EXPECT_STREQ(L"a//b//c.txt", s);
    EXPECT_EQ(0, s.Replace(L"", L"x"));
    CString t(L"aaaa");
    EXPECT_EQ(2, t.Replace(L"aa", L"a"));
    EXPECT_STREQ(L"aa", t);
    EXPECT_EQ(2, t.Replace(L'a', L'b'));
    EXPECT_STREQ(L"bb", t);
    EXPECT_EQ(2, t.Remove(L'b'));
    EXPECT_TRUE(t.IsEmpty());
}

TEST(CString, TrimCaseAndCompare) {
    CString s(L"  \t Mixed Case \r\n");
    s.Trim();
    EXPECT_STREQ(L"Mixed Case", s);
    EXPECT_EQ(0, s.CompareNoCase(L"MIXED case"));
    EXPECT_NE(0, s.Compare(L"MIXED case"));
    EXPECT_STREQ(L"MIXED CASE", CString(s).MakeUpper());
    EXPECT_STREQ(L"mixed case", CString(s).MakeLower());
    EXPECT_STREQ(L"esaC dexiM", CString(s).MakeReverse());
    CString path(L"\\\\folder\\\\");
    path.Trim(L'\\');
    EXPECT_STREQ(L"folder", path);
    CString spaces(L"   ");
    spaces.Trim();
    EXPECT_TRUE(spaces.IsEmpty());
    CString chinese(L"系统安装");
    EXPECT_EQ(4, chinese.GetLength());
    EXPECT_TRUE(chinese == L"系统安装");
}

TEST(CString, FormatInsertDelete) {
    CString s;
    s.Format(L"%d-%s-%05.1f-%S", 42, L"宽", 3.14159, "narrow");
    EXPECT_STREQ(L"42-宽-003.1-narrow", s);
    s.AppendFormat(L"|%X", 255u);
    EXPECT_STREQ(L"42-宽-003.1-narrow|FF", s);
    CString big;
    big.Format(L"%s%s", CString(L'x', 3000).GetString(), L"!");
    EXPECT_EQ(3001, big.GetLength());
    CString t(L"held");
    t.Insert(2, L"--");
    EXPECT_STREQ(L"he--ld", t);
    t.Insert(99, L'!');
    EXPECT_STREQ(L"he--ld!", t);
    t.Delete(2, 2);
    EXPECT_STREQ(L"held!", t);
    t.Delete(3, 100);
    EXPECT_STREQ(L"hel", t);
}

TEST(CString, BufferAccess) {
    CString s(L"abc");
    wchar_t* p = s.GetBuffer(100);
    wcscpy(p, L"a much longer text");
    s.ReleaseBuffer();
    EXPECT_EQ(18, s.GetLength());
    p = s.GetBuffer();
    p[1] = L'X';
    s.ReleaseBuffer(3);
    EXPECT_STREQ(L"aXm", s);
    CString empty;
    empty.ReleaseBuffer();  // nothing to release on the shared empty block
    EXPECT_TRUE(empty.IsEmpty());
    CString selfAppend(L"ab");
    selfAppend += selfAppend;
    selfAppend.Append(selfAppend.GetString() + 1, 2);
    EXPECT_STREQ(L"ababba", selfAppend);
}

TEST(CString, TokenizeAndSpans) {
    CString s(L"  one, two,,three ");
    std::vector<std::wstring> parts;
    int pos = 0;
    for (CString tok = s.Tokenize(L", ", pos); pos != -1; tok = s.Tokenize(L", ", pos)) parts.push_back(tok.GetString());
    ASSERT_EQ(3u, parts.size());
    EXPECT_EQ(L"one", parts[0]);
    EXPECT_EQ(L"three", parts[2]);
    EXPECT_STREQ(L"12", CString(L"12ab3").SpanIncluding(L"0123456789"));
    EXPECT_STREQ(L"key", CString(L"key=value").SpanExcluding(L"="));
}

TEST(CString, ConvertsBetweenWidths) {
    CStringA narrow("plain ascii");
    CString wide(narrow);
    EXPECT_STREQ(L"plain ascii", wide);
    CStringA back(wide);
    EXPECT_STREQ("plain ascii", back);
    CStringA utf8 = Utf16ToUtf8(L"中文");
    EXPECT_STREQ("\xE4\xB8\xAD\xE6\x96\x87", utf8);
    EXPECT_STREQ(L"中文", Utf8ToUtf16(utf8));
    EXPECT_STREQ(L"中", Utf8ToUtf16(utf8, 3));
}

TEST(CString, MovesBitwise) {
    // CArray relocates elements with memcpy: a CString must survive that.
    alignas(CString) unsigned char a[sizeof(CString)];
    alignas(CString) unsigned char b[sizeof(CString)];
    new (a) CString(L"relocated text that is longer than any small buffer");
    memcpy(b, a, sizeof(CString));
    CString* moved = reinterpret_cast<CString*>(b);
    EXPECT_STREQ(L"relocated text that is longer than any small buffer", *moved);
    moved->~CString();  // only the moved copy is destroyed
}

TEST(Win32ErrorText, KeepsLastError) {
    SetLastError(1234);
    CString text = Win32ErrorText(ERROR_ACCESS_DENIED);
    EXPECT_EQ(1234u, GetLastError());
    EXPECT_FALSE(text.IsEmpty());
    EXPECT_NE(L'\n', text[text.GetLength() - 1]);
}
