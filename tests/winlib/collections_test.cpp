#include <gtest/gtest.h>

#include "winlib/collections.h"

namespace {

// A record that owns a handle, as catalogue records do. Copies duplicate the
// handle; destruction closes it. Counting constructions and destructions
// shows whether the array runs them when it relocates.
struct HandleRecord {
    static int s_copies;
    static int s_destroyed;
    HANDLE m_handle = nullptr;
    CString m_name;
    HandleRecord() {}
    HandleRecord(const HandleRecord& o) : m_name(o.m_name) {
        ++s_copies;
        if (o.m_handle)
            DuplicateHandle(GetCurrentProcess(), o.m_handle, GetCurrentProcess(), &m_handle, 0, FALSE,
                            DUPLICATE_SAME_ACCESS);
    }
    HandleRecord& operator=(const HandleRecord& o) {
        if (this != &o) {
            Close();
            m_name = o.m_name;
            if (o.m_handle)
                DuplicateHandle(GetCurrentProcess(), o.m_handle, GetCurrentProcess(), &m_handle, 0, FALSE,
                                DUPLICATE_SAME_ACCESS);
        }
        return *this;
    }
    ~HandleRecord() {
        ++s_destroyed;
        Close();
    }
    void Close() {
        if (m_handle) CloseHandle(m_handle);
        m_handle = nullptr;
    }
};
int HandleRecord::s_copies = 0;
int HandleRecord::s_destroyed = 0;

bool HandleIsOpen(HANDLE h) {
    DWORD flags = 0;
    return GetHandleInformation(h, &flags) != 0;
}

}  // namespace

TEST(CArray, GrowingKeepsOwnedHandlesExactlyOnce) {
    CArray<HandleRecord> records;
    std::vector<HANDLE> handles;
    records.SetSize(1);
    for (int i = 0; i < 200; ++i) {
        if (i > 0) records.SetSize(i + 1);  // grows and relocates many times
        HandleRecord& r = records[i];
        r.m_handle = CreateEventW(nullptr, TRUE, FALSE, nullptr);
        r.m_name.Format(L"record %d", i);
        handles.push_back(r.m_handle);
    }
    HandleRecord blank;
    HandleRecord::s_copies = 0;
    HandleRecord::s_destroyed = 0;
    records.InsertAt(0, blank);  // shifts everything up by one
    records.RemoveAt(0);         // and back
    records.FreeExtra();
    EXPECT_EQ(1, HandleRecord::s_destroyed);  // only the removed element
    EXPECT_EQ(0, HandleRecord::s_copies);
    for (int i = 0; i < 200; ++i) {
        EXPECT_EQ(handles[i], records[i].m_handle);
        EXPECT_TRUE(HandleIsOpen(handles[i]));
        CString expected;
        expected.Format(L"record %d", i);
        EXPECT_STREQ(expected, records[i].m_name);
    }
    HandleRecord::s_destroyed = 0;
    records.RemoveAll();
    EXPECT_EQ(200, HandleRecord::s_destroyed);
    for (HANDLE h : handles) EXPECT_FALSE(HandleIsOpen(h));
}

TEST(CArray, AddOfOwnElementSurvivesGrowth) {
    CArray<CString, const CString&> a;
    a.Add(L"first");
    for (int i = 0; i < 50; ++i) a.Add(a[0]);  // the argument lives in the block that grows
    EXPECT_EQ(51, a.GetSize());
    for (int i = 0; i < a.GetSize(); ++i) EXPECT_STREQ(L"first", a[i]);
    a.InsertAt(1, a[0], 3);
    EXPECT_EQ(54, a.GetCount());
    EXPECT_STREQ(L"first", a[3]);
}

TEST(CArray, InsertRemoveCopyAppend) {
    CArray<int, int> a;
    for (int i = 0; i < 5; ++i) a.Add(i);
    a.InsertAt(2, 99, 2);
    ASSERT_EQ(7, a.GetSize());
    EXPECT_EQ(99, a[2]);
    EXPECT_EQ(99, a[3]);
    EXPECT_EQ(2, a[4]);
    a.RemoveAt(1, 3);
    EXPECT_EQ(4, a.GetSize());
    EXPECT_EQ(2, a[1]);
    a.RemoveAt(3, 100);
    EXPECT_EQ(3, a.GetUpperBound() + 1);
    CArray<int, int> b;
    b.Copy(a);
    b.Append(a);
    EXPECT_EQ(6, b.GetSize());
    EXPECT_EQ(a[2], b[5]);
    a.SetAtGrow(10, 7);
    EXPECT_EQ(11, a.GetSize());
    EXPECT_EQ(0, a[5]);
    EXPECT_EQ(7, a[10]);
}

TEST(CStringArray, AddsTexts) {
    CStringArray a;
    a.Add(L"one");
    a.Add(CString(L"two"));
    ASSERT_EQ(2, a.GetSize());
    EXPECT_STREQ(L"two", a[1]);
}

TEST(CList, OrderAndRemoval) {
    CList<int, int> l;
    l.AddTail(2);
    l.AddTail(3);
    l.AddHead(1);
    EXPECT_EQ(3, l.GetCount());
    EXPECT_EQ(1, l.GetHead());
    EXPECT_EQ(3, l.GetTail());
    POSITION p = l.Find(2);
    ASSERT_NE(nullptr, p);
    l.InsertAfter(p, 25);
    l.RemoveAt(p);
    std::vector<int> seen;
    for (POSITION q = l.GetHeadPosition(); q;) seen.push_back(l.GetNext(q));
    EXPECT_EQ((std::vector<int>{1, 25, 3}), seen);
    EXPECT_EQ(1, l.RemoveHead());
    EXPECT_EQ(3, l.RemoveTail());
    EXPECT_EQ(1, l.GetCount());
}

TEST(CMap, LookupSetIterate) {
    CMap<CString, const CString&, int, int> m;
    m[L"a"] = 1;
    m.SetAt(L"b", 2);
    m[L"a"] = 3;
    EXPECT_EQ(2, m.GetCount());
    int v = 0;
    EXPECT_TRUE(m.Lookup(L"a", v));
    EXPECT_EQ(3, v);
    EXPECT_FALSE(m.Lookup(L"zz", v));
    int sum = 0, n = 0;
    for (POSITION p = m.GetStartPosition(); p;) {
        CString k;
        m.GetNextAssoc(p, k, v);
        sum += v;
        ++n;
    }
    EXPECT_EQ(2, n);
    EXPECT_EQ(5, sum);
    EXPECT_TRUE(m.RemoveKey(L"a"));
    EXPECT_FALSE(m.RemoveKey(L"a"));
    EXPECT_EQ(1, m.GetCount());
    CMap<int, int, CString, const CString&> byNumber;
    for (int i = 0; i < 100; ++i) byNumber[i].Format(L"%d", i);
    CString text;
    EXPECT_TRUE(byNumber.Lookup(77, text));
    EXPECT_STREQ(L"77", text);
}
