#include <gtest/gtest.h>
#include <process.h>

#include "controls/picture_controls.h"
#include "controls_test_support.h"

namespace {

struct PictureFixture : ::testing::Test {
    TestPictures pictures;
    CHostWnd host;
    void SetUp() override { ASSERT_TRUE(host.CreateHost()); }
    void TearDown() override { host.DestroyWindow(); }
    void MakeGif(CGIFControl& gif, int x = 10) {
        ASSERT_TRUE(gif.Create(L"", WS_CHILD | WS_VISIBLE | SS_OWNERDRAW, CRect(x, 10, x + 40, 50), &host));
    }
    static COLORREF Drawn(CStatic& control) {
        MemSurface s(40, 40, RGB(9, 9, 9));
        DRAWITEMSTRUCT dis = {};
        dis.CtlType = ODT_STATIC;
        dis.hwndItem = control.m_hWnd;
        dis.hDC = s.dc();
        dis.rcItem = CRect(0, 0, 40, 40);
        control.DrawItem(&dis);
        return s.At(20, 20);
    }
};

TEST_F(PictureFixture, FramesPlayAtTheirStoredDelaysAndZeroMeans70) {
    pictures.AddBytes(L"anim", ::MakeGif({0, 1, 2}, {0, 5, 12}));
    pictures.Add(L"ok", RGB(0, 200, 0));
    CGIFControl gif;
    MakeGif(gif);
    gif.LoadImages(L"anim", L"ok", L"");
    ASSERT_EQ(3, gif.GetFrameCount());
    EXPECT_EQ(70u, gif.FrameDelayMs(0));
    EXPECT_EQ(50u, gif.FrameDelayMs(1));
    EXPECT_EQ(120u, gif.FrameDelayMs(2));
    EXPECT_EQ(70u, gif.FrameDelayMs(3)) << "never past the stored delays";
    EXPECT_TRUE(Near(RGB(255, 0, 0), Drawn(gif))) << std::hex << Drawn(gif);

    gif.Play();
    EXPECT_TRUE(gif.IsPlaying());
    EXPECT_EQ(70u, gif.GetLastTimerPeriod());
    EXPECT_EQ(1, gif.GetCurrentFrame());
    gif.SendMessage(WM_TIMER, 1);
    EXPECT_EQ(50u, gif.GetLastTimerPeriod());
    EXPECT_EQ(2, gif.GetCurrentFrame());
    EXPECT_TRUE(Near(RGB(0, 255, 0), Drawn(gif)));
    gif.Play();  // already playing: nothing restarts
    EXPECT_EQ(2, gif.GetCurrentFrame());
    gif.SendMessage(WM_TIMER, 1);
    EXPECT_EQ(120u, gif.GetLastTimerPeriod());
    EXPECT_EQ(0, gif.GetCurrentFrame());
    EXPECT_TRUE(Near(RGB(0, 0, 255), Drawn(gif)));

    gif.Stop(1);
    EXPECT_FALSE(gif.IsPlaying());
    EXPECT_EQ(1, gif.GetShownPicture());
    EXPECT_TRUE(Near(RGB(0, 200, 0), Drawn(gif)));
    gif.Stop(2);  // no second still: the first frame
    EXPECT_EQ(0, gif.GetShownPicture());
    EXPECT_TRUE(Near(RGB(255, 0, 0), Drawn(gif)));
    gif.SendMessage(WM_TIMER, 1);  // a late timer after Stop does nothing
    EXPECT_EQ(0, gif.GetCurrentFrame());
}

TEST_F(PictureFixture, OddAnimationsNeitherDivideByZeroNorReadPastTheirData) {
    struct Case {
        const char* what;
        std::vector<BYTE> bytes;
        int frames;
        UINT period;  // of the timer after two ticks (frame 0 again); 0: not checked
    } cases[] = {
        {"single frame", ::MakeGif({2}, {7}), 1, 0},
        {"two frames, stored delays", ::MakeGif({0, 1}, {9, 0}), 2, 90},  // frame 0's own 9 hundredths
        {"no delays", ::MakeGif({0, 1}, {}, false), 2, 70},
        {"not a picture", std::vector<BYTE>{1, 2, 3, 4, 5}, 0, 0},
    };
    for (const Case& c : cases) {
        pictures.AddBytes(L"odd", c.bytes);
        CGIFControl gif;
        MakeGif(gif);
        gif.LoadImages(L"odd", L"", L"");
        EXPECT_EQ(c.frames, gif.GetFrameCount()) << c.what;
        gif.Play();
        gif.SendMessage(WM_TIMER, 1);
        gif.SendMessage(WM_TIMER, 1);
        if (c.frames == 1) EXPECT_EQ(0, gif.GetCurrentFrame()) << c.what;
        if (c.period) EXPECT_EQ(c.period, gif.GetLastTimerPeriod()) << c.what;
        Drawn(gif);
        gif.Stop(1);
        gif.DestroyWindow();
    }
    CGIFControl missing;
    MakeGif(missing);
    pictures.Add(L"fail", RGB(200, 0, 0));
    missing.LoadImages(L"absent", L"", L"fail");
    missing.Play();
    EXPECT_FALSE(missing.IsPlaying());
    EXPECT_TRUE(Near(RGB(9, 9, 9), Drawn(missing), 0));
    missing.Stop(2);
    EXPECT_TRUE(Near(RGB(200, 0, 0), Drawn(missing)));
}

TEST_F(PictureFixture, PlayAndStopFromAWorkerRunOnTheWindowsThread) {
    pictures.AddBytes(L"anim", ::MakeGif({0, 1}, {2, 2}));
    CGIFControl gif;
    MakeGif(gif);
    gif.LoadImages(L"anim", L"", L"");
    struct Job {
        CGIFControl* gif;
        int stopWith;
        static unsigned __stdcall Proc(void* p) {
            Job* j = static_cast<Job*>(p);
            if (j->stopWith < 0) j->gif->Play();
            else j->gif->Stop(j->stopWith);
            return 0;
        }
    };
    auto run = [&](int stopWith) {
        Job job{&gif, stopWith};
        HANDLE t = reinterpret_cast<HANDLE>(_beginthreadex(nullptr, 0, &Job::Proc, &job, 0, nullptr));
        bool done = PumpUntil([&] { return WaitForSingleObject(t, 0) == WAIT_OBJECT_0; }, 60000);
        CloseHandle(t);
        return done;
    };
    ASSERT_TRUE(run(-1));
    EXPECT_TRUE(gif.IsPlaying());
    // The frame timer belongs to the window's thread: its ticks arrive here.
    int start = gif.GetCurrentFrame();
    EXPECT_TRUE(PumpUntil([&] { return gif.GetCurrentFrame() != start; }, 60000));
    ASSERT_TRUE(run(0));
    EXPECT_FALSE(gif.IsPlaying());
    EXPECT_EQ(0, gif.GetCurrentFrame());
}

TEST_F(PictureFixture, PictureBoxDrawsOnlyDecodablePictures) {
    CPicStaticCtrl pic;
    ASSERT_TRUE(pic.Create(L"图片", WS_CHILD | WS_VISIBLE, CRect(60, 10, 100, 50), &host));
    EXPECT_EQ((DWORD)SS_OWNERDRAW, pic.GetStyle() & SS_TYPEMASK);
    EXPECT_TRUE(Near(RGB(9, 9, 9), Drawn(pic), 0)) << "nothing before any picture";
    std::vector<BYTE> png = MakePng(8, 8, RGB(0, 0, 250));
    ASSERT_FALSE(png.empty());
    EXPECT_TRUE(pic.SetImageData(png.data(), (DWORD)png.size()));
    EXPECT_TRUE(Near(RGB(0, 0, 250), Drawn(pic)));
    EXPECT_TRUE(Near(RGB(0, 0, 250), Drawn(pic))) << "decoded again on every paint";
    const BYTE junk[] = {1, 2, 3, 4, 5, 6, 7, 8};
    EXPECT_TRUE(pic.SetImageData(junk, sizeof(junk)));
    EXPECT_TRUE(Near(RGB(9, 9, 9), Drawn(pic), 0));
}

TEST_F(PictureFixture, ProgressPositionIsClamped) {
    CMyProgressCtrl bar;
    ASSERT_TRUE(bar.Create(WS_CHILD | WS_VISIBLE, CRect(10, 100, 410, 120), &host, 30));
    int cases[][2] = {{50, 50}, {-5, 0}, {150, 100}, {100, 100}, {0, 0}};
    for (auto& c : cases) {
        bar.SetPos(c[0]);
        EXPECT_EQ(c[1], bar.GetPosition());
        EXPECT_EQ(c[1], (int)bar.SendMessage(PBM_GETPOS));
    }
}

TEST_F(PictureFixture, ProgressBarDrawing) {
    CMyProgressCtrl bar;
    ASSERT_TRUE(bar.Create(WS_CHILD | WS_VISIBLE, CRect(10, 100, 410, 120), &host, 31));
    bar.SetBarColor(0xFF0078E3);
    bar.SetTrackColor(0xFFFFFFFF);
    const COLORREF kBar = RGB(0, 0x78, 0xE3), kTrack = RGB(255, 255, 255), kBack = RGB(30, 30, 30);
    auto paint = [&](MemSurface& s) { bar.PaintBar(s.dc()); };

    bar.SetPos(0);
    MemSurface zero(400, 20, kBack);
    paint(zero);
    EXPECT_TRUE(Near(kTrack, zero.At(200, 10)));
    EXPECT_TRUE(Near(RGB(178, 178, 178), zero.At(5, 10), 12)) << "the darker dot at the left end";
    EXPECT_TRUE(Near(kBack, zero.At(399, 0), 0)) << "outside the capsule the background shows through";

    bar.SetPos(100);
    MemSurface full(400, 20, kBack);
    paint(full);
    EXPECT_TRUE(Near(kBar, full.At(200, 10)));
    EXPECT_TRUE(Near(kBar, full.At(392, 10))) << "the bar covers the whole track";

    bar.SetPos(50);
    MemSurface half(400, 20, kBack);
    paint(half);
    EXPECT_TRUE(Near(kBar, half.At(100, 10)));
    EXPECT_TRUE(Near(kTrack, half.At(300, 10)));
}

TEST_F(PictureFixture, ProgressColourMessageAndBorderlessFrame) {
    CMyProgressCtrl bar;
    ASSERT_TRUE(bar.Create(WS_CHILD | WS_VISIBLE, CRect(10, 100, 410, 120), &host, 32));
    MemSurface s(4, 4);
    EXPECT_EQ(GetStockObject(NULL_BRUSH),
              (HGDIOBJ)host.SendMessage(WM_CTLCOLORSTATIC, (WPARAM)s.dc(), (LPARAM)bar.m_hWnd));
    EXPECT_EQ(FALSE, bar.SendMessage(WM_ERASEBKGND, (WPARAM)s.dc()));
    bar.SetTooltipText(L"下载进度");
    EXPECT_EQ(1, bar.m_toolTip.GetToolCount());
}

}  // namespace
