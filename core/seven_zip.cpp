#include "core/seven_zip.h"

#include <io.h>

#include <atomic>
#include <new>

using namespace SevenZip;

namespace {

const WCHAR kItemWithoutPath[] = L"[Content]";

std::atomic<ExtractProgressObserver> g_extractProgressObserver{nullptr};
// One WriteFile is cut to this many bytes.
const UINT32 kMaxWriteChunk = 0x2000000;
// Attributes that SetFileAttributesW accepts for a file or folder. An archive
// made on a Unix host carries its mode in the high 16 bits (with 0x8000 as
// the marker); those bits are not Windows attributes and are dropped.
const DWORD kSettableAttributes = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM |
                                  FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_NORMAL | FILE_ATTRIBUTE_TEMPORARY |
                                  FILE_ATTRIBUTE_OFFLINE | FILE_ATTRIBUTE_NOT_CONTENT_INDEXED;

bool Is(REFIID iid, const GUID& known) { return IsEqualGUID(iid, known) != FALSE; }

template <typename T>
ULONG AddRefOf(T* self) {
    return (ULONG)InterlockedIncrement(&self->m_refCount);
}

template <typename T>
ULONG ReleaseOf(T* self, void (*destroy)(T*)) {
    LONG n = InterlockedDecrement(&self->m_refCount);
    if (n == 0) destroy(self);
    return (ULONG)n;
}

HRESULT Answer(void** object, IUnknown* p) {
    *object = p;
    p->AddRef();
    return S_OK;
}

}  // namespace

HRESULT HResultFromError(LONG error) {
    if (error == 0) return E_FAIL;
    if (error < 0) return (HRESULT)error;
    return (HRESULT)(0x80070000u | ((DWORD)error & 0xFFFF));
}

HRESULT HResultFromLastError() { return HResultFromError((LONG)GetLastError()); }

void MakeCreateDirectories(const CString& path) {
    CString full = path;
    if (full.IsEmpty() || full[full.GetLength() - 1] != L'\\') full += L'\\';
    for (int i = full.Find(L'\\'); i >= 0; i = full.Find(L'\\', i + 1)) {
        CreateDirectoryW(full.Left(i + 1), nullptr);  // existing folders and the root fail; go on
    }
}

// ---- InFileStream ----

InFileStream::InFileStream()
    : m_refCount(0), m_file(INVALID_HANDLE_VALUE), m_mode(kModeNone), m_buffer(nullptr), m_position(0), m_size(0) {}

void InFileStream::SetMemory(const BYTE* data, UINT64 size) {
    m_mode = kModeMemory;
    m_buffer = data;
    m_position = 0;
    m_size = size;
}

STDMETHODIMP InFileStream::QueryInterface(REFIID iid, void** object) {
    if (!object) return E_POINTER;
    *object = nullptr;
    if (Is(iid, IID_IUnknown) || Is(iid, kIidInStream) || Is(iid, kIidSequentialInStream))
        return Answer(object, static_cast<IInStream*>(this));
    if (Is(iid, kIidStreamGetSize)) return Answer(object, static_cast<IStreamGetSize*>(this));
    return E_NOINTERFACE;
}

STDMETHODIMP_(ULONG) InFileStream::AddRef() { return AddRefOf(this); }
STDMETHODIMP_(ULONG) InFileStream::Release() {
    return ReleaseOf<InFileStream>(this, [](InFileStream* s) { delete s; });
}

STDMETHODIMP InFileStream::Read(void* data, UINT32 size, UINT32* processedSize) {
    if (processedSize) *processedSize = 0;
    if (m_mode != kModeMemory) return E_FAIL;
    UINT64 left = m_position < m_size ? m_size - m_position : 0;
    UINT32 n = (UINT64)size < left ? size : (UINT32)left;
    if (n) {
        if (!data) return E_INVALIDARG;
        memcpy(data, m_buffer + m_position, n);
        m_position += n;
    }
    if (processedSize) *processedSize = n;
    return S_OK;
}

STDMETHODIMP InFileStream::Seek(INT64 offset, UINT32 seekOrigin, UINT64* newPosition) {
    if (seekOrigin > 3) return STG_E_INVALIDFUNCTION;
    // Distances as unsigned magnitudes, so that no bound check can overflow.
    UINT64 magnitude = offset >= 0 ? (UINT64)offset : (UINT64)0 - (UINT64)offset;
    UINT64 target = m_position;
    switch (seekOrigin) {
    case STREAM_SEEK_SET:
        if (offset < 0 || magnitude > m_size) return E_FAIL;
        target = magnitude;
        break;
    case STREAM_SEEK_CUR:
        if (offset < 0 ? magnitude > m_position : magnitude > m_size - m_position) return E_FAIL;
        target = offset < 0 ? m_position - magnitude : m_position + magnitude;
        break;
    case STREAM_SEEK_END:
        if (offset > 0 || magnitude > m_size) return E_FAIL;
        target = m_size - magnitude;
        break;
    default:  // 3: the position stays
        break;
    }
    m_position = target;
    if (newPosition) *newPosition = m_position;
    return S_OK;
}

STDMETHODIMP InFileStream::GetSize(UINT64* size) {
    if (size) *size = m_size;
    return S_OK;
}

// ---- OutFileStream ----

OutFileStream::OutFileStream() : m_refCount(0), m_file(INVALID_HANDLE_VALUE) {}

OutFileStream::~OutFileStream() { CloseFile(); }

bool OutFileStream::Open(const CString& path) {
    m_file = CreateFileW(path, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS,
                         FILE_ATTRIBUTE_NORMAL, nullptr);
    return m_file != INVALID_HANDLE_VALUE;
}

HRESULT OutFileStream::CloseFile() {
    if (m_file == INVALID_HANDLE_VALUE) return S_OK;
    HANDLE h = m_file;
    m_file = INVALID_HANDLE_VALUE;
    return CloseHandle(h) ? S_OK : HResultFromLastError();
}

STDMETHODIMP OutFileStream::QueryInterface(REFIID iid, void** object) {
    if (!object) return E_POINTER;
    *object = nullptr;
    if (Is(iid, IID_IUnknown) || Is(iid, kIidOutStream) || Is(iid, kIidSequentialOutStream))
        return Answer(object, static_cast<IOutStream*>(this));
    return E_NOINTERFACE;
}

STDMETHODIMP_(ULONG) OutFileStream::AddRef() { return AddRefOf(this); }
STDMETHODIMP_(ULONG) OutFileStream::Release() {
    return ReleaseOf<OutFileStream>(this, [](OutFileStream* s) { delete s; });
}

STDMETHODIMP OutFileStream::Write(const void* data, UINT32 size, UINT32* processedSize) {
    if (processedSize) *processedSize = 0;
    DWORD chunk = size < kMaxWriteChunk ? size : kMaxWriteChunk;
    DWORD written = 0;
    if (!WriteFile(m_file, data, chunk, &written, nullptr)) return HResultFromLastError();
    if (processedSize) *processedSize = written;
    // A write that takes nothing would make the library retry for ever.
    if (chunk && !written) return HResultFromError(ERROR_DISK_FULL);
    return S_OK;
}

STDMETHODIMP OutFileStream::Seek(INT64 offset, UINT32 seekOrigin, UINT64* newPosition) {
    if (seekOrigin > 3) return STG_E_INVALIDFUNCTION;
    LARGE_INTEGER distance, position;
    distance.QuadPart = offset;
    if (!SetFilePointerEx(m_file, distance, &position, seekOrigin)) return HResultFromLastError();
    if (newPosition) *newPosition = (UINT64)position.QuadPart;
    return S_OK;
}

STDMETHODIMP OutFileStream::SetSize(UINT64 newSize) {
    LARGE_INTEGER zero = {}, current, target;
    if (!SetFilePointerEx(m_file, zero, &current, FILE_CURRENT)) return E_FAIL;
    target.QuadPart = (LONGLONG)newSize;
    if (!SetFilePointerEx(m_file, target, nullptr, FILE_BEGIN)) return E_FAIL;
    if (!SetEndOfFile(m_file)) return E_FAIL;
    if (!SetFilePointerEx(m_file, current, nullptr, FILE_BEGIN)) return E_FAIL;
    return S_OK;
}

// ---- ArchiveOpenCallBack ----

ArchiveOpenCallBack::ArchiveOpenCallBack() : m_refCount(0), m_passwordDefined(false) {}

STDMETHODIMP ArchiveOpenCallBack::QueryInterface(REFIID iid, void** object) {
    if (!object) return E_POINTER;
    *object = nullptr;
    if (Is(iid, IID_IUnknown) || Is(iid, kIidArchiveOpenCallback))
        return Answer(object, static_cast<IArchiveOpenCallback*>(this));
    if (Is(iid, kIidCryptoGetTextPassword)) return Answer(object, static_cast<ICryptoGetTextPassword*>(this));
    return E_NOINTERFACE;
}

STDMETHODIMP_(ULONG) ArchiveOpenCallBack::AddRef() { return AddRefOf(this); }
STDMETHODIMP_(ULONG) ArchiveOpenCallBack::Release() {
    return ReleaseOf<ArchiveOpenCallBack>(this, [](ArchiveOpenCallBack* s) { delete s; });
}
STDMETHODIMP ArchiveOpenCallBack::SetTotal(const UINT64*, const UINT64*) { return S_OK; }
STDMETHODIMP ArchiveOpenCallBack::SetCompleted(const UINT64*, const UINT64*) { return S_OK; }
STDMETHODIMP ArchiveOpenCallBack::CryptoGetTextPassword(BSTR* password) {
    if (password) *password = nullptr;
    return E_ABORT;
}

// ---- ArchiveExtractCallBack ----

ArchiveExtractCallBack::ArchiveExtractCallBack()
    : m_refCount(0),
      m_passwordDefined(false),
      m_itemTime(),
      m_itemAttributes(0),
      m_itemIsFolder(false),
      m_attributesDefined(false),
      m_timeDefined(false),
      m_outStream(nullptr),
      m_errorCode(kErrorNone),
      m_extractMode(0),
      m_stop(nullptr) {}

void ArchiveExtractCallBack::Init(IInArchive* archive, const CString& outputFolder) {
    m_archive = archive;
    m_outputFolder = outputFolder;
    if (!m_outputFolder.IsEmpty() && m_outputFolder[m_outputFolder.GetLength() - 1] != L'\\') m_outputFolder += L'\\';
    m_errorCode = kErrorNone;
}

STDMETHODIMP ArchiveExtractCallBack::QueryInterface(REFIID iid, void** object) {
    if (!object) return E_POINTER;
    *object = nullptr;
    if (Is(iid, IID_IUnknown) || Is(iid, kIidArchiveExtractCallback) || Is(iid, kIidProgress))
        return Answer(object, static_cast<IArchiveExtractCallback*>(this));
    if (Is(iid, kIidCryptoGetTextPassword)) return Answer(object, static_cast<ICryptoGetTextPassword*>(this));
    return E_NOINTERFACE;
}

STDMETHODIMP_(ULONG) ArchiveExtractCallBack::AddRef() { return AddRefOf(this); }
STDMETHODIMP_(ULONG) ArchiveExtractCallBack::Release() {
    return ReleaseOf<ArchiveExtractCallBack>(this, [](ArchiveExtractCallBack* s) { delete s; });
}
STDMETHODIMP ArchiveExtractCallBack::SetTotal(UINT64) { return S_OK; }
STDMETHODIMP ArchiveExtractCallBack::SetCompleted(const UINT64*) {
    if (ExtractProgressObserver observer = g_extractProgressObserver) observer();
    if (m_stop && *m_stop) {
        m_errorCode = kErrorStopped;
        return E_ABORT;
    }
    return S_OK;
}

ExtractProgressObserver SetExtractProgressObserver(ExtractProgressObserver observer) {
    return g_extractProgressObserver.exchange(observer);
}

STDMETHODIMP ArchiveExtractCallBack::GetStream(UINT32 index, ISequentialOutStream** outStream, INT32 askExtractMode) {
    if (!outStream) return E_POINTER;
    *outStream = nullptr;
    m_outStreamRef.Release();
    m_outStream = nullptr;
    m_attributesDefined = m_timeDefined = m_itemIsFolder = false;
    if (!m_archive) return E_FAIL;

    PROPVARIANT prop;
    PropVariantInit(&prop);
    HRESULT hr = m_archive->GetProperty(index, kpidPath, &prop);
    if (hr != S_OK) return hr;
    if (prop.vt == VT_EMPTY)
        m_itemPath = kItemWithoutPath;
    else if (prop.vt == VT_BSTR)
        m_itemPath = prop.bstrVal ? prop.bstrVal : L"";
    else {
        PropVariantClear(&prop);
        return E_FAIL;
    }
    PropVariantClear(&prop);
    if (askExtractMode != kAskExtract) return S_OK;

    hr = m_archive->GetProperty(index, kpidAttrib, &prop);
    if (hr != S_OK) return hr;
    if (prop.vt == VT_UI4) {
        m_itemAttributes = prop.ulVal;
        m_attributesDefined = true;
    } else if (prop.vt != VT_EMPTY) {
        PropVariantClear(&prop);
        return E_FAIL;
    }
    PropVariantClear(&prop);

    hr = m_archive->GetProperty(index, kpidIsDir, &prop);
    if (hr != S_OK) return hr;
    if (prop.vt == VT_BOOL)
        m_itemIsFolder = prop.boolVal != VARIANT_FALSE;
    else if (prop.vt != VT_EMPTY) {
        PropVariantClear(&prop);
        return E_FAIL;
    }
    PropVariantClear(&prop);

    hr = m_archive->GetProperty(index, kpidMTime, &prop);
    if (hr != S_OK) return hr;
    if (prop.vt == VT_FILETIME) {
        m_itemTime = prop.filetime;
        m_timeDefined = true;
    } else if (prop.vt != VT_EMPTY) {
        PropVariantClear(&prop);
        return E_FAIL;
    }
    PropVariantClear(&prop);

    int slash = m_itemPath.ReverseFind(L'\\');
    if (slash >= 0) MakeCreateDirectories(m_outputFolder + m_itemPath.Left(slash + 1));
    m_diskPath = m_outputFolder + m_itemPath;
    if (m_itemIsFolder) {
        MakeCreateDirectories(m_diskPath);
        return S_OK;
    }

    if (_waccess(m_diskPath, 0) == 0) {
        // A read-only file is replaced too: clear its attributes first.
        if (!SetFileAttributesW(m_diskPath, FILE_ATTRIBUTE_NORMAL) || !DeleteFileW(m_diskPath)) {
            m_errorCode = kErrorCannotReplace;
            return E_ABORT;
        }
    }

    OutFileStream* stream = new (std::nothrow) OutFileStream;
    if (!stream) return E_OUTOFMEMORY;
    ComRef<ISequentialOutStream> ref(static_cast<IOutStream*>(stream));
    if (!stream->Open(m_diskPath)) {
        m_errorCode = kErrorCannotCreate;
        return E_ABORT;  // `ref` releases the stream
    }
    m_outStream = stream;
    m_outStreamRef = ref;
    *outStream = ref.Get();
    ref.Get()->AddRef();
    return S_OK;
}

STDMETHODIMP ArchiveExtractCallBack::PrepareOperation(INT32 askExtractMode) {
    m_extractMode = askExtractMode == kAskExtract ? 1 : 0;
    return S_OK;
}

STDMETHODIMP ArchiveExtractCallBack::SetOperationResult(INT32 opRes) {
    if (m_outStream) {
        if (m_timeDefined) SetFileTime(m_outStream->m_file, nullptr, nullptr, &m_itemTime);
        HRESULT closed = m_outStream->CloseFile();
        m_outStream = nullptr;
        m_outStreamRef.Release();
        if (closed != S_OK) return closed;
    }
    if (opRes != kOperationOk) {
        // The library could not deliver the item intact (data or CRC error,
        // unsupported method, ...): the extraction has failed.
        m_errorCode = kErrorDamagedItem;
        return E_FAIL;
    }
    if (m_extractMode && m_attributesDefined) {
        DWORD attributes = m_itemAttributes & kSettableAttributes;
        SetFileAttributesW(m_diskPath, attributes ? attributes : FILE_ATTRIBUTE_NORMAL);
    }
    return S_OK;
}

STDMETHODIMP ArchiveExtractCallBack::CryptoGetTextPassword(BSTR* password) {
    if (password) *password = nullptr;
    m_errorCode = kErrorPassword;
    return E_ABORT;
}

// ---- SevenZipClient ----

SevenZipClient::SevenZipClient()
    : m_library(nullptr), m_inStream(nullptr), m_openCallback(nullptr), m_extractCallback(nullptr) {}

SevenZipClient::~SevenZipClient() { Release(); }

int SevenZipClient::Load(const CString& libraryPath) {
    m_library = LoadLibraryW(libraryPath);
    if (!m_library) return kLoadNoLibrary;
    CreateObjectFn create =
        reinterpret_cast<CreateObjectFn>(reinterpret_cast<void*>(GetProcAddress(m_library, "CreateObject")));
    if (!create) return kLoadNoCreateObject;
    if (create(&kClsid7zHandler, &kIidInArchive, reinterpret_cast<void**>(m_archive.Receive())) != S_OK ||
        !m_archive)
        return kLoadCreateFailed;

    m_inStream = new (std::nothrow) InFileStream;
    m_openCallback = new (std::nothrow) ArchiveOpenCallBack;
    m_extractCallback = new (std::nothrow) ArchiveExtractCallBack;
    if (m_inStream) m_inStreamRef = static_cast<IInStream*>(m_inStream);
    if (m_openCallback) m_openCallbackRef = static_cast<IArchiveOpenCallback*>(m_openCallback);
    if (m_extractCallback) m_extractCallbackRef = static_cast<IArchiveExtractCallback*>(m_extractCallback);
    if (!m_inStream || !m_openCallback || !m_extractCallback) return kLoadCreateFailed;
    return kLoadOk;
}

HRESULT SevenZipClient::OpenMemory(const BYTE* data, UINT64 size) {
    if (!m_archive || !m_inStream) return E_FAIL;
    if (!data || !size) return E_INVALIDARG;
    m_inStream->SetMemory(data, size);
    return m_archive->Open(m_inStreamRef, nullptr, m_openCallbackRef);
}

int SevenZipClient::Extract(const CString& folder, const volatile LONG* stop) {
    if (!m_archive || !m_extractCallback) return kExtractFailed;
    m_extractCallback->Init(m_archive, folder);
    m_extractCallback->m_stop = stop;
    HRESULT hr = m_archive->Extract(nullptr, 0xFFFFFFFFu, 0, m_extractCallbackRef);
    if (hr == S_OK && m_extractCallback->m_errorCode == ArchiveExtractCallBack::kErrorNone) return kExtractOk;
    return m_extractCallback->m_errorCode ? m_extractCallback->m_errorCode : kExtractFailed;
}

void SevenZipClient::Release() {
    if (m_extractCallback) {
        // The callback holds the handler and maybe a stream: let go of them first.
        m_extractCallback->m_outStreamRef.Release();
        m_extractCallback->m_outStream = nullptr;
        m_extractCallback->m_archive.Release();
    }
    m_extractCallbackRef.Release();
    m_extractCallback = nullptr;
    m_openCallbackRef.Release();
    m_openCallback = nullptr;
    m_inStreamRef.Release();
    m_inStream = nullptr;
    if (m_archive) m_archive->Close();
    m_archive.Release();
    if (m_library && FreeLibrary(m_library)) m_library = nullptr;
}

// ---- CResourceP7z ----

CResourceP7z::CResourceP7z(const CString& libraryPath) : m_libraryPath(libraryPath) {}

CResourceP7z::~CResourceP7z() { CResourceFile::Close(); }

BOOL CResourceP7z::ExtractTo(const CString& folder, int* attempts) {
    if (attempts) *attempts = 0;
    if (!m_loaded) return FALSE;
    for (int attempt = 1; attempt <= kMaxAttempts; ++attempt) {
        if (m_stop && *m_stop) return FALSE;
        if (attempts) *attempts = attempt;
        SevenZipClient client;
        bool done = client.Load(m_libraryPath) == SevenZipClient::kLoadOk && m_data && m_size > 0 &&
                    client.OpenMemory(m_data, (UINT64)m_size) == S_OK &&
                    client.Extract(folder, m_stop) == SevenZipClient::kExtractOk;
        client.Release();
        if (done) return TRUE;
    }
    return FALSE;
}
