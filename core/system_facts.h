// System facts: a small WMI client that reads one property of the first
// object of a query, and the installed physical memory.
#pragma once

#include <windows.h>
#include <oaidl.h>

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

// Where the system facts come from: WMI and the kernel's memory query in the
// product, a scripted machine in tests and in the simulated machine.
class ISystemFacts {
public:
    virtual ~ISystemFacts() {}
    // A query object for the calling thread; the caller deletes it on the same thread.
    virtual IFactsQuery* OpenQuery() = 0;
    virtual void InstalledMemory(ULONGLONG& out, int skipKernelQuery) = 0;
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
    // namespace that does not exist to get an object without a connection).
    explicit WmiQuery(const wchar_t* namespaceText = nullptr);
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

private:
    void ReleaseResult();

    IEnumWbemClassObject* m_enumerator;
    IWbemClassObject* m_object;
    IWbemServices* m_services;
    IWbemLocator* m_locator;
    bool m_comInitialised;  // CoUninitialize is owed only after our own successful CoInitializeEx
};

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
