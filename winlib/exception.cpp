#include "winlib/exception.h"

#include <wchar.h>

static BOOL CopyMessage(const wchar_t* message, LPWSTR text, UINT maxChars, PUINT helpContext) {
    if (helpContext) *helpContext = 0;
    if (!text || maxChars == 0) return FALSE;
    lstrcpynW(text, message, (int)maxChars);
    return TRUE;
}

BOOL CException::GetErrorMessage(LPWSTR text, UINT maxChars, PUINT helpContext) const {
    if (helpContext) *helpContext = 0;
    if (text && maxChars) text[0] = 0;
    return FALSE;
}

BOOL CInvalidArgException::GetErrorMessage(LPWSTR text, UINT maxChars, PUINT helpContext) const {
    return CopyMessage(L"Invalid argument.", text, maxChars, helpContext);
}

BOOL CMemoryException::GetErrorMessage(LPWSTR text, UINT maxChars, PUINT helpContext) const {
    return CopyMessage(L"Out of memory.", text, maxChars, helpContext);
}
