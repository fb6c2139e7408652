#include "core/tea.h"

#include <stdlib.h>
#include <string.h>

#include "core/md5.h"
#include "winlib/exception.h"

TeaDecipher::TeaDecipher(const CString& passphrase) : m_mode(kModeXxtea), m_delta(0x9E3779B9u) {
    Md5Hasher hasher;
    hasher.m_algorithm = Md5Hasher::kAlgorithmMd5;
    hasher.m_sourceKind = Md5Hasher::kKindText;
    hasher.m_sourceText = passphrase;
    hasher.Compute();
    memcpy(m_key, hasher.m_digest, sizeof(m_key));
}

CString ExtractSubstring(const CString& text, int index, wchar_t separator) {
    int start = 0;
    for (int i = 0; i < index; ++i) {
        int next = text.Find(separator, start);
        if (next < 0) return CString();
        start = next + 1;
    }
    int end = text.Find(separator, start);
    return end < 0 ? text.Mid(start) : text.Mid(start, end - start);
}

void TeaDecipher::Parse(const CString& text) {
    m_words.clear();
    if (text.IsEmpty()) return;
    try {
        for (int i = 0;; ++i) {
            CString field = ExtractSubstring(text, i, L',');
            field.Trim();
            if (field.IsEmpty()) break;
            unsigned long value = wcstoul(field, nullptr, 10);
            // 4294967295 is also what an overflowing field reads as.
            if (value == 0 || value == 0xFFFFFFFFul) throw new CInvalidArgException;
            m_words.push_back((UINT32)value);
        }
    } catch (CException* e) {
        e->Delete();  // a bad field ends the list
    }
}

UINT32 TeaDecipher::KeyWord(unsigned j) const {
    const BYTE* b = m_key + 4 * (j & 3);
    return (UINT32)b[0] | ((UINT32)b[1] << 8) | ((UINT32)b[2] << 16) | ((UINT32)b[3] << 24);
}

void TeaDecipher::XxteaDecipher() {
    const size_t n = m_words.size();
    if (n == 0) return;
    std::vector<UINT32> v(m_words);
    const UINT32 rounds = 6 + 52 / (UINT32)n;
    UINT32 sum = rounds * m_delta;
    UINT32 y = v[0];
    UINT32 z;
    while (sum != 0) {
        const UINT32 e = (sum >> 2) & 3;
        size_t p;
        for (p = n - 1; p > 0; --p) {
            z = v[p - 1];
            v[p] -= (((z >> 5) ^ (y << 2)) + ((y >> 3) ^ (z << 4))) ^ ((sum ^ y) + (KeyWord((p & 3) ^ e) ^ z));
            y = v[p];
        }
        z = v[n - 1];
        v[0] -= (((z >> 5) ^ (y << 2)) + ((y >> 3) ^ (z << 4))) ^ ((sum ^ y) + (KeyWord((0 & 3) ^ e) ^ z));
        y = v[0];
        sum -= m_delta;
    }
    m_words = v;
}

void TeaDecipher::TeaDecipherPair(UINT32& v0, UINT32& v1) const {
    UINT32 sum = m_delta * 32;
    const UINT32 k0 = KeyWord(0), k1 = KeyWord(1), k2 = KeyWord(2), k3 = KeyWord(3);
    for (int i = 0; i < 32; ++i) {
        v1 -= ((v0 << 4) + k2) ^ (v0 + sum) ^ ((v0 >> 5) + k3);
        v0 -= ((v1 << 4) + k0) ^ (v1 + sum) ^ ((v1 >> 5) + k1);
        sum -= m_delta;
    }
}

void TeaDecipher::XteaDecipherPair(UINT32& v0, UINT32& v1) const {
    UINT32 sum = m_delta * 32;
    for (int i = 0; i < 32; ++i) {
        v1 -= (((v0 << 4) ^ (v0 >> 5)) + v0) ^ (sum + KeyWord((sum >> 11) & 3));
        sum -= m_delta;
        v0 -= (((v1 << 4) ^ (v1 >> 5)) + v1) ^ (sum + KeyWord(sum & 3));
    }
}

int TeaDecipher::Decipher(CString& output) {
    output.Empty();
    const int n = (int)m_words.size();
    if (n == 0) return 0;
    if (m_mode == kModeXxtea) {
        XxteaDecipher();
        for (UINT32 w : m_words) output.AppendChar((wchar_t)(w & 0xFFFF));
        return n;
    }
    // Word pairs; a last word without a partner is left as it is and gives nothing.
    for (int i = 0; i + 1 < n; i += 2) {
        if (m_mode == kModeTea)
            TeaDecipherPair(m_words[i], m_words[i + 1]);
        else
            XteaDecipherPair(m_words[i], m_words[i + 1]);
        output.AppendChar((wchar_t)(m_words[i] & 0xFFFF));
    }
    return n;
}
