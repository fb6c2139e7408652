// System facts: a small WMI client that reads one property of the first
// object of a query, and the installed physical memory.
#pragma once

#include <windows.h>
#include <oaidl.h>

#include <vector>

#include "winlib/strings.h"

struct IWbemLocator;
struct IWbemServices;
struct IEnumWbemClassObject;
struct IWbemClassObject;

// The questions the system check asks about the machine, on one thread:
// WMI properties, the system's description and the chassis text.
class IFactsQuery {
public:
    virtual ~IFactsQuery() {}
    virtual int QueryProperty(const CString& className, const CString& property, CString& out) = 0;
    virtual void OsDescription(CString& out) = 0;
    virtual void LookupDisplayText(CString& out) = 0;
};

// One volume that BitLocker's WMI provider knows (a Win32_EncryptableVolume
// instance), with what its two state methods answered.
struct EncryptableVolumeState {
    CString deviceId;           // the volume GUID path, "\\?\Volume{...}\"
    int conversionStatus = -1;  // GetConversionStatus: 0 fully decrypted, 1 fully encrypted, 2-5 converting
    int protectionStatus = -1;  // GetProtectionStatus: 0 off (suspended reads as off), 1 on, 2 unknown
    // The code of the first state method that failed (a locked volume
    // answers FVE_E_LOCKED_VOLUME); S_OK when both answered.
    HRESULT failure = S_OK;
};

// How the encryption query ended.
enum class EncryptionAnswer {
    kRead,          // every volume the provider knows, read
    kNoEncryption,  // no provider: the namespace or the class does not exist
    kFailed,        // the query failed; the code says why
};

// Where the system facts come from: WMI and the kernel's memory query in the
// product, a scripted machine in tests and in the simulated machine.
class ISystemFacts {
public:
    virtual ~ISystemFacts() {}
    // A query object for the calling thread; the caller deletes it on the same thread.
    virtual IFactsQuery* OpenQuery() = 0;
    virtual void InstalledMemory(ULONGLONG& out, int skipKernelQuery) = 0;
    // Every volume BitLocker knows, with its conversion and protection state,
    // read on the calling thread. A volume it does not know is not encrypted.
    virtual EncryptionAnswer EncryptableVolumes(std::vector<EncryptableVolumeState>& volumes, HRESULT& failure) = 0;
};

// The facts in use: the Win32 ones unless others were installed.
ISystemFacts& CurrentSystemFacts();
// Installs other facts and returns the previous ones; null puts the Win32 ones back.
ISystemFacts* SetSystemFacts(ISystemFacts* facts);

// One connection to a WMI namespace for the calling thread. Built and
// destroyed on the same thread (it initialises COM in the multithreaded
// apartment for its lifetime). A failed connection still gives a usable
// object: every query then answers 0.
class WmiQuery : public IFactsQuery {
public:
    // Connects to the system's namespace, or to the one given (tests name a
    // namespace that does not exist to get an object without a connection),
    // with calls at the authentication level given.
    explicit WmiQuery(const wchar_t* namespaceText = nullptr, DWORD callAuthenticationLevel = RPC_C_AUTHN_LEVEL_CALL);
    ~WmiQuery() override;
    WmiQuery(const WmiQuery&) = delete;
    WmiQuery& operator=(const WmiQuery&) = delete;

    // Reads `property` of the first object of "select * from <className>".
    // 1 when the property was read and converted into `out`; 0 leaves `out`
    // as it was.
    int QueryProperty(const CString& className, const CString& property, CString& out) override;
    // Edition and service pack, a separator and the word size of the system.
    void OsDescription(CString& out) override;
    // The display text of the machine's chassis type.
    void LookupDisplayText(CString& out) override;

    bool IsConnected() const { return m_services != nullptr; }
    // Why the connection failed (S_OK when connected).
    HRESULT ConnectResult() const { return m_connectResult; }
    // Every Win32_EncryptableVolume of a connection to BitLocker's namespace
    // and what GetConversionStatus and GetProtectionStatus answer for each.
    EncryptionAnswer ReadEncryptableVolumes(std::vector<EncryptableVolumeState>& volumes, HRESULT& failure);

private:
    void ReleaseResult();

    IEnumWbemClassObject* m_enumerator;
    IWbemClassObject* m_object;
    IWbemServices* m_services;
    IWbemLocator* m_locator;
    bool m_comInitialised;  // CoUninitialize is owed only after our own successful CoInitializeEx
    HRESULT m_connectResult;
};

// The product's reading of the volumes' encryption: BitLocker's namespace
// over WMI, on the calling thread. A Windows without that namespace or
// class (editions and versions without BitLocker, Wine) has no encryption.
EncryptionAnswer ReadVolumeEncryption(std::vector<EncryptableVolumeState>& volumes, HRESULT& failure);
// The answer a failed connection or query gives: a missing namespace or
// class means no BitLocker; every other code is a failed query.
EncryptionAnswer EncryptionAnswerFor(HRESULT failure);

// Converts a property value to text by its variant type (strings, booleans,
// 8- and 32-bit numbers, string arrays and 32-bit integer arrays); any other
// type leaves `out` unchanged.
void VariantToText(const VARIANT& value, CString& out);

// The display text for a classified value: the two special values (refined
// by `refinement` when it holds their marker), then the table, else the
// default text. Split from LookupDisplayText so the table can be tested
// without a machine of every kind.
CString DisplayTextForValue(const CString& value, const CString& refinement);

// The installed physical memory in bytes. Unless `skipKernelQuery` is set,
// the kernel's installed-memory query (kilobytes) is used when it exists and
// succeeds; otherwise the memory-status total.
void GetInstalledMemory(ULONGLONG& out, int skipKernelQuery);
// The same with the kernel query given (null: none); GetInstalledMemory looks
// it up by name and calls this.
typedef BOOL(WINAPI* InstalledMemoryQuery)(PULONGLONG kilobytes);
void GetInstalledMemoryWith(ULONGLONG& out, int skipKernelQuery, InstalledMemoryQuery query);
