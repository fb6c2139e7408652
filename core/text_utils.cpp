#include "core/text_utils.h"

CStringA WideToThreadAnsi(const wchar_t* text) {
    CStringA bytes;
    int length = text ? (int)wcslen(text) : 0;
    if (length == 0) return bytes;
    int needed = WideCharToMultiByte(CP_THREAD_ACP, 0, text, length, nullptr, 0, nullptr, nullptr);
    if (needed <= 0) return bytes;
    WideCharToMultiByte(CP_THREAD_ACP, 0, text, length, bytes.GetBuffer(needed), needed, nullptr, nullptr);
    bytes.ReleaseBuffer(needed);
    return bytes;
}

CString ThreadAnsiToWide(const char* bytes, int length) {
    CString text;
    if (!bytes) return text;
    if (length < 0) length = (int)strlen(bytes);
    if (length == 0) return text;
    int needed = MultiByteToWideChar(CP_THREAD_ACP, 0, bytes, length, nullptr, 0);
    if (needed <= 0) return text;
    MultiByteToWideChar(CP_THREAD_ACP, 0, bytes, length, text.GetBuffer(needed), needed);
    text.ReleaseBuffer(needed);
    return text;
}
