#include "core/resource_file.h"

#include <stdlib.h>
#include <string.h>

namespace {
const uint32_t kXteaDelta = 0x9E3779B9u;
const int kXteaCycles = 32;
// Zero bytes kept behind every payload buffer, so that readers that look a
// little past the end (text scanners, archive readers) find zeros.
const int kTailBytes = 16;

uint32_t ReadLe32(const BYTE* p) { return (uint32_t)p[0] | ((uint32_t)p[1] << 8) | ((uint32_t)p[2] << 16) | ((uint32_t)p[3] << 24); }
void WriteLe32(BYTE* p, uint32_t v) {
    p[0] = (BYTE)v;
    p[1] = (BYTE)(v >> 8);
    p[2] = (BYTE)(v >> 16);
    p[3] = (BYTE)(v >> 24);
}
}  // namespace

void XteaKeyWords(const BYTE key[16], uint32_t words[4]) {
    for (int k = 0; k < 4; ++k) words[k] = ReadLe32(key + 4 * k);
}

void XteaDecipherBlock(const uint32_t key[4], const BYTE in[8], BYTE out[8]) {
    uint32_t a = ReadLe32(in), b = ReadLe32(in + 4);
    uint32_t sum = kXteaDelta * (uint32_t)kXteaCycles;
    for (int i = 0; i < kXteaCycles; ++i) {
        b -= (((a << 4) ^ (a >> 5)) + a) ^ (sum + key[(sum >> 11) & 3]);
        sum -= kXteaDelta;
        a -= (((b << 4) ^ (b >> 5)) + b) ^ (sum + key[sum & 3]);
    }
    WriteLe32(out, a);
    WriteLe32(out + 4, b);
}

CResourceFile::CResourceFile() : m_data(nullptr), m_size(0), m_position(0), m_loaded(0), m_notOwned(0) {}

CResourceFile::~CResourceFile() { CResourceFile::Close(); }

void CResourceFile::Close() {
    if (m_data && !m_notOwned) free(m_data);
    m_loaded = 0;
    m_data = nullptr;
    m_size = 0;
    m_position = 0;
}

BYTE* CResourceFile::Detach() {
    if (!m_loaded) return nullptr;
    m_notOwned = 1;
    return m_data;
}

BYTE* CResourceFile::CopyOut() {
    if (!m_loaded || m_size < 0) return nullptr;
    BYTE* copy = static_cast<BYTE*>(calloc((size_t)m_size + 2, 1));
    if (!copy) return nullptr;
    if (m_data && m_size) memcpy(copy, m_data, (size_t)m_size);
    return copy;
}

int CResourceFile::LoadFromResource(HMODULE module, UINT id, LPCWSTR type) {
    Close();  // virtual: a derived class also drops what it built on the old buffer
    if (id == 0 || !type) return 0;
    LPCWSTR name = id <= 0xFFFF ? MAKEINTRESOURCEW(id) : reinterpret_cast<LPCWSTR>((ULONG_PTR)id);
    HRSRC info = FindResourceW(module, name, type);
    if (!info) return 0;
    DWORD size = SizeofResource(module, info);
    HGLOBAL handle = LoadResource(module, info);
    if (!handle || size > (DWORD)(INT_MAX - kTailBytes)) return 0;
    const void* bytes = LockResource(handle);
    if (!bytes) return 0;
    BYTE* buffer = static_cast<BYTE*>(calloc((size_t)size + kTailBytes, 1));
    if (!buffer) return 0;
    memcpy(buffer, bytes, size);
    m_data = buffer;
    m_size = (int)size;
    m_position = 0;
    m_loaded = 1;
    m_notOwned = 0;
    return 1;
}

int CResourceFile::Read(void* destination, int count) {
    if (!m_loaded) return 0;
    int left = m_size - m_position;
    if (!destination) return left;
    int n = count < left ? count : left;
    if (n <= 0) return 0;
    memcpy(destination, m_data + m_position, (size_t)n);
    m_position += n;
    return n;
}

int CResourceFile::Seek(int offset, int origin) {
    if (!m_loaded) return -1;
    long long target;
    if (origin == 1)
        target = (long long)m_position + offset;
    else if (origin == 2)
        target = m_size;
    else
        target = offset;
    if (target < 0 || target > m_size) return -1;
    m_position = (int)target;
    return m_position;
}

int CResourceFile::SeekToBegin() { return Seek(0, 0); }

int CResourceFile::SeekToEnd() { return Seek(0, 2); }

void CResourceFile::Attach(BYTE* buffer, int size, int notOwned) {
    if (!buffer || size == 0) return;
    m_data = buffer;
    m_size = size;
    m_notOwned = notOwned;
    m_loaded = 1;
}

int CResourceDecrypt::Decipher(const BYTE* data, int length, const BYTE* key) {
    if (!m_loaded || !data || !key || length <= 0) return 0;
    if (length > INT_MAX - 8 - kTailBytes) return 0;
    int padded = (length + 7) & ~7;
    BYTE* source = static_cast<BYTE*>(calloc((size_t)padded + kTailBytes, 1));
    if (!source) return 0;
    BYTE* target = static_cast<BYTE*>(calloc((size_t)padded + kTailBytes, 1));
    if (!target) {
        free(source);
        return 0;
    }
    memcpy(source, data, (size_t)length);  // `data` may be the buffer released below
    if (m_data && !m_notOwned) free(m_data);
    m_data = target;
    m_notOwned = 0;
    uint32_t words[4];
    XteaKeyWords(key, words);
    for (int offset = 0; offset < padded; offset += 8) XteaDecipherBlock(words, source + offset, target + offset);
    free(source);
    m_size = length;
    return 1;
}

int CResourceDecrypt::LoadAndDecipher(HMODULE module, UINT id, LPCWSTR type, const BYTE* key) {
    Close();
    if (id == 0 || !type || !key) return 0;
    if (!LoadFromResource(module, id, type)) return 0;
    return Decipher(m_data, m_size, key);
}
