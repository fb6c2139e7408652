#include "winlib/strings.h"

template <typename Ch>
void CStringT<Ch>::Release() {
    Header* h = GetHeader();
    if (h->capacity != 0) free(h);
}

template <typename Ch>
Ch* CStringT<Ch>::PrepareWrite(int length) {
    Header* h = GetHeader();
    if (length < 0) length = 0;
    if (h->capacity != 0 && length <= h->capacity) return m_pch;
    int capacity = length < 15 ? 15 : length;
    if (h->capacity != 0 && capacity < h->capacity * 2) capacity = h->capacity * 2;
    Header* n = static_cast<Header*>(malloc(sizeof(Header) + (capacity + 1) * sizeof(Ch)));
    if (!n) abort();
    Ch* data = reinterpret_cast<Ch*>(n + 1);
    n->capacity = capacity;
    n->length = h->length;
    memcpy(data, m_pch, (h->length + 1) * sizeof(Ch));
    Release();
    m_pch = data;
    return m_pch;
}

template <typename Ch>
void CStringT<Ch>::Assign(const Ch* s, int length) {
    if (!s || length <= 0) {
        if (GetHeader()->capacity != 0) SetLength(0);
        return;
    }
    // The source may live inside this string's own buffer.
    if (s >= m_pch && s <= m_pch + GetLength()) {
        CStringT copy(s, length);
        *this = static_cast<CStringT&&>(copy);
        return;
    }
    Ch* p = PrepareWrite(length);
    memcpy(p, s, length * sizeof(Ch));
    SetLength(length);
}

template <typename Ch>
void CStringT<Ch>::AssignOther(const OtherCh* s, int length) {
    if (!s || length <= 0) {
        Empty();
        return;
    }
    int needed = Traits::Convert(s, length, nullptr, 0);
    if (needed <= 0) {
        Empty();
        return;
    }
    Ch* p = PrepareWrite(needed);
    int written = Traits::Convert(s, length, p, needed);
    SetLength(written > 0 ? written : 0);
}

template <typename Ch>
CStringT<Ch>& CStringT<Ch>::Append(const Ch* s, int length) {
    if (!s || length <= 0) return *this;
    if (s >= m_pch && s <= m_pch + GetLength()) {
        CStringT copy(s, length);
        return Append(copy.m_pch, length);
    }
    int old = GetLength();
    Ch* p = PrepareWrite(old + length);
    memcpy(p + old, s, length * sizeof(Ch));
    SetLength(old + length);
    return *this;
}

template <typename Ch>
CStringT<Ch> CStringT<Ch>::Mid(int first, int count) const {
    int len = GetLength();
    if (first < 0) first = 0;
    if (count < 0) count = 0;
    if (first > len) first = len;
    if (count > len - first) count = len - first;
    return CStringT(m_pch + first, count);
}

template <typename Ch>
CStringT<Ch> CStringT<Ch>::Right(int count) const {
    int len = GetLength();
    if (count < 0) count = 0;
    if (count > len) count = len;
    return CStringT(m_pch + len - count, count);
}

template <typename Ch>
static bool InSet(Ch c, const Ch* set) {
    if (!set) return false;
    for (; *set; ++set)
        if (*set == c) return true;
    return false;
}

template <typename Ch>
CStringT<Ch> CStringT<Ch>::SpanIncluding(const Ch* set) const {
    int i = 0, len = GetLength();
    while (i < len && InSet(m_pch[i], set)) ++i;
    return Left(i);
}

template <typename Ch>
CStringT<Ch> CStringT<Ch>::SpanExcluding(const Ch* set) const {
    int i = 0, len = GetLength();
    while (i < len && !InSet(m_pch[i], set)) ++i;
    return Left(i);
}

template <typename Ch>
CStringT<Ch> CStringT<Ch>::Tokenize(const Ch* delims, int& start) const {
    int len = GetLength();
    if (start < 0 || start >= len) {
        start = -1;
        return CStringT();
    }
    int i = start;
    while (i < len && InSet(m_pch[i], delims)) ++i;
    if (i >= len) {
        start = -1;
        return CStringT();
    }
    int j = i;
    while (j < len && !InSet(m_pch[j], delims)) ++j;
    start = j + 1;
    return CStringT(m_pch + i, j - i);
}

template <typename Ch>
int CStringT<Ch>::Find(Ch c, int start) const {
    int len = GetLength();
    if (start < 0) start = 0;
    for (int i = start; i < len; ++i)
        if (m_pch[i] == c) return i;
    return -1;
}

template <typename Ch>
int CStringT<Ch>::Find(const Ch* sub, int start) const {
    int len = GetLength();
    int n = Traits::Length(sub);
    if (!sub || start < 0 || start > len) return -1;
    if (n == 0) return start;
    for (int i = start; i + n <= len; ++i)
        if (memcmp(m_pch + i, sub, n * sizeof(Ch)) == 0) return i;
    return -1;
}

template <typename Ch>
int CStringT<Ch>::ReverseFind(Ch c) const {
    for (int i = GetLength() - 1; i >= 0; --i)
        if (m_pch[i] == c) return i;
    return -1;
}

template <typename Ch>
int CStringT<Ch>::FindOneOf(const Ch* set) const {
    for (int i = 0; i < GetLength(); ++i)
        if (InSet(m_pch[i], set)) return i;
    return -1;
}

template <typename Ch>
CStringT<Ch>& CStringT<Ch>::MakeUpper() {
    int len = GetLength();
    if (len == 0) return *this;
    Ch* p = PrepareWrite(len);
    for (int i = 0; i < len; ++i) p[i] = Traits::Upper(p[i]);
    return *this;
}

template <typename Ch>
CStringT<Ch>& CStringT<Ch>::MakeLower() {
    int len = GetLength();
    if (len == 0) return *this;
    Ch* p = PrepareWrite(len);
    for (int i = 0; i < len; ++i) p[i] = Traits::Lower(p[i]);
    return *this;
}

template <typename Ch>
CStringT<Ch>& CStringT<Ch>::MakeReverse() {
    int len = GetLength();
    if (len < 2) return *this;
    Ch* p = PrepareWrite(len);
    for (int i = 0, j = len - 1; i < j; ++i, --j) {
        Ch t = p[i];
        p[i] = p[j];
        p[j] = t;
    }
    return *this;
}

template <typename Ch>
CStringT<Ch>& CStringT<Ch>::TrimLeft() {
    int i = 0, len = GetLength();
    while (i < len && Traits::IsSpace(m_pch[i])) ++i;
    if (i > 0) Delete(0, i);
    return *this;
}

template <typename Ch>
CStringT<Ch>& CStringT<Ch>::TrimLeft(const Ch* set) {
    int i = 0, len = GetLength();
    while (i < len && InSet(m_pch[i], set)) ++i;
    if (i > 0) Delete(0, i);
    return *this;
}

template <typename Ch>
CStringT<Ch>& CStringT<Ch>::TrimRight() {
    int len = GetLength();
    while (len > 0 && Traits::IsSpace(m_pch[len - 1])) --len;
    if (len < GetLength()) SetLength(len);
    return *this;
}

template <typename Ch>
CStringT<Ch>& CStringT<Ch>::TrimRight(const Ch* set) {
    int len = GetLength();
    while (len > 0 && InSet(m_pch[len - 1], set)) --len;
    if (len < GetLength()) SetLength(len);
    return *this;
}

template <typename Ch>
int CStringT<Ch>::Replace(Ch from, Ch to) {
    int count = 0, len = GetLength();
    for (int i = 0; i < len; ++i)
        if (m_pch[i] == from) ++count;
    if (count == 0 || from == to) return count;
    Ch* p = PrepareWrite(len);
    for (int i = 0; i < len; ++i)
        if (p[i] == from) p[i] = to;
    return count;
}

template <typename Ch>
int CStringT<Ch>::Replace(const Ch* from, const Ch* to) {
    int fromLen = Traits::Length(from);
    if (fromLen == 0) return 0;
    int toLen = Traits::Length(to);
    CStringT result;
    int count = 0, i = 0, len = GetLength();
    while (i < len) {
        int hit = Find(from, i);
        if (hit < 0) break;
        result.Append(m_pch + i, hit - i);
        result.Append(to, toLen);
        i = hit + fromLen;
        ++count;
    }
    if (count == 0) return 0;
    result.Append(m_pch + i, len - i);
    *this = static_cast<CStringT&&>(result);
    return count;
}

template <typename Ch>
int CStringT<Ch>::Remove(Ch c) {
    int len = GetLength(), kept = 0;
    if (Find(c) < 0) return 0;
    Ch* p = PrepareWrite(len);
    for (int i = 0; i < len; ++i)
        if (p[i] != c) p[kept++] = p[i];
    SetLength(kept);
    return len - kept;
}

template <typename Ch>
int CStringT<Ch>::Insert(int index, const Ch* s) {
    int len = GetLength();
    if (index < 0) index = 0;
    if (index > len) index = len;
    CStringT tail = Mid(index);
    CStringT insert(s);
    SetLength(index);
    Append(insert.m_pch, insert.GetLength());
    Append(tail.m_pch, tail.GetLength());
    return GetLength();
}

template <typename Ch>
int CStringT<Ch>::Delete(int index, int count) {
    int len = GetLength();
    if (index < 0) index = 0;
    if (count <= 0 || index >= len) return len;
    if (count > len - index) count = len - index;
    Ch* p = PrepareWrite(len);
    memmove(p + index, p + index + count, (len - index - count + 1) * sizeof(Ch));
    GetHeader()->length = len - count;
    return len - count;
}

template <typename Ch>
void CStringT<Ch>::Format(const Ch* fmt, ...) {
    va_list args;
    va_start(args, fmt);
    FormatV(fmt, args);
    va_end(args);
}

template <typename Ch>
void CStringT<Ch>::FormatV(const Ch* fmt, va_list args) {
    Empty();
    AppendFormatV(fmt, args);
}

template <typename Ch>
void CStringT<Ch>::AppendFormat(const Ch* fmt, ...) {
    va_list args;
    va_start(args, fmt);
    AppendFormatV(fmt, args);
    va_end(args);
}

template <typename Ch>
void CStringT<Ch>::AppendFormatV(const Ch* fmt, va_list args) {
    if (!fmt) return;
    va_list measure;
    va_copy(measure, args);
    int n = Traits::FormatLength(fmt, measure);
    va_end(measure);
    if (n <= 0) return;
    int old = GetLength();
    Ch* p = PrepareWrite(old + n);
    va_list out;
    va_copy(out, args);
    Traits::FormatInto(p + old, n + 1, fmt, out);
    va_end(out);
    SetLength(old + n);
}

template <typename Ch>
Ch* CStringT<Ch>::GetBuffer(int minLength) {
    int len = GetLength();
    Ch* p = PrepareWrite(minLength > len ? minLength : len);
    return p;
}

template <typename Ch>
Ch* CStringT<Ch>::GetBufferSetLength(int length) {
    if (length < 0) length = 0;
    Ch* p = PrepareWrite(length);
    if (length > GetLength()) memset(p + GetLength(), 0, (length - GetLength()) * sizeof(Ch));
    SetLength(length);
    return p;
}

template <typename Ch>
void CStringT<Ch>::ReleaseBuffer(int newLength) {
    Header* h = GetHeader();
    if (h->capacity == 0) return;
    if (newLength < 0) {
        newLength = 0;
        while (newLength < h->capacity && m_pch[newLength]) ++newLength;
    }
    if (newLength > h->capacity) newLength = h->capacity;
    SetLength(newLength);
}

template class CStringT<wchar_t>;
template class CStringT<char>;

CStringA WideToCodePage(UINT codePage, const wchar_t* s) {
    CStringA out;
    int len = s ? (int)wcslen(s) : 0;
    if (len == 0) return out;
    int n = WideCharToMultiByte(codePage, 0, s, len, nullptr, 0, nullptr, nullptr);
    if (n <= 0) return out;
    char* p = out.GetBuffer(n);
    WideCharToMultiByte(codePage, 0, s, len, p, n, nullptr, nullptr);
    out.ReleaseBuffer(n);
    return out;
}

CString CodePageToWide(UINT codePage, const char* s, int length) {
    CString out;
    if (!s) return out;
    if (length < 0) length = (int)strlen(s);
    if (length == 0) return out;
    int n = MultiByteToWideChar(codePage, 0, s, length, nullptr, 0);
    if (n <= 0) return out;
    wchar_t* p = out.GetBuffer(n);
    MultiByteToWideChar(codePage, 0, s, length, p, n);
    out.ReleaseBuffer(n);
    return out;
}

CStringA Utf16ToUtf8(const wchar_t* s) { return WideToCodePage(CP_UTF8, s); }

CString Utf8ToUtf16(const char* s, int length) { return CodePageToWide(CP_UTF8, s, length); }

CString Win32ErrorText(DWORD code) {
    DWORD saved = GetLastError();
    wchar_t* buffer = nullptr;
    DWORD n = FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                             nullptr, code, 0, reinterpret_cast<LPWSTR>(&buffer), 0, nullptr);
    CString text;
    if (n && buffer) {
        text = buffer;
        text.TrimRight(L"\r\n .");
    } else {
        text.Format(L"error %lu", code);
    }
    if (buffer) LocalFree(buffer);
    SetLastError(saved);
    return text;
}
