#include "core/text_utils.h"

#include <wincrypt.h>

#include <math.h>

#include <atomic>
#include <vector>

#include "core/fixed_texts.h"

CStringA WideToThreadAnsi(const wchar_t* text) { return WideToCodePage(CP_THREAD_ACP, text); }

CString ThreadAnsiToWide(const char* bytes, int length) { return CodePageToWide(CP_THREAD_ACP, bytes, length); }

namespace {

// splitmix64: a process-wide generator that any thread may draw from.
// Drawing is one atomic add, so two threads never see the same value.
std::atomic<UINT64>& RandomState() {
    static std::atomic<UINT64> state([] {
        UINT64 seed = 0;
        HCRYPTPROV provider = 0;
        if (CryptAcquireContextW(&provider, nullptr, nullptr, PROV_RSA_FULL, CRYPT_VERIFYCONTEXT)) {
            CryptGenRandom(provider, sizeof seed, reinterpret_cast<BYTE*>(&seed));
            CryptReleaseContext(provider, 0);
        }
        // Mixed in always: without a random source the names still differ
        // between processes and runs.
        LARGE_INTEGER counter;
        QueryPerformanceCounter(&counter);
        FILETIME now;
        GetSystemTimeAsFileTime(&now);
        seed ^= (UINT64)counter.QuadPart ^ ((UINT64)now.dwHighDateTime << 32 | now.dwLowDateTime) ^
                ((UINT64)GetCurrentProcessId() << 40);
        return seed;
    }());
    return state;
}

UINT32 NextRandom() {
    UINT64 z = RandomState().fetch_add(0x9E3779B97F4A7C15ULL) + 0x9E3779B97F4A7C15ULL;
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
    return (UINT32)((z ^ (z >> 31)) >> 32);
}

struct VersionParts {
    int part[4];
};

VersionParts ScanVersion(const wchar_t* text, const wchar_t* format) {
    VersionParts v = {{0, 0, 0, 0}};
    swscanf(text, format, &v.part[0], &v.part[1], &v.part[2], &v.part[3]);
    return v;
}

CString FormatWithUnit(const wchar_t* format, double value, const wchar_t* unit) {
    CString text;
    text.Format(format, value, unit);
    return text;
}

const wchar_t* const kSizeUnits[] = {L"bytes", L"KB", L"MB", L"GB", L"TB", L"PB", L"EB", L"ZB", L"YB"};

}  // namespace

void MakeRandomName(wchar_t* buffer) {
    for (int i = 0; i < 10; ++i) {
        switch (NextRandom() % 3) {
        case 1: buffer[i] = (wchar_t)(L'A' + NextRandom() % 26); break;
        case 2: buffer[i] = (wchar_t)(L'a' + NextRandom() % 26); break;
        default: buffer[i] = (wchar_t)(L'0' + NextRandom() % 10); break;
        }
    }
    buffer[10] = 0;
}

int CompareVersions(const wchar_t* first, const wchar_t* second) {
    if (!first || !second) return -2;
    VersionParts a = ScanVersion(first, FixedText::kVersionScanFirst);
    VersionParts b = ScanVersion(second, FixedText::kVersionScanSecond);
    for (int i = 0; i < 4; ++i) {
        if (a.part[i] > b.part[i]) return 1;
        if (a.part[i] < b.part[i]) return -1;
    }
    return 0;
}

CString GetFileVersionText(const wchar_t* path) {
    DWORD attributes = path ? GetFileAttributesW(path) : INVALID_FILE_ATTRIBUTES;
    if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY))
        return CString(FixedText::kNoVersionText);
    CString result = FixedText::kNoVersionResourceText;
    DWORD handle = 0;
    DWORD size = GetFileVersionInfoSizeW(path, &handle);
    if (size == 0) return result;
    std::vector<BYTE> data((size + 1) * 2, 0);
    // Only data that GetFileVersionInfoW really loaded is looked at, and only
    // a root block of the right size and signature.
    if (!GetFileVersionInfoW(path, 0, size, data.data())) return result;
    VS_FIXEDFILEINFO* info = nullptr;
    UINT infoSize = 0;
    if (!VerQueryValueW(data.data(), L"\\", reinterpret_cast<void**>(&info), &infoSize) || !info ||
        infoSize < sizeof(VS_FIXEDFILEINFO) || info->dwSignature != 0xFEEF04BD)
        return result;
    result.Format(FixedText::kVersionFormat, HIWORD(info->dwProductVersionMS), LOWORD(info->dwProductVersionMS),
                  HIWORD(info->dwProductVersionLS), LOWORD(info->dwProductVersionLS));
    return result;
}

CString FormatSizeText(ULONGLONG count) {
    double value = (double)count;
    int unit = 0;
    while (value > 1023 && unit < 8) {
        value *= 1.0 / 1024;
        ++unit;
    }
    return FormatWithUnit(unit <= 3 ? FixedText::kSizeTextSmallFormat : FixedText::kSizeTextLargeFormat, value,
                          kSizeUnits[unit]);
}

CString FormatByteSize(ULONGLONG count) {
    double value = (double)count;
    int unit = 0;
    while (value > 999.0 && unit < 8) {
        value /= 1000.0;
        ++unit;
    }
    if (unit <= 3) return FormatWithUnit(FixedText::kByteSizeSmallFormat, ceil(value), kSizeUnits[unit]);
    return FormatWithUnit(FixedText::kByteSizeLargeFormat, floor(value), kSizeUnits[unit]);
}

CString FormatDuration(DWORD seconds) {
    DWORD s = seconds % 86400;
    CString text;
    text.Format(FixedText::kDurationFormat, (int)(s / 3600), (int)(s % 3600 / 60), (int)(s % 60));
    return text;
}

void SplitString(const CString& text, const wchar_t* delimiters, CStringArray& tokens) {
    tokens.RemoveAll();
    int position = 0;
    for (;;) {
        CString token = text.Tokenize(delimiters, position);
        if (position < 0) break;
        tokens.Add(token);
    }
}

void SplitAtChar(const CString& text, wchar_t delimiter, CStringArray& fields) {
    fields.RemoveAll();
    int start = 0;
    const int length = text.GetLength();
    for (int at; start < length && (at = text.Find(delimiter, start)) >= 0; start = at + 1)
        fields.Add(text.Mid(start, at - start));
    if (start < length) fields.Add(text.Mid(start));
}

int Utf8ToWide(const char* input, int count, wchar_t* output, int capacity) {
    const BYTE* in = reinterpret_cast<const BYTE*>(input);
    int written = 0;
    for (int i = 0; i < count;) {
        BYTE lead = in[i];
        UINT32 code;
        int length;
        if (lead < 0x80) {
            code = lead;
            length = 1;
        } else if (lead < 0xC0 || lead >= 0xF8) {
            return -1;
        } else {
            length = lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : 4;
            if (count - i < length) return -1;
            BYTE second = in[i + 1];
            if ((length == 2 && lead < 0xC2) || (lead == 0xE0 && second < 0xA0) || (lead == 0xF0 && second < 0x90) ||
                lead >= 0xF5 || (lead == 0xF4 && second >= 0x90))
                return -1;
            code = lead & (0x7F >> length);
            for (int k = 1; k < length; ++k) {
                BYTE next = in[i + k];
                if (next < 0x80 || next > 0xBF) return -1;
                code = code << 6 | (next & 0x3F);
            }
        }
        int units = code > 0xFFFF ? 2 : 1;
        if (written + units > capacity) break;
        if (units == 2) {
            output[written++] = (wchar_t)(0xD800 + ((code - 0x10000) >> 10));
            output[written++] = (wchar_t)(0xDC00 + ((code - 0x10000) & 0x3FF));
        } else {
            output[written++] = (wchar_t)code;
        }
        i += length;
    }
    return written;
}

CString Utf8ToWideText(const char* text) {
    int count = text ? (int)strlen(text) : 0;
    CString result;
    if (count == 0) return result;
    int written = Utf8ToWide(text, count, result.GetBuffer(count), count);
    if (written > 0) {
        result.ReleaseBuffer(written);
        return result;
    }
    result.ReleaseBuffer(0);
    return ThreadAnsiToWide(text, count);
}

BOOL IsUtf8Text(const BYTE* bytes, int count, BOOL mayEndCut) {
    int pending = 0;
    bool nonAscii = false;
    for (int i = 0; i < count; ++i) {
        BYTE b = bytes[i];
        if (pending) {
            if (b < 0x80 || b > 0xBF) return FALSE;
            --pending;
            continue;
        }
        if (b < 0x80) continue;
        nonAscii = true;
        if (b < 0xC0) return FALSE;
        pending = b < 0xE0 ? 1 : b < 0xF0 ? 2 : b < 0xF8 ? 3 : (b == 0xFC || b == 0xFD) ? 5 : 4;
    }
    if (pending && !mayEndCut) return FALSE;
    return nonAscii;
}

int DetectTextEncoding(const wchar_t* path) {
    HANDLE file = CreateFileW(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return kTextCannotOpen;
    BYTE head[501];
    DWORD got = 0;
    // One byte more than the probe window tells whether the window was cut
    // out of a longer file.
    if (!ReadFile(file, head, sizeof head, &got, nullptr)) got = 0;
    CloseHandle(file);
    const bool cut = got > 500;
    if (cut) got = 500;
    if (got >= 2 && head[0] == 0xFF && head[1] == 0xFE) return kTextUtf16Le;
    if (got >= 2 && head[0] == 0xFE && head[1] == 0xFF) return kTextUtf16Be;
    if (got >= 3 && head[0] == 0xEF && head[1] == 0xBB && head[2] == 0xBF) return kTextUtf8Bom;
    // A window that ends inside a character of a longer file is still UTF-8.
    return IsUtf8Text(head, (int)got, cut) ? kTextUtf8 : kTextAnsi;
}
