// CIni: path completion, the plain, enciphered and UTF-8 modes, the value limit.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/fixed_texts.h"
#include "core/ini.h"
#include "core/rc4_hex.h"
#include "core/tarvel_app.h"
#include "core_test_support.h"
#include "support/code_page.h"
#include "utils_test_support.h"

namespace {

std::wstring W(const CString& s) { return std::wstring(s.GetString()); }

// A CIni in UTF-8 mode over a file of `bytes` in a fresh scratch folder,
// with `section` selected.
struct Utf8Ini {
    Utf8Ini(const wchar_t* folder, const std::string& bytes, const wchar_t* section)
        : scratch(folder), path(scratch / L"utf8.ini"), written(WriteBytes(path, bytes)), ini(path) {
        ini.m_utf8 = 1;
        ini.SetSection(section);
    }
    ScratchFolder scratch;
    CString path;
    bool written;
    CIni ini;
};

}  // namespace

TEST(CIni, PathRules) {
    const CString program = TestProgramFolder();
    struct {
        const wchar_t* given;
        CString expected;
    } cases[] = {
        {L"", program + L"\\core_tests.ini"},  // the default file beside the program
        {L"settings.ini", program + L"\\settings.ini"},
        {L"sub\\folder\\settings.ini", program + L"\\sub\\folder\\settings.ini"},
        {L"D:\\data\\settings.ini", L"D:\\data\\settings.ini"},
        {L"d:relative.ini", L"d:relative.ini"},  // has a drive: left alone
        {L"\\\\server\\share\\settings.ini", L"\\\\server\\share\\settings.ini"},
        {L"\\rooted.ini", program.Left(2) + L"\\rooted.ini"},
    };
    for (const auto& c : cases) EXPECT_EQ(W(c.expected), W(CIni(c.given).m_path)) << Narrow(c.given);
}

TEST(CIni, RelativePathsFollowTheApplicationsProgramFolder) {
    CTarvelApp app;
    app.m_moduleFolder = L"E:\\Kavetta";
    app.m_moduleFileName = L"kavetta.exe";
    EXPECT_EQ(L"E:\\Kavetta\\kavetta.ini", W(CIni(L"").m_path));
    EXPECT_EQ(L"E:\\Kavetta\\conf\\a.ini", W(CIni(L"conf\\a.ini").m_path));
    app.m_moduleFolder = L"E:\\";  // a root keeps its one separator
    EXPECT_EQ(L"E:\\a.ini", W(CIni(L"a.ini").m_path));
    // The default section is the application's name.
    EXPECT_EQ(W(app.m_pszAppName), W(CIni(L"a.ini").m_section));
}

TEST(MakeAbsoluteIniPath, CurrentFolderWhenNotFromTheProgramFolder) {
    ScratchFolder scratch(L"ini-current");
    wchar_t previous[MAX_PATH];
    GetCurrentDirectoryW(MAX_PATH, previous);
    ASSERT_TRUE(SetCurrentDirectoryW(scratch.Path() + L"\\"));
    CString path = L"x.ini";
    MakeAbsoluteIniPath(path, FALSE);
    CString inProgramFolder = L"x.ini";
    MakeAbsoluteIniPath(inProgramFolder, TRUE);
    SetCurrentDirectoryW(previous);
    EXPECT_EQ(W(scratch.Path() + L"\\x.ini"), W(path));
    EXPECT_EQ(W(TestProgramFolder() + L"\\x.ini"), W(inProgramFolder));
}

TEST(CIni, PlainRoundTripAndIntegers) {
    ScratchFolder scratch(L"ini-plain");
    CIni ini(scratch / L"plain.ini");
    ini.SetSection(L"general");
    struct {
        const wchar_t* key;
        const wchar_t* value;
    } values[] = {{L"seven", L"7"}, {L"empty", L""}, {L"mixed", L"12abc"}, {L"word", L"abc"},
                  {L"negative", L"-40"}, {L"text", L"C:\\Kavetta Data\\images"}};
    for (const auto& v : values) ASSERT_TRUE(ini.WriteString(v.key, v.value));

    CIni reader(scratch / L"plain.ini");
    reader.SetSection(L"general");
    EXPECT_EQ(L"C:\\Kavetta Data\\images", W(reader.GetString(L"text", L"fallback")));
    EXPECT_EQ(L"fallback", W(reader.GetString(L"missing", L"fallback")));
    EXPECT_EQ(W(FixedText::kIniPlaceholderDefault), W(reader.GetString(L"missing", nullptr)));
    struct {
        const wchar_t* key;
        int expected;
    } ints[] = {{L"seven", 7}, {L"empty", 0}, {L"mixed", 12}, {L"word", 0}, {L"negative", -40}, {L"missing", 99}};
    for (const auto& c : ints) EXPECT_EQ(c.expected, reader.GetInt(c.key, 99)) << Narrow(c.key);
    reader.GetInt(L"negative", 0);
    EXPECT_EQ(L"-40", W(reader.m_valueBuffer));  // integers are read as text there
    reader.SetSection(L"other");
    EXPECT_EQ(5, reader.GetInt(L"seven", 5));
}

TEST(CIni, ValuesAreCutAt1023Characters) {
    ScratchFolder scratch(L"ini-long");
    CIni ini(scratch / L"long.ini");
    ini.SetSection(L"s");
    CString value;
    for (int i = 0; i < 2000; ++i) value.AppendChar((wchar_t)(L'a' + i % 26));
    ASSERT_TRUE(ini.WriteString(L"long", value));
    CString read = ini.GetString(L"long", L"");
    EXPECT_EQ(1023, read.GetLength());
    EXPECT_EQ(W(value.Left(1023)), W(read));
    EXPECT_EQ(W(value.Left(1023)), W(ini.m_valueBuffer));
    CString exact = value.Left(1023);
    ASSERT_TRUE(ini.WriteString(L"exact", exact));
    EXPECT_EQ(W(exact), W(ini.GetString(L"exact", L"")));
}

TEST(CIni, EncipheredMode) {
    ScratchFolder scratch(L"ini-cipher");
    const CString path = scratch / L"cipher.ini";
    const wchar_t* password = L"kvt-ini-7Qm2";
    {
        CIni writer(path);
        writer.SetSection(L"plain section");  // before SetPassword: stays plain
        EXPECT_EQ(L"plain section", W(writer.m_section));
        writer.SetPassword(password);
        EXPECT_EQ(1, writer.m_encrypted);
        writer.SetSection(L"general");
        EXPECT_EQ(W(EncryptToHex(L"general", password)), W(writer.m_section));
        // Callers encipher keys and values themselves.
        writer.WriteString(EncryptToHex(L"limit", password), EncryptToHex(L"20", password));
        writer.WriteString(EncryptToHex(L"caption", password), EncryptToHex(L"Windows 10 x64", password));
        writer.WriteString(L"plainkey", L"plain value");
        writer.WriteString(EncryptToHex(L"broken", password), L"zz-not-hex");
    }
    std::string stored = ReadBytes(path);
    EXPECT_EQ(std::string::npos, stored.find("general"));
    EXPECT_EQ(std::string::npos, stored.find("Windows"));

    CIni reader(path);
    reader.SetPassword(password);
    reader.SetSection(L"general");
    EXPECT_EQ(L"Windows 10 x64", W(reader.GetString(L"caption", L"none")));
    EXPECT_EQ(20, reader.GetInt(L"limit", 5));
    EXPECT_EQ(L"20", W(reader.m_valueBuffer));
    EXPECT_EQ(L"none", W(reader.GetString(L"missing", L"none")));
    EXPECT_EQ(5, reader.GetInt(L"missing", 5));
    // A key stored in plain is not found; a value that is no hex gives the default.
    EXPECT_EQ(L"none", W(reader.GetString(L"plainkey", L"none")));
    EXPECT_EQ(L"none", W(reader.GetString(L"broken", L"none")));
    EXPECT_EQ(5, reader.GetInt(L"broken", 5));

    // An empty password changes nothing; there is no way back to plain.
    CIni other(path);
    other.SetPassword(L"");
    EXPECT_EQ(0, other.m_encrypted);
    reader.SetPassword(L"");
    EXPECT_EQ(1, reader.m_encrypted);
    EXPECT_EQ(W(password), W(reader.m_password));
}

TEST(CIni, Utf8ModeReadsAFileWithoutMark) {
    Utf8Ini file(L"ini-utf8", "[s]\r\nname=\xE4\xB8\xAD\xE6\x96\x87\xE7\xB3\xBB\xE7\xBB\x9F\r\nnum=42\r\n", L"s");
    ASSERT_TRUE(file.written);
    CIni& ini = file.ini;
    EXPECT_EQ(L"中文系统", W(ini.GetString(L"name", L"")));
    EXPECT_EQ(42, ini.GetInt(L"num", 0));
    EXPECT_EQ(L"dflt", W(ini.GetString(L"missing", L"dflt")));
    ini.m_utf8 = 0;
    EXPECT_EQ(42, ini.GetInt(L"num", 0));
    EXPECT_NE(L"中文系统", W(ini.GetString(L"name", L"")));
}

TEST(CIni, Utf8ModeValuesAreCutAt1023Characters) {
    // The UTF-8 file is read as text, so the limit counts characters, and a
    // character is never cut in half.
    ScratchFolder scratch(L"ini-utf8-cut");
    const CString path = scratch / L"cut.ini";
    const std::string zhong = "\xE4\xB8\xAD";
    for (int ascii : {1020, 1021, 1022}) {
        std::string value = std::string(ascii, 'x') + zhong + zhong;
        ASSERT_TRUE(WriteBytes(path, "[s]\r\nv=" + value + "\r\n"));
        CIni ini(path);
        ini.SetSection(L"s");
        ini.m_utf8 = 1;
        std::wstring expected = (std::wstring(ascii, L'x') + L"中中").substr(0, 1023);
        EXPECT_EQ(expected, W(ini.GetString(L"v", L""))) << ascii << " ASCII bytes first";
    }
}

TEST(CIni, Utf8ModeDefaultsKeepTheirCharacters) {
    // A Chinese default of a missing key comes back as it was given, also
    // where the ANSI code page has no Chinese characters (1252).
    Utf8Ini file(L"ini-utf8-default", "[\xE5\x9B\xBE\xE7\x89\x87]\r\nname=x\r\n", L"图片");  // section 图片
    ASSERT_TRUE(file.written);
    CIni& ini = file.ini;
    EXPECT_EQ(L"x", W(ini.GetString(L"name", L"")));
    EXPECT_EQ(L"未命名系统", W(ini.GetString(L"missing", L"未命名系统")));
    EXPECT_EQ(L"维护环境 Win7pe", W(ini.ReadUtf8Value(L"missing", L"维护环境 Win7pe")));
    ini.SetSection(L"缺少的节");
    EXPECT_EQ(L"暂无介绍", W(ini.GetString(L"name", L"暂无介绍")));
}

TEST(CIni, Utf8FileMeansTheSameUnderEveryCodePage) {
    // Values that end in a character whose last UTF-8 byte is a lead byte in
    // code page 936 (版 ends in 0x88, 位 in 0x8D), right before the line end:
    // read through the ANSI reading of the bytes, such a byte takes the line
    // end with it and the next key disappears.
    const char* const lineEnds[] = {"\r\n", "\n"};
    for (const char* end : lineEnds) {
        SCOPED_TRACE(end[0] == '\r' ? "CR LF" : "LF");
        std::string e = end;
        std::string text = "[win1064]" + e + "caption=Windows 10 64\xE4\xBD\x8D" + e + "list=a|b" + e +
                           "[\xE4\xB8\x93\xE4\xB8\x9A\xE7\x89\x88]" + e +  // [专业版]
                           "name=\xE4\xB8\x93\xE4\xB8\x9A\xE7\x89\x88" + e +   // name=专业版
                           "number=3" + e + "title=\xE4\xBD\x8D" + e + "file=a.iso" + e;
        Utf8Ini file(L"ini-utf8-936", text, L"win1064");
        ASSERT_TRUE(file.written);
        CIni& ini = file.ini;
        EXPECT_EQ(L"Windows 10 64位", W(ini.GetString(L"caption", L"")));
        EXPECT_EQ(L"a|b", W(ini.GetString(L"list", L"")));
        ini.SetSection(L"专业版");
        EXPECT_EQ(L"专业版", W(ini.GetString(L"name", L"")));
        EXPECT_EQ(3, ini.GetInt(L"number", 1));
        EXPECT_EQ(L"位", W(ini.GetString(L"title", L"")));
        EXPECT_EQ(L"a.iso", W(ini.GetString(L"file", L"")));
    }
}

TEST(CIni, Utf8ModeSeesTheFileChange) {
    // The text is read through a copy; a write through the object, or a new
    // file, is seen by the next read, and the copy goes with the object.
    Utf8Ini file(L"ini-utf8-change", "[s]\r\nv=x\r\n", L"s");
    ASSERT_TRUE(file.written);
    CIni& ini = file.ini;
    const CString& path = file.path;
    EXPECT_EQ(L"x", W(ini.GetString(L"v", L"")));
    ASSERT_TRUE(ini.WriteString(L"n", L"5"));
    EXPECT_EQ(5, ini.GetInt(L"n", 0));
    ASSERT_TRUE(WriteBytes(path, "[s]\r\nv=\xE6\x96\x87\xE5\xAD\x97\r\n"));  // 文字, another size
    EXPECT_EQ(L"文字", W(ini.GetString(L"v", L"")));
    DeleteFileW(path);
    EXPECT_EQ(L"gone", W(ini.GetString(L"v", L"gone")));
}

TEST(CIni, EncipheredValueCutAtTheLimitLosesNoWholeCharacter) {
    SKIP_UNLESS_CODE_PAGE(936, "Chinese values are enciphered as GBK bytes, two a character");
    // 600 Chinese characters are 2400 digits; 1023 of them come back, 511
    // bytes. Without a leading ASCII character the last byte is half of a
    // character and is dropped; with one, 511 bytes end on a whole one.
    ScratchFolder scratch(L"ini-cipher-cut");
    const CString path = scratch / L"cut.ini";
    const wchar_t* password = L"kvt-ini-7Qm2";
    const std::wstring chinese(600, L'中');
    struct {
        std::wstring value, expected;
    } cases[] = {
        {chinese, std::wstring(255, L'中')},
        {L"x" + chinese, L"x" + std::wstring(255, L'中')},
    };
    for (const auto& c : cases) {
        {
            CIni writer(path);
            writer.SetPassword(password);
            writer.SetSection(L"s");
            ASSERT_TRUE(writer.WriteString(EncryptToHex(L"v", password), EncryptToHex(c.value.c_str(), password)));
        }
        CIni reader(path);
        reader.SetPassword(password);
        reader.SetSection(L"s");
        EXPECT_EQ(c.expected, W(reader.GetString(L"v", L""))) << c.value.size() << " characters";
    }
}

// The profile call's reading of a file is what callers rely on: a UTF-8 file
// read in UTF-8 mode answers as the same text in UTF-16 does through the
// profile call itself.
TEST(CIni, Utf8ModeAnswersAsTheProfileCall) {
    const std::wstring text =
        L"top=before any section\r\n"
        L"[s]\r\n"
        L"  spaced  =  value with blanks  \r\n"
        L"quoted=\"in quotes\"\r\n"
        L"single='in single quotes'\r\n"
        L"half=\"open only\r\n"
        L"empty=\r\n"
        L"novalue\r\n"
        L"Mixed=case of the key\r\n"
        L"eq=a=b\r\n"
        L"dup=first\r\n"
        L"dup=second\r\n"
        L";comment=looks like a key\r\n"
        L"\t[ Padded ] \r\n"
        L"p=in padded\r\n"
        L"[S]\r\n"
        L"later=in a second section of the same name\r\n"
        L"[中文节]\n"
        L"名字=中文值\n"
        L"[x]broken]\r\n"
        L"k=last\r\n";
    ScratchFolder scratch(L"ini-profile");
    // The same text as UTF-16 with a byte-order mark, read by the profile call.
    std::string wide("\xFF\xFE", 2);
    wide.append(reinterpret_cast<const char*>(text.data()), text.size() * sizeof(wchar_t));
    ASSERT_TRUE(WriteBytes(scratch / L"wide.ini", wide));
    ASSERT_TRUE(WriteBytes(scratch / L"utf8.ini", Narrow(text.c_str())));
    CIni reference(scratch / L"wide.ini");
    CIni utf8(scratch / L"utf8.ini");
    utf8.m_utf8 = 1;
    const struct {
        const wchar_t* section;
        const wchar_t* key;
    } reads[] = {
        {L"", L"top"},          {L"s", L"spaced"},   {L"s", L"quoted"},    {L"s", L"single"},
        {L"s", L"half"},        {L"s", L"empty"},    {L"s", L"novalue"},   {L"s", L"mixed"},
        {L"S", L"MIXED"},       {L" s ", L" eq "},   {L"s", L"dup"},       {L"s", L";comment"},
        {L"s", L"later"},       {L"s", L"missing"},  {L"Padded", L"p"},    {L" Padded ", L"p"},
        {L"padded", L"p"},      {L"中文节", L"名字"}, {L"x]broken", L"k"},  {L"none", L"top"},
    };
    for (const auto& r : reads) {
        reference.SetSection(r.section);
        utf8.SetSection(r.section);
        EXPECT_EQ(W(reference.GetString(r.key, L"dflt  ")), W(utf8.GetString(r.key, L"dflt  ")))
            << Narrow(r.section) << " / " << Narrow(r.key);
        EXPECT_EQ(reference.GetInt(r.key, 9), utf8.GetInt(r.key, 9)) << Narrow(r.section) << " / " << Narrow(r.key);
    }
}

// The configuration names the boot environment's mirrors and digests; the
// program that reads it runs elevated. Nothing of it may pass through the
// user's temporary folder, where any process of the user can rewrite a file
// between two reads.
TEST(CIni, Utf8ModeReadsNothingThroughTheTemporaryFolder) {
    ScratchFolder scratch(L"ini-utf8-temp");
    ScratchFolder temp(L"ini-utf8-temp-user");
    ASSERT_TRUE(WriteBytes(scratch / L"config.ini", "[pe]\r\nmd5=\xE6\x91\x98\xE8\xA6\x81\r\nurl=http://mirror/pe.wim\r\n"));
    wchar_t tmp[MAX_PATH * 2] = {}, tempVariable[MAX_PATH * 2] = {};
    GetEnvironmentVariableW(L"TMP", tmp, MAX_PATH * 2);
    GetEnvironmentVariableW(L"TEMP", tempVariable, MAX_PATH * 2);
    SetEnvironmentVariableW(L"TMP", temp.Path());
    SetEnvironmentVariableW(L"TEMP", temp.Path());
    std::vector<std::wstring> left;
    {
        CIni ini(scratch / L"config.ini");
        ini.m_utf8 = 1;
        ini.SetSection(L"pe");
        EXPECT_EQ(L"摘要", W(ini.GetString(L"md5", L"")));
        EXPECT_EQ(L"http://mirror/pe.wim", W(ini.GetString(L"url", L"")));
        WIN32_FIND_DATAW data;
        HANDLE find = FindFirstFileW(temp / L"*", &data);
        if (find != INVALID_HANDLE_VALUE) {
            do {
                if (data.cFileName[0] != L'.') left.push_back(data.cFileName);
            } while (FindNextFileW(find, &data));
            FindClose(find);
        }
    }
    SetEnvironmentVariableW(L"TMP", tmp);
    SetEnvironmentVariableW(L"TEMP", tempVariable);
    EXPECT_TRUE(left.empty()) << "the read went through " << Narrow(left.empty() ? L"" : left[0].c_str());
}
