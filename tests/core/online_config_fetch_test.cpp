#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <utility>
#include <vector>

#include "core/online_config.h"
#include "support/local_tls_server.h"
#include "support/route_table.h"
#include "support/test_files.h"
#include "support/temp_folder.h"
#include "winlib/internet.h"

namespace {

const wchar_t* const kMarker = L";TEST-MARKER";
const wchar_t* const kEnciphered = L"0A1B2C3D4E";

struct ParseCall {
    std::wstring path;
    BOOL enciphered;
    std::string content;
};

// A parser that records what it was given and answers `result`.
struct RecordingParser {
    std::vector<ParseCall> calls;
    int result = 1;
    ConfigParser Bind() {
        return [this](const CString& path, BOOL enciphered) {
            calls.push_back({path.GetString(), enciphered, TempFolder::Read(path.GetString())});
            return result;
        };
    }
};

CStringArray& Mirrors(CStringArray& list, const std::vector<std::wstring>& urls) {
    list.RemoveAll();
    for (const std::wstring& u : urls) list.Add(CString(u.c_str()));
    return list;
}

}  // namespace

TEST(DownloadUrlToFile, ResultsAndFileContents) {
    RouteTable routes;
    LocalHttpServer server(routes.Handler());
    ASSERT_TRUE(server.Started());
    std::string binary;
    for (int i = 0; i < 2 * 1024 * 1024 + 17; ++i) binary += (char)(i * 7 % 251);
    routes.Set("/ok", 200, "a\r\nb\n\0c" + std::string(1, '\0') + "end");
    routes.Set("/big", 200, binary);
    routes.Set("/empty", 200, "");
    routes.Set("/missing", 404, "this body must not be written");
    routes.Set("/error", 500, "server error body");
    routes.HangUp("/hangup");

    TempFolder dir;
    std::wstring out = dir.File(L"out.bin");
    std::wstring closedUrl = L"http://127.0.0.1:" + std::to_wstring(UnusedLocalPort()) + L"/x";
    struct Case {
        const char* name;
        std::wstring url;
        std::wstring path;
        int result;
        DWORD status;
        std::string fileAfter;  // the output file's bytes afterwards; it starts as "old"
    } cases[] = {
        {"200", server.WideUrl("/ok"), out, kDownloadDone, 200, "a\r\nb\n\0c" + std::string(1, '\0') + "end"},
        {"200 large", server.WideUrl("/big"), out, kDownloadDone, 200, binary},
        {"200 empty body", server.WideUrl("/empty"), out, kDownloadDone, 200, ""},
        {"404 leaves the file", server.WideUrl("/missing"), out, kDownloadDone, 404, "old"},
        {"500 leaves the file", server.WideUrl("/error"), out, kDownloadDone, 500, "old"},
        {"empty url", L"", out, kDownloadNoUrl, 0, "old"},
        {"empty path", server.WideUrl("/ok"), L"", kDownloadNoPath, 0, "old"},
        {"closed port", closedUrl, out, kDownloadInternetError, 0, "old"},
        {"file scheme", L"file:///C:/windows/win.ini", out, kDownloadBadScheme, 0, "old"},
        {"ftp scheme", L"ftp://127.0.0.1:" + std::to_wstring(server.Port()) + L"/ok", out, kDownloadBadScheme, 0, "old"},
        {"no scheme", L"127.0.0.1/ok", out, kDownloadBadScheme, 0, "old"},
        {"output folder missing", server.WideUrl("/ok"), dir.File(L"no\\such\\out.bin"), kDownloadFileError, 200, "old"},
    };
    for (const Case& c : cases) {
        dir.Write(L"out.bin", "old");
        DWORD status = 12345;
        EXPECT_EQ(c.result, DownloadUrlToFile(c.url.c_str(), c.path.c_str(), &status)) << c.name;
        EXPECT_EQ(c.status, status) << c.name;
        std::string after = TempFolder::Read(out);
        EXPECT_EQ(c.fileAfter.size(), after.size()) << c.name;
        EXPECT_TRUE(c.fileAfter == after) << c.name;
    }
    // A server that closes without answering: Windows reports a reset
    // connection; Wine's WinINet opens the request with no status. Either
    // way nothing is written.
    dir.Write(L"out.bin", "old");
    DWORD status = 12345;
    int result = DownloadUrlToFile(server.WideUrl("/hangup").c_str(), out.c_str(), &status);
    EXPECT_TRUE(result == kDownloadInternetError || (result == kDownloadDone && status != 200)) << result << " " << status;
    EXPECT_EQ("old", TempFolder::Read(out));

    // Only the http cases reached the server; the refused schemes did not.
    std::vector<std::string> paths = RequestedTargets(server);
    EXPECT_EQ((std::vector<std::string>{"/ok", "/big", "/empty", "/missing", "/error", "/ok", "/hangup"}), paths);
    EXPECT_EQ("Kavetta/1.0", server.Requests().back().Header("User-Agent"));
}

// What each opened request was handed to WinINet with.
std::vector<std::pair<std::wstring, DWORD>> g_openedUrls;
void RecordOpenedUrl(LPCWSTR url, DWORD flags) { g_openedUrls.push_back({url, flags}); }

// The configuration always comes from its server, never from WinINet's
// cache. WinINet under Wine fetches anew whatever the flags say, so no
// answer can show it: the flags are read as the request is handed over.
TEST(DownloadUrlToFile, TheRequestNeverComesFromTheCache) {
    RouteTable routes;
    LocalHttpServer server(routes.Handler());
    ASSERT_TRUE(server.Started());
    routes.Set("/config.ini", 200, ";TEST-MARKER\r\n");
    TempFolder dir;
    const std::wstring url = server.WideUrl("/config.ini");
    g_openedUrls.clear();
    OpenUrlObserver previous = SetOpenUrlObserver(RecordOpenedUrl);
    DWORD status = 0;
    const int result = DownloadUrlToFile(url.c_str(), dir.File(L"config.ini").c_str(), &status);
    SetOpenUrlObserver(previous);
    EXPECT_EQ(kDownloadDone, result);
    EXPECT_EQ(200u, status);
    ASSERT_EQ(1u, g_openedUrls.size());
    EXPECT_EQ(url, g_openedUrls[0].first);
    EXPECT_EQ((DWORD)INTERNET_FLAG_RELOAD, g_openedUrls[0].second & INTERNET_FLAG_RELOAD);
}

TEST(DownloadUrlToFile, OutputHeldByAnotherWriterIsAFileError) {
    RouteTable routes;
    LocalHttpServer server(routes.Handler());
    routes.Set("/ok", 200, "body");
    TempFolder dir;
    std::wstring out = dir.Write(L"held.bin", "kept");
    HANDLE holder = CreateFileW(out.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, holder);
    EXPECT_EQ(kDownloadFileError, DownloadUrlToFile(server.WideUrl("/ok").c_str(), out.c_str()));
    CloseHandle(holder);
    EXPECT_EQ("kept", TempFolder::Read(out));
    // The connection was released: the same server answers the next request.
    EXPECT_EQ(kDownloadDone, DownloadUrlToFile(server.WideUrl("/ok").c_str(), out.c_str()));
    EXPECT_EQ("body", TempFolder::Read(out));
}

// A reply that does not end is not written for as long as it is sent.
TEST(DownloadUrlToFile, EndlessReplyStopsAtTheCap) {
    std::atomic<long long> sent{0};
    const std::string exact(kConfigMaxBytes, 'c');
    LocalHttpServer server([&](const HttpRequest& r, HttpConnection& c) {
        if (r.target == "/exact") c.Respond(200, exact);
        else if (r.target == "/over") c.Respond(200, exact + "c");
        else
            ServeEndless(c, r.target == "/chunked" ? EndlessFraming::kChunked : EndlessFraming::kNone,
                         r.target == "/chunked" ? 64ll << 20 : 256ll << 20, &sent, ";TEST-MARKER\r\n");
    });
    ASSERT_TRUE(server.Started());
    TempFolder dir;
    std::wstring out = dir.File(L"out.bin");
    for (const char* target : {"/endless", "/chunked", "/over"}) {
        dir.Write(L"out.bin", "old");
        DWORD status = 0;
        EXPECT_EQ(kDownloadTooLarge, DownloadUrlToFile(server.WideUrl(target).c_str(), out.c_str(), &status)) << target;
        EXPECT_EQ(200u, status) << target;
        EXPECT_LE(TempFolder::Read(out).size(), (size_t)kConfigMaxBytes) << target;
        // Past the cap, only what the sockets hold was sent. (Wine's WinINet
        // reads a chunked reply to its end when its handle is closed, so the
        // chunked case has an end here.)
        if (std::string(target) == "/endless")
            EXPECT_LT(sent.load(), 96ll << 20) << "the endless reply was given up, not read on";
    }
    // A body of exactly the cap is taken whole.
    EXPECT_EQ(kDownloadDone, DownloadUrlToFile(server.WideUrl("/exact").c_str(), out.c_str()));
    EXPECT_TRUE(TempFolder::Read(out) == exact);
}

TEST(DownloadUrlToFile, UntrustedCertificateIsRefused) {
    LocalTlsServer server(";TEST-MARKER\r\n");
    ASSERT_TRUE(server.Started());
    TempFolder dir;
    std::wstring out = dir.Write(L"out.bin", "old");
    DWORD status = 12345;
    EXPECT_EQ(kDownloadInternetError, DownloadUrlToFile(server.WideUrl("/config.ini").c_str(), out.c_str(), &status));
    EXPECT_EQ("old", TempFolder::Read(out));
    EXPECT_EQ(0, server.Answered()) << "no request over an unverified connection";
}

TEST(FetchConfigFromMirrors, HttpsMirrorFromATrustedAuthority) {
    // Windows matches an https host that is an IP address against the
    // certificate's IP entries; Wine's WinINet only against its DNS names,
    // so this certificate carries the address both ways.
    std::string certificate, key, why;
    if (!TrustedServerFilesFor("IP:127.0.0.1,DNS:127.0.0.1", certificate, key, why)) GTEST_SKIP() << why;
    const std::string config = ";TEST-MARKER\r\n[general]\r\nstall=5\r\n";
    std::vector<std::string> requests;
    LocalTlsServer server(
        [&](const std::string& line) {
            requests.push_back(line);
            return config;
        },
        certificate, key);
    ASSERT_TRUE(server.Started());
    TempFolder dir;
    std::wstring out = dir.File(L"out.bin");
    DWORD status = 0;
    ASSERT_EQ(kDownloadDone, DownloadUrlToFile(server.WideUrl("/config.ini").c_str(), out.c_str(), &status));
    EXPECT_EQ(200u, status);
    EXPECT_EQ(config, TempFolder::Read(out));

    TempFolder work;
    RecordingParser parser;
    CStringArray mirrors;
    EXPECT_EQ(1, FetchConfigFromMirrors(Mirrors(mirrors, {server.WideUrl("/mirror.ini")}), work.Path().c_str(), L"kvt",
                                        kMarker, kEnciphered, parser.Bind()));
    ASSERT_EQ(1u, parser.calls.size());
    EXPECT_EQ(config, parser.calls[0].content);
    EXPECT_EQ((std::vector<std::string>{"GET /config.ini HTTP/1.1", "GET /mirror.ini HTTP/1.1"}), requests);
    // Another authority's server is still refused, and the next mirror tried.
    LocalTlsServer other(config);
    ASSERT_TRUE(other.Started());
    RecordingParser second;
    EXPECT_EQ(1, FetchConfigFromMirrors(Mirrors(mirrors, {other.WideUrl("/mirror.ini"), server.WideUrl("/next.ini")}),
                                        work.Path().c_str(), L"kvt", kMarker, kEnciphered, second.Bind()));
    EXPECT_EQ(0, other.Answered());
    EXPECT_EQ("GET /next.ini HTTP/1.1", requests.back());
}

TEST(ClassifyConfigLine, MarkerForms) {
    struct Case {
        const wchar_t* line;
        const wchar_t* plain;
        const wchar_t* enciphered;
        int form;
    } cases[] = {
        {L";TEST-MARKER", kMarker, kEnciphered, kConfigPlain},
        {L"text before ;TEST-MARKER and after", kMarker, kEnciphered, kConfigPlain},
        {L"0A1B2C3D4E", kMarker, kEnciphered, kConfigEnciphered},
        {L"xx0A1B2C3D4Eyy", kMarker, kEnciphered, kConfigEnciphered},
        {L"0A1B2C3D4E;TEST-MARKER", kMarker, kEnciphered, kConfigPlain},  // both: plain wins
        {L";test-marker", kMarker, kEnciphered, kConfigRejected},         // case-sensitive
        {L"0a1b2c3d4e", kMarker, kEnciphered, kConfigRejected},
        {L"", kMarker, kEnciphered, kConfigRejected},
        {L"[general]", kMarker, L"", kConfigRejected},  // a failed enciphering matches nothing
        {L"[general]", L"", L"", kConfigRejected},
    };
    for (const Case& c : cases)
        EXPECT_EQ(c.form, ClassifyConfigLine(c.line, c.plain, c.enciphered)) << CStringA(c.line).GetString();
}

TEST(ReadFirstSignificantLine, SkipsBlankLines) {
    TempFolder dir;
    struct Case {
        const char* bytes;
        const wchar_t* line;
    } cases[] = {
        {"\r\n\n\r\n;TEST-MARKER\r\n[a]\r\n", L";TEST-MARKER"},
        {"first\nsecond\n", L"first"},
        {"\r\n\r\n", L""},
        {"", L""},
        {"  \r\nx", L"  "},  // blanks are not the skip text
        {"only line without break", L"only line without break"},
    };
    for (const Case& c : cases) {
        CString line = L"junk";
        ASSERT_TRUE(ReadFirstSignificantLine(dir.Write(L"f.ini", c.bytes).c_str(), L"", line)) << c.bytes;
        EXPECT_EQ(CString(c.line), line) << c.bytes;
    }
    CString line = L"junk";
    EXPECT_FALSE(ReadFirstSignificantLine(dir.File(L"none.ini").c_str(), L"", line));
    EXPECT_TRUE(line.IsEmpty());
}

TEST(FetchConfigFromMirrors, LoadsFromTheFirstMirrorWithTheMarker) {
    RouteTable routes;
    LocalHttpServer server(routes.Handler());
    ASSERT_TRUE(server.Started());
    routes.Set("/404", 404, ";TEST-MARKER in an error page");
    routes.Set("/nomarker", 200, "[general]\r\nstall=5\r\n");
    routes.Set("/good", 200, "\r\n\r\n\r\n;TEST-MARKER\r\n[general]\r\n");
    routes.Set("/after", 200, ";TEST-MARKER\r\n");
    TempFolder work;
    RecordingParser parser;
    CStringArray mirrors;
    Mirrors(mirrors, {server.WideUrl("/404"), server.WideUrl("/nomarker"), server.WideUrl("/good"), server.WideUrl("/after")});

    EXPECT_EQ(1, FetchConfigFromMirrors(mirrors, work.Path().c_str(), L"kvt", kMarker, kEnciphered, parser.Bind()));
    ASSERT_EQ(1u, parser.calls.size());
    EXPECT_FALSE(parser.calls[0].enciphered);
    EXPECT_EQ("\r\n\r\n\r\n;TEST-MARKER\r\n[general]\r\n", parser.calls[0].content);
    // The temporary file lies in the work folder under the prefix, and is gone afterwards.
    std::wstring expectedStart = work.Path() + L"\\kvt";
    EXPECT_EQ(0u, parser.calls[0].path.find(expectedStart));
    EXPECT_FALSE(TempFolder::Exists(parser.calls[0].path));
    EXPECT_EQ(0u, work.Count());
    EXPECT_EQ((std::vector<std::string>{"/404", "/nomarker", "/good"}), RequestedTargets(server)) << "stops at the first accepted";
}

TEST(FetchConfigFromMirrors, RefusalsAndForms) {
    RouteTable routes;
    LocalHttpServer server(routes.Handler());
    ASSERT_TRUE(server.Started());
    routes.Set("/line2", 200, "[general]\r\n;TEST-MARKER\r\n");
    routes.Set("/enciphered", 200, "0A1B2C3D4E\r\n[55AA]\r\n");
    routes.Set("/inside", 200, "## ;TEST-MARKER ##\r\n");
    std::wstring closed = L"http://127.0.0.1:" + std::to_wstring(UnusedLocalPort()) + L"/c";
    TempFolder work;
    struct Case {
        const char* name;
        std::vector<std::wstring> urls;
        int parseResult;
        int result;
        std::vector<BOOL> forms;  // one per parse call
    } cases[] = {
        {"marker only on line 2", {server.WideUrl("/line2")}, 1, 0, {}},
        {"enciphered form", {server.WideUrl("/enciphered")}, 1, 1, {TRUE}},
        {"marker inside a longer line", {server.WideUrl("/inside")}, 1, 1, {FALSE}},
        {"closed port, then a good mirror", {closed, server.WideUrl("/inside")}, 1, 1, {FALSE}},
        {"refused schemes are failed mirrors", {L"file:///C:/x.ini", L"", server.WideUrl("/inside")}, 1, 1, {FALSE}},
        {"every mirror fails", {closed, server.WideUrl("/line2"), server.WideUrl("/unknown")}, 1, 0, {}},
        {"empty list", {}, 1, 0, {}},
        // The first accepted file ends the search whatever the parser answers.
        {"parser result passed on", {server.WideUrl("/inside"), server.WideUrl("/enciphered")}, 0, 0, {FALSE}},
    };
    for (const Case& c : cases) {
        RecordingParser parser;
        parser.result = c.parseResult;
        CStringArray mirrors;
        EXPECT_EQ(c.result, FetchConfigFromMirrors(Mirrors(mirrors, c.urls), work.Path().c_str(), L"kvt", kMarker,
                                                   kEnciphered, parser.Bind()))
            << c.name;
        std::vector<BOOL> forms;
        for (const ParseCall& call : parser.calls) forms.push_back(call.enciphered);
        EXPECT_EQ(c.forms, forms) << c.name;
        EXPECT_EQ(0u, work.Count()) << c.name << ": the temporary file remained";
    }
}

// An endless mirror is a failed mirror, and what it left on disk is never
// read as a later mirror's answer.
TEST(FetchConfigFromMirrors, EndlessMirrorIsPassedOver) {
    RouteTable routes;
    routes.Set("/404", 404, "not here");
    routes.Set("/good", 200, ";TEST-MARKER\r\n[general]\r\n");
    auto table = routes.Handler();
    LocalHttpServer server([&](const HttpRequest& r, HttpConnection& c) {
        if (r.target == "/endless") return ServeEndless(c, EndlessFraming::kNone, 32ll << 20, nullptr, ";TEST-MARKER\r\n");
        table(r, c);
    });
    ASSERT_TRUE(server.Started());
    TempFolder work;
    CStringArray mirrors;
    RecordingParser parser;
    EXPECT_EQ(1, FetchConfigFromMirrors(Mirrors(mirrors, {server.WideUrl("/endless"), server.WideUrl("/good")}),
                                        work.Path().c_str(), L"kvt", kMarker, kEnciphered, parser.Bind()));
    ASSERT_EQ(1u, parser.calls.size());
    EXPECT_TRUE(";TEST-MARKER\r\n[general]\r\n" == parser.calls[0].content) << parser.calls[0].content.size() << " bytes";

    RecordingParser none;
    EXPECT_EQ(0, FetchConfigFromMirrors(Mirrors(mirrors, {server.WideUrl("/endless"), server.WideUrl("/404")}),
                                        work.Path().c_str(), L"kvt", kMarker, kEnciphered, none.Bind()));
    EXPECT_TRUE(none.calls.empty()) << "the 404 mirror's turn must not read the endless mirror's bytes";
    EXPECT_EQ(0u, work.Count());
}

TEST(FetchConfigFromMirrors, NoTemporaryFileNoRequests) {
    RouteTable routes;
    LocalHttpServer server(routes.Handler());
    routes.Set("/good", 200, ";TEST-MARKER\r\n");
    RecordingParser parser;
    CStringArray mirrors;
    TempFolder work;
    std::wstring missing = work.File(L"no-such-folder");
    // A missing folder, and none or a relative one (GetTempFileNameW would
    // make the file in the current folder or a drive's root).
    for (const std::wstring& folder : {missing, std::wstring(), std::wstring(L"work")})
        EXPECT_EQ(0, FetchConfigFromMirrors(Mirrors(mirrors, {server.WideUrl("/good")}), folder.c_str(), L"kvt", kMarker,
                                            kEnciphered, parser.Bind()))
            << Utf8Of(folder);
    EXPECT_TRUE(parser.calls.empty());
    EXPECT_TRUE(RequestedTargets(server).empty());
}

TEST(ParseListSwitch, Codes) {
    const wchar_t* pattern = L"([a-z]{2})([0-9]{2})";
    struct Case {
        const wchar_t* text;
        bool yields;
        int order, showMain, showRecommended;
    } cases[] = {
        {L"mr10", true, 0, 1, 0},
        {L"  MR10 ", true, 0, 1, 0},
        {L"rm11", true, 1, 1, 1},
        {L"mr01", true, 0, 0, 1},
        {L"rm10", true, 1, 0, 1},  // the digit under 'm' is the second one
        {L"rm01", true, 1, 1, 0},
        {L"xm11", true, 1, 1, 1},  // a first letter other than 'm' reads the second as 'm'
        {L"list=mr11", true, 0, 1, 1},  // the match may start anywhere
        {L"mr00", false, 0, 0, 0},
        {L"mm11", false, 0, 0, 0},
        {L"rr11", false, 0, 0, 0},
        {L"m r11", false, 0, 0, 0},
        {L"mr1", false, 0, 0, 0},
        {L"", false, 0, 0, 0},
        {L"12mr", false, 0, 0, 0},
    };
    for (const Case& c : cases) {
        ListSwitch s = {7, 7, 7};
        EXPECT_EQ(c.yields, ParseListSwitch(c.text, pattern, s)) << CStringA(c.text).GetString();
        if (c.yields) {
            EXPECT_EQ(c.order, s.order) << CStringA(c.text).GetString();
            EXPECT_EQ(c.showMain, s.showMain) << CStringA(c.text).GetString();
            EXPECT_EQ(c.showRecommended, s.showRecommended) << CStringA(c.text).GetString();
        } else {
            EXPECT_EQ(7, s.order) << "no values: nothing written";
        }
    }
    ListSwitch s = {7, 7, 7};
    EXPECT_FALSE(ParseListSwitch(L"mr11", L"([a-z", s)) << "a broken expression yields nothing";
    EXPECT_TRUE(ParseListSwitch(L"mr 11", L"([a-z]{2})\\s*([0-9]{2})", s));
}

// A server that answers one byte at a time, slower than any reader would
// wait for a whole configuration: the fetch ends at its deadline, and the
// mirrors after it are not tried once the deadline is spent.
TEST(FetchConfigFromMirrors, ATricklingMirrorEndsAtTheDeadline) {
    RouteTable routes;
    routes.Set("/good", 200, ";TEST-MARKER\r\n[general]\r\n");
    auto table = routes.Handler();
    std::atomic<long> trickled{0};
    LocalHttpServer server([&](const HttpRequest& r, HttpConnection& c) {
        if (r.target != "/trickle") return table(r, c);
        if (!c.Send("HTTP/1.1 200 OK\r\nContent-Length: 100000\r\nConnection: close\r\n\r\n;TEST-MARKER\r\n")) return;
        // The server's own pace; each byte comes well within a read's time-out.
        while (!c.Stopping() && trickled.load() < 100000 && c.Send(";", 1)) {
            ++trickled;
            Sleep(200);
        }
    });
    ASSERT_TRUE(server.Started());
    TempFolder work;
    const DWORD deadline = 3000;

    std::wstring out = work.File(L"out.bin");
    ULONGLONG started = GetTickCount64();
    EXPECT_EQ(kDownloadTimedOut,
              DownloadUrlToFile(server.WideUrl("/trickle").c_str(), out.c_str(), nullptr, kConfigMaxBytes, deadline));
    ULONGLONG took = GetTickCount64() - started;
    EXPECT_GE(took, (ULONGLONG)deadline);
    // Far below what the whole body would take (100000 bytes at 5 a second).
    EXPECT_LT(took, 120000u) << "the deadline did not end the transfer";
    EXPECT_LT(trickled.load(), 100000);
    DeleteFileW(out.c_str());

    CStringArray mirrors;
    RecordingParser parser;
    EXPECT_EQ(0, FetchConfigFromMirrors(Mirrors(mirrors, {server.WideUrl("/trickle"), server.WideUrl("/good")}),
                                        work.Path().c_str(), L"kvt", kMarker, kEnciphered, parser.Bind(), deadline));
    EXPECT_TRUE(parser.calls.empty());
    for (const HttpRequest& r : server.Requests()) EXPECT_NE("/good", r.target) << "a mirror was tried past the deadline";
    EXPECT_EQ(0u, work.Count());
}

// A peer that holds the request before any body: it trickles its header a
// byte at a time (each byte well within a receive time-out, so none of them
// runs out), or says nothing at all to a TLS hand-shake. No request handle
// exists yet; the fetch still ends at its deadline, long before the peer
// would let it go.
TEST(DownloadUrlToFile, APeerThatHoldsTheHeaderOrTheHandshakeEndsAtTheDeadline) {
    const int kTrickleBytes = 750;  // at 5 a second: 150 s
    std::atomic<long> trickled{0};
    LocalHttpServer server([&](const HttpRequest&, HttpConnection& c) {
        if (!c.Send("HTTP/1.1 200 OK\r\nX-Slow: ")) return;
        while (!c.Stopping() && trickled.load() < kTrickleBytes && c.Send("a", 1)) {
            ++trickled;
            Sleep(200);
        }
    });
    ASSERT_TRUE(server.Started());
    const DWORD deadline = 3000;
    TempFolder work;
    const std::wstring out = work.File(L"out.bin");
    const struct {
        const char* what;
        std::wstring url;
    } cases[] = {
        {"a header a byte at a time", server.WideUrl("/header")},
        // The test server reads the client's hello as the start of a request
        // and answers nothing.
        {"a TLS hand-shake without an answer", L"https://127.0.0.1:" + std::to_wstring(server.Port()) + L"/tls"},
    };
    for (const auto& c : cases) {
        const ULONGLONG started = GetTickCount64();
        DWORD status = 77;
        EXPECT_EQ(kDownloadTimedOut, DownloadUrlToFile(c.url.c_str(), out.c_str(), &status, kConfigMaxBytes, deadline))
            << c.what;
        const ULONGLONG took = GetTickCount64() - started;
        EXPECT_GE(took, (ULONGLONG)deadline - 100) << c.what;
        // The peer would hold a header for 150 s, a hand-shake for the
        // receive time-out's 30 s.
        EXPECT_LT(took, (ULONGLONG)deadline + 20000) << c.what << ": the deadline did not end the request";
        EXPECT_EQ(0u, status) << c.what;
        EXPECT_EQ(0u, work.Count()) << c.what << ": nothing is written before a status";
    }
    EXPECT_LT(trickled.load(), kTrickleBytes);
}
