// Pictures of the skinned controls: every control takes its pictures by
// skin-picture name from the skin archive (LoadSkinImage) through this unit,
// and draws them with GDI+.
#pragma once

#include <windows.h>
#include <gdiplus.h>

// Where pictures come from: the skin archive unless a test installed its own
// source. A missing picture is null and draws nothing.
typedef Gdiplus::Image* (*SkinPictureSource)(LPCWSTR name);
// Tests only: replaces the skin archive as the picture source (null restores it).
void SetSkinPictureSource(SkinPictureSource source);

// The named picture, owned by the caller (delete it); null when the archive
// has no such entry. An empty or null name gives null without a lookup.
Gdiplus::Image* LoadControlPicture(LPCWSTR name);

// Draws the picture stretched to (x, y, w, h) in the DC's logical
// coordinates (a window origin set on the DC is honoured); null draws nothing.
void DrawSkinPicture(HDC hdc, Gdiplus::Image* image, int x, int y, int w, int h);

// An opaque GDI+ colour from a COLORREF.
inline Gdiplus::Color OpaqueColor(COLORREF c) {
    return Gdiplus::Color(0xFF, GetRValue(c), GetGValue(c), GetBValue(c));
}

// Deletes a picture and clears the pointer.
inline void ReleasePicture(Gdiplus::Image*& image) {
    delete image;
    image = nullptr;
}
