#include <winsock2.h>

#include "core/share_link.h"

#include <curl/curl.h>
#include <json/json.h>

#include <regex>

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
    curl_easy_setopt(curl, CURLOPT_TIMEOUT, limits.totalSeconds);
    curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
}

std::string EffectiveUrl(CURL* curl) {
    char* url = nullptr;
    curl_easy_getinfo(curl, CURLINFO_EFFECTIVE_URL, &url);
    return url ? std::string(url) : std::string();
}

bool SearchFirstGroup(const std::string& body, const char* pattern, std::string& group) {
    std::smatch match;
    if (!std::regex_search(body, match, std::regex(pattern, std::regex::ECMAScript))) return false;
    group = match[1].str();
    return true;
}

}  // namespace

size_t CurlWriteToString(void* data, size_t size, size_t count, void* body) {
    if (!data) return 0;
    static_cast<std::string*>(body)->append(static_cast<const char*>(data), size * count);
    return count;
}

bool HttpGetToString(const std::string& url, SharePage& page, const ShareLinkLimits& limits) {
    page.body.clear();
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
    return SearchFirstGroup(page.body, "surl : '([^']+)'", tokens.shortUrl) &&
           SearchFirstGroup(page.body, "download_permit_token: '([^']+)'", tokens.permitToken) &&
           SearchFirstGroup(page.body, "\"nid\": \"([^\"]+)\"", tokens.nid);
}

bool RequestDownloadUrl(ShareTokens& tokens, SharePage& response, const ShareLinkLimits& limits) {
    std::string url = tokens.pageUrl;
    size_t at = url.find("lk/" + tokens.shortUrl);
    if (at == std::string::npos) return false;
    url.replace(at, 3 + tokens.shortUrl.size(), "share/downloadfile");

    response.body.clear();
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

    Json::Value root;
    Json::Reader reader;
    if (reader.parse(response.body, root) && root.isObject()) {
        const Json::Value& data = root["data"];
        if (data.isObject() && data["downloadurl"].isString()) tokens.downloadUrl = data["downloadurl"].asString();
    }
    return true;
}

bool ShareLinkResolver(const CString& shareUrl, CString& directUrl, const ShareLinkLimits& limits) {
    SharePage page;
    if (!HttpGetToString(ToThreadAnsi(shareUrl), page, limits)) return false;
    ShareTokens tokens;
    if (!ExtractShareTokens(page, tokens)) return false;
    if (!RequestDownloadUrl(tokens, page, limits)) return false;
    // JSON texts are UTF-8.
    directUrl = Utf8ToUtf16(tokens.downloadUrl.c_str(), (int)tokens.downloadUrl.size());
    return !directUrl.IsEmpty();
}
