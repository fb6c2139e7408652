#include "controls_test_support.h"

#include <objidl.h>

#include <set>

GuiTestSession::GuiTestSession() : m_token(0) {
    Gdiplus::GdiplusStartupInput input;
    Gdiplus::GdiplusStartup(&m_token, &input, nullptr);
    INITCOMMONCONTROLSEX icc = {sizeof(icc), ICC_WIN95_CLASSES};
    InitCommonControlsEx(&icc);
}

GuiTestSession::~GuiTestSession() { Gdiplus::GdiplusShutdown(m_token); }

void Pump(DWORD ms) {
    DWORD end = GetTickCount() + ms;
    do {
        MSG msg;
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
            if (!WalkPreTranslateTree(nullptr, &msg)) {
                TranslateMessage(&msg);
                DispatchMessageW(&msg);
            }
        }
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 5, QS_ALLINPUT);
    } while ((LONG)(GetTickCount() - end) < 0);
}

bool PumpUntil(const std::function<bool()>& done, DWORD timeoutMs) {
    DWORD end = GetTickCount() + timeoutMs;
    while (!done()) {
        if ((LONG)(GetTickCount() - end) >= 0) return false;
        Pump(10);
    }
    return true;
}

bool MoveCursorUntil(int x, int y, const std::function<bool()>& done, DWORD timeoutMs) {
    DWORD last = 0;
    return PumpUntil(
        [&] {
            if (done()) return true;
            if (last == 0 || GetTickCount() - last >= 500) {
                SetCursorPos(x, y);
                last = GetTickCount();
            }
            return false;
        },
        timeoutMs);
}

BOOL CHostWnd::CreateHost(int x, int y, int w, int h) {
    return CreateEx(0, nullptr, L"host", WS_POPUP | WS_VISIBLE | WS_CLIPCHILDREN, x, y, w, h, nullptr, nullptr);
}

BOOL CHostWnd::OnCommand(WPARAM wParam, LPARAM lParam) {
    HWND from = reinterpret_cast<HWND>(lParam);
    if (from) {
        int check = (int)::SendMessageW(from, BM_GETCHECK, 0, 0);
        m_notes.push_back({LOWORD(wParam), HIWORD(wParam), check});
    }
    return CWnd::OnCommand(wParam, lParam);
}

TestPictures* TestPictures::s_current = nullptr;
int TestPictures::s_alive = 0;

namespace {
// A picture that counts itself, so that tests see pictures being freed.
class CountedBitmap : public Gdiplus::Bitmap {
public:
    CountedBitmap(int w, int h) : Gdiplus::Bitmap(w, h, PixelFormat32bppARGB) { ++TestPictures::s_alive; }
    ~CountedBitmap() override { --TestPictures::s_alive; }
};

Gdiplus::Image* ImageFromBytes(const std::vector<BYTE>& bytes) {
    HGLOBAL mem = GlobalAlloc(GMEM_MOVEABLE, bytes.size() ? bytes.size() : 1);
    if (!bytes.empty()) memcpy(GlobalLock(mem), bytes.data(), bytes.size());
    GlobalUnlock(mem);
    IStream* stream = nullptr;
    CreateStreamOnHGlobal(mem, TRUE, &stream);
    Gdiplus::Image* image = Gdiplus::Image::FromStream(stream);
    stream->Release();  // the image keeps its own reference
    return image;
}
}  // namespace

TestPictures::TestPictures() {
    s_current = this;
    SetSkinPictureSource(&TestPictures::Source);
}

TestPictures::~TestPictures() {
    SetSkinPictureSource(nullptr);
    s_current = nullptr;
}

void TestPictures::Add(const std::wstring& name, COLORREF color, int w, int h) { m_entries[name] = {color, w, h, {}}; }

void TestPictures::AddBytes(const std::wstring& name, const std::vector<BYTE>& bytes) {
    m_entries[name] = {0, 0, 0, bytes};
}

Gdiplus::Image* TestPictures::Source(LPCWSTR name) {
    TestPictures* self = s_current;
    if (!self) return nullptr;
    self->m_requested.push_back(name);
    auto it = self->m_entries.find(name);
    if (it == self->m_entries.end()) return nullptr;
    const Entry& e = it->second;
    if (!e.bytes.empty()) return ImageFromBytes(e.bytes);
    CountedBitmap* bmp = new CountedBitmap(e.w, e.h);
    Gdiplus::Graphics g(bmp);
    g.Clear(OpaqueColor(e.color));
    return bmp;
}

MemSurface::MemSurface(int width, int height, COLORREF fill) : w(width), h(height) {
    BITMAPINFO bi = {};
    bi.bmiHeader.biSize = sizeof(bi.bmiHeader);
    bi.bmiHeader.biWidth = w;
    bi.bmiHeader.biHeight = -h;
    bi.bmiHeader.biPlanes = 1;
    bi.bmiHeader.biBitCount = 32;
    void* bits = nullptr;
    m_bitmap = CreateDIBSection(nullptr, &bi, DIB_RGB_COLORS, &bits, nullptr, 0);
    m_bits = static_cast<DWORD*>(bits);
    m_dc = CreateCompatibleDC(nullptr);
    m_old = SelectObject(m_dc, m_bitmap);
    RECT r = {0, 0, w, h};
    HBRUSH b = CreateSolidBrush(fill);
    FillRect(m_dc, &r, b);
    DeleteObject(b);
}

MemSurface::~MemSurface() {
    SelectObject(m_dc, m_old);
    DeleteDC(m_dc);
    DeleteObject(m_bitmap);
}

COLORREF MemSurface::At(int x, int y) const {
    GdiFlush();
    DWORD p = m_bits[y * w + x];
    return RGB((p >> 16) & 0xFF, (p >> 8) & 0xFF, p & 0xFF);
}

std::vector<BYTE> MakeGif(const std::vector<int>& frameColors, const std::vector<int>& delays, bool withDelays) {
    const int side = 8;
    std::vector<BYTE> g = {'G', 'I', 'F', '8', '9', 'a', side, 0, side, 0, 0xF1, 0, 0};
    // Global colour table of four entries (size field 1 -> 2^(1+1)).
    const BYTE table[] = {255, 0, 0, 0, 255, 0, 0, 0, 255, 255, 255, 255};
    g.insert(g.end(), table, table + sizeof(table));
    if (frameColors.size() > 1) {
        // Loop forever (the application extension of animated GIFs).
        const BYTE loop[] = {0x21, 0xFF, 0x0B, 'N', 'E', 'T', 'S', 'C', 'A', 'P', 'E', '2', '.', '0', 3, 1, 0, 0, 0};
        g.insert(g.end(), loop, loop + sizeof(loop));
    }
    for (size_t i = 0; i < frameColors.size(); ++i) {
        if (withDelays) {
            int d = i < delays.size() ? delays[i] : 0;
            const BYTE gce[] = {0x21, 0xF9, 4, 0x04, (BYTE)(d & 0xFF), (BYTE)(d >> 8), 0, 0};
            g.insert(g.end(), gce, gce + sizeof(gce));
        }
        const BYTE desc[] = {0x2C, 0, 0, 0, 0, side, 0, side, 0, 0};
        g.insert(g.end(), desc, desc + sizeof(desc));
        // LZW with minimum code size 2 and three-bit codes packed from the
        // low bit: a clear code (4) before every two pixels keeps the code
        // width at three bits; the end code (5) closes the data.
        std::vector<int> codes;
        for (int p = 0; p < side * side; ++p) {
            if (p % 2 == 0) codes.push_back(4);
            codes.push_back(frameColors[i] & 3);
        }
        codes.push_back(5);
        std::vector<BYTE> packed;
        unsigned acc = 0;
        int nbits = 0;
        for (int c : codes) {
            acc |= (unsigned)c << nbits;
            nbits += 3;
            while (nbits >= 8) {
                packed.push_back((BYTE)(acc & 0xFF));
                acc >>= 8;
                nbits -= 8;
            }
        }
        if (nbits > 0) packed.push_back((BYTE)acc);
        g.push_back(2);
        for (size_t at = 0; at < packed.size(); at += 255) {
            size_t n = packed.size() - at < 255 ? packed.size() - at : 255;
            g.push_back((BYTE)n);
            g.insert(g.end(), packed.begin() + at, packed.begin() + at + n);
        }
        g.push_back(0);
    }
    g.push_back(0x3B);
    return g;
}

static bool EncoderClsid(const wchar_t* mime, CLSID* clsid) {
    UINT n = 0, size = 0;
    Gdiplus::GetImageEncodersSize(&n, &size);
    if (!size) return false;
    std::vector<BYTE> buf(size);
    auto* codecs = reinterpret_cast<Gdiplus::ImageCodecInfo*>(buf.data());
    Gdiplus::GetImageEncoders(n, size, codecs);
    for (UINT i = 0; i < n; ++i) {
        if (wcscmp(codecs[i].MimeType, mime) == 0) {
            *clsid = codecs[i].Clsid;
            return true;
        }
    }
    return false;
}

std::vector<BYTE> MakePng(int w, int h, COLORREF color) {
    Gdiplus::Bitmap bmp(w, h, PixelFormat32bppARGB);
    {
        Gdiplus::Graphics g(&bmp);
        g.Clear(OpaqueColor(color));
    }
    CLSID png;
    std::vector<BYTE> out;
    if (!EncoderClsid(L"image/png", &png)) return out;
    IStream* stream = nullptr;
    CreateStreamOnHGlobal(nullptr, TRUE, &stream);
    if (bmp.Save(stream, &png, nullptr) == Gdiplus::Ok) {
        STATSTG st = {};
        stream->Stat(&st, STATFLAG_NONAME);
        out.resize((size_t)st.cbSize.QuadPart);
        LARGE_INTEGER zero = {};
        stream->Seek(zero, STREAM_SEEK_SET, nullptr);
        ULONG got = 0;
        stream->Read(out.data(), (ULONG)out.size(), &got);
    }
    stream->Release();
    return out;
}

bool SavePng(HBITMAP bitmap, const std::wstring& path) {
    CLSID png;
    if (!EncoderClsid(L"image/png", &png)) return false;
    Gdiplus::Bitmap bmp(bitmap, nullptr);
    return bmp.Save(path.c_str(), &png, nullptr) == Gdiplus::Ok;
}

COLORREF BrushColor(HBRUSH brush) {
    LOGBRUSH lb = {};
    if (!GetObjectW(brush, sizeof(lb), &lb)) return CLR_INVALID;
    return lb.lbColor;
}

bool Near(COLORREF a, COLORREF b, int tolerance) {
    return abs(GetRValue(a) - GetRValue(b)) <= tolerance && abs(GetGValue(a) - GetGValue(b)) <= tolerance &&
           abs(GetBValue(a) - GetBValue(b)) <= tolerance;
}

// Copies a window's area of the screen; the number of distinct colours tells
// whether anything was drawn. Saved as PNG.
namespace {

// The samples of a picture that two captures are compared by.
std::vector<COLORREF> Samples(const MemSurface& shot) {
    std::vector<COLORREF> samples;
    for (int y = 0; y < shot.h; y += 3)
        for (int x = 0; x < shot.w; x += 3) samples.push_back(shot.At(x, y));
    return samples;
}

}  // namespace

void CaptureScreenOf(HWND h, MemSurface& shot, bool pump) {
    // The test programs of a run share its display and run side by side:
    // another program's window may lie over this one, and another program
    // may be capturing at this moment. So the capture takes the run's turn
    // (a mutex of the Wine session), raises the window above every other,
    // repaints it, and copies the screen until two copies agree (the
    // display shows the raised window once it has drawn it).
    HANDLE turn = CreateMutexW(nullptr, FALSE, L"Local\\KavettaTestScreenCapture");
    if (turn) WaitForSingleObject(turn, 120000);
    HWND top = GetAncestor(h, GA_ROOT);
    if (!top) top = h;
    const bool wasTopmost = (GetWindowLongW(top, GWL_EXSTYLE) & WS_EX_TOPMOST) != 0;
    SetWindowPos(top, HWND_TOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
    RedrawWindow(top, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_FRAME | RDW_ALLCHILDREN | RDW_UPDATENOW);
    RECT r;
    GetWindowRect(h, &r);
    std::vector<COLORREF> last;
    for (int attempt = 0; attempt < (pump ? 40 : 1); ++attempt) {
        if (pump) Pump(attempt == 0 ? 0 : 50);
        GdiFlush();
        HDC screen = GetDC(nullptr);
        BitBlt(shot.dc(), 0, 0, shot.w, shot.h, screen, r.left, r.top, SRCCOPY);
        ReleaseDC(nullptr, screen);
        std::vector<COLORREF> now = Samples(shot);
        if (attempt > 0 && now == last) break;
        last.swap(now);
    }
    if (!wasTopmost) SetWindowPos(top, HWND_NOTOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
    if (turn) {
        ReleaseMutex(turn);
        CloseHandle(turn);
    }
}

int CaptureWindow(HWND h, const wchar_t* file, bool pump) {
    RECT r;
    GetWindowRect(h, &r);
    int w = r.right - r.left, ht = r.bottom - r.top;
    MemSurface shot(w, ht, RGB(0, 0, 0));
    CaptureScreenOf(h, shot, pump);
    std::set<COLORREF> colours;
    for (int y = 0; y < ht; y += 3)
        for (int x = 0; x < w; x += 3) colours.insert(shot.At(x, y));
    HBITMAP bmp = (HBITMAP)GetCurrentObject(shot.dc(), OBJ_BITMAP);
    // A capture that cannot be saved counts as nothing drawn.
    if (!SavePng(bmp, file)) return 0;
    return (int)colours.size();
}

