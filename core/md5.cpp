#include "core/md5.h"

#include <string.h>

#include "core/fixed_texts.h"
#include "core/text_utils.h"

namespace {

inline UINT32 Rotl(UINT32 x, int n) { return (x << n) | (x >> (32 - n)); }

inline UINT32 LoadLe32(const BYTE* p) {
    UINT32 v;
    memcpy(&v, p, 4);  // x86 is little-endian and reads unaligned words
    return v;
}

// One round step of RFC 1321; F, G, H and I are the four auxiliary functions
// (F and G in their cheaper equivalent forms).
#define MD5_F(x, y, z) ((z) ^ ((x) & ((y) ^ (z))))
#define MD5_G(x, y, z) ((y) ^ ((z) & ((x) ^ (y))))
#define MD5_H(x, y, z) ((x) ^ (y) ^ (z))
#define MD5_I(x, y, z) ((y) ^ ((x) | ~(z)))
// The input words are read straight from the block: no copy on the stack,
// which a 32-bit build with its few registers cannot afford.
#define W(i) LoadLe32(x + 4 * (i))
#define MD5_STEP(f, a, b, c, d, x, t, s) \
    (a) += f((b), (c), (d)) + (x) + (UINT32)(t); \
    (a) = Rotl((a), (s)) + (b);

// Runs the compression function over `blocks` consecutive 64-byte blocks.
void Transform(UINT32 state[4], const BYTE* data, size_t blocks) {
    UINT32 a = state[0], b = state[1], c = state[2], d = state[3];
    for (; blocks; --blocks, data += 64) {
        const BYTE* x = data;
        const UINT32 sa = a, sb = b, sc = c, sd = d;

        MD5_STEP(MD5_F, a, b, c, d, W(0), 0xd76aa478, 7)
        MD5_STEP(MD5_F, d, a, b, c, W(1), 0xe8c7b756, 12)
        MD5_STEP(MD5_F, c, d, a, b, W(2), 0x242070db, 17)
        MD5_STEP(MD5_F, b, c, d, a, W(3), 0xc1bdceee, 22)
        MD5_STEP(MD5_F, a, b, c, d, W(4), 0xf57c0faf, 7)
        MD5_STEP(MD5_F, d, a, b, c, W(5), 0x4787c62a, 12)
        MD5_STEP(MD5_F, c, d, a, b, W(6), 0xa8304613, 17)
        MD5_STEP(MD5_F, b, c, d, a, W(7), 0xfd469501, 22)
        MD5_STEP(MD5_F, a, b, c, d, W(8), 0x698098d8, 7)
        MD5_STEP(MD5_F, d, a, b, c, W(9), 0x8b44f7af, 12)
        MD5_STEP(MD5_F, c, d, a, b, W(10), 0xffff5bb1, 17)
        MD5_STEP(MD5_F, b, c, d, a, W(11), 0x895cd7be, 22)
        MD5_STEP(MD5_F, a, b, c, d, W(12), 0x6b901122, 7)
        MD5_STEP(MD5_F, d, a, b, c, W(13), 0xfd987193, 12)
        MD5_STEP(MD5_F, c, d, a, b, W(14), 0xa679438e, 17)
        MD5_STEP(MD5_F, b, c, d, a, W(15), 0x49b40821, 22)

        MD5_STEP(MD5_G, a, b, c, d, W(1), 0xf61e2562, 5)
        MD5_STEP(MD5_G, d, a, b, c, W(6), 0xc040b340, 9)
        MD5_STEP(MD5_G, c, d, a, b, W(11), 0x265e5a51, 14)
        MD5_STEP(MD5_G, b, c, d, a, W(0), 0xe9b6c7aa, 20)
        MD5_STEP(MD5_G, a, b, c, d, W(5), 0xd62f105d, 5)
        MD5_STEP(MD5_G, d, a, b, c, W(10), 0x02441453, 9)
        MD5_STEP(MD5_G, c, d, a, b, W(15), 0xd8a1e681, 14)
        MD5_STEP(MD5_G, b, c, d, a, W(4), 0xe7d3fbc8, 20)
        MD5_STEP(MD5_G, a, b, c, d, W(9), 0x21e1cde6, 5)
        MD5_STEP(MD5_G, d, a, b, c, W(14), 0xc33707d6, 9)
        MD5_STEP(MD5_G, c, d, a, b, W(3), 0xf4d50d87, 14)
        MD5_STEP(MD5_G, b, c, d, a, W(8), 0x455a14ed, 20)
        MD5_STEP(MD5_G, a, b, c, d, W(13), 0xa9e3e905, 5)
        MD5_STEP(MD5_G, d, a, b, c, W(2), 0xfcefa3f8, 9)
        MD5_STEP(MD5_G, c, d, a, b, W(7), 0x676f02d9, 14)
        MD5_STEP(MD5_G, b, c, d, a, W(12), 0x8d2a4c8a, 20)

        MD5_STEP(MD5_H, a, b, c, d, W(5), 0xfffa3942, 4)
        MD5_STEP(MD5_H, d, a, b, c, W(8), 0x8771f681, 11)
        MD5_STEP(MD5_H, c, d, a, b, W(11), 0x6d9d6122, 16)
        MD5_STEP(MD5_H, b, c, d, a, W(14), 0xfde5380c, 23)
        MD5_STEP(MD5_H, a, b, c, d, W(1), 0xa4beea44, 4)
        MD5_STEP(MD5_H, d, a, b, c, W(4), 0x4bdecfa9, 11)
        MD5_STEP(MD5_H, c, d, a, b, W(7), 0xf6bb4b60, 16)
        MD5_STEP(MD5_H, b, c, d, a, W(10), 0xbebfbc70, 23)
        MD5_STEP(MD5_H, a, b, c, d, W(13), 0x289b7ec6, 4)
        MD5_STEP(MD5_H, d, a, b, c, W(0), 0xeaa127fa, 11)
        MD5_STEP(MD5_H, c, d, a, b, W(3), 0xd4ef3085, 16)
        MD5_STEP(MD5_H, b, c, d, a, W(6), 0x04881d05, 23)
        MD5_STEP(MD5_H, a, b, c, d, W(9), 0xd9d4d039, 4)
        MD5_STEP(MD5_H, d, a, b, c, W(12), 0xe6db99e5, 11)
        MD5_STEP(MD5_H, c, d, a, b, W(15), 0x1fa27cf8, 16)
        MD5_STEP(MD5_H, b, c, d, a, W(2), 0xc4ac5665, 23)

        MD5_STEP(MD5_I, a, b, c, d, W(0), 0xf4292244, 6)
        MD5_STEP(MD5_I, d, a, b, c, W(7), 0x432aff97, 10)
        MD5_STEP(MD5_I, c, d, a, b, W(14), 0xab9423a7, 15)
        MD5_STEP(MD5_I, b, c, d, a, W(5), 0xfc93a039, 21)
        MD5_STEP(MD5_I, a, b, c, d, W(12), 0x655b59c3, 6)
        MD5_STEP(MD5_I, d, a, b, c, W(3), 0x8f0ccc92, 10)
        MD5_STEP(MD5_I, c, d, a, b, W(10), 0xffeff47d, 15)
        MD5_STEP(MD5_I, b, c, d, a, W(1), 0x85845dd1, 21)
        MD5_STEP(MD5_I, a, b, c, d, W(8), 0x6fa87e4f, 6)
        MD5_STEP(MD5_I, d, a, b, c, W(15), 0xfe2ce6e0, 10)
        MD5_STEP(MD5_I, c, d, a, b, W(6), 0xa3014314, 15)
        MD5_STEP(MD5_I, b, c, d, a, W(13), 0x4e0811a1, 21)
        MD5_STEP(MD5_I, a, b, c, d, W(4), 0xf7537e82, 6)
        MD5_STEP(MD5_I, d, a, b, c, W(11), 0xbd3af235, 10)
        MD5_STEP(MD5_I, c, d, a, b, W(2), 0x2ad7d2bb, 15)
        MD5_STEP(MD5_I, b, c, d, a, W(9), 0xeb86d391, 21)

        a += sa;
        b += sb;
        c += sc;
        d += sd;
    }
    state[0] = a;
    state[1] = b;
    state[2] = c;
    state[3] = d;
}

#undef MD5_F
#undef MD5_G
#undef MD5_H
#undef MD5_I
#undef MD5_STEP
#undef W

const DWORD kFileBlockSize = 8192;

// Digests an open file in 8192-byte blocks up to the size it had when the
// digest started (a file that grows meanwhile is read only that far).
// `total` and `done` receive the progress when given. Returns the number of
// bytes digested, or -1 when `stop` was set before the end.
LONGLONG DigestOpenFile(HANDLE file, Md5Context& context, std::atomic<LONGLONG>* total,
                        std::atomic<LONGLONG>* done, const std::atomic<bool>* stop = nullptr,
                        const std::function<void()>* afterBlock = nullptr) {
    LARGE_INTEGER zero = {}, end = {};
    LONGLONG size = 0;
    if (SetFilePointerEx(file, zero, &end, FILE_END)) size = end.QuadPart;
    SetFilePointerEx(file, zero, nullptr, FILE_BEGIN);
    if (total) total->store(size, std::memory_order_relaxed);

    BYTE block[kFileBlockSize];
    LONGLONG digested = 0;
    for (;;) {
        if (stop && stop->load()) return -1;
        DWORD wanted = kFileBlockSize;
        if (size > 0 && size - digested < (LONGLONG)wanted) wanted = (DWORD)(size - digested);
        DWORD got = 0;
        if (!ReadFile(file, block, wanted, &got, nullptr)) got = 0;
        digested += got;
        if (done) done->store(digested, std::memory_order_relaxed);
        context.Update(block, got);
        if (afterBlock && *afterBlock) (*afterBlock)();
        if (got < kFileBlockSize) break;
        if (size > 0 && digested >= size) break;
    }
    return digested;
}

HANDLE OpenForDigest(const CString& path) {
    // Others may keep writing the file (a download that is still growing).
    return CreateFileW(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                       OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
}

}  // namespace

void Md5Context::Init() {
    count[0] = count[1] = 0;
    state[0] = 0x67452301;
    state[1] = 0xefcdab89;
    state[2] = 0x98badcfe;
    state[3] = 0x10325476;
    memset(buffer, 0, sizeof buffer);
    memset(digest, 0, sizeof digest);
}

void Md5Context::Update(const void* data, size_t length) {
    const BYTE* in = static_cast<const BYTE*>(data);
    size_t used = (count[0] >> 3) & 63;
    UINT64 bits = ((UINT64)count[1] << 32 | count[0]) + ((UINT64)length << 3);
    count[0] = (UINT32)bits;
    count[1] = (UINT32)(bits >> 32);

    if (used) {
        size_t room = 64 - used;
        if (length < room) {
            memcpy(buffer + used, in, length);
            return;
        }
        memcpy(buffer + used, in, room);
        Transform(state, buffer, 1);
        in += room;
        length -= room;
    }
    if (length >= 64) {
        Transform(state, in, length / 64);
        in += length & ~(size_t)63;
        length &= 63;
    }
    if (length) memcpy(buffer, in, length);
}

void Md5Context::Final() {
    BYTE lengthBytes[8];
    for (int i = 0; i < 4; ++i) {
        lengthBytes[i] = (BYTE)(count[0] >> (8 * i));
        lengthBytes[4 + i] = (BYTE)(count[1] >> (8 * i));
    }
    static const BYTE padding[64] = {0x80};
    size_t used = (count[0] >> 3) & 63;
    Update(padding, used < 56 ? 56 - used : 120 - used);
    Update(lengthBytes, 8);
    for (int i = 0; i < 4; ++i)
        for (int j = 0; j < 4; ++j) digest[4 * i + j] = (BYTE)(state[i] >> (8 * j));
}

CString Md5DigitsText(const BYTE digest[16]) {
    static const wchar_t digits[] = L"0123456789abcdef";
    CString text;
    wchar_t* out = text.GetBuffer(32);
    for (int i = 0; i < 16; ++i) {
        out[2 * i] = digits[digest[i] >> 4];
        out[2 * i + 1] = digits[digest[i] & 15];
    }
    text.ReleaseBuffer(32);
    return text;
}

Md5Hasher::Md5Hasher()
    : m_sourceText(FixedText::kMd5InitialSourceText),
      m_algorithm(kAlgorithmMd5),
      m_filePath(FixedText::kMd5InitialFilePath),
      m_format(kFormatUpper),
      m_sourceKind(kKindFile),
      m_totalBytes(0),
      m_doneBytes(0),
      m_busy(0),
      m_openFile(INVALID_HANDLE_VALUE), m_stopRequested(false) {
    memset(m_digest, 0, sizeof m_digest);
}

CString Md5Hasher::Compute() {
    CString result = FixedText::kMd5NoDigestText;
    m_scratch.Empty();
    if (m_algorithm == kAlgorithmMd5) result = Digest();
    if (m_format == kFormatLowerSeparated || m_format == kFormatUpperSeparated) {
        for (int i = 0; i < result.GetLength(); ++i) {
            m_scratch.AppendChar(result[i]);
            if (i % 2 == 1) m_scratch += FixedText::kMd5ByteSeparator;
        }
        result = m_scratch;
    }
    if (m_format == kFormatUpper || m_format == kFormatUpperSeparated) result.MakeUpper();
    m_result = result;
    return result;
}

CString Md5Hasher::ComputeOpenFile(HANDLE file) {
    m_openFile = file;
    CString result = Compute();
    m_openFile = INVALID_HANDLE_VALUE;
    return result;
}

CString Md5Hasher::Digest() {
    Md5Context context;
    context.Init();
    CString result = FixedText::kMd5EmptyDigestText;
    if (m_sourceKind == kKindText) {
        CStringA bytes = WideToThreadAnsi(m_sourceText);
        context.Update(bytes.GetString(), bytes.GetLength());
        context.Final();
        result += Md5DigitsText(context.digest);
        memcpy(m_digest, context.digest, sizeof m_digest);
        return result;
    }
    if (m_sourceKind != kKindFile) return CString(FixedText::kMd5NoDigestText);
    const bool given = m_openFile != INVALID_HANDLE_VALUE;
    if (!given && m_filePath.IsEmpty()) return CString(FixedText::kMd5NoFileText);

    m_doneBytes.store(0, std::memory_order_relaxed);
    m_busy.store(1);
    HANDLE file = given ? m_openFile : OpenForDigest(m_filePath);
    if (file == INVALID_HANDLE_VALUE) {
        m_busy.store(0);
        return CString();
    }
    LONGLONG digested = DigestOpenFile(file, context, &m_totalBytes, &m_doneBytes, &m_stopRequested, &m_afterBlock);
    if (!given) CloseHandle(file);
    if (digested < 0) {
        m_busy.store(0);
        return CString();
    }
    context.Final();
    if (digested > 0) result += Md5DigitsText(context.digest);
    memcpy(m_digest, context.digest, sizeof m_digest);
    m_busy.store(0);
    return result;
}

CString FileMd5Hex(const CString& path) {
    if (path.IsEmpty() || GetFileAttributesW(path) == INVALID_FILE_ATTRIBUTES)
        return CString(FixedText::kMd5MissingFileText);
    HANDLE file = OpenForDigest(path);
    if (file == INVALID_HANDLE_VALUE) return CString();
    CString result = FileMd5Hex(file);
    CloseHandle(file);
    return result;
}

CString FileMd5Hex(HANDLE file) {
    if (file == INVALID_HANDLE_VALUE) return CString();
    CString result = FixedText::kMd5FileInitialText;
    Md5Context context;
    context.Init();
    LONGLONG digested = DigestOpenFile(file, context, nullptr, nullptr);
    context.Final();
    if (digested > 0) result += Md5DigitsText(context.digest);
    result.MakeUpper();
    return result;
}
