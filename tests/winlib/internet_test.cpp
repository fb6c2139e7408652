#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "support/route_table.h"
#include "winlib/internet.h"

namespace {

template <class F>
DWORD ThrownInternetError(F body) {
    try {
        body();
    } catch (CInternetException* e) {
        DWORD code = e->m_dwError;
        e->Delete();
        return code;
    }
    return 0;
}

std::string ReadAll(CStdioFile* file) {
    std::string body;
    char chunk[1000];
    for (int guard = 0; guard < 100000; ++guard) {
        UINT n = file->Read(chunk, sizeof(chunk));
        if (n == 0) break;
        body.append(chunk, n);
    }
    return body;
}

}  // namespace

TEST(CInternetSession, OpensHttpAndReadsTheBody) {
    RouteTable routes;
    LocalHttpServer server(routes.Handler());
    ASSERT_TRUE(server.Started());
    std::string big(300000, 'q');
    for (size_t i = 0; i < big.size(); i += 97) big[i] = (char)('a' + i % 26);
    routes.Set("/small.txt", 200, "line one\r\nline two\n");
    routes.Set("/big.bin", 200, big);
    routes.Set("/gone", 404, "not here");

    CInternetSession session(L"KavettaTestAgent/1.0", 1, INTERNET_OPEN_TYPE_DIRECT);
    {
        std::unique_ptr<CHttpFile> file(
            static_cast<CHttpFile*>(session.OpenURL(server.WideUrl("/small.txt").c_str(), 1, INTERNET_FLAG_RELOAD)));
        DWORD status = 0;
        ASSERT_TRUE(file->QueryInfoStatusCode(status));
        EXPECT_EQ(200u, status);
        EXPECT_GT(file->GetLength(), 0u);
        CString line;
        ASSERT_TRUE(file->ReadString(line));
        EXPECT_EQ(CString(L"line one"), line);
        ASSERT_TRUE(file->ReadString(line));
        EXPECT_EQ(CString(L"line two"), line);
        EXPECT_FALSE(file->ReadString(line));
        file->Close();
        file->Close();
    }
    ASSERT_EQ(1u, server.Requests().size());
    EXPECT_EQ("KavettaTestAgent/1.0", server.Requests()[0].Header("User-Agent"));
    {
        std::unique_ptr<CStdioFile> file(session.OpenURL(server.WideUrl("/big.bin").c_str(), 1, INTERNET_FLAG_RELOAD));
        EXPECT_EQ(big, ReadAll(file.get()));
    }
    {
        std::unique_ptr<CHttpFile> file(static_cast<CHttpFile*>(session.OpenURL(server.WideUrl("/gone").c_str())));
        DWORD status = 0;
        ASSERT_TRUE(file->QueryInfoStatusCode(status));
        EXPECT_EQ(404u, status);
        CString text;
        EXPECT_TRUE(file->QueryInfo(HTTP_QUERY_STATUS_CODE, text));
        EXPECT_EQ(CString(L"404"), text);
    }
    session.Close();
    session.Close();
}

// Closing the session (another thread does so to end a call blocked on it)
// closes the request handles opened from it; their own Close then finds the
// handle gone and takes it as closed, without throwing.
TEST(CInternetSession, AFileWhoseSessionWasClosedClosesWithoutThrowing) {
    RouteTable routes;
    LocalHttpServer server(routes.Handler());
    ASSERT_TRUE(server.Started());
    routes.Set("/small.txt", 200, "body");
    CInternetSession session(L"KavettaTestAgent/1.0", 1, INTERNET_OPEN_TYPE_DIRECT);
    std::unique_ptr<CHttpFile> file(
        static_cast<CHttpFile*>(session.OpenURL(server.WideUrl("/small.txt").c_str(), 1, INTERNET_FLAG_RELOAD)));
    session.Close();
    EXPECT_EQ(nullptr, (HINTERNET)session);
    EXPECT_EQ(0u, ThrownInternetError([&] { file->Close(); }));
    EXPECT_EQ(0u, ThrownInternetError([&] { file->Close(); }));
    session.Close();
    // A session already closed opens nothing.
    EXPECT_EQ((DWORD)ERROR_INVALID_HANDLE,
              ThrownInternetError([&] { delete session.OpenURL(server.WideUrl("/small.txt").c_str()); }));
}

std::vector<std::pair<std::wstring, DWORD>> g_opened;
void RecordOpened(LPCWSTR url, DWORD flags) { g_opened.push_back({url, flags}); }

TEST(CInternetSession, TheObserverSeesEachRequestsUrlAndFlags) {
    RouteTable routes;
    LocalHttpServer server(routes.Handler());
    ASSERT_TRUE(server.Started());
    routes.Set("/a", 200, "a");
    CInternetSession session(L"KavettaTestAgent/1.0", 1, INTERNET_OPEN_TYPE_DIRECT);
    g_opened.clear();
    OpenUrlObserver previous = SetOpenUrlObserver(RecordOpened);
    const std::wstring url = server.WideUrl("/a");
    delete session.OpenURL(url.c_str(), 1, INTERNET_FLAG_RELOAD | INTERNET_FLAG_TRANSFER_ASCII);
    delete session.OpenURL(url.c_str());
    // A refused scheme never reaches WinINet.
    ThrownInternetError([&] { delete session.OpenURL(L"ftp://127.0.0.1/x"); });
    EXPECT_EQ(RecordOpened, SetOpenUrlObserver(previous));
    delete session.OpenURL(url.c_str());  // no observer: nothing recorded
    session.Close();
    const std::vector<std::pair<std::wstring, DWORD>> expected = {
        {url, (DWORD)(INTERNET_FLAG_RELOAD | INTERNET_FLAG_TRANSFER_ASCII)}, {url, (DWORD)INTERNET_FLAG_TRANSFER_ASCII}};
    EXPECT_EQ(expected, g_opened);
    EXPECT_EQ(3u, server.Requests().size());
}

TEST(CInternetSession, FailuresAreThrown) {
    CInternetSession session(L"KavettaTestAgent/1.0", 1, INTERNET_OPEN_TYPE_DIRECT);
    std::wstring closed = L"http://127.0.0.1:" + std::to_wstring(UnusedLocalPort()) + L"/x";
    EXPECT_EQ((DWORD)ERROR_INTERNET_CANNOT_CONNECT, ThrownInternetError([&] { delete session.OpenURL(closed.c_str()); }));
    // Only http and https are opened.
    for (const wchar_t* url : {L"file:///C:/windows/win.ini", L"ftp://127.0.0.1/x", L"gopher://x/", L"not a url", L""}) {
        EXPECT_EQ((DWORD)ERROR_INTERNET_UNRECOGNIZED_SCHEME, ThrownInternetError([&] { delete session.OpenURL(url); }))
            << CStringA(url).GetString();
    }
    session.Close();
    EXPECT_NE(0u, ThrownInternetError([&] { delete session.OpenURL(L"http://127.0.0.1/"); })) << "a closed session";

    CInternetException e(ERROR_INTERNET_CANNOT_CONNECT);
    wchar_t text[256] = {};
    EXPECT_TRUE(e.GetErrorMessage(text, 256));
    EXPECT_NE(0, text[0]);
}

TEST(InternetUrlScheme, KnowsTheSchemes) {
    EXPECT_EQ(INTERNET_SCHEME_HTTP, InternetUrlScheme(L"http://127.0.0.1:80/a"));
    EXPECT_EQ(INTERNET_SCHEME_HTTPS, InternetUrlScheme(L"HTTPS://example.invalid/a"));
    EXPECT_EQ(INTERNET_SCHEME_FTP, InternetUrlScheme(L"ftp://example.invalid/a"));
    EXPECT_EQ(INTERNET_SCHEME_UNKNOWN, InternetUrlScheme(L"no scheme"));
    EXPECT_EQ(INTERNET_SCHEME_UNKNOWN, InternetUrlScheme(nullptr));
}
