// The install pages' frame: which strip pictures each step shows, and the
// painted column, work area and border.
#include <gtest/gtest.h>

#include "../controls/controls_test_support.h"
#include "pages/flow_page.h"

namespace {

// 'D' done, 'T' to do, for captions 1..5, dots 1..5 and connectors 1..4.
struct StripCase {
    int step;
    const char* captions;
    const char* dots;
    const char* connectors;
};

TEST(FlowPage, StepStripPicturesFollowTheStep) {
    const StripCase cases[] = {
        {1, "DTTTT", "DTTTT", "TTTT"},
        {2, "DDTTT", "DDTTT", "DTTT"},
        {5, "DDDDD", "DDDDD", "DDDD"},
    };
    for (const StripCase& c : cases) {
        for (int i = 1; i <= 5; ++i) {
            CString caption;
            caption.Format(c.captions[i - 1] == 'D' ? L"kvs_step_done_%d.png" : L"kvs_step_todo_%d.png", i);
            EXPECT_EQ(caption, CFlowPage::StepCaptionPicture(i, c.step)) << c.step << " caption " << i;
            EXPECT_EQ(CString(c.dots[i - 1] == 'D' ? L"kvs_step_dot_done.png" : L"kvs_step_dot_todo.png"),
                      CFlowPage::StepDotPicture(i, c.step))
                << c.step << " dot " << i;
            if (i < 5)
                EXPECT_EQ(CString(c.connectors[i - 1] == 'D' ? L"kvs_step_line_done.png" : L"kvs_step_line_todo.png"),
                          CFlowPage::StepConnectorPicture(i, c.step))
                    << c.step << " connector " << i;
        }
    }
}

TEST(FlowPage, FramePaintsColumnWorkAreaAndThreeBorderLines) {
    const int w = 920, h = 460;
    for (int step = 1; step <= 5; ++step) {
        MemSurface surface(w, h, RGB(1, 2, 3));
        CFlowPage::PaintFrame(surface.dc(), step, w, h);
        const COLORREF blue = 0xFF0000, grey = 0xF5F5F5, white = 0xFFFFFF;
        EXPECT_EQ(blue, surface.At(0, 200)) << step;        // left edge
        EXPECT_EQ(blue, surface.At(w - 1, 200)) << step;    // right edge
        EXPECT_EQ(blue, surface.At(400, h - 1)) << step;    // bottom edge
        EXPECT_EQ(grey, surface.At(100, 0)) << step;        // no top line over the column
        EXPECT_EQ(white, surface.At(600, 0)) << step;       // nor over the work area
        EXPECT_EQ(grey, surface.At(1, 10)) << step;
        EXPECT_EQ(grey, surface.At(199, 440)) << step;      // the column is 200 pixels wide
        EXPECT_EQ(white, surface.At(200, 440)) << step;
        EXPECT_EQ(white, surface.At(w - 2, 440)) << step;
    }
    // Step 1 has the dotted separator at y 130; step 5 has nothing there.
    MemSurface first(w, h), last(w, h);
    CFlowPage::PaintFrame(first.dc(), 1, w, h);
    CFlowPage::PaintFrame(last.dc(), 5, w, h);
    int dots = 0;
    for (int x = 202; x < 918; ++x) dots += first.At(x, 130) == 0xC0C0C0;
    EXPECT_GT(dots, 100);
    for (int x = 202; x < 918; x += 7) EXPECT_EQ(0xFFFFFFu, last.At(x, 130));
    // The backup page's rounded panel has a grey outline.
    MemSurface backup(w, h);
    CFlowPage::PaintFrame(backup.dc(), 2, w, h);
    EXPECT_EQ(0x808080u, backup.At(500, 90));
}

}  // namespace
