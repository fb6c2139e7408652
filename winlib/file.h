// Files: CFile (a Win32 file handle), CStdioFile (a C run-time stream, with
// line reads in text mode), CFileException and CFileFind.
//
// Failures to open in a constructor, and failures of Write and Close, are
// thrown as `CFileException*` (the catcher calls Delete()); Open with an
// error object and Abort never throw. Destructors close without throwing.
#pragma once

#include <windows.h>
#include <stdio.h>

#include "winlib/exception.h"
#include "winlib/strings.h"

class CFileException : public CException {
public:
    enum {
        none = 0,
        genericException,
        fileNotFound,
        badPath,
        tooManyOpenFiles,
        accessDenied,
        invalidFile,
        removeCurrentDir,
        directoryFull,
        badSeek,
        hardIO,
        sharingViolation,
        lockViolation,
        diskFull,
        endOfFile,
    };

    explicit CFileException(int cause = none, LONG osError = -1, LPCWSTR fileName = nullptr)
        : m_cause(cause), m_lOsError(osError), m_strFileName(fileName) {}

    // Maps a Win32 error code to a cause.
    static int OsErrorToException(LONG osError);
    // Throws a new CFileException for a Win32 error code (0 is taken as
    // ERROR_GEN_FAILURE, so a thrown error always has a cause).
    [[noreturn]] static void ThrowOsError(LONG osError, LPCWSTR fileName = nullptr);

    BOOL GetErrorMessage(LPWSTR text, UINT maxChars, PUINT helpContext = nullptr) const override;

    int m_cause;
    LONG m_lOsError;
    CString m_strFileName;
};

class CFile {
public:
    enum OpenFlags {
        modeRead = 0x0000,
        modeWrite = 0x0001,
        modeReadWrite = 0x0002,
        shareCompat = 0x0000,
        shareExclusive = 0x0010,
        shareDenyWrite = 0x0020,
        shareDenyRead = 0x0030,
        shareDenyNone = 0x0040,
        modeNoInherit = 0x0080,
        modeCreate = 0x1000,
        modeNoTruncate = 0x2000,
        typeText = 0x4000,  // CStdioFile only
        typeBinary = 0x8000,
    };
    enum SeekPosition { begin = 0, current = 1, end = 2 };

    static const HANDLE hFileNull;

    CFile();
    explicit CFile(HANDLE file);  // attaches; the object closes it
    // Opens the file or throws a CFileException*.
    CFile(LPCWSTR fileName, UINT openFlags);
    virtual ~CFile();
    CFile(const CFile&) = delete;
    CFile& operator=(const CFile&) = delete;

    // FALSE on failure; the error object (when given) receives the cause.
    virtual BOOL Open(LPCWSTR fileName, UINT openFlags, CFileException* error = nullptr);
    // Bytes read; 0 at the end of the file. Throws on a read error.
    virtual UINT Read(void* buffer, UINT count);
    // Writes all bytes or throws.
    virtual void Write(const void* buffer, UINT count);
    virtual ULONGLONG Seek(LONGLONG offset, UINT from);
    virtual ULONGLONG GetLength() const;
    virtual ULONGLONG GetPosition() const;
    virtual void Flush();
    // Closes the file; throws when the system reports an error.
    virtual void Close();
    // Closes the file and ignores every error.
    virtual void Abort();

    CString GetFilePath() const { return m_strFileName; }
    operator HANDLE() const { return m_hFile; }

    HANDLE m_hFile;

protected:
    CString m_strFileName;
    BOOL m_bCloseOnDelete;
};

// A C run-time stream over a file opened like CFile's. In text mode
// (typeText, the default) the run-time turns CR LF into LF; ReadString
// reads 8-bit text and converts it through the ANSI code page.
class CStdioFile : public CFile {
public:
    CStdioFile();
    explicit CStdioFile(FILE* stream);  // attaches; the object closes it
    // Opens the file or throws a CFileException*.
    CStdioFile(LPCWSTR fileName, UINT openFlags);
    ~CStdioFile() override;

    BOOL Open(LPCWSTR fileName, UINT openFlags, CFileException* error = nullptr) override;
    UINT Read(void* buffer, UINT count) override;
    void Write(const void* buffer, UINT count) override;
    ULONGLONG Seek(LONGLONG offset, UINT from) override;
    ULONGLONG GetLength() const override;
    ULONGLONG GetPosition() const override;
    void Flush() override;
    void Close() override;
    void Abort() override;

    // Reads one line without its line break. FALSE (and an empty text) when
    // the stream was already at its end.
    virtual BOOL ReadString(CString& line);
    // Writes the text converted to the ANSI code page (no line break added).
    virtual void WriteString(LPCWSTR text);

    FILE* m_pStream;
};

// Walks the entries that match a pattern. After FindFile, each FindNextFile
// moves to the next entry and answers whether another one follows; the
// entry it moved to stays readable even when it answers FALSE.
class CFileFind {
public:
    CFileFind();
    virtual ~CFileFind();
    CFileFind(const CFileFind&) = delete;
    CFileFind& operator=(const CFileFind&) = delete;

    // Starts a search; a null name searches "*.*" in the current folder.
    BOOL FindFile(LPCWSTR name = nullptr, DWORD unused = 0);
    BOOL FindNextFile();
    void Close();

    CString GetFileName() const;
    CString GetFilePath() const;
    CString GetFileTitle() const;  // the name without its extension
    CString GetRoot() const { return m_strRoot; }
    ULONGLONG GetLength() const;
    BOOL GetLastWriteTime(FILETIME* time) const;
    BOOL MatchesMask(DWORD mask) const;
    BOOL IsDots() const;
    BOOL IsDirectory() const { return MatchesMask(FILE_ATTRIBUTE_DIRECTORY); }
    BOOL IsHidden() const { return MatchesMask(FILE_ATTRIBUTE_HIDDEN); }
    BOOL IsReadOnly() const { return MatchesMask(FILE_ATTRIBUTE_READONLY); }
    BOOL IsSystem() const { return MatchesMask(FILE_ATTRIBUTE_SYSTEM); }

private:
    HANDLE m_hFind;
    WIN32_FIND_DATAW m_found;  // the entry the caller reads
    WIN32_FIND_DATAW m_next;   // the entry the next FindNextFile moves to
    BOOL m_hasFound;
    BOOL m_hasNext;
    CString m_strRoot;
};
