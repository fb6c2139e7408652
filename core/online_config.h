// The online configuration: fetching it from the mirror list, reading its
// sections into the catalogue, and the recommendation tables.
//
// The readers themselves are operations of the application object
// (CTarvelApp::FetchOnlineConfig, ParseOnlineConfig, BuildRecommendLists and
// the section readers); this header holds the pieces that need no
// application object, so they can be used and tested on their own.
#pragma once

#include <functional>

#include "core/fixed_texts.h"
#include "winlib/winlib.h"

// Results of DownloadUrlToFile.
enum DownloadResult {
    kDownloadDone = 0,           // the request completed; the body was written when the status was 200
    kDownloadNoUrl = 1,          // the URL is empty
    kDownloadNoPath = 2,         // the file path is empty
    kDownloadInternetError = 3,  // connection, name resolution or transfer failure
    kDownloadFileError = 4,      // the output file could not be created or written
    kDownloadBadScheme = 5,      // not an http or https URL: nothing was requested
    kDownloadTooLarge = 6,       // the body went past the cap: the transfer was ended there
    kDownloadTimedOut = 7,       // the overall deadline passed: the transfer was ended there
};

// The most of a configuration that is taken: a reply that goes on past it is
// not one, and no more than this is ever written to disk.
const DWORD kConfigMaxBytes = 4u << 20;

// GET of `url` into the file `path`. A status of 200 writes the whole body
// once it has arrived (an existing file is replaced); any other status
// leaves the file untouched and still answers kDownloadDone. A body past
// `maxBytes` (a configuration's cap unless the caller fetches something
// else) ends the transfer with kDownloadTooLarge, the file untouched.
// An https URL has its certificate verified against the Windows store. Every
// path releases the connection and the buffer. `statusCode` (when given)
// receives the HTTP status, 0 when none. The request runs on a worker; the
// whole of it, connection, hand-shake, header and body, ends by `deadlineMs`
// with kDownloadTimedOut: the session is closed then, which makes WinINet
// abort the call it blocks in, and the caller returns at once, so a server
// that trickles its answer or stalls the hand-shake cannot hold the caller.
int DownloadUrlToFile(const CString& url, const CString& path, DWORD* statusCode = nullptr,
                      DWORD maxBytes = kConfigMaxBytes, DWORD deadlineMs = FixedText::kConfigFetchDeadlineMs);

// The first line of a text file that is not equal to `skipText`, read as
// 8-bit text; empty when the file ends first. FALSE when the file cannot be
// opened for reading.
BOOL ReadFirstSignificantLine(const CString& path, const CString& skipText, CString& line);

// What the first significant line of a downloaded file says about it. An
// empty marker never matches (an enciphering that failed must not make every
// file look enciphered).
enum ConfigForm { kConfigRejected = 0, kConfigPlain = 1, kConfigEnciphered = 2 };
int ClassifyConfigLine(const CString& line, const CString& plainMarker, const CString& encipheredMarker);

// The fetch loop over the mirrors: each URL in order is downloaded into one
// temporary file (made by GetTempFileNameW in `workFolder` with `prefix`);
// the first file whose marker line is accepted is handed to `parse` in its
// form and its result returned. 0 when no mirror gave a configuration. The
// temporary file is deleted on every path. All the mirrors together get
// `deadlineMs`: a mirror is tried only while some of it is left.
typedef std::function<int(const CString& path, BOOL enciphered)> ConfigParser;
int FetchConfigFromMirrors(const CStringArray& mirrors, const CString& workFolder, const CString& prefix,
                           const CString& plainMarker, const CString& encipheredMarker, const ConfigParser& parse,
                           DWORD deadlineMs = FixedText::kConfigFetchDeadlineMs);

// The three list switches of a switch text.
struct ListSwitch {
    int order;            // 0: the main catalogue first, 1: the recommendations first
    int showMain;         // 1: the main catalogue is shown
    int showRecommended;  // 1: the recommendations are shown
};
// Reads a switch text such as "mr10" with the key's regular expression
// (ECMAScript; first group two letters, second group two digits; the match
// may start anywhere). False when the text yields no values.
bool ParseListSwitch(const CString& text, const wchar_t* pattern, ListSwitch& out);
