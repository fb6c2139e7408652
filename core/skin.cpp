#include "core/skin.h"

#include <objbase.h>
#include <stdlib.h>
#include <string.h>

#include "core/fixed_texts.h"
#include "core/work_folder.h"
#include "winlib/strings.h"

Gdiplus::Image* ImageFromBytes(const BYTE* bytes, DWORD size) {
    HGLOBAL memory = GlobalAlloc(GMEM_MOVEABLE, size ? size : 1);
    if (!memory) return nullptr;
    void* p = GlobalLock(memory);
    if (!p) {
        GlobalFree(memory);
        return nullptr;
    }
    if (size) memcpy(p, bytes, size);
    GlobalUnlock(memory);
    IStream* stream = nullptr;
    if (CreateStreamOnHGlobal(memory, TRUE, &stream) != S_OK || !stream) {
        GlobalFree(memory);
        return nullptr;
    }
    if (size == 0) {
        ULARGE_INTEGER empty = {};
        stream->SetSize(empty);
    }
    // The image takes its own reference to the stream and keeps it for its
    // whole life (GDI+ may decode lazily); ours goes now, so that deleting
    // the image frees the stream and the memory block with it.
    Gdiplus::Image* image = new Gdiplus::Image(stream);
    stream->Release();
    return image;
}

Gdiplus::Image* LoadSkinImage(const WCHAR* name) {
    if (!name) return nullptr;
    CString entry(name);
    entry.Replace(FixedText::kSkinImageNameFrom, FixedText::kSkinImageNameTo);
    DWORD size = 0;
    BYTE* bytes = ReadSkinEntry(entry, &size);
    if (!bytes) return nullptr;
    Gdiplus::Image* image = ImageFromBytes(bytes, size);
    free(bytes);
    return image;
}

BYTE* LoadSkinImageData(const WCHAR* name, DWORD* size) {
    if (size) *size = 0;
    if (!name) return nullptr;
    CString entry(name);
    entry.Replace(FixedText::kSkinDataNameFrom, FixedText::kSkinDataNameTo);
    return ReadSkinEntry(entry, size);
}
