#include <winsock2.h>

#include "core/share_link.h"

#include <curl/curl.h>
#include <json/json.h>
#include <openssl/crypto.h>

#include <memory>

#include "core/fixed_texts.h"

namespace {

std::string ToThreadAnsi(const CString& text) {
    int n = WideCharToMultiByte(CP_THREAD_ACP, 0, text, text.GetLength(), nullptr, 0, nullptr, nullptr);
    std::string out(n > 0 ? n : 0, '\0');
    if (n > 0) WideCharToMultiByte(CP_THREAD_ACP, 0, text, text.GetLength(), &out[0], n, nullptr, nullptr);
    return out;
}

bool StartsWithHttps(const std::string& url) { return url.compare(0, 5, "https") == 0; }

// Certificates are verified against the Windows store, TLS 1.2 or later.
void SetTlsOptions(CURL* curl) {
    curl_easy_setopt(curl, CURLOPT_SSL_VERIFYPEER, 1L);
    curl_easy_setopt(curl, CURLOPT_SSL_VERIFYHOST, 2L);
    curl_easy_setopt(curl, CURLOPT_SSL_OPTIONS, (long)CURLSSLOPT_NATIVE_CA);
    curl_easy_setopt(curl, CURLOPT_SSLVERSION, (long)CURL_SSLVERSION_TLSv1_2);
}

void SetCommonOptions(CURL* curl, const ShareLinkLimits& limits) {
    curl_easy_setopt(curl, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(curl, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT, limits.connectSeconds);
    // The request's own bound or what is left of the whole resolution's,
    // whichever ends first; libcurl ends the transfer there, in whatever
    // phase (connect, hand-shake, header, body) it is.
    long long totalMs = (long long)limits.totalSeconds * 1000;
    if (limits.deadlineMs < totalMs) totalMs = limits.deadlineMs;
    curl_easy_setopt(curl, CURLOPT_TIMEOUT_MS, (long)(totalMs > 0 ? totalMs : 1));
    curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
    // An announced body past the cap is not begun; an unannounced one ends
    // at the cap in the write callback.
    curl_easy_setopt(curl, CURLOPT_MAXFILESIZE_LARGE, (curl_off_t)kShareLinkMaxBodyBytes);
}

std::string EffectiveUrl(CURL* curl) {
    char* url = nullptr;
    curl_easy_getinfo(curl, CURLINFO_EFFECTIVE_URL, &url);
    return url ? std::string(url) : std::string();
}

// The first place where `leadIn` is followed by one or more characters other
// than `quote` and then `quote`; `group` gets those characters. One pass, no
// recursion, whatever the page holds. A token longer than
// kShareTokenMaxLength is refused (no later match is looked for: the first
// match is the token).
bool FindQuotedToken(const std::string& body, const std::string& leadIn, char quote, std::string& group) {
    for (size_t at = body.find(leadIn); at != std::string::npos; at = body.find(leadIn, at + 1)) {
        size_t from = at + leadIn.size();
        size_t end = body.find(quote, from);
        if (end == std::string::npos) return false;  // never closed; any later lead-in lies inside it
        if (end == from) continue;                     // empty: no match here
        if (end - from > kShareTokenMaxLength) return false;
        group.assign(body, from, end - from);
        return true;
    }
    return false;
}

bool IsAsciiPrefix(const CString& text, const wchar_t* lowerPrefix) {
    int i = 0;
    for (; lowerPrefix[i]; ++i) {
        if (i >= text.GetLength()) return false;
        wchar_t c = text[i];
        if (c >= L'A' && c <= L'Z') c = (wchar_t)(c - L'A' + L'a');
        if (c != lowerPrefix[i]) return false;
    }
    return true;
}

}  // namespace

bool IsPlainHttpUrl(const CString& url) {
    int length = url.GetLength();
    if (length > kShareLinkMaxUrlChars) return false;
    int hostAt;
    if (IsAsciiPrefix(url, L"http://")) hostAt = 7;
    else if (IsAsciiPrefix(url, L"https://")) hostAt = 8;
    else return false;
    if (hostAt >= length || url[hostAt] == L'/' || url[hostAt] == L'?' || url[hostAt] == L'#') return false;
    for (int i = 0; i < length; ++i)
        if (url[i] <= L' ' || url[i] == 0x7F) return false;
    return true;
}

// Called from inside libcurl: nothing may be thrown through it. Past the cap
// (or when memory runs out) the transfer ends with a write error.
size_t CurlWriteToString(void* data, size_t size, size_t count, void* body) {
    if (!data) return 0;
    std::string* text = static_cast<std::string*>(body);
    size_t n = size * count;
    if (n > (size_t)kShareLinkMaxBodyBytes || text->size() > (size_t)kShareLinkMaxBodyBytes - n) return 0;
    try {
        text->append(static_cast<const char*>(data), n);
    } catch (...) {
        return 0;
    }
    return count;
}

void KeepTlsLibraryUntilTheProcessEnds() { OPENSSL_init_crypto(OPENSSL_INIT_NO_ATEXIT, nullptr); }

bool HttpGetToString(const std::string& url, SharePage& page, const ShareLinkLimits& limits) {
    page.body.clear();
    if (limits.deadlineMs <= 0) return false;
    KeepTlsLibraryUntilTheProcessEnds();
    curl_global_init(CURL_GLOBAL_ALL);
    CURL* curl = curl_easy_init();
    if (!curl) {
        curl_global_cleanup();
        return false;
    }
    curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
    curl_easy_setopt(curl, CURLOPT_FOLLOWLOCATION, 1L);
    curl_easy_setopt(curl, CURLOPT_MAXREDIRS, limits.maxRedirects);
    // Also for an http page: a redirect may lead to https.
    SetTlsOptions(curl);
    SetCommonOptions(curl, limits);
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, CurlWriteToString);
    curl_easy_setopt(curl, CURLOPT_WRITEDATA, &page.body);
    curl_easy_setopt(curl, CURLOPT_USERAGENT, FixedText::kShareLinkUserAgent);
    CURLcode rc = curl_easy_perform(curl);
    if (rc == CURLE_OK) page.effectiveUrl = EffectiveUrl(curl);
    curl_easy_cleanup(curl);
    curl_global_cleanup();
    return rc == CURLE_OK;
}

bool ExtractShareTokens(const SharePage& page, ShareTokens& tokens) {
    tokens.pageUrl = page.effectiveUrl;
    return FindQuotedToken(page.body, "surl : '", '\'', tokens.shortUrl) &&
           FindQuotedToken(page.body, "download_permit_token: '", '\'', tokens.permitToken) &&
           FindQuotedToken(page.body, "\"nid\": \"", '"', tokens.nid);
}

bool RequestDownloadUrl(ShareTokens& tokens, SharePage& response, const ShareLinkLimits& limits) {
    std::string url = tokens.pageUrl;
    size_t at = url.find("lk/" + tokens.shortUrl);
    if (at == std::string::npos) return false;
    url.replace(at, 3 + tokens.shortUrl.size(), "share/downloadfile");

    response.body.clear();
    if (limits.deadlineMs <= 0) return false;
    KeepTlsLibraryUntilTheProcessEnds();
    curl_global_init(CURL_GLOBAL_ALL);
    CURL* curl = curl_easy_init();
    if (!curl) {
        curl_global_cleanup();
        return false;
    }
    if (StartsWithHttps(url)) SetTlsOptions(curl);
    SetCommonOptions(curl, limits);
    curl_slist* headers = curl_slist_append(nullptr, ("Referer:" + tokens.pageUrl).c_str());
    curl_easy_setopt(curl, CURLOPT_HTTPHEADER, headers);
    curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
    // The service expects the tokens as they stand, not URL-encoded.
    const std::string form =
        "shorturl=" + tokens.shortUrl + "&nid=" + tokens.nid + "&download_permit_token=" + tokens.permitToken;
    curl_easy_setopt(curl, CURLOPT_POSTFIELDS, form.c_str());
    curl_easy_setopt(curl, CURLOPT_POST, 1L);
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, CurlWriteToString);
    curl_easy_setopt(curl, CURLOPT_WRITEDATA, &response.body);
    CURLcode rc = curl_easy_perform(curl);
    if (rc == CURLE_OK) response.effectiveUrl = EffectiveUrl(curl);
    curl_easy_cleanup(curl);
    curl_slist_free_all(headers);
    curl_global_cleanup();
    if (rc != CURLE_OK) return false;

    // The reply is two levels deep; anything much deeper is not the
    // service's. The reader throws past its nesting limit: that, like any
    // other reply that is not JSON, means no link.
    Json::CharReaderBuilder builder;
    builder["stackLimit"] = kShareReplyMaxDepth;
    builder["collectComments"] = false;
    std::unique_ptr<Json::CharReader> reader(builder.newCharReader());
    Json::Value root;
    const char* begin = response.body.data();
    try {
        if (reader->parse(begin, begin + response.body.size(), &root, nullptr) && root.isObject()) {
            const Json::Value& data = root["data"];
            if (data.isObject() && data["downloadurl"].isString()) tokens.downloadUrl = data["downloadurl"].asString();
        }
    } catch (const std::exception&) {
        tokens.downloadUrl.clear();
    }
    return true;
}

bool ShareLinkResolver(const CString& shareUrl, CString& directUrl, const ShareLinkLimits& limits) {
    // Runs on a worker beside disk writes: whatever is thrown here means
    // "not resolved", never the end of the program.
    try {
        if (!IsPlainHttpUrl(shareUrl)) return false;
        const ULONGLONG started = GetTickCount64();
        // What is left of the whole resolution's deadline.
        auto left = [&] {
            ShareLinkLimits rest = limits;
            const ULONGLONG spent = GetTickCount64() - started;
            rest.deadlineMs = spent >= (ULONGLONG)limits.deadlineMs ? 0 : (long)(limits.deadlineMs - spent);
            return rest;
        };
        SharePage page;
        if (!HttpGetToString(ToThreadAnsi(shareUrl), page, left())) return false;
        ShareTokens tokens;
        if (!ExtractShareTokens(page, tokens)) return false;
        if (!RequestDownloadUrl(tokens, page, left())) return false;
        // JSON texts are UTF-8. The link goes to the download engine: only a
        // plain http(s) URL that fits its task is taken.
        CString link = Utf8ToUtf16(tokens.downloadUrl.c_str(), (int)tokens.downloadUrl.size());
        if (!IsPlainHttpUrl(link)) return false;
        directUrl = link;
        return true;
    } catch (...) {
        return false;
    }
}
