// The page tests' entry point: GDI+ and the common controls are started as
// the program starts them, and the program's application object carries the
// run-wide state the pages read.
#include <windows.h>
#include <gdiplus.h>
#include <gtest/gtest.h>

#include "core/tarvel_app.h"
#include "winlib/winlib.h"

int main(int argc, char** argv) {
    CTarvelApp app;
    ULONG_PTR token = 0;
    Gdiplus::GdiplusStartupInput input;
    Gdiplus::GdiplusStartup(&token, &input, nullptr);
    INITCOMMONCONTROLSEX icc = {sizeof(icc), ICC_WIN95_CLASSES};
    InitCommonControlsEx(&icc);
    testing::InitGoogleTest(&argc, argv);
    int rc = RUN_ALL_TESTS();
    Gdiplus::GdiplusShutdown(token);
    return rc;
}
