#include "winlib/file.h"

#include <fcntl.h>
#include <io.h>

const HANDLE CFile::hFileNull = INVALID_HANDLE_VALUE;

// ---- CFileException ----

int CFileException::OsErrorToException(LONG osError) {
    switch (osError) {
        case NO_ERROR: return none;
        case ERROR_FILE_NOT_FOUND: return fileNotFound;
        case ERROR_PATH_NOT_FOUND:
        case ERROR_INVALID_NAME:
        case ERROR_BAD_PATHNAME:
        case ERROR_INVALID_DRIVE:
        case ERROR_BAD_NETPATH:
        case ERROR_FILENAME_EXCED_RANGE: return badPath;
        case ERROR_TOO_MANY_OPEN_FILES: return tooManyOpenFiles;
        case ERROR_ACCESS_DENIED:
        case ERROR_WRITE_PROTECT:
        case ERROR_FILE_EXISTS:
        case ERROR_ALREADY_EXISTS: return accessDenied;
        case ERROR_INVALID_HANDLE: return invalidFile;
        case ERROR_CURRENT_DIRECTORY: return removeCurrentDir;
        case ERROR_CANNOT_MAKE: return directoryFull;
        case ERROR_SEEK:
        case ERROR_NEGATIVE_SEEK: return badSeek;
        case ERROR_SHARING_VIOLATION: return sharingViolation;
        case ERROR_LOCK_VIOLATION: return lockViolation;
        case ERROR_DISK_FULL:
        case ERROR_HANDLE_DISK_FULL: return diskFull;
        case ERROR_HANDLE_EOF: return endOfFile;
        case ERROR_CRC:
        case ERROR_READ_FAULT:
        case ERROR_WRITE_FAULT:
        case ERROR_GEN_FAILURE:
        case ERROR_NOT_READY: return hardIO;
        default: return genericException;
    }
}

void CFileException::ThrowOsError(LONG osError, LPCWSTR fileName) {
    if (osError == 0) osError = ERROR_GEN_FAILURE;
    throw new CFileException(OsErrorToException(osError), osError, fileName);
}

BOOL CFileException::GetErrorMessage(LPWSTR text, UINT maxChars, PUINT helpContext) const {
    if (helpContext) *helpContext = 0;
    if (!text || maxChars == 0) return FALSE;
    CString message = m_lOsError > 0 ? Win32ErrorText((DWORD)m_lOsError) : CString(L"File error.");
    if (!m_strFileName.IsEmpty()) message = m_strFileName + L": " + message;
    lstrcpynW(text, message, (int)maxChars);
    return TRUE;
}

// ---- CFile ----

CFile::CFile() : m_hFile(hFileNull), m_bCloseOnDelete(FALSE) {}

CFile::CFile(HANDLE file) : m_hFile(file), m_bCloseOnDelete(TRUE) {}

CFile::CFile(LPCWSTR fileName, UINT openFlags) : m_hFile(hFileNull), m_bCloseOnDelete(FALSE) {
    CFileException error;
    if (!CFile::Open(fileName, openFlags, &error)) throw new CFileException(error.m_cause, error.m_lOsError, fileName);
}

CFile::~CFile() {
    if (m_hFile != hFileNull && m_bCloseOnDelete) CloseHandle(m_hFile);
    m_hFile = hFileNull;
}

BOOL CFile::Open(LPCWSTR fileName, UINT openFlags, CFileException* error) {
    if (m_hFile != hFileNull) {
        if (error) *error = CFileException(CFileException::genericException, ERROR_INVALID_HANDLE, fileName);
        return FALSE;  // already open
    }
    m_strFileName = fileName;
    DWORD access = 0;
    switch (openFlags & 3) {
        case modeRead: access = GENERIC_READ; break;
        case modeWrite: access = GENERIC_WRITE; break;
        case modeReadWrite: access = GENERIC_READ | GENERIC_WRITE; break;
        default: access = GENERIC_READ; break;
    }
    DWORD share = 0;
    switch (openFlags & 0x70) {
        case shareDenyWrite: share = FILE_SHARE_READ; break;
        case shareDenyRead: share = FILE_SHARE_WRITE; break;
        case shareDenyNone: share = FILE_SHARE_READ | FILE_SHARE_WRITE; break;
        default: share = 0; break;  // shareCompat, shareExclusive
    }
    SECURITY_ATTRIBUTES security = {sizeof(security), nullptr, (openFlags & modeNoInherit) ? FALSE : TRUE};
    DWORD creation = OPEN_EXISTING;
    if (openFlags & modeCreate) creation = (openFlags & modeNoTruncate) ? OPEN_ALWAYS : CREATE_ALWAYS;
    HANDLE file = CreateFileW(fileName, access, share, &security, creation, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        DWORD code = GetLastError();
        if (error) *error = CFileException(CFileException::OsErrorToException((LONG)code), (LONG)code, fileName);
        return FALSE;
    }
    m_hFile = file;
    m_bCloseOnDelete = TRUE;
    return TRUE;
}

UINT CFile::Read(void* buffer, UINT count) {
    if (count == 0) return 0;
    DWORD read = 0;
    if (!ReadFile(m_hFile, buffer, count, &read, nullptr)) CFileException::ThrowOsError((LONG)GetLastError(), m_strFileName);
    return read;
}

void CFile::Write(const void* buffer, UINT count) {
    if (count == 0) return;
    DWORD written = 0;
    if (!WriteFile(m_hFile, buffer, count, &written, nullptr)) CFileException::ThrowOsError((LONG)GetLastError(), m_strFileName);
    if (written != count) CFileException::ThrowOsError(ERROR_DISK_FULL, m_strFileName);
}

ULONGLONG CFile::Seek(LONGLONG offset, UINT from) {
    LARGE_INTEGER distance, position;
    distance.QuadPart = offset;
    if (!SetFilePointerEx(m_hFile, distance, &position, from)) CFileException::ThrowOsError((LONG)GetLastError(), m_strFileName);
    return (ULONGLONG)position.QuadPart;
}

ULONGLONG CFile::GetLength() const {
    LARGE_INTEGER size;
    if (!GetFileSizeEx(m_hFile, &size)) CFileException::ThrowOsError((LONG)GetLastError(), m_strFileName);
    return (ULONGLONG)size.QuadPart;
}

ULONGLONG CFile::GetPosition() const {
    LARGE_INTEGER zero, position;
    zero.QuadPart = 0;
    if (!SetFilePointerEx(m_hFile, zero, &position, FILE_CURRENT)) CFileException::ThrowOsError((LONG)GetLastError(), m_strFileName);
    return (ULONGLONG)position.QuadPart;
}

void CFile::Flush() {
    if (m_hFile != hFileNull && !FlushFileBuffers(m_hFile)) CFileException::ThrowOsError((LONG)GetLastError(), m_strFileName);
}

void CFile::Close() {
    BOOL ok = TRUE;
    DWORD code = 0;
    if (m_hFile != hFileNull) {
        ok = CloseHandle(m_hFile);
        code = GetLastError();
    }
    m_hFile = hFileNull;
    m_bCloseOnDelete = FALSE;
    m_strFileName.Empty();
    if (!ok) CFileException::ThrowOsError((LONG)code);
}

void CFile::Abort() {
    if (m_hFile != hFileNull) CloseHandle(m_hFile);
    m_hFile = hFileNull;
    m_bCloseOnDelete = FALSE;
    m_strFileName.Empty();
}

// ---- CStdioFile ----

CStdioFile::CStdioFile() : m_pStream(nullptr) {}

CStdioFile::CStdioFile(FILE* stream) : m_pStream(stream) {
    if (stream) {
        m_hFile = (HANDLE)_get_osfhandle(_fileno(stream));
        m_bCloseOnDelete = TRUE;
    }
}

CStdioFile::CStdioFile(LPCWSTR fileName, UINT openFlags) : m_pStream(nullptr) {
    CFileException error;
    if (!Open(fileName, openFlags, &error)) throw new CFileException(error.m_cause, error.m_lOsError, fileName);
}

CStdioFile::~CStdioFile() {
    if (m_pStream && m_bCloseOnDelete) fclose(m_pStream);  // also closes the handle
    m_pStream = nullptr;
    m_hFile = hFileNull;
}

BOOL CStdioFile::Open(LPCWSTR fileName, UINT openFlags, CFileException* error) {
    if (m_pStream) {
        if (error) *error = CFileException(CFileException::genericException, ERROR_INVALID_HANDLE, fileName);
        return FALSE;
    }
    // The handle is made as CFile makes it (so sharing works the same), then
    // handed to the run-time, which owns it from then on.
    if (!CFile::Open(fileName, openFlags & ~(UINT)(typeText | typeBinary), error)) return FALSE;

    wchar_t mode[5] = {};
    int n = 0;
    int descriptorFlags = 0;
    if (openFlags & modeCreate) {
        mode[n++] = (openFlags & modeNoTruncate) ? L'a' : L'w';
        if (openFlags & modeNoTruncate) descriptorFlags |= _O_APPEND;
    } else if (openFlags & modeWrite) {
        mode[n++] = L'a';
        descriptorFlags |= _O_APPEND;
    } else {
        mode[n++] = L'r';
    }
    if (openFlags & modeReadWrite) {
        mode[n++] = L'+';
        descriptorFlags |= _O_RDWR;
    } else if (openFlags & modeWrite) {
        descriptorFlags |= _O_WRONLY;
    } else if (!(openFlags & modeCreate)) {
        descriptorFlags |= _O_RDONLY;
    }
    bool binary = (openFlags & typeBinary) != 0;
    mode[n++] = binary ? L'b' : L't';
    descriptorFlags |= binary ? _O_BINARY : _O_TEXT;

    int fd = _open_osfhandle((intptr_t)m_hFile, descriptorFlags);
    FILE* stream = fd >= 0 ? _wfdopen(fd, mode) : nullptr;
    if (!stream) {
        if (fd >= 0) {
            _close(fd);  // closes the handle too
        } else {
            CloseHandle(m_hFile);
        }
        m_hFile = hFileNull;
        m_bCloseOnDelete = FALSE;
        if (error) *error = CFileException(CFileException::genericException, ERROR_TOO_MANY_OPEN_FILES, fileName);
        return FALSE;
    }
    m_pStream = stream;
    return TRUE;
}

UINT CStdioFile::Read(void* buffer, UINT count) {
    if (count == 0) return 0;
    if (!m_pStream) CFileException::ThrowOsError(ERROR_INVALID_HANDLE, m_strFileName);
    size_t n = fread(buffer, 1, count, m_pStream);
    if (n == 0 && ferror(m_pStream)) {
        clearerr(m_pStream);
        CFileException::ThrowOsError(ERROR_READ_FAULT, m_strFileName);
    }
    return (UINT)n;
}

void CStdioFile::Write(const void* buffer, UINT count) {
    if (count == 0) return;
    if (!m_pStream) CFileException::ThrowOsError(ERROR_INVALID_HANDLE, m_strFileName);
    if (fwrite(buffer, 1, count, m_pStream) != count) {
        clearerr(m_pStream);
        CFileException::ThrowOsError(ERROR_WRITE_FAULT, m_strFileName);
    }
}

ULONGLONG CStdioFile::Seek(LONGLONG offset, UINT from) {
    if (!m_pStream || _fseeki64(m_pStream, offset, (int)from) != 0) CFileException::ThrowOsError(ERROR_SEEK, m_strFileName);
    return (ULONGLONG)_ftelli64(m_pStream);
}

ULONGLONG CStdioFile::GetLength() const {
    if (!m_pStream) CFileException::ThrowOsError(ERROR_INVALID_HANDLE, m_strFileName);
    fflush(m_pStream);  // written bytes count too
    return CFile::GetLength();
}

ULONGLONG CStdioFile::GetPosition() const {
    if (!m_pStream) CFileException::ThrowOsError(ERROR_INVALID_HANDLE, m_strFileName);
    return (ULONGLONG)_ftelli64(m_pStream);
}

void CStdioFile::Flush() {
    if (m_pStream && fflush(m_pStream) != 0) CFileException::ThrowOsError(ERROR_WRITE_FAULT, m_strFileName);
}

void CStdioFile::Close() {
    int result = 0;
    if (m_pStream) result = fclose(m_pStream);
    m_pStream = nullptr;
    m_hFile = hFileNull;
    m_bCloseOnDelete = FALSE;
    CString name = m_strFileName;
    m_strFileName.Empty();
    if (result != 0) CFileException::ThrowOsError(ERROR_WRITE_FAULT, name);
}

void CStdioFile::Abort() {
    if (m_pStream && m_bCloseOnDelete) fclose(m_pStream);
    m_pStream = nullptr;
    m_hFile = hFileNull;
    m_bCloseOnDelete = FALSE;
    m_strFileName.Empty();
}

BOOL CStdioFile::ReadString(CString& line) {
    line.Empty();
    if (!m_pStream) return FALSE;
    CStringA bytes;
    char chunk[256];
    bool readAny = false;
    while (fgets(chunk, sizeof(chunk), m_pStream)) {
        readAny = true;
        int n = (int)strlen(chunk);
        bytes.Append(chunk, n);
        if (n > 0 && chunk[n - 1] == '\n') break;
    }
    if (!readAny) return FALSE;
    if (bytes.GetLength() > 0 && bytes[bytes.GetLength() - 1] == '\n') bytes = bytes.Left(bytes.GetLength() - 1);
    line = CString(bytes);
    return TRUE;
}

void CStdioFile::WriteString(LPCWSTR text) {
    CStringA bytes(text);
    Write(bytes.GetString(), (UINT)bytes.GetLength());
}

// ---- CFileFind ----

CFileFind::CFileFind() : m_hFind(INVALID_HANDLE_VALUE), m_hasFound(FALSE), m_hasNext(FALSE) {
    memset(&m_found, 0, sizeof(m_found));
    memset(&m_next, 0, sizeof(m_next));
}

CFileFind::~CFileFind() { Close(); }

void CFileFind::Close() {
    if (m_hFind != INVALID_HANDLE_VALUE) FindClose(m_hFind);
    m_hFind = INVALID_HANDLE_VALUE;
    m_hasFound = FALSE;
    m_hasNext = FALSE;
}

BOOL CFileFind::FindFile(LPCWSTR name, DWORD) {
    Close();
    CString pattern = name && *name ? CString(name) : CString(L"*.*");
    m_hFind = FindFirstFileW(pattern, &m_next);
    if (m_hFind == INVALID_HANDLE_VALUE) return FALSE;
    m_hasNext = TRUE;
    // The root is the pattern's folder, made absolute.
    wchar_t full[MAX_PATH * 4];
    wchar_t* filePart = nullptr;
    DWORD n = GetFullPathNameW(pattern, (DWORD)(sizeof(full) / sizeof(full[0])), full, &filePart);
    if (n > 0 && n < sizeof(full) / sizeof(full[0])) {
        if (filePart) *filePart = 0;
        m_strRoot = full;
        m_strRoot.TrimRight(L"\\/");
        if (m_strRoot.GetLength() == 2 && m_strRoot[1] == L':') m_strRoot += L'\\';
    } else {
        m_strRoot.Empty();
    }
    return TRUE;
}

BOOL CFileFind::FindNextFile() {
    if (m_hFind == INVALID_HANDLE_VALUE || !m_hasNext) return FALSE;
    m_found = m_next;
    m_hasFound = TRUE;
    m_hasNext = ::FindNextFileW(m_hFind, &m_next);
    return m_hasNext;
}

CString CFileFind::GetFileName() const { return m_hasFound ? CString(m_found.cFileName) : CString(); }

CString CFileFind::GetFilePath() const {
    if (!m_hasFound) return CString();
    CString path = m_strRoot;
    if (!path.IsEmpty() && path[path.GetLength() - 1] != L'\\' && path[path.GetLength() - 1] != L'/') path += L'\\';
    return path + m_found.cFileName;
}

CString CFileFind::GetFileTitle() const {
    CString name = GetFileName();
    int dot = name.ReverseFind(L'.');
    return dot > 0 ? name.Left(dot) : name;
}

ULONGLONG CFileFind::GetLength() const {
    return m_hasFound ? (((ULONGLONG)m_found.nFileSizeHigh << 32) | m_found.nFileSizeLow) : 0;
}

BOOL CFileFind::GetLastWriteTime(FILETIME* time) const {
    if (!m_hasFound || !time) return FALSE;
    *time = m_found.ftLastWriteTime;
    return TRUE;
}

BOOL CFileFind::MatchesMask(DWORD mask) const { return m_hasFound && (m_found.dwFileAttributes & mask) != 0; }

BOOL CFileFind::IsDots() const {
    if (!m_hasFound || !IsDirectory()) return FALSE;
    const wchar_t* n = m_found.cFileName;
    return (n[0] == L'.' && n[1] == 0) || (n[0] == L'.' && n[1] == L'.' && n[2] == 0);
}
