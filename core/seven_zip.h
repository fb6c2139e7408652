// 7z extraction through the 7-Zip library (7z.dll), loaded by path at run
// time: the stream and callback objects the library calls back into, the
// holder of one extraction attempt (SevenZipClient) and the payload file that
// holds a 7z archive in memory (CResourceP7z).
//
// All of this runs on the unpack thread; the objects are not shared.
#pragma once

#include <windows.h>

#include "core/resource_file.h"
#include "core/seven_zip_com.h"
#include "winlib/strings.h"

// A Windows error as an HRESULT: e > 0 becomes 0x80070000 | (e & 0xFFFF), a
// value not above 0 is returned as it is, and 0 (nothing recorded) is E_FAIL.
HRESULT HResultFromError(LONG error);
// The same for GetLastError().
HRESULT HResultFromLastError();

// Creates every folder of `path` from the left (a "\" is appended when the
// path does not end with one); failures, existing folders and the drive root
// are passed over.
void MakeCreateDirectories(const CString& path);

// The archive as the library reads it: memory mode over a buffer the stream
// does not own.
class InFileStream final : public SevenZip::IInStream, public SevenZip::IStreamGetSize {
public:
    enum { kModeNone = 0, kModeMemory = 1 };
    InFileStream();

    void SetMemory(const BYTE* data, UINT64 size);

    STDMETHODIMP QueryInterface(REFIID iid, void** object) override;
    STDMETHODIMP_(ULONG) AddRef() override;
    STDMETHODIMP_(ULONG) Release() override;
    // Copies up to `size` bytes; at the end of the data the read is short
    // (possibly 0 bytes) and still succeeds, as the stream contract asks.
    STDMETHODIMP Read(void* data, UINT32 size, UINT32* processedSize) override;
    STDMETHODIMP Seek(INT64 offset, UINT32 seekOrigin, UINT64* newPosition) override;
    STDMETHODIMP GetSize(UINT64* size) override;

    LONG m_refCount;
    HANDLE m_file;  // unused: the archive is only read from memory
    int m_mode;
    const BYTE* m_buffer;
    UINT64 m_position;
    UINT64 m_size;

private:
    ~InFileStream() {}
};

// One extracted file being written.
class OutFileStream final : public SevenZip::IOutStream {
public:
    OutFileStream();
    // CreateFileW for reading and writing, sharing reads, replacing any file.
    bool Open(const CString& path);
    // Closes the file; a failing close gives its error.
    HRESULT CloseFile();

    STDMETHODIMP QueryInterface(REFIID iid, void** object) override;
    STDMETHODIMP_(ULONG) AddRef() override;
    STDMETHODIMP_(ULONG) Release() override;
    // One WriteFile of at most 32 MiB. A write that takes no byte of a
    // non-empty request fails: the library then stops the extraction.
    STDMETHODIMP Write(const void* data, UINT32 size, UINT32* processedSize) override;
    STDMETHODIMP Seek(INT64 offset, UINT32 seekOrigin, UINT64* newPosition) override;
    STDMETHODIMP SetSize(UINT64 newSize) override;

    LONG m_refCount;
    HANDLE m_file;

private:
    ~OutFileStream();
};

class ArchiveOpenCallBack final : public SevenZip::IArchiveOpenCallback, public SevenZip::ICryptoGetTextPassword {
public:
    ArchiveOpenCallBack();
    STDMETHODIMP QueryInterface(REFIID iid, void** object) override;
    STDMETHODIMP_(ULONG) AddRef() override;
    STDMETHODIMP_(ULONG) Release() override;
    STDMETHODIMP SetTotal(const UINT64* files, const UINT64* bytes) override;
    STDMETHODIMP SetCompleted(const UINT64* files, const UINT64* bytes) override;
    // No password is ever defined: an archive with enciphered headers fails.
    STDMETHODIMP CryptoGetTextPassword(BSTR* password) override;

    LONG m_refCount;
    bool m_passwordDefined;
    CString m_password;

private:
    ~ArchiveOpenCallBack() {}
};

class ArchiveExtractCallBack final : public SevenZip::IArchiveExtractCallback, public SevenZip::ICryptoGetTextPassword {
public:
    // Why an item stopped the extraction.
    enum {
        kErrorNone = 0,
        kErrorCannotReplace = 1,  // something at the item's place could not be removed
        kErrorCannotCreate = 2,   // the output file could not be created
        kErrorPassword = 3,       // the archive asked for a password
        kErrorDamagedItem = 5,    // the library delivered an item with an error result
        kErrorStopped = 6,        // the stop flag was set: the extraction ends at the next report
    };

    ArchiveExtractCallBack();
    // Takes a counted reference to the handler and the output folder ("\"
    // appended when missing).
    void Init(SevenZip::IInArchive* archive, const CString& outputFolder);

    STDMETHODIMP QueryInterface(REFIID iid, void** object) override;
    STDMETHODIMP_(ULONG) AddRef() override;
    STDMETHODIMP_(ULONG) Release() override;
    STDMETHODIMP SetTotal(UINT64 total) override;
    // The library's progress report: E_ABORT once the stop flag is set,
    // which ends the extraction.
    STDMETHODIMP SetCompleted(const UINT64* completeValue) override;
    STDMETHODIMP GetStream(UINT32 index, SevenZip::ISequentialOutStream** outStream, INT32 askExtractMode) override;
    STDMETHODIMP PrepareOperation(INT32 askExtractMode) override;
    // Sets the file's time, closes it and applies the attributes. An item
    // whose result is not success fails the extraction (error code 5).
    STDMETHODIMP SetOperationResult(INT32 opRes) override;
    STDMETHODIMP CryptoGetTextPassword(BSTR* password) override;

    LONG m_refCount;
    bool m_passwordDefined;
    CString m_password;
    FILETIME m_itemTime;
    UINT32 m_itemAttributes;
    bool m_itemIsFolder;
    bool m_attributesDefined;
    bool m_timeDefined;
    SevenZip::ComRef<SevenZip::IInArchive> m_archive;
    OutFileStream* m_outStream;
    SevenZip::ComRef<SevenZip::ISequentialOutStream> m_outStreamRef;
    CString m_itemPath;
    CString m_outputFolder;
    CString m_diskPath;
    int m_errorCode;
    int m_extractMode;
    // Set (to nonzero) by another thread to stop the extraction; may be null.
    const volatile LONG* m_stop;

private:
    ~ArchiveExtractCallBack() {}
};

// The library and the objects of one extraction attempt.
class SevenZipClient {
public:
    enum { kLoadOk = 0, kLoadNoLibrary = 1, kLoadNoCreateObject = 2, kLoadCreateFailed = 3 };
    enum {
        kExtractOk = 0,
        kExtractCannotReplace = 1,
        kExtractCannotCreate = 2,
        kExtractPassword = 3,
        kExtractFailed = 4,
        kExtractDamagedItem = 5,
        kExtractStopped = 6,
    };

    SevenZipClient();
    ~SevenZipClient();

    // Loads the library by path and creates the 7z handler, the stream and
    // both callbacks, each held by one counted reference.
    int Load(const CString& libraryPath);
    // Points the stream at the archive bytes and opens the archive: S_OK when
    // the library recognised and read it.
    HRESULT OpenMemory(const BYTE* data, UINT64 size);
    // Extracts every item into the folder; a nonzero `*stop` (set by
    // another thread) ends it at the library's next progress report.
    int Extract(const CString& folder, const volatile LONG* stop = nullptr);
    // Releases the callbacks, the stream and the handler, then frees the library.
    void Release();

    HMODULE m_library;
    SevenZip::ComRef<SevenZip::IInArchive> m_archive;
    InFileStream* m_inStream;
    SevenZip::ComRef<SevenZip::IInStream> m_inStreamRef;
    ArchiveOpenCallBack* m_openCallback;
    SevenZip::ComRef<SevenZip::IArchiveOpenCallback> m_openCallbackRef;
    ArchiveExtractCallBack* m_extractCallback;
    SevenZip::ComRef<SevenZip::IArchiveExtractCallback> m_extractCallbackRef;

private:
    SevenZipClient(const SevenZipClient&) = delete;
    SevenZipClient& operator=(const SevenZipClient&) = delete;
};

// A 7z archive held in memory, extracted through the library at m_libraryPath.
class CResourceP7z : public CResourceFile {
public:
    enum { kMaxAttempts = 5 };

    explicit CResourceP7z(const CString& libraryPath);
    ~CResourceP7z() override;

    // Extracts the whole archive into the folder, with up to five attempts
    // (each with a fresh client). TRUE when an attempt extracted every item;
    // `attempts` (when given) receives the number of attempts made. Once
    // m_stop is set the running attempt ends at the library's next progress
    // report and no other begins.
    BOOL ExtractTo(const CString& folder, int* attempts = nullptr);

    CString m_libraryPath;
    const volatile LONG* m_stop = nullptr;
};

// Called on the extracting thread at each progress report of the library,
// before the stop flag is looked at. None by default; the tests pace an
// extraction with it. Returns the observer it replaces.
using ExtractProgressObserver = void (*)();
ExtractProgressObserver SetExtractProgressObserver(ExtractProgressObserver observer);
