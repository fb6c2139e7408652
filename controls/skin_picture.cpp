#include "controls/skin_picture.h"

// The skin archive's reader joins the build with the payload work; until it
// is there, the program's controls find no pictures and draw without them.
#if __has_include("core/skin.h")
#include "core/skin.h"
#define KAVETTA_HAVE_SKIN_ARCHIVE 1
#endif

namespace {
SkinPictureSource g_source = nullptr;
}

void SetSkinPictureSource(SkinPictureSource source) { g_source = source; }

Gdiplus::Image* LoadControlPicture(LPCWSTR name) {
    if (!name || !*name) return nullptr;
    if (g_source) return g_source(name);
#ifdef KAVETTA_HAVE_SKIN_ARCHIVE
    return LoadSkinImage(name);
#else
    return nullptr;
#endif
}

void DrawSkinPicture(HDC hdc, Gdiplus::Image* image, int x, int y, int w, int h) {
    if (!hdc || !image || image->GetLastStatus() != Gdiplus::Ok) return;
    // GDI+ and a DC's window origin do not agree on every platform: draw in
    // device coordinates with the origin at 0 for the duration.
    POINT org = {0, 0};
    GetWindowOrgEx(hdc, &org);
    SetWindowOrgEx(hdc, 0, 0, nullptr);
    {
        Gdiplus::Graphics g(hdc);
        g.DrawImage(image, Gdiplus::Rect(x - org.x, y - org.y, w, h));
    }
    SetWindowOrgEx(hdc, org.x, org.y, nullptr);
}
