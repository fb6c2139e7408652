// MD5 digests (RFC 1321): the context, a hasher with progress counters for
// long file checks, and a one-call file digest.
#pragma once

#include <windows.h>

#include <atomic>
#include <functional>

#include "winlib/strings.h"

// The RFC 1321 state. Init, then Update any number of times, then Final,
// which writes `digest`.
struct Md5Context {
    UINT32 count[2];   // bits processed, low word first
    UINT32 state[4];   // chaining words A, B, C, D
    BYTE buffer[64];   // a partly filled input block
    BYTE digest[16];   // written by Final

    void Init();
    void Update(const void* data, size_t length);
    void Final();
};

// The digest of a text or of a file. A page owns one and runs Compute on a
// worker thread; its progress thread reads m_totalBytes, m_doneBytes and
// m_busy once a second meanwhile. Those three are atomics so that a 64-bit
// counter is never seen half-written on a 32-bit machine; plain reads of
// them (`h.m_doneBytes * 100 / h.m_totalBytes`) work as before.
class Md5Hasher {
public:
    enum { kAlgorithmMd5 = 5 };
    enum { kKindText = 1, kKindFile = 2 };
    enum {
        kFormatLowerSeparated = 2,
        kFormatUpper = 3,  // the default
        kFormatUpperSeparated = 4,
    };

    Md5Hasher();

    // The digest text in the form m_format asks for; also kept in m_result,
    // the raw bytes in m_digest. Set m_sourceKind and m_sourceText or
    // m_filePath first.
    CString Compute();
    // Compute in file mode over a file the caller holds open, read from its
    // start (m_filePath is not opened); the handle stays open. The counters
    // move as for a path.
    CString ComputeOpenFile(HANDLE file);

    // Asks a file digest that runs on another thread to end at its next
    // block: the exit cannot wait for a 5 GB image. A stopped digest gives an
    // empty text (as a file that cannot be read), and so does every later
    // file digest until Restart.
    void Stop() { m_stopRequested.store(true); }
    void Restart() { m_stopRequested.store(false); }
    bool Stopped() const { return m_stopRequested.load(); }
    // Called on the digesting thread after each block of a file digest when
    // set (tests hold a digest here); null in the program.
    std::function<void()> m_afterBlock;

    CString m_sourceText;
    int m_algorithm;
    CString m_filePath;
    int m_format;      // 2 lower with separator, 3 upper, 4 upper with separator, else lower
    int m_sourceKind;  // 1 m_sourceText, 2 the file m_filePath
    CString m_scratch;
    BYTE m_digest[16];
    CString m_result;
    std::atomic<LONGLONG> m_totalBytes;
    std::atomic<LONGLONG> m_doneBytes;
    std::atomic<BYTE> m_busy;

private:
    HANDLE m_openFile;  // set only while ComputeOpenFile runs
    std::atomic<bool> m_stopRequested;

    Md5Hasher(const Md5Hasher&) = delete;
    Md5Hasher& operator=(const Md5Hasher&) = delete;

    // The lower-case digest text of the chosen source, before formatting.
    CString Digest();
};

// The digest of a file as 32 upper-case hex digits; the missing-file text
// when the path does not exist, an empty text when it cannot be opened.
CString FileMd5Hex(const CString& path);
// The same for a file the caller holds open, read from its start; the
// handle stays open.
CString FileMd5Hex(HANDLE file);

// The 32 lower-case hex digits of a raw digest.
CString Md5DigitsText(const BYTE digest[16]);
