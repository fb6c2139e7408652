// The built program's resources: the manifest asks for administrator rights,
// names the supported Windows versions and leaves the program DPI-unaware;
// the icon and the main window's empty template are present.
#include <gtest/gtest.h>

#include "core_test_support.h"
#include "resources/resource_ids.h"
#include "winlib/winlib.h"

namespace {

class ProgramImage : public testing::Test {
protected:
    void SetUp() override {
        CString exe = TestProgramFolder() + L"\\kavetta.exe";
        m_module = LoadLibraryExW(exe, nullptr, LOAD_LIBRARY_AS_DATAFILE);
        ASSERT_NE(nullptr, m_module) << "cannot open the built program";
    }
    void TearDown() override {
        if (m_module) FreeLibrary(m_module);
    }
    std::string Resource(LPCWSTR type, LPCWSTR name) {
        HRSRC res = FindResourceW(m_module, name, type);
        if (!res) return std::string();
        HGLOBAL data = LoadResource(m_module, res);
        return std::string(static_cast<const char*>(LockResource(data)), SizeofResource(m_module, res));
    }
    HMODULE m_module = nullptr;
};

}  // namespace

TEST_F(ProgramImage, ManifestAsksForAdministratorAndIsDpiUnaware) {
    std::string manifest = Resource(RT_MANIFEST, MAKEINTRESOURCEW(1));
    ASSERT_FALSE(manifest.empty()) << "no manifest resource";
    EXPECT_NE(std::string::npos, manifest.find("level=\"requireAdministrator\""));
    EXPECT_NE(std::string::npos, manifest.find("<dpiAware>false</dpiAware>"));
    // Windows 7, 8, 8.1 and 10/11.
    for (const char* id : {"35138b9a-5d96-4fbd-8e2d-a2440225f93a", "4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38",
                           "1f676c76-80e1-4239-95bb-83d0f6d0da78", "8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a"}) {
        EXPECT_NE(std::string::npos, manifest.find(id)) << id;
    }
}

TEST_F(ProgramImage, IconAndMainWindowTemplate) {
    EXPECT_NE(nullptr, FindResourceW(m_module, MAKEINTRESOURCEW(IDR_MAINFRAME), RT_GROUP_ICON));
    std::string tmpl = Resource(RT_DIALOG, MAKEINTRESOURCEW(IDD_TARVEL_DIALOG));
    ASSERT_GE(tmpl.size(), 26u);
    // A DIALOGEX template: version 1, signature 0xFFFF, then help id, extended style, style.
    const WORD* w = reinterpret_cast<const WORD*>(tmpl.data());
    ASSERT_EQ(1, w[0]);
    ASSERT_EQ(0xFFFF, w[1]);
    DWORD exStyle = *reinterpret_cast<const DWORD*>(tmpl.data() + 8);
    DWORD style = *reinterpret_cast<const DWORD*>(tmpl.data() + 12);
    WORD controls = *reinterpret_cast<const WORD*>(tmpl.data() + 16);
    EXPECT_EQ(DWORD(WS_POPUP | WS_VISIBLE | WS_SYSMENU | DS_SETFONT), style & ~DWORD(DS_MODALFRAME | WS_CLIPSIBLINGS));
    EXPECT_TRUE(exStyle & WS_EX_APPWINDOW);
    EXPECT_EQ(0, controls);
}

TEST_F(ProgramImage, VersionResourceMatchesTheOwnVersion) {
    std::string version = Resource(RT_VERSION, MAKEINTRESOURCEW(1));
    ASSERT_FALSE(version.empty());
    const VS_FIXEDFILEINFO* info = nullptr;
    UINT size = 0;
    ASSERT_TRUE(VerQueryValueW(version.data(), L"\\", (void**)&info, &size));
    CString text;
    text.Format(L"%u.%u.%u.%u", HIWORD(info->dwProductVersionMS), LOWORD(info->dwProductVersionMS),
                HIWORD(info->dwProductVersionLS), LOWORD(info->dwProductVersionLS));
    EXPECT_STREQ(KAVETTA_VERSION_TEXT, text);
}
