#include "core/rc4_hex.h"

#include <stdlib.h>
#include <wincrypt.h>

#include <vector>

#include "core/fixed_texts.h"
#include "core/text_utils.h"

namespace {

enum CipherStep { kStepAcquire, kStepCreateHash, kStepHashPassword, kStepDeriveKey, kStepCipher, kStepCount };

// Both directions: key derivation, then CryptEncrypt or CryptDecrypt on the
// buffer with final set. `bufferLength` matters for enciphering only.
BOOL CipherBuffer(bool encipher, BYTE* buffer, DWORD* length, DWORD bufferLength, const BYTE* input,
                  DWORD inputLength, const BYTE* password, DWORD passwordLength) {
    const wchar_t* const* stepTexts =
        encipher ? FixedText::kCipherEncipherSteps : FixedText::kCipherDecipherSteps;
    if (inputLength) memcpy(buffer, input, inputLength);

    HCRYPTPROV provider = 0;
    HCRYPTHASH hash = 0;
    HCRYPTKEY key = 0;
    int failed = -1;
    DWORD dataLength = inputLength;
    if (!CryptAcquireContextW(&provider, nullptr, nullptr, PROV_RSA_FULL, CRYPT_VERIFYCONTEXT))
        failed = kStepAcquire;
    else if (!CryptCreateHash(provider, CALG_MD5, 0, 0, &hash))
        failed = kStepCreateHash;
    else if (!CryptHashData(hash, password, passwordLength, 0))
        failed = kStepHashPassword;
    // No key length in the upper half of the flags: the provider's default
    // RC4 length, which is what the boot environment derives as well.
    else if (!CryptDeriveKey(provider, CALG_RC4, hash, CRYPT_EXPORTABLE, &key))
        failed = kStepDeriveKey;
    else if (encipher ? !CryptEncrypt(key, 0, TRUE, 0, buffer, &dataLength, bufferLength)
                      : !CryptDecrypt(key, 0, TRUE, 0, buffer, &dataLength))
        failed = kStepCipher;

    if (failed >= 0) ReportLastError(FixedText::kCipherDiagnosticCaption, stepTexts[failed], GetLastError());
    else *length = dataLength;
    if (key) CryptDestroyKey(key);
    if (hash) CryptDestroyHash(hash);
    if (provider) CryptReleaseContext(provider, 0);
    return failed < 0;
}

int HexDigitValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

// The thread's ANSI code page as a number (CP_THREAD_ACP resolved).
UINT ThreadAnsiCodePage() {
    wchar_t text[8] = {};
    if (!GetLocaleInfoW(GetThreadLocale(), LOCALE_IDEFAULTANSICODEPAGE, text, 8)) return GetACP();
    UINT codePage = (UINT)_wtoi(text);
    return codePage ? codePage : GetACP();
}

// How many of `length` bytes remain when a double-byte character whose
// second byte was cut off (a value cut at the reader's limit) is dropped.
DWORD WithoutCutDoubleByte(const BYTE* bytes, DWORD length, UINT codePage) {
    DWORD i = 0;
    while (i < length) {
        if (!IsDBCSLeadByteEx(codePage, bytes[i])) {
            ++i;
        } else if (i + 1 < length) {
            i += 2;
        } else {
            return i;  // a lead byte with nothing after it
        }
    }
    return length;
}

}  // namespace

BOOL EncryptBuffer(BYTE* buffer, DWORD* length, const BYTE* input, DWORD inputLength, const BYTE* password,
                   DWORD passwordLength) {
    return CipherBuffer(true, buffer, length, *length, input, inputLength, password, passwordLength);
}

BOOL DecryptBuffer(BYTE* buffer, DWORD* length, const BYTE* input, DWORD inputLength, const BYTE* password,
                   DWORD passwordLength) {
    return CipherBuffer(false, buffer, length, inputLength, input, inputLength, password, passwordLength);
}

int HexToBytes(const char* text, BYTE* output) {
    int count = 0;
    bool high = true;
    for (; *text; ++text) {
        int value = HexDigitValue(*text);
        if (value < 0) continue;
        if (high) {
            output[count] = (BYTE)(value << 4);
        } else {
            output[count] = (BYTE)(output[count] + value);
            ++count;
        }
        high = !high;
    }
    output[count] = 0;  // also drops an unpaired last digit
    return count + 1;
}

void ReportLastError(const wchar_t* caption, const wchar_t* step, DWORD code) {
    LPWSTR systemText = nullptr;
    FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS | FORMAT_MESSAGE_ALLOCATE_BUFFER,
                   nullptr, code, 0x400, reinterpret_cast<LPWSTR>(&systemText), 0, nullptr);
    CString line;
    line.Format(FixedText::kCipherDiagnosticFormat, caption, step, systemText ? systemText : L"");
    if (systemText) LocalFree(systemText);
    OutputDebugStringW(line);
}

CString EncryptToHex(const wchar_t* plain, const wchar_t* password) {
    CString result = FixedText::kCipherResultText;
    CStringA plainBytes = WideToThreadAnsi(plain);
    CStringA passwordBytes = WideToThreadAnsi(password);
    std::vector<BYTE> buffer(plainBytes.GetLength() + 4096);
    DWORD length = (DWORD)buffer.size();
    if (!EncryptBuffer(buffer.data(), &length, reinterpret_cast<const BYTE*>(plainBytes.GetString()),
                       plainBytes.GetLength(), reinterpret_cast<const BYTE*>(passwordBytes.GetString()),
                       passwordBytes.GetLength()))
        return result;
    static const wchar_t digits[] = L"0123456789ABCDEF";
    for (DWORD i = 0; i < length; ++i) {
        result.AppendChar(digits[buffer[i] >> 4]);
        result.AppendChar(digits[buffer[i] & 15]);
    }
    result.MakeUpper();
    return result;
}

CString DecryptFromHex(const wchar_t* hex, const wchar_t* password) {
    CString result = FixedText::kDecipherResultText;
    CStringA hexBytes = WideToThreadAnsi(hex);
    std::vector<BYTE> bytes(hexBytes.GetLength() / 2 + 1);
    int count = HexToBytes(hexBytes.GetString(), bytes.data()) - 1;
    CStringA passwordBytes = WideToThreadAnsi(password);
    std::vector<BYTE> buffer(count + 4096);
    DWORD length = 0;
    if (!DecryptBuffer(buffer.data(), &length, bytes.data(), count,
                       reinterpret_cast<const BYTE*>(passwordBytes.GetString()), passwordBytes.GetLength()))
        return result;
    // Text up to the first zero byte, without a character cut in half.
    DWORD text = 0;
    while (text < length && buffer[text]) ++text;
    text = WithoutCutDoubleByte(buffer.data(), text, ThreadAnsiCodePage());
    buffer[text] = 0;
    return ThreadAnsiToWide(reinterpret_cast<const char*>(buffer.data()));
}
