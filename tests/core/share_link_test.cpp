// The share-link resolver against a fake share service on 127.0.0.1.
#include "support/local_http_server.h"
#include "support/local_tls_server.h"

#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "core/catalogue.h"
#include "core/share_link.h"
#include "support/test_files.h"

namespace {

// A share page in the service's shape: the short URL, the permit token and
// the nid sit in the page's script.
std::string SharePageBody(const std::string& surl, const std::string& token, const std::string& nid) {
    std::string page = "<html><script>var ctx = {\n";
    if (!surl.empty()) page += "  surl : '" + surl + "',\n";
    if (!token.empty()) page += "  download_permit_token: '" + token + "',\n";
    page += "};\nvar info = {\"size\": \"1\"";
    if (!nid.empty()) page += ", \"nid\": \"" + nid + "\"";
    page += "};</script></html>";
    return page;
}

// A connection whose answers go out with their header a byte at a time,
// `pauseMs` apart (none: all at once).
struct TricklingConnection {
    HttpConnection& c;
    DWORD pauseMs;
    bool Respond(int status, const std::string& body, const std::string& extraHeaders = std::string()) {
        if (!pauseMs) return c.Respond(status, body, extraHeaders);
        const std::string header = "HTTP/1.1 " + std::to_string(status) + " X\r\nContent-Length: " +
                                   std::to_string(body.size()) + "\r\n" + extraHeaders + "\r\n";
        for (char byte : header) {
            if (c.Stopping() || !c.Send(&byte, 1)) return false;
            Sleep(pauseMs);
        }
        return c.Send(body);
    }
    operator HttpConnection&() { return c; }
};

// Far more than any page or reply the resolver takes in: "endless".
const long long kEndlessLimit = 256ll << 20;

// The fake service: /s/<id> redirects to /web/lk/<surl>?from=share, which
// serves the page; the POST to /web/share/downloadfile?from=share answers
// with `reply`. Every piece can be swapped per case.
struct FakeShareService {
    std::string page = SharePageBody("Xy9Z", "T0K+en/1", "90817");
    std::string landing = "/web/lk/Xy9Z?from=share";
    std::string reply = "{\"errno\":0,\"data\":{\"downloadurl\":\"http://127.0.0.1/files/a.iso?sign=a+b&x=1\"}}";
    bool cutReply = false;
    bool endlessPage = false;   // the page never ends (no length: the close would end it)
    bool endlessReply = false;  // the reply never ends (chunked)
    DWORD trickleMs = 0;        // every answer's header goes a byte at a time, this far apart
    std::atomic<long long> sent{0};  // body bytes of the endless answers
    LocalHttpServer server{[this](const HttpRequest& r, HttpConnection& c) { Handle(r, c); }};

    void Handle(const HttpRequest& r, HttpConnection& raw) {
        TricklingConnection c{raw, trickleMs};
        if (r.method == "GET" && r.target.compare(0, 3, "/s/") == 0) {
            c.Respond(302, "", "Location: " + landing + "\r\n");
        } else if (r.method == "GET" && r.target == "/loop") {
            c.Respond(302, "", "Location: /loop\r\n");
        } else if (r.method == "GET" && r.target.compare(0, 5, "/web/") == 0) {
            if (endlessPage) return ServeEndless(c, EndlessFraming::kNone, kEndlessLimit, &sent);
            c.Respond(200, page, "Content-Type: text/html\r\n");
        } else if (r.method == "POST" && r.target == "/web/share/downloadfile?from=share") {
            if (cutReply) return;  // hangs up without an answer
            if (endlessReply) return ServeEndless(c, EndlessFraming::kChunked, kEndlessLimit, &sent);
            c.Respond(200, reply, "Content-Type: application/json\r\n");
        } else {
            c.Respond(404, "not here");
        }
    }
    CString ShareUrl() const { return CString(server.WideUrl("/s/1AbC").c_str()); }
};

TEST(ShareLinkResolver, ResolvesThroughTheRedirectTheTokensAndThePost) {
    FakeShareService service;
    ASSERT_TRUE(service.server.Started());
    CString direct;
    ASSERT_TRUE(ShareLinkResolver(service.ShareUrl(), direct));
    EXPECT_STREQ(L"http://127.0.0.1/files/a.iso?sign=a+b&x=1", direct);

    std::vector<HttpRequest> requests = service.server.Requests();
    ASSERT_EQ(3u, requests.size());
    EXPECT_EQ("/s/1AbC", requests[0].target);
    EXPECT_EQ("Mozilla/5.0 (Windows NT 6.1; WOW64; rv:25.0) Gecko/20100101 Firefox/25.0",
              requests[0].Header("User-Agent"));
    const HttpRequest& post = requests[2];
    EXPECT_EQ("POST", post.method);
    EXPECT_EQ("/web/share/downloadfile?from=share", post.target) << "the final URL's host and path, rewritten";
    EXPECT_EQ(service.server.Url("/web/lk/Xy9Z?from=share"), post.Header("Referer"));
    EXPECT_EQ("shorturl=Xy9Z&nid=90817&download_permit_token=T0K+en/1", post.body) << "tokens as they stand";
    EXPECT_EQ("application/x-www-form-urlencoded", post.Header("Content-Type"));
    EXPECT_EQ("", post.Header("User-Agent"));
}

TEST(ShareLinkResolver, LinkIsReadAsUtf8) {
    FakeShareService service;
    service.reply = "{\"data\":{\"downloadurl\":\"http://127.0.0.1/\xE6\x96\x87\xE4\xBB\xB6.iso\"}}";
    CString direct;
    ASSERT_TRUE(ShareLinkResolver(service.ShareUrl(), direct));
    EXPECT_STREQ(L"http://127.0.0.1/\u6587\u4EF6.iso", direct);
}

TEST(ShareLinkResolver, EveryFailureGivesFalse) {
    struct Case {
        const char* what;
        void (*change)(FakeShareService&);
    } cases[] = {
        {"no short URL", [](FakeShareService& s) { s.page = SharePageBody("", "T", "1"); }},
        {"no permit token", [](FakeShareService& s) { s.page = SharePageBody("Xy9Z", "", "1"); }},
        {"no nid", [](FakeShareService& s) { s.page = SharePageBody("Xy9Z", "T", ""); }},
        {"final URL without lk/ and the short URL", [](FakeShareService& s) { s.landing = "/web/page/Xy9Z"; }},
        {"reply is not JSON", [](FakeShareService& s) { s.reply = "<html>busy</html>"; }},
        {"reply without data", [](FakeShareService& s) { s.reply = "{\"errno\":-9}"; }},
        {"data is not an object", [](FakeShareService& s) { s.reply = "{\"data\":\"x\"}"; }},
        {"root is an array", [](FakeShareService& s) { s.reply = "[{\"data\":{\"downloadurl\":\"http://x/\"}}]"; }},
        {"link is not text", [](FakeShareService& s) { s.reply = "{\"data\":{\"downloadurl\":12}}"; }},
        {"empty link", [](FakeShareService& s) { s.reply = "{\"data\":{\"downloadurl\":\"\"}}"; }},
        {"reply cut off", [](FakeShareService& s) { s.cutReply = true; }},
    };
    for (const Case& c : cases) {
        FakeShareService service;
        c.change(service);
        CString direct;
        EXPECT_FALSE(ShareLinkResolver(service.ShareUrl(), direct)) << c.what;
    }
    CString direct;
    FakeShareService service;
    EXPECT_FALSE(ShareLinkResolver(CString(service.server.WideUrl("/loop").c_str()), direct)) << "endless redirects";
    std::wstring refused = L"http://127.0.0.1:" + std::to_wstring(UnusedLocalPort()) + L"/s/1";
    EXPECT_FALSE(ShareLinkResolver(refused.c_str(), direct)) << "refused";
}

// Replies made to break the reader: each ends in "not resolved" within the
// time limits of the two requests, and the program lives on.
TEST(ShareLinkResolver, HostileRepliesAreNotResolved) {
    const std::string bigToken(300 * 1024, 'x');
    const std::string deepArrays = std::string(100000, '[') + std::string(100000, ']');
    std::string deepObjects;
    for (int i = 0; i < 50000; ++i) deepObjects += "{\"a\":";
    deepObjects += "1" + std::string(50000, '}');
    const std::string longLink = "http://127.0.0.1/" + std::string(9000, 'a') + ".iso";
    auto reply = [](const std::string& text) { return [text](FakeShareService& s) { s.reply = text; }; };
    auto link = [](const std::string& json) {
        return [json](FakeShareService& s) { s.reply = "{\"data\":{\"downloadurl\":" + json + "}}"; };
    };
    struct Case {
        const char* what;
        std::function<void(FakeShareService&)> change;
    } cases[] = {
        {"deeply nested arrays", reply(deepArrays)},
        {"deeply nested objects", reply(deepObjects)},
        {"deep nesting under data", reply("{\"data\":" + deepArrays + "}")},
        {"a 300 KB short URL", [&](FakeShareService& s) { s.page = SharePageBody(bigToken, "T", "1"); }},
        {"a 300 KB permit token", [&](FakeShareService& s) { s.page = SharePageBody("Xy9Z", bigToken, "1"); }},
        {"a 300 KB nid", [&](FakeShareService& s) { s.page = SharePageBody("Xy9Z", "T", bigToken); }},
        {"an endless page", [](FakeShareService& s) { s.endlessPage = true; }},
        {"an endless reply", [](FakeShareService& s) { s.endlessReply = true; }},
        {"a reply that is not text", reply(std::string("\0\xFF\xFE{\"data\"\0", 11))},
        {"link is an array", link("[\"http://127.0.0.1/a.iso\"]")},
        {"link is an object", link("{\"url\":\"http://127.0.0.1/a.iso\"}")},
        {"link is a file URL", link("\"file:///C:/Windows/win.ini\"")},
        {"link is an ftp URL", link("\"ftp://127.0.0.1/a.iso\"")},
        {"link without a scheme", link("\"127.0.0.1/a.iso\"")},
        {"link with a line break", link("\"http://127.0.0.1/a\\r\\nb.iso\"")},
        {"link with a blank", link("\"http://127.0.0.1/a b.iso\"")},
        {"link longer than a download task takes", link("\"" + longLink + "\"")},
    };
    for (const Case& c : cases) {
        FakeShareService service;
        ASSERT_TRUE(service.server.Started());
        c.change(service);
        CString direct;
        DWORD start = GetTickCount();
        EXPECT_FALSE(ShareLinkResolver(service.ShareUrl(), direct)) << c.what;
        ShareLinkLimits limits;
        EXPECT_LT(GetTickCount() - start, (DWORD)(2 * limits.totalSeconds + 15) * 1000) << c.what;
        // An endless answer is given up near the cap, not read on (the slack
        // is what the sockets hold).
        EXPECT_LT(service.sent.load(), kShareLinkMaxBodyBytes + (16ll << 20)) << c.what;
    }
}

TEST(ShareLinkResolver, LinksThatAreNotPlainHttpUrlsAreNotRequested) {
    FakeShareService service;
    ASSERT_TRUE(service.server.Started());
    const std::wstring port = std::to_wstring(service.server.Port());
    const std::wstring base = L"http://127.0.0.1:" + port;
    const std::wstring refused[] = {
        L"",
        L"ftp://127.0.0.1:" + port + L"/s/1AbC",
        L"file:///C:/Windows/win.ini",
        L"127.0.0.1:" + port + L"/s/1AbC",
        L"http://",
        L"http:///s/1AbC",
        base + L"/s/1A bC",
        base + L"/s/1AbC\r\nX-Injected: 1",
        base + L"/s/\t1AbC",
        base + L"/s/" + std::wstring(5000, L'a'),
    };
    for (const std::wstring& url : refused) {
        CString direct;
        EXPECT_FALSE(ShareLinkResolver(url.c_str(), direct)) << CStringA(url.c_str()).GetString();
    }
    EXPECT_TRUE(service.server.Requests().empty());
    // The scheme's letter case does not matter.
    CString direct;
    EXPECT_TRUE(ShareLinkResolver((L"HTTP://127.0.0.1:" + port + L"/s/1AbC").c_str(), direct));
    EXPECT_STREQ(L"http://127.0.0.1/files/a.iso?sign=a+b&x=1", direct);
}

TEST(IsPlainHttpUrl, Texts) {
    struct Case {
        const wchar_t* url;
        bool plain;
    } cases[] = {
        {L"http://127.0.0.1/a.iso", true},
        {L"https://pan.example/s/1AbC?from=share#top", true},
        {L"HTTPS://pan.example", true},
        {L"http://127.0.0.1/\u6587\u4EF6.iso", true},  // the reply's link may hold any letters
        {L"http:/127.0.0.1/a", false},
        {L"http://", false},
        {L"http://?q", false},
        {L"https:///a", false},
        {L"mailto:a@b", false},
        {L" http://127.0.0.1/", false},
        {L"http://127.0.0.1/\x7F", false},
        {L"", false},
    };
    for (const Case& c : cases) EXPECT_EQ(c.plain, IsPlainHttpUrl(c.url)) << CStringA(c.url).GetString();
    std::wstring longest = L"http://127.0.0.1/" + std::wstring(kShareLinkMaxUrlChars - 17, L'a');
    EXPECT_TRUE(IsPlainHttpUrl(longest.c_str()));
    EXPECT_FALSE(IsPlainHttpUrl((longest + L"a").c_str()));
}

TEST(ShareLinkResolver, SilentServerIsGivenUp) {
    LocalHttpServer silent([](const HttpRequest&, HttpConnection& c) { c.WaitForClose(60000); });
    ShareLinkLimits limits;
    limits.totalSeconds = 2;
    SharePage page;
    DWORD start = GetTickCount();
    EXPECT_FALSE(HttpGetToString(silent.Url("/s/1"), page, limits));
    EXPECT_LT(GetTickCount() - start, 8000u);
    ShareTokens tokens;
    tokens.pageUrl = silent.Url("/lk/abc");
    tokens.shortUrl = "abc";
    start = GetTickCount();
    EXPECT_FALSE(RequestDownloadUrl(tokens, page, limits));
    EXPECT_LT(GetTickCount() - start, 8000u);
}

// A service that trickles each answer's header a byte at a time: every
// request stays inside its own bound, but the resolution as a whole ends at
// its deadline, long before the service would have answered everything.
TEST(ShareLinkResolver, AServiceThatTricklesItsHeadersIsGivenUpAtTheDeadline) {
    FakeShareService service;
    service.trickleMs = 50;  // about 3 s an answer: 9 s for the redirect, the page and the reply
    ShareLinkLimits limits;
    limits.totalSeconds = 8;
    limits.deadlineMs = 4000;
    CString direct;
    const ULONGLONG started = GetTickCount64();
    EXPECT_FALSE(ShareLinkResolver(service.ShareUrl(), direct, limits));
    const ULONGLONG took = GetTickCount64() - started;
    EXPECT_GE(took, 3900u);
    EXPECT_LT(took, 8000u) << "the resolution went on past its deadline";
    // Given the time, the same service resolves.
    limits.deadlineMs = 60000;
    limits.totalSeconds = 30;
    EXPECT_TRUE(ShareLinkResolver(service.ShareUrl(), direct, limits));
}

// The resolver's threads are never waited for: OpenSSL must not clean
// itself up from the exit handlers, under a thread that may still be inside
// a TLS call; the process end takes what it holds.
TEST(ShareLinkResolver, TheTlsLibraryIsNotCleanedUpUnderThreadsAtTheExit) {
    EXPECT_EQ(0, RunAndWait(TestProgramDirectory() + L"\\tls_exit.exe", L""))
        << "3: OpenSSL cleaned up in the exit handlers";
}

TEST(ShareLinkResolver, UntrustedCertificateIsRefused) {
    LocalTlsServer server(SharePageBody("Xy9Z", "T", "1"));
    ASSERT_TRUE(server.Started());
    CString direct;
    EXPECT_FALSE(ShareLinkResolver(server.WideUrl("/lk/Xy9Z").c_str(), direct));
    EXPECT_EQ(0, server.Answered()) << "no request over an unverified connection";
}

TEST(ShareLinkResolver, HttpsSharePageFromATrustedAuthority) {
    std::string certificate, key, why;
    if (!TrustedServerFiles(certificate, key, why)) GTEST_SKIP() << why;
    std::vector<std::string> requests;
    LocalTlsServer server(
        [&](const std::string& line) {
            requests.push_back(line);
            if (line.compare(0, 15, "GET /web/lk/Xy9") == 0) return SharePageBody("Xy9Z", "T0K", "90817");
            if (line.compare(0, 34, "POST /web/share/downloadfile?from=") == 0)
                return std::string("{\"data\":{\"downloadurl\":\"https://127.0.0.1/files/b.iso\"}}");
            return std::string("not here");
        },
        certificate, key);
    ASSERT_TRUE(server.Started());
    CString direct;
    ASSERT_TRUE(ShareLinkResolver(server.WideUrl("/web/lk/Xy9Z?from=share").c_str(), direct));
    EXPECT_STREQ(L"https://127.0.0.1/files/b.iso", direct);
    ASSERT_EQ(2u, requests.size());
    EXPECT_EQ("POST /web/share/downloadfile?from=share HTTP/1.1", requests[1]);
    // Another authority's server is still refused.
    LocalTlsServer other(SharePageBody("Xy9Z", "T", "1"));
    ASSERT_TRUE(other.Started());
    EXPECT_FALSE(ShareLinkResolver(other.WideUrl("/lk/Xy9Z").c_str(), direct));
    EXPECT_EQ(0, other.Answered());
}

TEST(CFileLinkInfo, GetUrlResolvesSharePagesAndFallsBackToTheStoredUrl) {
    FakeShareService service;
    CFileLinkInfo share(2, service.ShareUrl());
    EXPECT_STREQ(L"http://127.0.0.1/files/a.iso?sign=a+b&x=1", share.GetUrl());

    service.page = SharePageBody("", "", "");  // the service changed its page
    EXPECT_STREQ(service.ShareUrl(), share.GetUrl());

    size_t before = service.server.Requests().size();
    CFileLinkInfo direct(1, service.ShareUrl());
    EXPECT_STREQ(service.ShareUrl(), direct.GetUrl());
    EXPECT_EQ(before, service.server.Requests().size()) << "a direct link is not requested";
}

TEST(ExtractShareTokens, TakesTheFirstMatchOfEachPattern) {
    SharePage page;
    page.effectiveUrl = "https://pan.example/s/lk/q";
    page.body = "surl : 'first' surl : 'second' download_permit_token: 'p1' \"nid\": \"n1\" \"nid\": \"n2\"";
    ShareTokens tokens;
    ASSERT_TRUE(ExtractShareTokens(page, tokens));
    EXPECT_EQ("first", tokens.shortUrl);
    EXPECT_EQ("p1", tokens.permitToken);
    EXPECT_EQ("n1", tokens.nid);
    EXPECT_EQ("https://pan.example/s/lk/q", tokens.pageUrl);
    // The patterns are exact: other spacing does not match.
    page.body = "surl: 'x' download_permit_token: 'p' \"nid\": \"n\"";
    EXPECT_FALSE(ExtractShareTokens(page, tokens));
}

TEST(ExtractShareTokens, MatchesAsTheExpressionsDo) {
    // Each token: its fixed lead-in, one or more characters other than the
    // closing quote, then that quote; the first place where all of it holds.
    struct Case {
        const char* body;
        bool found;
        const char* shortUrl;
        const char* permitToken;
        const char* nid;
    } cases[] = {
        {"surl : '' surl : 'b' download_permit_token: 'p' \"nid\": \"n\"", true, "b", "p", "n"},
        {"surl : 'a\nb' download_permit_token: 'p\"q' \"nid\": \"n'm\"", true, "a\nb", "p\"q", "n'm"},
        {"xsurl : 'a'  download_permit_token: 'p'\"nid\": \"1\"", true, "a", "p", "1"},
        {"\"nid\": \"1\" download_permit_token: 'p' surl : 'a'", true, "a", "p", "1"},  // any order
        {"surl : 'a download_permit_token: 'p' \"nid\": \"1\"", true, "a download_permit_token: ", "p", "1"},
        {"surl : 'a' download_permit_token: 'p' \"nid\": \"1", false, "", "", ""},   // nid never closed
        {"surl : 'a' download_permit_token: '' \"nid\": \"1\"", false, "", "", ""},  // empty token only
        {"surl : 'a' download_permit_token:  'p' \"nid\": \"1\"", false, "", "", ""},
        {"surl : 'a' download_permit_token: 'p' \"nid\":\"1\"", false, "", "", ""},
        {"surl : 'a' download_permit_token: 'p' \"NID\": \"1\"", false, "", "", ""},  // letter case counts
        {"surl : 'a' download_permit_token: 'p' \"nid\": \"", false, "", "", ""},
        {"", false, "", "", ""},
    };
    for (const Case& c : cases) {
        SharePage page;
        page.body = c.body;
        ShareTokens tokens;
        ASSERT_EQ(c.found, ExtractShareTokens(page, tokens)) << c.body;
        if (!c.found) continue;
        EXPECT_EQ(c.shortUrl, tokens.shortUrl) << c.body;
        EXPECT_EQ(c.permitToken, tokens.permitToken) << c.body;
        EXPECT_EQ(c.nid, tokens.nid) << c.body;
    }
    // A NUL inside a token is a character like any other.
    const char withNul[] = "surl : 'a\0b' download_permit_token: 'p' \"nid\": \"1\"";
    SharePage page;
    page.body.assign(withNul, sizeof(withNul) - 1);
    ShareTokens tokens;
    ASSERT_TRUE(ExtractShareTokens(page, tokens));
    EXPECT_EQ(std::string("a\0b", 3), tokens.shortUrl);
}

TEST(ExtractShareTokens, TokensOverTheLengthLimitAreRefused) {
    const std::string longest(kShareTokenMaxLength, 't');
    SharePage page;
    page.body = "surl : '" + longest + "' download_permit_token: 'p' \"nid\": \"1\"";
    ShareTokens tokens;
    ASSERT_TRUE(ExtractShareTokens(page, tokens));
    EXPECT_EQ(longest, tokens.shortUrl);
    // One more: refused, also when a shorter one follows (the first match counts).
    page.body = "surl : '" + longest + "t' surl : 'a' download_permit_token: 'p' \"nid\": \"1\"";
    EXPECT_FALSE(ExtractShareTokens(page, tokens));
    page.body = "surl : 'a' download_permit_token: 'p' \"nid\": \"" + longest + "1\"";
    EXPECT_FALSE(ExtractShareTokens(page, tokens));
    // A token that runs to the end of a large page is not a token.
    page.body = "surl : 'a' download_permit_token: '" + std::string(1 << 20, 'p');
    EXPECT_FALSE(ExtractShareTokens(page, tokens));
}

TEST(CurlWriteToString, StopsAtTheCap) {
    std::string body;
    std::string block(64 * 1024, 'b');
    size_t total = 0;
    while (total + block.size() <= (size_t)kShareLinkMaxBodyBytes) {
        ASSERT_EQ(block.size(), CurlWriteToString(&block[0], 1, block.size(), &body));
        total += block.size();
    }
    EXPECT_EQ(0u, CurlWriteToString(&block[0], 1, block.size(), &body)) << "past the cap the transfer ends";
    EXPECT_LE(body.size(), (size_t)kShareLinkMaxBodyBytes);
    EXPECT_EQ(0u, CurlWriteToString(nullptr, 1, 4, &body));
}

}  // namespace
