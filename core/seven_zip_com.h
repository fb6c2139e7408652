// The COM-style interfaces through which the program and the 7-Zip library
// call each other, declared from their published layout: every method is
// __stdcall, the interfaces derive from IUnknown, none has a virtual
// destructor. Identifiers are the library's published ones
// (23170F69-40C1-278A-0000-00yy00xx0000, yy the group, xx the interface).
#pragma once

#include <windows.h>
#include <objidl.h>
#include <oleauto.h>
#include <propidl.h>
#include <stdint.h>

namespace SevenZip {

constexpr GUID MakeIid(BYTE group, BYTE id) {
    return GUID{0x23170F69, 0x40C1, 0x278A, {0x00, 0x00, 0x00, group, 0x00, id, 0x00, 0x00}};
}

constexpr GUID kIidSequentialInStream = MakeIid(3, 0x01);
constexpr GUID kIidSequentialOutStream = MakeIid(3, 0x02);
constexpr GUID kIidInStream = MakeIid(3, 0x03);
constexpr GUID kIidOutStream = MakeIid(3, 0x04);
constexpr GUID kIidStreamGetSize = MakeIid(3, 0x06);
constexpr GUID kIidProgress = MakeIid(0, 0x05);
constexpr GUID kIidCryptoGetTextPassword = MakeIid(5, 0x10);
constexpr GUID kIidArchiveOpenCallback = MakeIid(6, 0x10);
constexpr GUID kIidArchiveExtractCallback = MakeIid(6, 0x20);
constexpr GUID kIidInArchive = MakeIid(6, 0x60);
// The class id of the 7z format handler.
constexpr GUID kClsid7zHandler = {0x23170F69, 0x40C1, 0x278A, {0x10, 0x00, 0x00, 0x01, 0x10, 0x07, 0x00, 0x00}};

// Item property ids.
enum : PROPID {
    kpidPath = 3,
    kpidIsDir = 6,
    kpidAttrib = 9,
    kpidMTime = 12,
};

// Ask modes of GetStream and PrepareOperation.
enum : int32_t { kAskExtract = 0, kAskTest = 1, kAskSkip = 2 };
// Operation results of SetOperationResult: 0 is success; every other value
// says the item could not be delivered intact (unsupported method, data or
// CRC error, unexpected end, wrong password, ...).
enum : int32_t { kOperationOk = 0 };

struct ISequentialInStream : public IUnknown {
    virtual HRESULT STDMETHODCALLTYPE Read(void* data, UINT32 size, UINT32* processedSize) = 0;
};
struct ISequentialOutStream : public IUnknown {
    virtual HRESULT STDMETHODCALLTYPE Write(const void* data, UINT32 size, UINT32* processedSize) = 0;
};
struct IInStream : public ISequentialInStream {
    virtual HRESULT STDMETHODCALLTYPE Seek(INT64 offset, UINT32 seekOrigin, UINT64* newPosition) = 0;
};
struct IOutStream : public ISequentialOutStream {
    virtual HRESULT STDMETHODCALLTYPE Seek(INT64 offset, UINT32 seekOrigin, UINT64* newPosition) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetSize(UINT64 newSize) = 0;
};
struct IStreamGetSize : public IUnknown {
    virtual HRESULT STDMETHODCALLTYPE GetSize(UINT64* size) = 0;
};
struct IProgress : public IUnknown {
    virtual HRESULT STDMETHODCALLTYPE SetTotal(UINT64 total) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetCompleted(const UINT64* completeValue) = 0;
};
struct ICryptoGetTextPassword : public IUnknown {
    virtual HRESULT STDMETHODCALLTYPE CryptoGetTextPassword(BSTR* password) = 0;
};
struct IArchiveOpenCallback : public IUnknown {
    virtual HRESULT STDMETHODCALLTYPE SetTotal(const UINT64* files, const UINT64* bytes) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetCompleted(const UINT64* files, const UINT64* bytes) = 0;
};
struct IArchiveExtractCallback : public IProgress {
    virtual HRESULT STDMETHODCALLTYPE GetStream(UINT32 index, ISequentialOutStream** outStream, INT32 askExtractMode) = 0;
    virtual HRESULT STDMETHODCALLTYPE PrepareOperation(INT32 askExtractMode) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetOperationResult(INT32 opRes) = 0;
};
struct IInArchive : public IUnknown {
    virtual HRESULT STDMETHODCALLTYPE Open(IInStream* stream, const UINT64* maxCheckStartPosition,
                                           IArchiveOpenCallback* openCallback) = 0;
    virtual HRESULT STDMETHODCALLTYPE Close() = 0;
    virtual HRESULT STDMETHODCALLTYPE GetNumberOfItems(UINT32* numItems) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetProperty(UINT32 index, PROPID propID, PROPVARIANT* value) = 0;
    virtual HRESULT STDMETHODCALLTYPE Extract(const UINT32* indices, UINT32 numItems, INT32 testMode,
                                              IArchiveExtractCallback* extractCallback) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetArchiveProperty(PROPID propID, PROPVARIANT* value) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetNumberOfProperties(UINT32* numProps) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetPropertyInfo(UINT32 index, BSTR* name, PROPID* propID, VARTYPE* varType) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetNumberOfArchiveProperties(UINT32* numProps) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetArchivePropertyInfo(UINT32 index, BSTR* name, PROPID* propID,
                                                             VARTYPE* varType) = 0;
};

// The library's export "CreateObject".
typedef HRESULT(WINAPI* CreateObjectFn)(const GUID* classId, const GUID* interfaceId, void** object);

// A counted reference: releases what it holds when it goes or is reassigned.
template <typename T>
class ComRef {
public:
    ComRef() : m_p(nullptr) {}
    ComRef(T* p) : m_p(p) {
        if (m_p) m_p->AddRef();
    }
    ComRef(const ComRef& o) : ComRef(o.m_p) {}
    ~ComRef() { Release(); }
    ComRef& operator=(T* p) {
        if (p) p->AddRef();
        Release();
        m_p = p;
        return *this;
    }
    ComRef& operator=(const ComRef& o) { return *this = o.m_p; }
    void Release() {
        if (m_p) {
            T* p = m_p;
            m_p = nullptr;
            p->Release();
        }
    }
    // For out parameters that hand over a reference: the old one is released first.
    T** Receive() {
        Release();
        return &m_p;
    }
    T* Get() const { return m_p; }
    T* operator->() const { return m_p; }
    operator T*() const { return m_p; }

private:
    T* m_p;
};

}  // namespace SevenZip
