// Payload files held in memory: a resource of the program copied into a heap
// buffer (CResourceFile) and its deciphering variant (CResourceDecrypt), with
// the XTEA block decipher the payloads are stored with.
//
// Buffers handed out by this family (Detach, CopyOut) are malloc blocks: the
// caller releases them with free().
#pragma once

#include <windows.h>
#include <stdint.h>

// One XTEA block decipher: 32 cycles, delta 0x9E3779B9. The block is two
// little-endian 32-bit words; key[k] is key word k. `in` and `out` may be the
// same eight bytes.
void XteaDecipherBlock(const uint32_t key[4], const BYTE in[8], BYTE out[8]);

// The four key words of a 16-byte key, read little-endian (word k from bytes
// 4k to 4k+3).
void XteaKeyWords(const BYTE key[16], uint32_t words[4]);

class CResourceFile {
public:
    CResourceFile();
    virtual ~CResourceFile();

    // Releases the buffer unless it is not owned; the object is empty again.
    virtual void Close();
    // Hands the buffer to the caller (null when nothing is loaded): the object
    // stays loaded and still refers to it but no longer releases it.
    virtual BYTE* Detach();
    // A copy of the data followed by two zero bytes, or null when nothing is
    // loaded. The caller frees it.
    virtual BYTE* CopyOut();
    // Closes the object, then copies resource `id` of `type` from `module`
    // (null: the program) into a new buffer followed by 16 zero bytes.
    // Nonzero on success.
    virtual int LoadFromResource(HMODULE module, UINT id, LPCWSTR type);
    // With a destination: copies up to `count` bytes from the position and
    // advances it; returns the bytes copied. Without one: the bytes left.
    virtual int Read(void* destination, int count);
    // Origin 0 (and any other value) sets the position, 1 adds to it, 2 moves
    // to the end whatever the offset. -1 when nothing is loaded or the result
    // lies outside 0..m_size (the position then stays).
    virtual int Seek(int offset, int origin);
    virtual int SeekToBegin();
    virtual int SeekToEnd();
    // Takes a buffer of `size` bytes (nothing happens for a null buffer or a
    // size of 0). With notOwned 0 the object frees it (with free()) when it
    // closes. Meant for empty objects: an earlier buffer is not released.
    virtual void Attach(BYTE* buffer, int size, int notOwned);

    BYTE* m_data;
    int m_size;
    int m_position;
    int m_loaded;
    int m_notOwned;

private:
    CResourceFile(const CResourceFile&) = delete;
    CResourceFile& operator=(const CResourceFile&) = delete;
};

class CResourceDecrypt : public CResourceFile {
public:
    // Deciphers `length` bytes at `data` (usually the object's own buffer)
    // with the 16-byte key, in independent 8-byte blocks; a trailing partial
    // block is taken as zero-padded. The result becomes the object's buffer
    // (length bytes counted, padding and 16 zero bytes behind them). 1 on
    // success; 0 when nothing is loaded, data or key is missing or the length
    // is not positive.
    virtual int Decipher(const BYTE* data, int length, const BYTE* key);
    // Closes, loads the resource and deciphers it with the key.
    virtual int LoadAndDecipher(HMODULE module, UINT id, LPCWSTR type, const BYTE* key);
};
