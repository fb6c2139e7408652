// Turns a share page of the file-sharing service into a direct download link:
// a GET of the page, three tokens cut from it, and a form POST whose JSON
// reply carries the link. Runs synchronously on the caller's thread (the
// download queue's step), bounded by the time limits below.
#pragma once

#include <string>

#include "winlib/strings.h"

// A response: its body and the URL that libcurl reports after the transfer
// (after any redirects).
struct SharePage {
    std::string body;
    std::string effectiveUrl;
};

struct ShareTokens {
    std::string shortUrl;
    std::string nid;
    std::string permitToken;
    std::string pageUrl;      // the share page's final URL
    std::string downloadUrl;  // the result, UTF-8 as the reply carries it
};

// Bounds of each request: a silent server must not hold the window. The
// whole resolution (the page with its redirects, then the form POST) ends by
// `deadlineMs`, however slowly a server trickles its answers: each request
// gets at most what is left of it.
struct ShareLinkLimits {
    long connectSeconds = 10;
    long totalSeconds = 30;
    long maxRedirects = 5;
    long deadlineMs = 45000;
};

// Bounds on what the service may send: a page or reply past the cap ends
// its transfer, a token past its length is refused, and a link (the share
// page's or the direct one) must be a plain http(s) URL of at most
// kShareLinkMaxUrlChars characters (well inside a download task's field).
const long long kShareLinkMaxBodyBytes = 1 << 20;
const size_t kShareTokenMaxLength = 1024;
const int kShareLinkMaxUrlChars = 4096;
// Nesting depth the reply's reader accepts.
const int kShareReplyMaxDepth = 16;

// "http://" or "https://" (either letter case) and a host, no blanks or
// control characters, at most kShareLinkMaxUrlChars characters.
bool IsPlainHttpUrl(const CString& url);

// True with the direct link in `directUrl`; false when any step fails (the
// out text is then not to be used).
bool ShareLinkResolver(const CString& shareUrl, CString& directUrl, const ShareLinkLimits& limits = ShareLinkLimits());

// Makes the TLS library leave its clean-up to the process end: OpenSSL
// would otherwise clean up from the C run-time's exit handlers, which run
// while other threads (a resolution that is never waited for) may still be
// inside a TLS call. The first initialisation decides; every libcurl
// initialisation of the program calls this first.
void KeepTlsLibraryUntilTheProcessEnds();

// GET of `url`, following redirects; true when the transfer completed,
// whatever the HTTP status.
bool HttpGetToString(const std::string& url, SharePage& page, const ShareLinkLimits& limits = ShareLinkLimits());
// Cuts the short URL, the permit token and the nid from the page.
bool ExtractShareTokens(const SharePage& page, ShareTokens& tokens);
// The form POST to the download endpoint; true when the transfer completed
// (tokens.downloadUrl is then the reply's link, or empty when it had none).
bool RequestDownloadUrl(ShareTokens& tokens, SharePage& response, const ShareLinkLimits& limits = ShareLinkLimits());
// libcurl's write callback: appends to the std::string at `body`.
size_t CurlWriteToString(void* data, size_t size, size_t count, void* body);
