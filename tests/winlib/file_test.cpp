#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "support/temp_folder.h"
#include "winlib/file.h"

namespace {

// Runs `body` and returns the cause of the CFileException it threw (-1: none thrown).
template <class F>
int ThrownCause(F body, LONG* osError = nullptr) {
    try {
        body();
    } catch (CFileException* e) {
        int cause = e->m_cause;
        if (osError) *osError = e->m_lOsError;
        e->Delete();
        return cause;
    }
    return -1;
}

}  // namespace

TEST(CFile, WriteReadSeekAndLength) {
    TempFolder dir;
    std::wstring path = dir.File(L"data.bin");
    {
        CFile f(path.c_str(), CFile::modeCreate | CFile::modeWrite | CFile::shareExclusive);
        f.Write("hello, world", 12);
        EXPECT_EQ(12u, f.GetLength());
        f.Close();
        f.Close();  // a second Close does nothing
    }
    EXPECT_EQ("hello, world", TempFolder::Read(path));

    CFile f;
    ASSERT_TRUE(f.Open(path.c_str(), CFile::modeRead | CFile::shareDenyWrite));
    char buffer[32] = {};
    EXPECT_EQ(5u, f.Read(buffer, 5));
    EXPECT_EQ(std::string("hello"), std::string(buffer, 5));
    EXPECT_EQ(7u, f.Seek(7, CFile::begin));
    EXPECT_EQ(5u, f.Read(buffer, sizeof(buffer)));
    EXPECT_EQ(std::string("world"), std::string(buffer, 5));
    EXPECT_EQ(0u, f.Read(buffer, sizeof(buffer))) << "0 at the end";
    EXPECT_EQ(12u, f.GetPosition());
}

TEST(CFile, CreateTruncatesUnlessNoTruncate) {
    TempFolder dir;
    std::wstring path = dir.Write(L"old.txt", "0123456789");
    {
        CFile f(path.c_str(), CFile::modeCreate | CFile::modeNoTruncate | CFile::modeWrite);
        EXPECT_EQ(10u, f.GetLength());
    }
    EXPECT_EQ("0123456789", TempFolder::Read(path));
    { CFile f(path.c_str(), CFile::modeCreate | CFile::modeWrite); }
    EXPECT_EQ("", TempFolder::Read(path));
}

TEST(CFile, OpenFailuresCarryTheirCause) {
    TempFolder dir;
    struct Case {
        const char* name;
        std::wstring path;
        UINT flags;
        int cause;
    } cases[] = {
        {"missing file", dir.File(L"none.txt"), CFile::modeRead, CFileException::fileNotFound},
        {"missing folder", dir.File(L"no\\such\\folder\\x.txt"), CFile::modeCreate | CFile::modeWrite, CFileException::badPath},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(c.cause, ThrownCause([&] { CFile f(c.path.c_str(), c.flags); })) << c.name;
        CFile f;
        CFileException error;
        EXPECT_FALSE(f.Open(c.path.c_str(), c.flags, &error)) << c.name;
        EXPECT_EQ(c.cause, error.m_cause) << c.name;
        EXPECT_EQ(CFile::hFileNull, f.m_hFile) << c.name;
    }

    // An exclusive writer keeps every other opener out.
    std::wstring path = dir.File(L"locked.txt");
    CFile holder(path.c_str(), CFile::modeCreate | CFile::modeWrite | CFile::shareExclusive);
    EXPECT_EQ(CFileException::sharingViolation,
              ThrownCause([&] { CFile f(path.c_str(), CFile::modeRead | CFile::shareDenyNone); }));
    EXPECT_EQ(CFileException::sharingViolation,
              ThrownCause([&] { CStdioFile f(path.c_str(), CFile::modeCreate | CFile::modeWrite); }));

    // The exception says what went wrong, naming the file.
    CFileException e(CFileException::fileNotFound, ERROR_FILE_NOT_FOUND, L"C:\\x.txt");
    wchar_t text[256] = {};
    EXPECT_TRUE(e.GetErrorMessage(text, 256));
    EXPECT_EQ(0, wcsncmp(text, L"C:\\x.txt: ", 10)) << CStringA(text).GetString();
}

TEST(CStdioFile, ReadStringSplitsLines) {
    TempFolder dir;
    std::string longLine(1000, 'x');
    std::wstring path = dir.Write(L"lines.txt", "first\r\n\r\nthird line\nlone\rcr\r\n" + longLine + "\r\nlast");
    struct Mode {
        UINT flags;
        std::vector<std::string> lines;
    } modes[] = {
        {CFile::modeRead | CFile::typeText, {"first", "", "third line", "lone\rcr", longLine, "last"}},
        {CFile::modeRead | CFile::typeBinary, {"first\r", "\r", "third line", "lone\rcr\r", longLine + "\r", "last"}},
    };
    for (const Mode& m : modes) {
        CStdioFile f(path.c_str(), m.flags);
        std::vector<std::string> got;
        CString line;
        for (int guard = 0; guard < 100 && f.ReadString(line); ++guard) got.push_back(CStringA(line).GetString());
        EXPECT_EQ(m.lines, got) << "flags " << m.flags;
        EXPECT_FALSE(f.ReadString(line));
        EXPECT_TRUE(line.IsEmpty());
    }

    // An empty file has no line at all.
    CStdioFile empty(dir.Write(L"empty.txt", "").c_str(), CFile::modeRead);
    CString line = L"x";
    EXPECT_FALSE(empty.ReadString(line));
    EXPECT_TRUE(line.IsEmpty());
}

TEST(CStdioFile, WriteStringAndReopen) {
    TempFolder dir;
    std::wstring path = dir.File(L"out.txt");
    {
        CStdioFile f(path.c_str(), CFile::modeCreate | CFile::modeWrite | CFile::typeText);
        f.WriteString(L"one\ntwo\n");
        f.Close();
    }
    EXPECT_EQ("one\r\ntwo\r\n", TempFolder::Read(path)) << "text mode writes CR LF";
    {
        // Writing without modeCreate appends.
        CStdioFile f(path.c_str(), CFile::modeWrite | CFile::typeBinary);
        f.WriteString(L"three");
    }
    EXPECT_EQ("one\r\ntwo\r\nthree", TempFolder::Read(path));
    CStdioFile f(path.c_str(), CFile::modeRead | CFile::typeBinary);
    EXPECT_EQ(15u, f.GetLength());
    char buffer[8] = {};
    EXPECT_EQ(3u, f.Read(buffer, 3));
    EXPECT_EQ(std::string("one"), std::string(buffer, 3));
}

TEST(CFileFind, WalksAFolder) {
    TempFolder dir;
    dir.Write(L"a.txt", "abc");
    dir.Write(L"b.data.bin", "");
    CreateDirectoryW(dir.File(L"sub").c_str(), nullptr);

    CFileFind find;
    ASSERT_TRUE(find.FindFile((dir.Path() + L"\\*").c_str()));
    std::set<std::wstring> files, folders;
    bool more = true;
    for (int guard = 0; more && guard < 20; ++guard) {
        more = find.FindNextFile() != FALSE;
        if (find.IsDots()) continue;
        EXPECT_EQ(CString(dir.Path().c_str()) + L"\\" + find.GetFileName(), find.GetFilePath());
        (find.IsDirectory() ? folders : files).insert(find.GetFileName().GetString());
        if (find.GetFileName() == L"a.txt") EXPECT_EQ(3u, find.GetLength());
        if (find.GetFileName() == L"b.data.bin") EXPECT_EQ(CString(L"b.data"), find.GetFileTitle());
    }
    EXPECT_FALSE(more);
    EXPECT_EQ((std::set<std::wstring>{L"a.txt", L"b.data.bin"}), files);
    EXPECT_EQ((std::set<std::wstring>{L"sub"}), folders);
    EXPECT_EQ(CString(dir.Path().c_str()), find.GetRoot());

    CFileFind none;
    EXPECT_FALSE(none.FindFile((dir.Path() + L"\\*.nothing").c_str()));
    EXPECT_FALSE(none.FindNextFile());
    EXPECT_TRUE(none.GetFileName().IsEmpty());
}
