// Skin pictures, taken by name from the skin archive held in memory
// (CTarvelApp::m_skinZip). Names match the end of an entry's name, letter
// case ignored; the first such entry in archive order wins.
#pragma once

#include <windows.h>
#include <objidl.h>  // GDI+ needs the COM types first
#include <gdiplus.h>

// A GDI+ image of the named picture, or null when the archive has no such
// entry. The image exists even when GDI+ cannot decode the bytes (its
// GetLastStatus tells). The caller deletes it; the memory of the picture
// goes with it. Needs GDI+ started.
Gdiplus::Image* LoadSkinImage(const WCHAR* name);

// The named picture's bytes (a malloc block: the caller frees it with free())
// and their count, or null.
BYTE* LoadSkinImageData(const WCHAR* name, DWORD* size);

// A GDI+ image over a copy of the bytes, on a memory stream that the image
// owns: deleting the image releases the stream and its memory.
Gdiplus::Image* ImageFromBytes(const BYTE* bytes, DWORD size);
