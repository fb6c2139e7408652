#include "core/system_facts.h"

#include <objbase.h>
#include <wbemcli.h>

#include "core/fixed_texts.h"
#include "core/tarvel_app.h"

namespace {

// The WMI locator's class and interface, as the platform documents them.
const CLSID kClsidWbemLocator = {0x4590f811, 0x1d3a, 0x11d0, {0x89, 0x1f, 0x00, 0xaa, 0x00, 0x4b, 0x2e, 0x24}};
const IID kIidWbemLocator = {0xdc12a687, 0x737f, 0x11cf, {0x88, 0x4d, 0x00, 0xaa, 0x00, 0x4b, 0x2e, 0x24}};

template <class T>
void ReleaseInterface(T*& p) {
    if (p) {
        p->Release();
        p = nullptr;
    }
}

// Appends the elements from the lower bound up to the last formatted index,
// each in the element format; a broken array leaves out unchanged.
void AppendIntArray(SAFEARRAY* array, CString& out) {
    if (!array || SafeArrayGetDim(array) != 1) return;
    LONG lower = 0, upper = -1;
    if (FAILED(SafeArrayGetLBound(array, 1, &lower)) || FAILED(SafeArrayGetUBound(array, 1, &upper))) return;
    if (upper > FixedText::kVariantArrayLastIndex) upper = FixedText::kVariantArrayLastIndex;
    CString text;
    for (LONG i = lower; i <= upper; ++i) {
        LONG element = 0;
        if (FAILED(SafeArrayGetElement(array, &i, &element))) return;  // out unchanged
        CString one;
        one.Format(FixedText::kVariantArrayElementFormat, (int)element);
        text += one;
    }
    out += text;
}

void FirstStringOf(SAFEARRAY* array, CString& out) {
    if (!array || SafeArrayGetDim(array) != 1) return;
    LONG lower = 0, upper = -1;
    if (FAILED(SafeArrayGetLBound(array, 1, &lower)) || FAILED(SafeArrayGetUBound(array, 1, &upper))) return;
    if (upper < lower) return;  // an empty array has no first element
    BSTR element = nullptr;
    if (FAILED(SafeArrayGetElement(array, &lower, &element))) return;
    out = element ? CString(element, (int)SysStringLen(element)) : CString();
    SysFreeString(element);
}

}  // namespace

void VariantToText(const VARIANT& value, CString& out) {
    switch (V_VT(&value)) {
        case VT_BSTR:
            out = V_BSTR(&value) ? CString(V_BSTR(&value), (int)SysStringLen(V_BSTR(&value))) : CString();
            return;
        case VT_BOOL:
            out = V_BOOL(&value) == VARIANT_TRUE ? FixedText::kVariantTrueText : FixedText::kVariantFalseText;
            return;
        case VT_I4:
            out.Format(FixedText::kVariantI4Format, (int)V_I4(&value));
            return;
        case VT_UI1:
            out.Format(FixedText::kVariantUI1Format, (unsigned)V_UI1(&value));
            return;
        case VT_UI4:
            out.Format(FixedText::kVariantUI4Format, (unsigned)V_UI4(&value));
            return;
        case VT_ARRAY | VT_BSTR:
            FirstStringOf(V_ARRAY(&value), out);
            return;
        case VT_ARRAY | VT_I4:
            AppendIntArray(V_ARRAY(&value), out);
            return;
        default:
            return;
    }
}

WmiQuery::WmiQuery(const wchar_t* namespaceText, DWORD callAuthenticationLevel)
    : m_enumerator(nullptr), m_object(nullptr), m_services(nullptr), m_locator(nullptr), m_comInitialised(false),
      m_connectResult(E_FAIL) {
    HRESULT hr = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    // S_FALSE: already initialised in this apartment, which still owes one
    // CoUninitialize. RPC_E_CHANGED_MODE: the thread lives in another
    // apartment; COM is usable but was not initialised by us.
    if (SUCCEEDED(hr)) {
        m_comInitialised = true;
    } else if (hr != RPC_E_CHANGED_MODE) {
        m_connectResult = hr;
        return;
    }
    // Fails harmlessly when the process already chose its security.
    CoInitializeSecurity(nullptr, -1, nullptr, nullptr, RPC_C_AUTHN_LEVEL_PKT, RPC_C_IMP_LEVEL_IMPERSONATE, nullptr,
                         EOAC_NONE, nullptr);
    hr = CoCreateInstance(kClsidWbemLocator, nullptr, CLSCTX_INPROC_SERVER, kIidWbemLocator,
                          reinterpret_cast<void**>(&m_locator));
    if (FAILED(hr)) {
        m_locator = nullptr;
        m_connectResult = hr;
        return;
    }
    BSTR ns = SysAllocString(namespaceText ? namespaceText : FixedText::kWmiNamespace);
    HRESULT connected = m_locator->ConnectServer(ns, nullptr, nullptr, nullptr, 0, nullptr, nullptr, &m_services);
    SysFreeString(ns);
    m_connectResult = connected;
    if (FAILED(connected)) {
        m_services = nullptr;
        return;
    }
    CoSetProxyBlanket(m_services, RPC_C_AUTHN_WINNT, RPC_C_AUTHZ_NONE, nullptr, callAuthenticationLevel,
                      RPC_C_IMP_LEVEL_IMPERSONATE, nullptr, EOAC_NONE);
}

WmiQuery::~WmiQuery() {
    ReleaseInterface(m_services);
    ReleaseInterface(m_locator);
    ReleaseInterface(m_enumerator);
    ReleaseInterface(m_object);
    if (m_comInitialised) CoUninitialize();
}

void WmiQuery::ReleaseResult() {
    ReleaseInterface(m_enumerator);
    ReleaseInterface(m_object);
}

int WmiQuery::QueryProperty(const CString& className, const CString& property, CString& out) {
    CString queryText = CString(FixedText::kWmiSelectPrefix) + className;
    if (!m_services) return 0;
    int answer = 0;
    BSTR language = SysAllocString(FixedText::kWmiQueryLanguage);
    BSTR query = SysAllocString(queryText);
    HRESULT hr = m_services->ExecQuery(language, query, WBEM_FLAG_FORWARD_ONLY | WBEM_FLAG_RETURN_IMMEDIATELY, nullptr,
                                       &m_enumerator);
    SysFreeString(query);
    SysFreeString(language);
    if (SUCCEEDED(hr) && m_enumerator) {
        ULONG returned = 0;
        // A bounded wait: a service that never answers must not hold the check.
        hr = m_enumerator->Next(FixedText::kWmiNextTimeoutMs, 1, &m_object, &returned);
        if (hr == WBEM_S_NO_ERROR && returned == 1 && m_object) {
            VARIANT value;
            VariantInit(&value);
            if (SUCCEEDED(m_object->Get(property, 0, &value, nullptr, nullptr))) {
                VariantToText(value, out);
                answer = 1;
            }
            VariantClear(&value);
        } else if (returned == 0) {
            m_object = nullptr;  // Next leaves it unset when nothing came back
        }
    } else {
        m_enumerator = nullptr;
    }
    ReleaseResult();
    return answer;
}

namespace {

// A 32-bit number of a WMI object (uint32 arrives as VT_I4).
bool ReadNumber(IWbemClassObject* object, const wchar_t* name, LONG& value) {
    VARIANT v;
    VariantInit(&v);
    bool read = false;
    if (SUCCEEDED(object->Get(name, 0, &v, nullptr, nullptr))) {
        if (V_VT(&v) == VT_I4 || V_VT(&v) == VT_UI4) {
            value = V_I4(&v);
            read = true;
        }
    }
    VariantClear(&v);
    return read;
}

// Runs one state method of the instance at `path` without arguments: the
// method's own failure code (ReturnValue), or the call's, or S_OK with
// `value` read from its out-parameter `property`.
HRESULT CallStateMethod(IWbemServices* services, BSTR path, const wchar_t* method, const wchar_t* property,
                        int& value) {
    BSTR name = SysAllocString(method);
    IWbemClassObject* out = nullptr;
    HRESULT hr = services->ExecMethod(path, name, 0, nullptr, nullptr, &out, nullptr);
    SysFreeString(name);
    if (SUCCEEDED(hr) && !out) hr = WBEM_E_FAILED;
    if (SUCCEEDED(hr)) {
        LONG returned = 0, read = 0;
        if (!ReadNumber(out, L"ReturnValue", returned)) hr = WBEM_E_FAILED;
        else if (returned != 0) hr = (HRESULT)returned;
        else if (!ReadNumber(out, property, read)) hr = WBEM_E_FAILED;
        else value = (int)read;
    }
    ReleaseInterface(out);
    return hr;
}

}  // namespace

EncryptionAnswer WmiQuery::ReadEncryptableVolumes(std::vector<EncryptableVolumeState>& volumes, HRESULT& failure) {
    volumes.clear();
    failure = S_OK;
    if (!m_services) {
        failure = FAILED(m_connectResult) ? m_connectResult : E_FAIL;
        return EncryptionAnswerFor(failure);
    }
    BSTR language = SysAllocString(FixedText::kWmiQueryLanguage);
    BSTR query = SysAllocString(CString(FixedText::kWmiSelectPrefix) + FixedText::kEncryptableVolumeClass);
    HRESULT hr = m_services->ExecQuery(language, query, WBEM_FLAG_FORWARD_ONLY | WBEM_FLAG_RETURN_IMMEDIATELY,
                                       nullptr, &m_enumerator);
    SysFreeString(query);
    SysFreeString(language);
    if (FAILED(hr)) m_enumerator = nullptr;
    while (SUCCEEDED(hr) && m_enumerator) {
        ULONG returned = 0;
        m_object = nullptr;
        hr = m_enumerator->Next(FixedText::kWmiNextTimeoutMs, 1, &m_object, &returned);
        if (returned == 0) m_object = nullptr;
        if (hr == (HRESULT)WBEM_S_TIMEDOUT) hr = (HRESULT)WBEM_E_TIMED_OUT;  // a provider that hangs is a failed query
        if (FAILED(hr) || returned == 0) break;
        EncryptableVolumeState state;
        VARIANT id, path;
        VariantInit(&id);
        VariantInit(&path);
        if (FAILED(m_object->Get(FixedText::kEncryptableVolumeId, 0, &id, nullptr, nullptr)) ||
            FAILED(m_object->Get(L"__PATH", 0, &path, nullptr, nullptr)) || V_VT(&id) != VT_BSTR ||
            V_VT(&path) != VT_BSTR) {
            hr = WBEM_E_FAILED;
        } else {
            state.deviceId = V_BSTR(&id);
            state.failure = CallStateMethod(m_services, V_BSTR(&path), FixedText::kConversionStatusMethod,
                                            FixedText::kConversionStatusProperty, state.conversionStatus);
            if (SUCCEEDED(state.failure))
                state.failure = CallStateMethod(m_services, V_BSTR(&path), FixedText::kProtectionStatusMethod,
                                                FixedText::kProtectionStatusProperty, state.protectionStatus);
            volumes.push_back(state);
        }
        VariantClear(&id);
        VariantClear(&path);
        ReleaseInterface(m_object);
    }
    ReleaseResult();
    if (FAILED(hr)) {
        volumes.clear();
        failure = hr;
        return EncryptionAnswerFor(hr);
    }
    return EncryptionAnswer::kRead;
}

EncryptionAnswer EncryptionAnswerFor(HRESULT failure) {
    // A namespace or class that does not exist: the Windows has no BitLocker.
    if (failure == (HRESULT)WBEM_E_INVALID_NAMESPACE || failure == (HRESULT)WBEM_E_INVALID_CLASS)
        return EncryptionAnswer::kNoEncryption;
    return EncryptionAnswer::kFailed;
}

EncryptionAnswer ReadVolumeEncryption(std::vector<EncryptableVolumeState>& volumes, HRESULT& failure) {
    // The namespace refuses calls that are not encrypted: packet privacy,
    // which a local connection has in any case.
    WmiQuery wmi(FixedText::kEncryptionNamespace, RPC_C_AUTHN_LEVEL_PKT_PRIVACY);
    return wmi.ReadEncryptableVolumes(volumes, failure);
}

void WmiQuery::OsDescription(CString& out) {
    CString first, second;
    QueryProperty(FixedText::kOsDescriptionClass1, FixedText::kOsDescriptionProperty1, first);
    QueryProperty(FixedText::kOsDescriptionClass2, FixedText::kOsDescriptionProperty2, second);
    CTarvelApp* app = GetTarvelApp();
    bool is64 = app && app->m_is64BitSystem;
    out = first + second + FixedText::kOsDescriptionSeparator + (is64 ? FixedText::kWordSize64 : FixedText::kWordSize32);
}

CString DisplayTextForValue(const CString& value, const CString& refinement) {
    if (value == FixedText::kChassisSpecialValue1) {
        if (!refinement.IsEmpty() && refinement.Find(FixedText::kChassisSpecialMarker1) >= 0)
            return FixedText::kChassisRefinedText1;
        return FixedText::kChassisSpecialText1;
    }
    if (value == FixedText::kChassisSpecialValue2) {
        if (refinement.Find(FixedText::kChassisSpecialMarker2) >= 0) return FixedText::kChassisRefinedText2;
        return FixedText::kChassisSpecialText2;
    }
    for (const FixedText::DisplayTextRow& row : FixedText::kChassisTable)
        if (value == row.value) return row.text;
    return FixedText::kChassisDefaultText;
}

void WmiQuery::LookupDisplayText(CString& out) {
    CString value, refinement;
    QueryProperty(FixedText::kChassisClass, FixedText::kChassisProperty, value);
    if (value == FixedText::kChassisSpecialValue1 || value == FixedText::kChassisSpecialValue2)
        QueryProperty(FixedText::kChassisRefineClass, FixedText::kChassisRefineProperty, refinement);
    out = DisplayTextForValue(value, refinement);
}

void GetInstalledMemoryWith(ULONGLONG& out, int skipKernelQuery, InstalledMemoryQuery query) {
    if (!skipKernelQuery && query) {
        ULONGLONG kilobytes = 0;
        if (query(&kilobytes)) {
            out = kilobytes * 1024;
            return;
        }
    }
    MEMORYSTATUSEX status;
    memset(&status, 0, sizeof(status));
    status.dwLength = sizeof(status);  // 64
    GlobalMemoryStatusEx(&status);
    out = status.ullTotalPhys;
}

void GetInstalledMemory(ULONGLONG& out, int skipKernelQuery) {
    InstalledMemoryQuery query = nullptr;
    if (!skipKernelQuery) {
        HMODULE kernel = GetModuleHandleW(FixedText::kInstalledMemoryModule);
        if (kernel)
            query = reinterpret_cast<InstalledMemoryQuery>(
                reinterpret_cast<void*>(GetProcAddress(kernel, FixedText::kInstalledMemoryFunction)));
    }
    GetInstalledMemoryWith(out, skipKernelQuery, query);
}

namespace {
class Win32SystemFacts : public ISystemFacts {
public:
    IFactsQuery* OpenQuery() override { return new WmiQuery(); }
    void InstalledMemory(ULONGLONG& out, int skipKernelQuery) override { GetInstalledMemory(out, skipKernelQuery); }
    EncryptionAnswer EncryptableVolumes(std::vector<EncryptableVolumeState>& volumes, HRESULT& failure) override {
        return ReadVolumeEncryption(volumes, failure);
    }
};
Win32SystemFacts g_win32Facts;
ISystemFacts* g_facts = &g_win32Facts;
}  // namespace

ISystemFacts& CurrentSystemFacts() { return *g_facts; }

ISystemFacts* SetSystemFacts(ISystemFacts* facts) {
    ISystemFacts* previous = g_facts;
    g_facts = facts ? facts : &g_win32Facts;
    return previous;
}
