// Collections: CArray, CStringArray, CList and CMap.
//
// Relocation rule for all of winlib: when CArray grows, shrinks its storage or
// shifts elements, it moves them bitwise (memcpy/memmove) and runs neither
// copy constructors nor destructors on them. An element therefore keeps
// whatever it owns (a handle, a heap buffer) exactly once across a
// reallocation. Every type stored in a CArray must be safe to move bitwise:
// it must hold no pointer into itself. CString qualifies (one pointer to a
// heap block); std::wstring does not (its small-string buffer is inside it).
#pragma once

#include <windows.h>
#include <new>
#include <stdlib.h>
#include <string.h>

#include "winlib/strings.h"

struct __POSITION {};
typedef __POSITION* POSITION;

template <class TYPE, class ARG_TYPE = const TYPE&>
class CArray {
public:
    CArray() : m_pData(nullptr), m_nSize(0), m_nMaxSize(0), m_nGrowBy(0) {}
    ~CArray() { RemoveAll(); }
    CArray(const CArray&) = delete;
    CArray& operator=(const CArray&) = delete;

    INT_PTR GetSize() const { return m_nSize; }
    INT_PTR GetCount() const { return m_nSize; }
    bool IsEmpty() const { return m_nSize == 0; }
    INT_PTR GetUpperBound() const { return m_nSize - 1; }

    // Grows with default-constructed elements or destroys the tail. nGrowBy
    // (when not -1) sets how many slots a later growth adds at least.
    void SetSize(INT_PTR nNewSize, INT_PTR nGrowBy = -1) {
        if (nGrowBy >= 0) m_nGrowBy = nGrowBy;
        if (nNewSize < 0) nNewSize = 0;
        if (nNewSize < m_nSize) {
            DestroyRange(nNewSize, m_nSize - nNewSize);
            m_nSize = nNewSize;
            if (nNewSize == 0) {
                free(m_pData);
                m_pData = nullptr;
                m_nMaxSize = 0;
            }
            return;
        }
        Reserve(nNewSize);
        for (INT_PTR i = m_nSize; i < nNewSize; ++i) new (&m_pData[i]) TYPE();
        m_nSize = nNewSize;
    }
    void RemoveAll() { SetSize(0); }
    void FreeExtra() {
        if (m_nSize == m_nMaxSize) return;
        Relocate(m_nSize);
    }

    TYPE& ElementAt(INT_PTR i) { return m_pData[i]; }
    const TYPE& ElementAt(INT_PTR i) const { return m_pData[i]; }
    TYPE& operator[](INT_PTR i) { return m_pData[i]; }
    const TYPE& operator[](INT_PTR i) const { return m_pData[i]; }
    const TYPE& GetAt(INT_PTR i) const { return m_pData[i]; }
    TYPE& GetAt(INT_PTR i) { return m_pData[i]; }
    void SetAt(INT_PTR i, ARG_TYPE e) { m_pData[i] = e; }
    TYPE* GetData() { return m_pData; }
    const TYPE* GetData() const { return m_pData; }

    void SetAtGrow(INT_PTR i, ARG_TYPE e) {
        if (i < 0) return;
        if (i >= m_nSize) {
            // The argument may be one of our own elements, which growing moves.
            INT_PTR self = IndexOf(&e);
            SetSize(i + 1);
            m_pData[i] = self >= 0 ? m_pData[self] : e;
            return;
        }
        m_pData[i] = e;
    }
    INT_PTR Add(ARG_TYPE e) {
        INT_PTR i = m_nSize;
        SetAtGrow(i, e);
        return i;
    }
    INT_PTR Append(const CArray& src) {
        INT_PTR old = m_nSize;
        if (&src == this) {
            INT_PTR n = m_nSize;
            SetSize(old + n);
            for (INT_PTR i = 0; i < n; ++i) m_pData[old + i] = m_pData[i];
            return old;
        }
        SetSize(old + src.m_nSize);
        for (INT_PTR i = 0; i < src.m_nSize; ++i) m_pData[old + i] = src.m_pData[i];
        return old;
    }
    void Copy(const CArray& src) {
        if (&src == this) return;
        SetSize(src.m_nSize);
        for (INT_PTR i = 0; i < src.m_nSize; ++i) m_pData[i] = src.m_pData[i];
    }
    void InsertAt(INT_PTR nIndex, ARG_TYPE e, INT_PTR nCount = 1) {
        if (nIndex < 0 || nCount <= 0) return;
        INT_PTR self = IndexOf(&e);
        if (self >= 0) {
            // Inserting one of our own elements: shifting would move it.
            TYPE copy(e);
            InsertAt(nIndex, copy, nCount);
            return;
        }
        if (nIndex >= m_nSize) {
            SetSize(nIndex + nCount);
        } else {
            INT_PTR old = m_nSize;
            Reserve(old + nCount);
            memmove(static_cast<void*>(m_pData + nIndex + nCount), static_cast<const void*>(m_pData + nIndex),
                    (old - nIndex) * sizeof(TYPE));
            for (INT_PTR i = 0; i < nCount; ++i) new (&m_pData[nIndex + i]) TYPE();
            m_nSize = old + nCount;
        }
        for (INT_PTR i = 0; i < nCount; ++i) m_pData[nIndex + i] = e;
    }
    void RemoveAt(INT_PTR nIndex, INT_PTR nCount = 1) {
        if (nIndex < 0 || nCount <= 0 || nIndex >= m_nSize) return;
        if (nCount > m_nSize - nIndex) nCount = m_nSize - nIndex;
        DestroyRange(nIndex, nCount);
        memmove(static_cast<void*>(m_pData + nIndex), static_cast<const void*>(m_pData + nIndex + nCount),
                (m_nSize - nIndex - nCount) * sizeof(TYPE));
        m_nSize -= nCount;
    }

private:
    template <class P>
    INT_PTR IndexOf(const P* p) const {
        const char* c = reinterpret_cast<const char*>(p);
        const char* begin = reinterpret_cast<const char*>(m_pData);
        if (!m_pData || c < begin || c >= begin + m_nSize * sizeof(TYPE)) return -1;
        return (c - begin) / sizeof(TYPE);
    }
    void DestroyRange(INT_PTR first, INT_PTR count) {
        for (INT_PTR i = 0; i < count; ++i) m_pData[first + i].~TYPE();
    }
    void Reserve(INT_PTR n) {
        if (n <= m_nMaxSize) return;
        INT_PTR grow = m_nGrowBy;
        if (grow == 0) {
            grow = m_nSize / 8;
            if (grow < 4) grow = 4;
            if (grow > 1024) grow = 1024;
        }
        INT_PTR capacity = m_nMaxSize + grow;
        if (capacity < n) capacity = n;
        Relocate(capacity);
    }
    // Moves the elements bitwise into a block of `capacity` slots.
    void Relocate(INT_PTR capacity) {
        TYPE* block = nullptr;
        if (capacity > 0) {
            block = static_cast<TYPE*>(malloc(capacity * sizeof(TYPE)));
            if (!block) abort();
            if (m_nSize) memcpy(static_cast<void*>(block), static_cast<const void*>(m_pData), m_nSize * sizeof(TYPE));
        }
        free(m_pData);
        m_pData = block;
        m_nMaxSize = capacity;
    }

    TYPE* m_pData;
    INT_PTR m_nSize;
    INT_PTR m_nMaxSize;
    INT_PTR m_nGrowBy;
};

class CStringArray : public CArray<CString, const CString&> {
public:
    INT_PTR Add(const CString& s) { return CArray<CString, const CString&>::Add(s); }
    INT_PTR Add(const wchar_t* s) { return CArray<CString, const CString&>::Add(CString(s)); }
};

template <class TYPE, class ARG_TYPE = const TYPE&>
class CList {
    struct Node {
        Node* next;
        Node* prev;
        TYPE data;
    };

public:
    CList() : m_head(nullptr), m_tail(nullptr), m_count(0) {}
    ~CList() { RemoveAll(); }
    CList(const CList&) = delete;
    CList& operator=(const CList&) = delete;

    INT_PTR GetCount() const { return m_count; }
    INT_PTR GetSize() const { return m_count; }
    bool IsEmpty() const { return m_count == 0; }

    TYPE& GetHead() { return m_head->data; }
    const TYPE& GetHead() const { return m_head->data; }
    TYPE& GetTail() { return m_tail->data; }
    const TYPE& GetTail() const { return m_tail->data; }

    POSITION AddHead(ARG_TYPE e) { return InsertBefore(ToPos(m_head), e); }
    POSITION AddTail(ARG_TYPE e) { return InsertAfter(ToPos(m_tail), e); }
    TYPE RemoveHead() {
        TYPE value = m_head->data;
        RemoveAt(ToPos(m_head));
        return value;
    }
    TYPE RemoveTail() {
        TYPE value = m_tail->data;
        RemoveAt(ToPos(m_tail));
        return value;
    }
    void RemoveAll() {
        while (m_head) RemoveAt(ToPos(m_head));
    }

    POSITION GetHeadPosition() const { return ToPos(m_head); }
    POSITION GetTailPosition() const { return ToPos(m_tail); }
    TYPE& GetNext(POSITION& pos) {
        Node* n = ToNode(pos);
        pos = ToPos(n->next);
        return n->data;
    }
    const TYPE& GetNext(POSITION& pos) const {
        Node* n = ToNode(pos);
        pos = ToPos(n->next);
        return n->data;
    }
    TYPE& GetPrev(POSITION& pos) {
        Node* n = ToNode(pos);
        pos = ToPos(n->prev);
        return n->data;
    }
    TYPE& GetAt(POSITION pos) { return ToNode(pos)->data; }
    const TYPE& GetAt(POSITION pos) const { return ToNode(pos)->data; }
    void SetAt(POSITION pos, ARG_TYPE e) { ToNode(pos)->data = e; }

    POSITION InsertBefore(POSITION pos, ARG_TYPE e) {
        Node* at = ToNode(pos);
        Node* n = new Node{nullptr, nullptr, e};
        if (!at) at = m_head;
        if (!at) {
            m_head = m_tail = n;
        } else {
            n->next = at;
            n->prev = at->prev;
            if (at->prev) at->prev->next = n; else m_head = n;
            at->prev = n;
        }
        ++m_count;
        return ToPos(n);
    }
    POSITION InsertAfter(POSITION pos, ARG_TYPE e) {
        Node* at = ToNode(pos);
        Node* n = new Node{nullptr, nullptr, e};
        if (!at) at = m_tail;
        if (!at) {
            m_head = m_tail = n;
        } else {
            n->prev = at;
            n->next = at->next;
            if (at->next) at->next->prev = n; else m_tail = n;
            at->next = n;
        }
        ++m_count;
        return ToPos(n);
    }
    void RemoveAt(POSITION pos) {
        Node* n = ToNode(pos);
        if (!n) return;
        if (n->prev) n->prev->next = n->next; else m_head = n->next;
        if (n->next) n->next->prev = n->prev; else m_tail = n->prev;
        delete n;
        --m_count;
    }
    POSITION Find(ARG_TYPE value, POSITION startAfter = nullptr) const {
        Node* n = startAfter ? ToNode(startAfter)->next : m_head;
        for (; n; n = n->next)
            if (n->data == value) return ToPos(n);
        return nullptr;
    }
    POSITION FindIndex(INT_PTR index) const {
        if (index < 0 || index >= m_count) return nullptr;
        Node* n = m_head;
        while (index-- > 0) n = n->next;
        return ToPos(n);
    }

private:
    static POSITION ToPos(Node* n) { return reinterpret_cast<POSITION>(n); }
    static Node* ToNode(POSITION p) { return reinterpret_cast<Node*>(p); }
    Node* m_head;
    Node* m_tail;
    INT_PTR m_count;
};

// Hash of a map key. Strings hash their characters; other keys their value.
template <class ARG_KEY>
inline UINT HashKey(ARG_KEY key) {
    return static_cast<UINT>(static_cast<DWORD_PTR>(key) >> 4 ^ static_cast<DWORD_PTR>(key));
}
template <>
inline UINT HashKey<const wchar_t*>(const wchar_t* key) {
    UINT h = 2166136261u;
    for (; key && *key; ++key) h = (h ^ *key) * 16777619u;
    return h;
}
template <>
inline UINT HashKey<const CString&>(const CString& key) { return HashKey<const wchar_t*>(key.GetString()); }
template <>
inline UINT HashKey<CString>(CString key) { return HashKey<const wchar_t*>(key.GetString()); }

template <class KEY, class ARG_KEY, class VALUE, class ARG_VALUE>
class CMap {
    struct Assoc {
        Assoc* next;
        UINT hash;
        KEY key;
        VALUE value;
    };

public:
    explicit CMap(UINT hashSize = 17) : m_buckets(nullptr), m_hashSize(hashSize ? hashSize : 17), m_count(0) {}
    ~CMap() { RemoveAll(); }
    CMap(const CMap&) = delete;
    CMap& operator=(const CMap&) = delete;

    INT_PTR GetCount() const { return m_count; }
    INT_PTR GetSize() const { return m_count; }
    bool IsEmpty() const { return m_count == 0; }

    BOOL Lookup(ARG_KEY key, VALUE& value) const {
        Assoc* a = Find(key);
        if (!a) return FALSE;
        value = a->value;
        return TRUE;
    }
    VALUE& operator[](ARG_KEY key) {
        Assoc* a = Find(key);
        if (a) return a->value;
        if (!m_buckets) {
            m_buckets = new Assoc*[m_hashSize];
            memset(m_buckets, 0, m_hashSize * sizeof(Assoc*));
        }
        UINT h = HashKey<ARG_KEY>(key);
        a = new Assoc{m_buckets[h % m_hashSize], h, KEY(key), VALUE()};
        m_buckets[h % m_hashSize] = a;
        ++m_count;
        return a->value;
    }
    void SetAt(ARG_KEY key, ARG_VALUE value) { (*this)[key] = value; }
    BOOL RemoveKey(ARG_KEY key) {
        if (!m_buckets) return FALSE;
        UINT h = HashKey<ARG_KEY>(key);
        for (Assoc** link = &m_buckets[h % m_hashSize]; *link; link = &(*link)->next) {
            if ((*link)->hash == h && (*link)->key == key) {
                Assoc* dead = *link;
                *link = dead->next;
                delete dead;
                --m_count;
                return TRUE;
            }
        }
        return FALSE;
    }
    void RemoveAll() {
        if (m_buckets) {
            for (UINT i = 0; i < m_hashSize; ++i) {
                for (Assoc* a = m_buckets[i]; a;) {
                    Assoc* next = a->next;
                    delete a;
                    a = next;
                }
            }
            delete[] m_buckets;
            m_buckets = nullptr;
        }
        m_count = 0;
    }

    // Iteration in bucket order; the position is the next association.
    POSITION GetStartPosition() const { return ToPos(First(0)); }
    void GetNextAssoc(POSITION& pos, KEY& key, VALUE& value) const {
        Assoc* a = reinterpret_cast<Assoc*>(pos);
        key = a->key;
        value = a->value;
        Assoc* next = a->next;
        if (!next) next = First(a->hash % m_hashSize + 1);
        pos = ToPos(next);
    }

private:
    static POSITION ToPos(Assoc* a) { return reinterpret_cast<POSITION>(a); }
    Assoc* First(UINT bucket) const {
        if (!m_buckets) return nullptr;
        for (UINT i = bucket; i < m_hashSize; ++i)
            if (m_buckets[i]) return m_buckets[i];
        return nullptr;
    }
    Assoc* Find(ARG_KEY key) const {
        if (!m_buckets) return nullptr;
        UINT h = HashKey<ARG_KEY>(key);
        for (Assoc* a = m_buckets[h % m_hashSize]; a; a = a->next)
            if (a->hash == h && a->key == key) return a;
        return nullptr;
    }
    Assoc** m_buckets;
    UINT m_hashSize;
    INT_PTR m_count;
};
