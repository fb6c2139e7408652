#include <gtest/gtest.h>

#include <objbase.h>
#include <wbemcli.h>
#include <process.h>

#include <functional>
#include <vector>

#include "core/fixed_texts.h"
#include "core/system_facts.h"
#include "core/tarvel_app.h"
#include "utils_test_support.h"

namespace {

// Variants built by hand; each owns what it holds.
struct TestVariant {
    VARIANT v;
    TestVariant() { VariantInit(&v); }
    ~TestVariant() { VariantClear(&v); }
};

SAFEARRAY* IntArray(const std::vector<LONG>& values, LONG lowerBound = 0) {
    SAFEARRAYBOUND bound = {(ULONG)values.size(), lowerBound};
    SAFEARRAY* array = SafeArrayCreate(VT_I4, 1, &bound);
    for (size_t i = 0; i < values.size(); ++i) {
        LONG index = lowerBound + (LONG)i;
        LONG value = values[i];
        SafeArrayPutElement(array, &index, &value);
    }
    return array;
}

SAFEARRAY* StringArray(const std::vector<const wchar_t*>& values) {
    SAFEARRAYBOUND bound = {(ULONG)values.size(), 0};
    SAFEARRAY* array = SafeArrayCreate(VT_BSTR, 1, &bound);
    for (size_t i = 0; i < values.size(); ++i) {
        LONG index = (LONG)i;
        BSTR s = SysAllocString(values[i]);
        SafeArrayPutElement(array, &index, s);  // copies the string
        SysFreeString(s);
    }
    return array;
}

CString Convert(const VARIANT& v, const wchar_t* before = L"<unchanged>") {
    CString out = before;
    VariantToText(v, out);
    return out;
}

CString Repeat(const wchar_t* piece, int times) {
    CString s;
    for (int i = 0; i < times; ++i) s += piece;
    return s;
}

unsigned __stdcall RunBody(void* arg) {
    (*static_cast<std::function<void()>*>(arg))();
    return 0;
}

// Runs `body` on a fresh thread (COM state is per thread) and waits for it.
void OnFreshThread(std::function<void()> body) {
    HANDLE thread = (HANDLE)_beginthreadex(nullptr, 0, RunBody, &body, 0, nullptr);
    ASSERT_TRUE(thread != nullptr);
    ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(thread, 120000));
    CloseHandle(thread);
}

}  // namespace

TEST(VariantToText, ScalarTypes) {
    struct Case {
        const char* name;
        std::function<void(VARIANT&)> fill;
        const wchar_t* expected;
    } cases[] = {
        {"bstr", [](VARIANT& v) { V_VT(&v) = VT_BSTR; V_BSTR(&v) = SysAllocString(L"Windows 10 专业版"); }, L"Windows 10 专业版"},
        {"empty bstr", [](VARIANT& v) { V_VT(&v) = VT_BSTR; V_BSTR(&v) = nullptr; }, L""},
        {"bool true", [](VARIANT& v) { V_VT(&v) = VT_BOOL; V_BOOL(&v) = VARIANT_TRUE; }, FixedText::kVariantTrueText},
        {"bool false", [](VARIANT& v) { V_VT(&v) = VT_BOOL; V_BOOL(&v) = VARIANT_FALSE; }, FixedText::kVariantFalseText},
        // Only VARIANT_TRUE (-1) is true; a stray 1 is not.
        {"bool one", [](VARIANT& v) { V_VT(&v) = VT_BOOL; V_BOOL(&v) = 1; }, FixedText::kVariantFalseText},
        {"i4 negative", [](VARIANT& v) { V_VT(&v) = VT_I4; V_I4(&v) = -2147483647 - 1; }, L"-2147483648"},
        {"i4", [](VARIANT& v) { V_VT(&v) = VT_I4; V_I4(&v) = 42; }, L"42"},
        {"ui1", [](VARIANT& v) { V_VT(&v) = VT_UI1; V_UI1(&v) = 255; }, L"255"},
        {"ui4", [](VARIANT& v) { V_VT(&v) = VT_UI4; V_UI4(&v) = 4000000000u; }, L"4000000000"},
        {"null", [](VARIANT& v) { V_VT(&v) = VT_NULL; }, L"<unchanged>"},
        {"empty", [](VARIANT& v) { V_VT(&v) = VT_EMPTY; }, L"<unchanged>"},
        {"double", [](VARIANT& v) { V_VT(&v) = VT_R8; V_R8(&v) = 1.5; }, L"<unchanged>"},
        {"i2", [](VARIANT& v) { V_VT(&v) = VT_I2; V_I2(&v) = 7; }, L"<unchanged>"},
    };
    for (const Case& c : cases) {
        TestVariant t;
        c.fill(t.v);
        EXPECT_EQ(CString(c.expected), Convert(t.v)) << c.name;
    }
}

TEST(VariantToText, Arrays) {
    struct Case {
        const char* name;
        std::function<void(VARIANT&)> fill;
        CString expected;
    } cases[] = {
        {"strings: first element", [](VARIANT& v) { V_VT(&v) = VT_ARRAY | VT_BSTR; V_ARRAY(&v) = StringArray({L"C:", L"D:"}); }, L"C:"},
        {"strings: empty array", [](VARIANT& v) { V_VT(&v) = VT_ARRAY | VT_BSTR; V_ARRAY(&v) = StringArray({}); }, L"<unchanged>"},
        {"ints: three", [](VARIANT& v) { V_VT(&v) = VT_ARRAY | VT_I4; V_ARRAY(&v) = IntArray({3, -1, 42}); }, L"<unchanged>3-142"},
        {"ints: one", [](VARIANT& v) { V_VT(&v) = VT_ARRAY | VT_I4; V_ARRAY(&v) = IntArray({9}); }, L"<unchanged>9"},
        {"ints: empty", [](VARIANT& v) { V_VT(&v) = VT_ARRAY | VT_I4; V_ARRAY(&v) = IntArray({}); }, L"<unchanged>"},
        // 600 elements from index 0: indices 0 to 519 are formatted.
        {"ints: stop after 519", [](VARIANT& v) { V_VT(&v) = VT_ARRAY | VT_I4; V_ARRAY(&v) = IntArray(std::vector<LONG>(600, 7)); }, CString(L"<unchanged>") + Repeat(L"7", 520)},
        // Bounds are honoured: a lower bound of 518 leaves room for two.
        {"ints: lower bound 518", [](VARIANT& v) { V_VT(&v) = VT_ARRAY | VT_I4; V_ARRAY(&v) = IntArray({1, 2, 3, 4}, 518); }, L"<unchanged>12"},
        {"ints: lower bound 5", [](VARIANT& v) { V_VT(&v) = VT_ARRAY | VT_I4; V_ARRAY(&v) = IntArray({1, 2, 3}, 5); }, L"<unchanged>123"},
        {"null array pointer", [](VARIANT& v) { V_VT(&v) = VT_ARRAY | VT_I4; V_ARRAY(&v) = nullptr; }, L"<unchanged>"},
    };
    for (Case& c : cases) {
        TestVariant t;
        c.fill(t.v);
        EXPECT_EQ(c.expected, Convert(t.v)) << c.name;
        if (V_VT(&t.v) & VT_ARRAY && !V_ARRAY(&t.v)) V_VT(&t.v) = VT_EMPTY;
    }
}

TEST(SystemFacts, DisplayTextForValue) {
    struct Case {
        const wchar_t* value;
        const wchar_t* refinement;
        const wchar_t* expected;
    } cases[] = {
        {L"1", L"", FixedText::kChassisSpecialText1},
        {L"1", L"Virtual Machine", FixedText::kChassisRefinedText1},
        {L"1", L"VMware7,1", FixedText::kChassisSpecialText1},  // the second marker belongs to the second value
        {L"2", L"VMware7,1", FixedText::kChassisRefinedText2},
        {L"2", L"Virtual Machine", FixedText::kChassisSpecialText2},
        {L"2", L"", FixedText::kChassisSpecialText2},
        {L"3", L"Virtual Machine", L"台式机"},
        {L"9", L"", L"笔记本电脑"},
        {L"36", L"", L"电脑棒"},
        {L"", L"", FixedText::kChassisDefaultText},
        {L"39", L"", FixedText::kChassisDefaultText},  // two chassis types joined match nothing
        {L"03", L"", FixedText::kChassisDefaultText},  // compared exactly as text
    };
    for (const Case& c : cases)
        EXPECT_EQ(CString(c.expected), DisplayTextForValue(c.value, c.refinement)) << CStringA(c.value).GetString();
    for (const FixedText::DisplayTextRow& row : FixedText::kChassisTable)
        EXPECT_EQ(CString(row.text), DisplayTextForValue(row.value, L"")) << CStringA(row.value).GetString();
}

namespace {
BOOL WINAPI EightGiB(PULONGLONG kilobytes) {
    *kilobytes = 8ull * 1024 * 1024;
    return TRUE;
}
BOOL WINAPI FailingQuery(PULONGLONG kilobytes) {
    *kilobytes = 123;
    return FALSE;
}
ULONGLONG StatusTotal() {
    MEMORYSTATUSEX status = {};
    status.dwLength = sizeof(status);
    GlobalMemoryStatusEx(&status);
    return status.ullTotalPhys;
}
}  // namespace

TEST(SystemFacts, InstalledMemory) {
    ULONGLONG out = 0;
    GetInstalledMemoryWith(out, 0, EightGiB);
    EXPECT_EQ(8ull << 30, out);
    out = 0;
    GetInstalledMemoryWith(out, 1, EightGiB);  // skipped even though it exists
    EXPECT_EQ(StatusTotal(), out);
    out = 0;
    GetInstalledMemoryWith(out, 0, FailingQuery);
    EXPECT_EQ(StatusTotal(), out);
    out = 0;
    GetInstalledMemoryWith(out, 0, nullptr);
    EXPECT_EQ(StatusTotal(), out);

    ULONGLONG real = 0;
    GetInstalledMemory(real, 0);
    EXPECT_GT(real, 0ull);
    GetInstalledMemory(real, 1);
    EXPECT_EQ(StatusTotal(), real);
}

TEST(WmiQuery, ReadsTheRunningSystem) {
    CTarvelApp app;
    OnFreshThread([&] {
        WmiQuery wmi;
        ASSERT_TRUE(wmi.IsConnected());
        CString caption;
        EXPECT_EQ(1, wmi.QueryProperty(L"Win32_OperatingSystem", L"Caption", caption));
        EXPECT_FALSE(caption.IsEmpty());

        for (BOOL is64 : {FALSE, TRUE}) {
            app.m_is64BitSystem = is64;
            CString description;
            wmi.OsDescription(description);
            CString suffix = CString(FixedText::kOsDescriptionSeparator) + (is64 ? FixedText::kWordSize64 : FixedText::kWordSize32);
            ASSERT_GT(description.GetLength(), suffix.GetLength());
            EXPECT_EQ(suffix, description.Right(suffix.GetLength()));
            EXPECT_EQ(0, description.Find(caption)) << "the edition comes first";
        }

        // The chassis text is the one that the machine's own chassis value
        // (and, for the two special values, its refinement) stands for.
        CString value, refinement;
        EXPECT_EQ(1, wmi.QueryProperty(FixedText::kChassisClass, FixedText::kChassisProperty, value));
        EXPECT_FALSE(value.IsEmpty()) << "the chassis query answers";
        bool special = value == FixedText::kChassisSpecialValue1 || value == FixedText::kChassisSpecialValue2;
        if (special) wmi.QueryProperty(FixedText::kChassisRefineClass, FixedText::kChassisRefineProperty, refinement);
        CString chassis = L"<not set>";
        wmi.LookupDisplayText(chassis);
        EXPECT_EQ(DisplayTextForValue(value, refinement), chassis) << Narrow(value) << " / " << Narrow(refinement);

        // A class or a property that does not exist answers 0 and leaves out alone.
        CString kept = L"kept";
        EXPECT_EQ(0, wmi.QueryProperty(L"Win32_NoSuchClass", L"Caption", kept));
        EXPECT_EQ(0, wmi.QueryProperty(L"Win32_OperatingSystem", L"NoSuchProperty", kept));
        EXPECT_EQ(CString(L"kept"), kept);
        // The same object answers again after failures.
        CString again;
        EXPECT_EQ(1, wmi.QueryProperty(L"Win32_OperatingSystem", L"Caption", again));
        EXPECT_EQ(caption, again);
    });
}

TEST(WmiQuery, WithoutConnectionEveryQueryFails) {
    CTarvelApp app;
    app.m_is64BitSystem = FALSE;
    OnFreshThread([&] {
        WmiQuery wmi(L"ROOT\\NoSuchNamespaceOfOurs");
        EXPECT_FALSE(wmi.IsConnected());
        CString kept = L"kept";
        EXPECT_EQ(0, wmi.QueryProperty(L"Win32_OperatingSystem", L"Caption", kept));
        EXPECT_EQ(0, wmi.QueryProperty(L"", L"", kept));
        EXPECT_EQ(CString(L"kept"), kept);
        CString description;
        wmi.OsDescription(description);
        EXPECT_EQ(CString(FixedText::kOsDescriptionSeparator) + FixedText::kWordSize32, description);
        CString chassis;
        wmi.LookupDisplayText(chassis);
        EXPECT_EQ(CString(FixedText::kChassisDefaultText), chassis);
    });
}

// BitLocker's WMI provider: Wine has none, as a Windows edition without
// BitLocker has none. Its namespace is missing there, and the class is
// missing from any other namespace: both read as "no encryption", never as
// a failed query that would stop the road.
TEST(WmiQuery, AWindowsWithoutBitLockerHasNoEncryption) {
    OnFreshThread([] {
        std::vector<EncryptableVolumeState> volumes(1);
        HRESULT failure = S_OK;
        const EncryptionAnswer answer = ReadVolumeEncryption(volumes, failure);
        if (answer == EncryptionAnswer::kRead) {
            // A Windows with BitLocker (not Wine): every volume it knows was read.
            for (const EncryptableVolumeState& v : volumes) EXPECT_EQ(0, v.deviceId.Find(L"\\\\?\\Volume{"));
            return;
        }
        EXPECT_EQ(EncryptionAnswer::kNoEncryption, answer) << std::hex << (unsigned)failure;
        EXPECT_EQ((HRESULT)WBEM_E_INVALID_NAMESPACE, failure) << std::hex << (unsigned)failure;
        EXPECT_TRUE(volumes.empty());

        // The class asked in a namespace that lacks it: Windows answers
        // WBEM_E_INVALID_CLASS, Wine an empty result. Either way nothing is
        // encrypted.
        WmiQuery cimv2(FixedText::kWmiNamespace, RPC_C_AUTHN_LEVEL_PKT_PRIVACY);
        ASSERT_TRUE(cimv2.IsConnected());
        volumes.resize(1);
        const EncryptionAnswer inCimv2 = cimv2.ReadEncryptableVolumes(volumes, failure);
        if (inCimv2 == EncryptionAnswer::kNoEncryption) EXPECT_EQ((HRESULT)WBEM_E_INVALID_CLASS, failure);
        else EXPECT_EQ(EncryptionAnswer::kRead, inCimv2) << std::hex << (unsigned)failure;
        EXPECT_TRUE(volumes.empty());
    });
}

// Only a missing namespace or class means "no BitLocker"; any other failure
// of the query is a failure, with its code.
TEST(WmiQuery, EncryptionAnswersByTheQuerysCode) {
    const struct {
        HRESULT code;
        EncryptionAnswer answer;
    } cases[] = {
        {(HRESULT)WBEM_E_INVALID_NAMESPACE, EncryptionAnswer::kNoEncryption},
        {(HRESULT)WBEM_E_INVALID_CLASS, EncryptionAnswer::kNoEncryption},
        {(HRESULT)WBEM_E_ACCESS_DENIED, EncryptionAnswer::kFailed},
        {(HRESULT)WBEM_E_TIMED_OUT, EncryptionAnswer::kFailed},
        {(HRESULT)WBEM_E_PROVIDER_LOAD_FAILURE, EncryptionAnswer::kFailed},
        {(HRESULT)WBEM_E_INVALID_QUERY, EncryptionAnswer::kFailed},
        {RPC_E_DISCONNECTED, EncryptionAnswer::kFailed},
        {E_FAIL, EncryptionAnswer::kFailed},
    };
    for (const auto& c : cases) EXPECT_EQ(c.answer, EncryptionAnswerFor(c.code)) << std::hex << (unsigned)c.code;
}

TEST(WmiQuery, BalancesComOnItsThread) {
    // On a fresh thread the object initialises COM and uninitialises it again.
    OnFreshThread([] {
        { WmiQuery wmi; }
        HRESULT hr = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
        EXPECT_EQ(S_OK, hr) << "COM was left initialised";
        if (SUCCEEDED(hr)) CoUninitialize();
    });
    // On a thread already in the single-threaded apartment the object works
    // but must not take away the thread's own initialisation.
    OnFreshThread([] {
        ASSERT_EQ(S_OK, CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED));
        {
            WmiQuery wmi;
            CString caption;
            EXPECT_EQ(1, wmi.QueryProperty(L"Win32_OperatingSystem", L"Caption", caption));
        }
        HRESULT hr = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
        EXPECT_EQ(S_FALSE, hr) << "the thread's own COM initialisation was undone";
        if (SUCCEEDED(hr)) CoUninitialize();
        CoUninitialize();
    });
}
