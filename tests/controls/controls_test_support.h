// Shared pieces of the control tests: a message pump, a host window that
// records its children's notifications, solid-colour test pictures and
// pixel reads from memory bitmaps.
#pragma once

#include <functional>
#include <map>
#include <string>
#include <vector>

#include "controls/skin_picture.h"
#include "winlib/winlib.h"

// GDI+ and the common controls, started as the program starts them for the
// life of a test program's main().
class GuiTestSession {
public:
    GuiTestSession();
    ~GuiTestSession();

private:
    ULONG_PTR m_token;
};

// Runs the calling thread's messages for about `ms` milliseconds.
void Pump(DWORD ms = 50);
// Pumps until `done` holds or `timeoutMs` passes; returns whether it held.
bool PumpUntil(const std::function<bool()>& done, DWORD timeoutMs = 60000);
// Puts the cursor at (x, y) and pumps until `done` holds; false after
// `timeoutMs`. The display's cursor is shared with the other test programs of
// the run, whose windows come and go under it, so the cursor is put there
// again every half second until the control has seen it.
bool MoveCursorUntil(int x, int y, const std::function<bool()>& done, DWORD timeoutMs = 60000);

// A visible pop-up that hosts controls and records WM_COMMAND notifications.
class CHostWnd : public CWnd {
public:
    struct Note {
        UINT id;
        UINT code;
        int checkAtNotify;  // BM_GETCHECK of the sender when the notification arrived
    };
    BOOL CreateHost(int x = 100, int y = 100, int w = 700, int h = 500);
    std::vector<Note> m_notes;

protected:
    BOOL OnCommand(WPARAM wParam, LPARAM lParam) override;
};

// Test pictures: names mapped to solid colours (and sizes); every picture a
// control asks for is recorded; pictures handed out count as alive until deleted.
class TestPictures {
public:
    TestPictures();   // installs itself as the picture source
    ~TestPictures();  // restores the skin archive
    void Add(const std::wstring& name, COLORREF color, int w = 8, int h = 8);
    // A picture decoded from bytes (an animated GIF, say).
    void AddBytes(const std::wstring& name, const std::vector<BYTE>& bytes);
    std::vector<std::wstring> m_requested;
    static int s_alive;

private:
    static Gdiplus::Image* Source(LPCWSTR name);
    struct Entry {
        COLORREF color;
        int w, h;
        std::vector<BYTE> bytes;
    };
    std::map<std::wstring, Entry> m_entries;
    static TestPictures* s_current;
};

// A 32-bit memory bitmap with a DC, filled with one colour, to draw into and read back.
class MemSurface {
public:
    MemSurface(int w, int h, COLORREF fill = RGB(255, 255, 255));
    ~MemSurface();
    HDC dc() const { return m_dc; }
    COLORREF At(int x, int y) const;
    int w, h;

private:
    HDC m_dc;
    HBITMAP m_bitmap;
    HGDIOBJ m_old;
    DWORD* m_bits;
};

// A GIF of 8 x 8 frames, one colour index each (0 red, 1 green, 2 blue, 3
// white), with the given delays in hundredths of a second; no delays at all
// (no graphic control blocks) when `withDelays` is false.
std::vector<BYTE> MakeGif(const std::vector<int>& frameColors, const std::vector<int>& delays, bool withDelays = true);
// A PNG of a w x h picture of one colour.
std::vector<BYTE> MakePng(int w, int h, COLORREF color);
// Saves a bitmap as PNG; true on success.
bool SavePng(HBITMAP bitmap, const std::wstring& path);
// Copies what the screen shows of a window into `shot` (of the window's size),
// with the window raised above the other test programs' windows. With
// `pump`, this thread's messages are handled until the screen shows the
// window steadily; without, nothing is handled (a worker waiting on this
// thread stays where it is) and the screen is copied once.
void CaptureScreenOf(HWND h, MemSurface& shot, bool pump = true);
// Copies a window's area of the screen into a PNG file; returns the number of
// distinct colours seen (a few means nothing was drawn).
int CaptureWindow(HWND h, const wchar_t* file, bool pump = true);

// Colour of the brush a colour message returned.
COLORREF BrushColor(HBRUSH brush);
// Whether two colours differ by at most `tolerance` per channel.
bool Near(COLORREF a, COLORREF b, int tolerance = 8);
