#include "winlib/internet.h"

#include <atomic>

#include "winlib/app.h"

// ---- CInternetException ----

void CInternetException::Throw(DWORD error, DWORD_PTR context) {
    if (error == 0) error = GetLastError();
    if (error == 0) error = ERROR_INTERNET_INTERNAL_ERROR;
    throw new CInternetException(error, context);
}

BOOL CInternetException::GetErrorMessage(LPWSTR text, UINT maxChars, PUINT helpContext) const {
    if (helpContext) *helpContext = 0;
    if (!text || maxChars == 0) return FALSE;
    wchar_t* buffer = nullptr;
    DWORD n = 0;
    if (m_dwError >= INTERNET_ERROR_BASE && m_dwError <= INTERNET_ERROR_LAST) {
        n = FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_HMODULE | FORMAT_MESSAGE_IGNORE_INSERTS,
                           GetModuleHandleW(L"wininet.dll"), m_dwError, 0, reinterpret_cast<LPWSTR>(&buffer), 0, nullptr);
    }
    CString message;
    if (n && buffer) {
        message = buffer;
        message.TrimRight(L"\r\n .");
    } else if (m_dwError >= INTERNET_ERROR_BASE && m_dwError <= INTERNET_ERROR_LAST) {
        message.Format(L"internet error %lu", m_dwError);
    } else {
        message = Win32ErrorText(m_dwError);
    }
    if (buffer) LocalFree(buffer);
    lstrcpynW(text, message, (int)maxChars);
    return TRUE;
}

// ---- CInternetFile ----

CInternetFile::CInternetFile(HINTERNET file, LPCWSTR url, CInternetSession* session, DWORD_PTR context)
    : m_pSession(session), m_dwContext(context) {
    m_hFile = file;
    m_strFileName = url;
    m_bCloseOnDelete = TRUE;
}

CInternetFile::~CInternetFile() {
    if (m_hFile != hFileNull && m_hFile) InternetCloseHandle(m_hFile);
    m_hFile = hFileNull;
}

UINT CInternetFile::Read(void* buffer, UINT count) {
    if (count == 0) return 0;
    if (m_hFile == hFileNull) CInternetException::Throw(ERROR_INVALID_HANDLE, m_dwContext);
    DWORD read = 0;
    if (!InternetReadFile(m_hFile, buffer, count, &read)) CInternetException::Throw(GetLastError(), m_dwContext);
    return read;
}

void CInternetFile::Write(const void* buffer, UINT count) {
    if (count == 0) return;
    if (m_hFile == hFileNull) CInternetException::Throw(ERROR_INVALID_HANDLE, m_dwContext);
    DWORD written = 0;
    if (!InternetWriteFile(m_hFile, buffer, count, &written) || written != count)
        CInternetException::Throw(GetLastError(), m_dwContext);
}

ULONGLONG CInternetFile::GetLength() const {
    if (m_hFile == hFileNull) CInternetException::Throw(ERROR_INVALID_HANDLE, m_dwContext);
    DWORD available = 0;
    if (!InternetQueryDataAvailable(m_hFile, &available, 0, 0)) CInternetException::Throw(GetLastError(), m_dwContext);
    return available;
}

BOOL CInternetFile::ReadString(CString& line) {
    line.Empty();
    CStringA bytes;
    bool readAny = false;
    char c = 0;
    while (Read(&c, 1) == 1) {
        readAny = true;
        if (c == '\n') break;
        bytes.AppendChar(c);
    }
    if (!readAny) return FALSE;
    if (bytes.GetLength() > 0 && bytes[bytes.GetLength() - 1] == '\r') bytes = bytes.Left(bytes.GetLength() - 1);
    line = CString(bytes);
    return TRUE;
}

void CInternetFile::Close() {
    HINTERNET file = m_hFile;
    m_hFile = hFileNull;
    m_bCloseOnDelete = FALSE;
    if (file == hFileNull || !file || InternetCloseHandle(file)) return;
    // Closing the session (from another thread, to end a call blocked on
    // it) closes the handles below it too: a handle that is already gone
    // is closed.
    const DWORD error = GetLastError();
    if (error == ERROR_INVALID_HANDLE || error == ERROR_INTERNET_INVALID_OPERATION) return;
    CInternetException::Throw(error, m_dwContext);
}

void CInternetFile::Abort() {
    if (m_hFile != hFileNull && m_hFile) InternetCloseHandle(m_hFile);
    m_hFile = hFileNull;
    m_bCloseOnDelete = FALSE;
}

// ---- CHttpFile ----

BOOL CHttpFile::QueryInfoStatusCode(DWORD& statusCode) const {
    statusCode = 0;
    if (m_hFile == hFileNull) return FALSE;
    DWORD code = 0, size = sizeof(code), index = 0;
    if (!HttpQueryInfoW(m_hFile, HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &code, &size, &index)) return FALSE;
    statusCode = code;
    return TRUE;
}

BOOL CHttpFile::QueryInfo(DWORD infoLevel, CString& value) const {
    value.Empty();
    if (m_hFile == hFileNull) return FALSE;
    DWORD size = 0, index = 0;
    HttpQueryInfoW(m_hFile, infoLevel, nullptr, &size, &index);
    if (GetLastError() != ERROR_INSUFFICIENT_BUFFER || size == 0) return FALSE;
    int chars = (int)(size / sizeof(wchar_t)) + 1;
    wchar_t* buffer = value.GetBufferSetLength(chars);
    memset(buffer, 0, chars * sizeof(wchar_t));
    index = 0;
    DWORD bytes = (DWORD)(chars * sizeof(wchar_t));
    BOOL ok = HttpQueryInfoW(m_hFile, infoLevel, buffer, &bytes, &index);
    value.ReleaseBuffer(ok ? (int)(bytes / sizeof(wchar_t)) : 0);
    return ok;
}

// ---- CInternetSession ----

CInternetSession::CInternetSession(LPCWSTR agent, DWORD_PTR context, DWORD accessType, LPCWSTR proxyName,
                                   LPCWSTR proxyBypass, DWORD flags)
    : m_hSession(nullptr), m_dwContext(context) {
    if (!agent) agent = AfxGetAppName();
    m_hSession = InternetOpenW(agent, accessType, proxyName, proxyBypass, flags);
    if (!m_hSession) CInternetException::Throw(GetLastError(), context);
}

CInternetSession::~CInternetSession() { Close(); }

void CInternetSession::Close() {
    // Another thread may close the session to end a call that blocks on it;
    // the handle is taken once, so it is closed once.
    HINTERNET session = static_cast<HINTERNET>(InterlockedExchangePointer(&m_hSession, nullptr));
    if (session) InternetCloseHandle(session);
}

BOOL CInternetSession::SetOption(DWORD option, DWORD value) {
    HINTERNET session = m_hSession;
    if (!session) return FALSE;
    return InternetSetOptionW(session, option, &value, sizeof(value));
}

INTERNET_SCHEME InternetUrlScheme(LPCWSTR url) {
    if (!url || !*url) return INTERNET_SCHEME_UNKNOWN;
    URL_COMPONENTSW parts;
    memset(&parts, 0, sizeof(parts));
    parts.dwStructSize = sizeof(parts);
    parts.dwSchemeLength = 1;  // ask for the scheme only
    if (!InternetCrackUrlW(url, 0, 0, &parts)) return INTERNET_SCHEME_UNKNOWN;
    return parts.nScheme;
}

namespace {
std::atomic<OpenUrlObserver> g_openUrlObserver{nullptr};
}  // namespace

OpenUrlObserver SetOpenUrlObserver(OpenUrlObserver observer) { return g_openUrlObserver.exchange(observer); }

CStdioFile* CInternetSession::OpenURL(LPCWSTR url, DWORD_PTR context, DWORD flags, LPCWSTR headers,
                                      DWORD headersLength) {
    HINTERNET session = m_hSession;
    if (!session) CInternetException::Throw(ERROR_INVALID_HANDLE, context);
    INTERNET_SCHEME scheme = InternetUrlScheme(url);
    if (scheme != INTERNET_SCHEME_HTTP && scheme != INTERNET_SCHEME_HTTPS)
        CInternetException::Throw(ERROR_INTERNET_UNRECOGNIZED_SCHEME, context);
    if (headers && headersLength == 0) headersLength = (DWORD)-1;  // a terminated text
    if (OpenUrlObserver observer = g_openUrlObserver) observer(url, flags);
    HINTERNET file = InternetOpenUrlW(session, url, headers, headersLength, flags, context);
    if (!file) CInternetException::Throw(GetLastError(), context);
    return new CHttpFile(file, url, this, context);
}
