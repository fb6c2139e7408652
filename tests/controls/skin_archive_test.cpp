// The controls' pictures through the real path: the skin archive as the
// build zips resources/skin, held by the application object, read by
// LoadSkinImage.
#include <gtest/gtest.h>

#include "controls/picture_controls.h"
#include "controls_test_support.h"
#include "core/fixed_texts.h"
#include "core/tarvel_app.h"

namespace {

struct SkinArchive : ::testing::Test {
    void SetUp() override {
        HANDLE f = CreateFileW(KAVETTA_PLAIN_SKIN_ARCHIVE, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0,
                               nullptr);
        ASSERT_NE(INVALID_HANDLE_VALUE, f);
        DWORD size = GetFileSize(f, nullptr);
        BYTE* data = static_cast<BYTE*>(malloc(size));
        DWORD got = 0;
        ReadFile(f, data, size, &got, nullptr);
        CloseHandle(f);
        ASSERT_EQ(size, got);
        GetTarvelApp()->m_skinZip.Attach(data, (int)size, 0);  // the archive frees it
    }
    void TearDown() override { GetTarvelApp()->m_skinZip.Close(); }
};

TEST_F(SkinArchive, EveryPictureTheControlsAskForIsThereAndDecodes) {
    const wchar_t* names[] = {
        FixedText::kSkinMsgBoxWarning,   FixedText::kSkinMsgBoxError,     FixedText::kSkinMsgBoxQuestion,
        FixedText::kSkinMsgBoxInformation, FixedText::kSkinListLogoDefault, FixedText::kSkinListLogoFamily1,
        FixedText::kSkinListLogoFamily2, FixedText::kSkinListLogoFamily3, FixedText::kSkinListGroup1Badge,
        FixedText::kSkinListGroup2Marker, FixedText::kSkinListCollapsed,  FixedText::kSkinListExpanded,
        FixedText::kSkinListHover,       FixedText::kSkinListSelected,    FixedText::kSkinUsbListUnchosen,
        FixedText::kSkinUsbListChosen,
    };
    for (const wchar_t* name : names) {
        Gdiplus::Image* image = LoadControlPicture(name);
        ASSERT_NE(nullptr, image) << CStringA(name).GetString();
        EXPECT_EQ(Gdiplus::Ok, image->GetLastStatus()) << CStringA(name).GetString();
        delete image;
    }
    // Letter case does not matter; a name the archive lacks gives nothing.
    Gdiplus::Image* upper = LoadControlPicture(L"KVS_MSG_INFO.PNG");
    EXPECT_NE(nullptr, upper);
    delete upper;
    EXPECT_EQ(nullptr, LoadControlPicture(L"kvs_no_such_picture.png"));
}

TEST_F(SkinArchive, TheCheckSpinnerIsAnimatedWithDelaysAndHasItsStills) {
    CHostWnd host;
    ASSERT_TRUE(host.CreateHost());
    CGIFControl spinner;
    ASSERT_TRUE(spinner.Create(L"", WS_CHILD | WS_VISIBLE | SS_OWNERDRAW, CRect(10, 10, 26, 26), &host));
    spinner.LoadImages(L"kvs_spin_check.gif", L"kvs_spin_ok.png", L"kvs_spin_fail.png");
    EXPECT_EQ(8, spinner.GetFrameCount());
    EXPECT_EQ(80u, spinner.FrameDelayMs(0));
    spinner.Play();
    EXPECT_TRUE(spinner.IsPlaying());
    spinner.Stop(2);
    EXPECT_EQ(2, spinner.GetShownPicture());
    spinner.Stop(1);
    EXPECT_EQ(1, spinner.GetShownPicture());
    host.DestroyWindow();
}

}  // namespace
