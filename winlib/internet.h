// Internet: CInternetSession, CInternetFile and CHttpFile over WinINet, and
// CInternetException.
//
// Failures are thrown as `CInternetException*` carrying the WinINet or
// Win32 error code (the catcher calls Delete()). Every object closes its
// WinINet handle when it is destroyed; Close may be called more than once.
#pragma once

#include <windows.h>
#include <wininet.h>

#include "winlib/exception.h"
#include "winlib/file.h"
#include "winlib/strings.h"

class CInternetException : public CException {
public:
    explicit CInternetException(DWORD error, DWORD_PTR context = 0) : m_dwError(error), m_dwContext(context) {}
    // Throws a new CInternetException; error 0 takes GetLastError().
    [[noreturn]] static void Throw(DWORD error = 0, DWORD_PTR context = 0);
    // The WinINet text for the code (WinINet's own messages live in its module).
    BOOL GetErrorMessage(LPWSTR text, UINT maxChars, PUINT helpContext = nullptr) const override;

    DWORD m_dwError;
    DWORD_PTR m_dwContext;
};

class CInternetSession;

// The data of one opened URL. Read and GetLength work on the WinINet handle;
// the stream functions of CStdioFile do not apply to it.
class CInternetFile : public CStdioFile {
public:
    CInternetFile(HINTERNET file, LPCWSTR url, CInternetSession* session, DWORD_PTR context);
    ~CInternetFile() override;

    // Bytes read; 0 when the data has ended. Throws on a transfer failure.
    UINT Read(void* buffer, UINT count) override;
    void Write(const void* buffer, UINT count) override;
    // The number of bytes available now without blocking further (the
    // WinINet data-available query; it waits until some data or the end has
    // arrived). Throws on failure.
    ULONGLONG GetLength() const override;
    // Reads one line (8-bit text through the ANSI code page, line break
    // removed); FALSE at the end of the data.
    BOOL ReadString(CString& line) override;
    void Close() override;
    void Abort() override;
    BOOL SetReadBufferSize(UINT) { return TRUE; }

    CString GetFileURL() const { return m_strFileName; }
    CInternetSession* GetSession() const { return m_pSession; }
    operator HINTERNET() const { return m_hFile; }

protected:
    CInternetSession* m_pSession;
    DWORD_PTR m_dwContext;
};

class CHttpFile : public CInternetFile {
public:
    CHttpFile(HINTERNET file, LPCWSTR url, CInternetSession* session, DWORD_PTR context)
        : CInternetFile(file, url, session, context) {}

    // The HTTP status code of the answer; FALSE when it cannot be read.
    BOOL QueryInfoStatusCode(DWORD& statusCode) const;
    // One header or status field as text (HTTP_QUERY_* level).
    BOOL QueryInfo(DWORD infoLevel, CString& value) const;
};

class CInternetSession {
public:
    // Opens a WinINet session; a null agent takes the application's name.
    // Throws a CInternetException* when WinINet cannot be opened.
    explicit CInternetSession(LPCWSTR agent = nullptr, DWORD_PTR context = 1,
                              DWORD accessType = INTERNET_OPEN_TYPE_PRECONFIG, LPCWSTR proxyName = nullptr,
                              LPCWSTR proxyBypass = nullptr, DWORD flags = 0);
    virtual ~CInternetSession();
    CInternetSession(const CInternetSession&) = delete;
    CInternetSession& operator=(const CInternetSession&) = delete;

    // Opens an http or https URL and sends the request; the caller deletes
    // the returned file (a CHttpFile). Other schemes are refused. Throws a
    // CInternetException* on failure.
    CStdioFile* OpenURL(LPCWSTR url, DWORD_PTR context = 1, DWORD flags = INTERNET_FLAG_TRANSFER_ASCII,
                        LPCWSTR headers = nullptr, DWORD headersLength = 0);
    BOOL SetOption(DWORD option, DWORD value);
    // Closes the session and every handle opened from it. May be called
    // from another thread while a call on the session blocks (WinINet then
    // aborts that call), and more than once.
    void Close();

    DWORD_PTR GetContext() const { return m_dwContext; }
    operator HINTERNET() const { return m_hSession; }

private:
    HINTERNET volatile m_hSession;
    DWORD_PTR m_dwContext;
};

// What CInternetSession::OpenURL hands to WinINet: the URL and the request
// flags, seen just before InternetOpenUrlW is called, on the calling
// thread. The flags decide things no answer shows (whether WinINet may
// answer from its cache), so the tests read them here. None by default.
using OpenUrlObserver = void (*)(LPCWSTR url, DWORD flags);
// Sets the observer (null: none) and returns the one it replaces.
OpenUrlObserver SetOpenUrlObserver(OpenUrlObserver observer);

// The scheme of a URL as WinINet cracks it (INTERNET_SCHEME_*), or
// INTERNET_SCHEME_UNKNOWN when the URL does not parse.
INTERNET_SCHEME InternetUrlScheme(LPCWSTR url);
