// Strings: CString (UTF-16) and CStringA (narrow, the ANSI code page).
//
// A string is one pointer to a heap block that holds a small header and the
// characters. Nothing points into the object itself, so a CString may be
// relocated bitwise (CArray relies on this when it grows). Copies are deep.
#pragma once

#include <windows.h>
#include <stdarg.h>
#include <stddef.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <wchar.h>
#include <wctype.h>
#include <ctype.h>

namespace winlib_detail {

struct StringHeader {
    int length;    // characters in use, without the terminator
    int capacity;  // characters that fit, without the terminator; 0 for the shared empty block
};

template <typename Ch> struct CharTraits;

template <> struct CharTraits<wchar_t> {
    typedef char Other;
    static int Length(const wchar_t* s) { return s ? (int)wcslen(s) : 0; }
    static int Compare(const wchar_t* a, const wchar_t* b) { return wcscmp(a, b); }
    static int CompareNoCase(const wchar_t* a, const wchar_t* b) { return _wcsicmp(a, b); }
    static int FormatLength(const wchar_t* fmt, va_list args) { return _vscwprintf(fmt, args); }
    static int FormatInto(wchar_t* buf, size_t count, const wchar_t* fmt, va_list args) {
        return _vsnwprintf(buf, count, fmt, args);
    }
    static wchar_t Upper(wchar_t c) { return (wchar_t)(ULONG_PTR)CharUpperW((LPWSTR)(ULONG_PTR)c); }
    static wchar_t Lower(wchar_t c) { return (wchar_t)(ULONG_PTR)CharLowerW((LPWSTR)(ULONG_PTR)c); }
    static bool IsSpace(wchar_t c) { return iswspace(c) != 0; }
    // Converts from the other width; returns characters written (or needed when out is null).
    static int Convert(const char* in, int inLen, wchar_t* out, int outLen) {
        return MultiByteToWideChar(CP_ACP, 0, in, inLen, out, outLen);
    }
};

template <> struct CharTraits<char> {
    typedef wchar_t Other;
    static int Length(const char* s) { return s ? (int)strlen(s) : 0; }
    static int Compare(const char* a, const char* b) { return strcmp(a, b); }
    static int CompareNoCase(const char* a, const char* b) { return _stricmp(a, b); }
    static int FormatLength(const char* fmt, va_list args) { return _vscprintf(fmt, args); }
    static int FormatInto(char* buf, size_t count, const char* fmt, va_list args) {
        return _vsnprintf(buf, count, fmt, args);
    }
    static char Upper(char c) { return (char)(ULONG_PTR)CharUpperA((LPSTR)(ULONG_PTR)(unsigned char)c); }
    static char Lower(char c) { return (char)(ULONG_PTR)CharLowerA((LPSTR)(ULONG_PTR)(unsigned char)c); }
    static bool IsSpace(char c) { return isspace((unsigned char)c) != 0; }
    static int Convert(const wchar_t* in, int inLen, char* out, int outLen) {
        return WideCharToMultiByte(CP_ACP, 0, in, inLen, out, outLen, nullptr, nullptr);
    }
};

}  // namespace winlib_detail

template <typename Ch>
class CStringT {
    typedef winlib_detail::CharTraits<Ch> Traits;
    typedef typename Traits::Other OtherCh;
    typedef winlib_detail::StringHeader Header;

public:
    typedef Ch XCHAR;
    typedef const Ch* PCXSTR;

    CStringT() : m_pch(EmptyData()) {}
    CStringT(const CStringT& other) : m_pch(EmptyData()) { Assign(other.m_pch, other.GetLength()); }
    CStringT(CStringT&& other) noexcept : m_pch(other.m_pch) { other.m_pch = EmptyData(); }
    CStringT(const Ch* s) : m_pch(EmptyData()) { Assign(s, Traits::Length(s)); }
    CStringT(const Ch* s, int length) : m_pch(EmptyData()) { Assign(s, length); }
    CStringT(Ch c, int repeat = 1) : m_pch(EmptyData()) {
        if (repeat > 0) {
            Ch* p = PrepareWrite(repeat);
            for (int i = 0; i < repeat; ++i) p[i] = c;
            SetLength(repeat);
        }
    }
    // Conversion from the other width goes through the ANSI code page, as the
    // stock library does.
    CStringT(const OtherCh* s) : m_pch(EmptyData()) { AssignOther(s, winlib_detail::CharTraits<OtherCh>::Length(s)); }
    CStringT(const CStringT<OtherCh>& s) : m_pch(EmptyData()) { AssignOther(s.GetString(), s.GetLength()); }
    ~CStringT() { Release(); }

    CStringT& operator=(const CStringT& other) {
        if (this != &other) Assign(other.m_pch, other.GetLength());
        return *this;
    }
    CStringT& operator=(CStringT&& other) noexcept {
        if (this != &other) {
            Release();
            m_pch = other.m_pch;
            other.m_pch = EmptyData();
        }
        return *this;
    }
    CStringT& operator=(const Ch* s) { Assign(s, Traits::Length(s)); return *this; }
    CStringT& operator=(Ch c) { Assign(&c, 1); return *this; }
    CStringT& operator=(const OtherCh* s) { AssignOther(s, winlib_detail::CharTraits<OtherCh>::Length(s)); return *this; }
    CStringT& operator=(const CStringT<OtherCh>& s) { AssignOther(s.GetString(), s.GetLength()); return *this; }

    // Access
    int GetLength() const { return GetHeader()->length; }
    bool IsEmpty() const { return GetLength() == 0; }
    void Empty() { Release(); m_pch = EmptyData(); }
    const Ch* GetString() const { return m_pch; }
    operator const Ch*() const { return m_pch; }
    Ch GetAt(int i) const { return m_pch[i]; }
    Ch operator[](int i) const { return m_pch[i]; }
    void SetAt(int i, Ch c) { Ch* p = PrepareWrite(GetLength()); p[i] = c; }

    // Concatenation
    CStringT& Append(const Ch* s, int length);
    CStringT& Append(const Ch* s) { return Append(s, Traits::Length(s)); }
    CStringT& AppendChar(Ch c) { return Append(&c, 1); }
    CStringT& operator+=(const CStringT& s) { return Append(s.m_pch, s.GetLength()); }
    CStringT& operator+=(const Ch* s) { return Append(s); }
    CStringT& operator+=(Ch c) { return AppendChar(c); }
    CStringT& operator+=(const OtherCh* s) { return *this += CStringT(s); }

    // Comparison
    int Compare(const Ch* s) const { return Traits::Compare(m_pch, s ? s : EmptyData()); }
    int CompareNoCase(const Ch* s) const { return Traits::CompareNoCase(m_pch, s ? s : EmptyData()); }

    // Pieces. Out-of-range arguments are clamped, as the stock library does.
    CStringT Mid(int first) const { return Mid(first, GetLength() - (first < 0 ? 0 : first)); }
    CStringT Mid(int first, int count) const;
    CStringT Left(int count) const { return Mid(0, count); }
    CStringT Right(int count) const;
    CStringT SpanIncluding(const Ch* set) const;
    CStringT SpanExcluding(const Ch* set) const;
    CStringT Tokenize(const Ch* delims, int& start) const;

    // Searching; -1 when not found.
    int Find(Ch c, int start = 0) const;
    int Find(const Ch* sub, int start = 0) const;
    int ReverseFind(Ch c) const;
    int FindOneOf(const Ch* set) const;

    // Changing
    CStringT& MakeUpper();
    CStringT& MakeLower();
    CStringT& MakeReverse();
    CStringT& Trim() { return TrimRight().TrimLeft(); }
    CStringT& Trim(Ch c) { return TrimRight(c).TrimLeft(c); }
    CStringT& Trim(const Ch* set) { return TrimRight(set).TrimLeft(set); }
    CStringT& TrimLeft();
    CStringT& TrimLeft(Ch c) { Ch set[2] = {c, 0}; return TrimLeft(set); }
    CStringT& TrimLeft(const Ch* set);
    CStringT& TrimRight();
    CStringT& TrimRight(Ch c) { Ch set[2] = {c, 0}; return TrimRight(set); }
    CStringT& TrimRight(const Ch* set);
    int Replace(Ch from, Ch to);
    int Replace(const Ch* from, const Ch* to);
    int Remove(Ch c);
    int Insert(int index, Ch c) { return Insert(index, CStringT(c)); }
    int Insert(int index, const Ch* s);
    int Delete(int index, int count = 1);

    // printf-style formatting with the C run-time's rules (%s is a string of
    // this width, %S of the other).
    void Format(const Ch* fmt, ...);
    void FormatV(const Ch* fmt, va_list args);
    void AppendFormat(const Ch* fmt, ...);
    void AppendFormatV(const Ch* fmt, va_list args);

    // Direct buffer access. GetBuffer(n) gives room for at least n characters
    // plus a terminator; ReleaseBuffer(-1) takes the length from the terminator.
    Ch* GetBuffer() { return PrepareWrite(GetLength()); }
    Ch* GetBuffer(int minLength);
    Ch* GetBufferSetLength(int length);
    void ReleaseBuffer(int newLength = -1);
    void ReleaseBufferSetLength(int newLength) { ReleaseBuffer(newLength); }
    void Preallocate(int length) { GetBuffer(length); }

private:
    template <typename> friend class CStringT;

    Header* GetHeader() const { return reinterpret_cast<Header*>(m_pch) - 1; }
    static Ch* EmptyData() {
        static struct { Header h; Ch c[1]; } s_empty = {{0, 0}, {0}};
        return s_empty.c;
    }
    // Frees an own block; the shared empty block (capacity 0) is never freed.
    void Release();
    // Makes room for `length` characters (keeping the current ones) and
    // returns the writable buffer.
    Ch* PrepareWrite(int length);
    void SetLength(int length) {
        if (GetHeader()->capacity == 0) return;  // still the shared empty block
        GetHeader()->length = length;
        m_pch[length] = 0;
    }
    void Assign(const Ch* s, int length);
    void AssignOther(const OtherCh* s, int length);

    Ch* m_pch;
};

typedef CStringT<wchar_t> CString;
typedef CStringT<wchar_t> CStringW;
typedef CStringT<char> CStringA;

template <typename Ch>
CStringT<Ch> operator+(const CStringT<Ch>& a, const CStringT<Ch>& b) { CStringT<Ch> r(a); r += b; return r; }
template <typename Ch>
CStringT<Ch> operator+(const CStringT<Ch>& a, const Ch* b) { CStringT<Ch> r(a); r += b; return r; }
template <typename Ch>
CStringT<Ch> operator+(const Ch* a, const CStringT<Ch>& b) { CStringT<Ch> r(a); r += b; return r; }
template <typename Ch>
CStringT<Ch> operator+(const CStringT<Ch>& a, Ch b) { CStringT<Ch> r(a); r += b; return r; }
template <typename Ch>
CStringT<Ch> operator+(Ch a, const CStringT<Ch>& b) { CStringT<Ch> r(a); r += b; return r; }

template <typename Ch>
bool operator==(const CStringT<Ch>& a, const CStringT<Ch>& b) { return a.GetLength() == b.GetLength() && a.Compare(b) == 0; }
template <typename Ch>
bool operator==(const CStringT<Ch>& a, const Ch* b) { return a.Compare(b) == 0; }
template <typename Ch>
bool operator==(const Ch* a, const CStringT<Ch>& b) { return b.Compare(a) == 0; }
template <typename Ch>
bool operator!=(const CStringT<Ch>& a, const CStringT<Ch>& b) { return !(a == b); }
template <typename Ch>
bool operator!=(const CStringT<Ch>& a, const Ch* b) { return a.Compare(b) != 0; }
template <typename Ch>
bool operator!=(const Ch* a, const CStringT<Ch>& b) { return b.Compare(a) != 0; }
template <typename Ch>
bool operator<(const CStringT<Ch>& a, const CStringT<Ch>& b) { return a.Compare(b) < 0; }
template <typename Ch>
bool operator>(const CStringT<Ch>& a, const CStringT<Ch>& b) { return a.Compare(b) > 0; }

// UTF-16 <-> a code page's bytes (invalid input converts as far as it goes).
CStringA WideToCodePage(UINT codePage, const wchar_t* s);
CString CodePageToWide(UINT codePage, const char* s, int length = -1);

// UTF-8 <-> UTF-16, for the few places that must not go through the ANSI code page.
CStringA Utf16ToUtf8(const wchar_t* s);
CString Utf8ToUtf16(const char* s, int length = -1);

// Text of a Win32 error code (without a trailing line break); keeps the
// thread's last error as it was.
CString Win32ErrorText(DWORD code);

extern template class CStringT<wchar_t>;
extern template class CStringT<char>;
