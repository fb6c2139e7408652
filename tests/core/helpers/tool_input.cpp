// A small program for the tool-input tests; it stands in for a system tool
// that may ask something on its standard input:
//   tool_input.exe answer <expected bytes in hex>
//       asks for a line (as convert asks for a volume label) and exits 0 when
//       the line (without its line end) is exactly those bytes, 1 when it is
//       another line, 2 when the input ends before a line end.
//   tool_input.exe prompt
//       asks for an answer nobody expects: reads its input up to the end, then
//       fails with 2 (a tool whose question gets no answer gives up).
//   tool_input.exe leak <handle value in hex>
//       writes to the handle of that value, which the caller keeps and never
//       meant for us: exits 0 when the write went through (we inherited it),
//       1 when there is no such handle here.
// An input that is a console, or none at all, stands for the hidden console
// of a tool started from a window program: nobody ever types into it, so the
// helper waits there as the tool would (10 minutes at most, so that a test
// that failed leaves nothing behind for ever).
#include <windows.h>
#include <stdlib.h>
#include <wchar.h>

#include <string>

namespace {

const DWORD kUnansweredWait = 600000;

bool InputIsAConsoleNobodyAnswers(HANDLE input) {
    DWORD mode = 0;
    if (input == nullptr || input == INVALID_HANDLE_VALUE || GetConsoleMode(input, &mode)) return true;
    return GetFileType(input) == FILE_TYPE_UNKNOWN && GetLastError() != NO_ERROR;
}

void Say(const char* text) {
    DWORD written = 0;
    WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), text, (DWORD)strlen(text), &written, nullptr);
}

// One line of the input without its line end; false when the input ended first.
bool ReadLine(HANDLE input, std::string& line) {
    line.clear();
    for (;;) {
        char c = 0;
        DWORD got = 0;
        if (!ReadFile(input, &c, 1, &got, nullptr) || got == 0) return false;
        if (c == '\n') {
            if (!line.empty() && line.back() == '\r') line.pop_back();
            return true;
        }
        line.push_back(c);
    }
}

std::string FromHex(const wchar_t* hex) {
    std::string bytes;
    for (size_t i = 0; hex[i] && hex[i + 1]; i += 2) {
        wchar_t pair[3] = {hex[i], hex[i + 1], 0};
        bytes.push_back((char)wcstoul(pair, nullptr, 16));
    }
    return bytes;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc < 2) return 100;
    const std::wstring mode = argv[1];
    if (mode == L"leak") {
        if (argc < 3) return 100;
        HANDLE handle = (HANDLE)(ULONG_PTR)wcstoul(argv[2], nullptr, 16);
        DWORD written = 0;
        return WriteFile(handle, "leak", 4, &written, nullptr) && written == 4 ? 0 : 1;
    }
    HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
    if (mode == L"answer") {
        if (argc < 3) return 100;
        Say("Enter current volume label for drive F: ");
        if (InputIsAConsoleNobodyAnswers(input)) Sleep(kUnansweredWait);
        std::string line;
        if (!ReadLine(input, line)) return 2;
        return line == FromHex(argv[2]) ? 0 : 1;
    }
    if (mode == L"prompt") {
        Say("Proceed with the change (Y/N)? ");
        if (InputIsAConsoleNobodyAnswers(input)) Sleep(kUnansweredWait);
        std::string line;
        while (ReadLine(input, line)) {
        }
        return 2;
    }
    return 100;
}
