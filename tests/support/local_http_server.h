// A small HTTP/1.1 server on 127.0.0.1 for the network tests: one thread per
// connection, one request per connection, a handler chosen by the test.
// Every wait is bounded, and the destructor closes whatever is still open.
// A wait on the client that runs out fails the running test, naming the wait.
#pragma once

#include <winsock2.h>
#include <windows.h>

#include <atomic>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

struct HttpRequest {
    std::string method;
    std::string target;   // path and query as sent
    std::string headers;  // the raw header lines, CRLF-separated
    std::string body;
    // The value of a header (name compared ignoring case), empty when absent.
    std::string Header(const char* name) const;
};

class HttpConnection {
public:
    HttpConnection(SOCKET s, const std::atomic<bool>& stopping) : m_socket(s), m_stopping(stopping) {}
    // Sends all bytes; false when the peer is gone.
    bool Send(const void* data, size_t size);
    bool Send(const std::string& text) { return Send(text.data(), text.size()); }
    // A complete response with Content-Length.
    bool Respond(int status, const std::string& body, const std::string& extraHeaders = std::string());
    // Waits until the peer closes the connection or the server stops; the
    // time passing first fails the running test.
    void WaitForClose(DWORD milliseconds);
    bool Stopping() const { return m_stopping; }

private:
    SOCKET m_socket;
    const std::atomic<bool>& m_stopping;
};

class LocalHttpServer {
public:
    typedef std::function<void(const HttpRequest&, HttpConnection&)> Handler;
    explicit LocalHttpServer(Handler handler);
    ~LocalHttpServer();
    LocalHttpServer(const LocalHttpServer&) = delete;
    LocalHttpServer& operator=(const LocalHttpServer&) = delete;

    bool Started() const { return m_listen != INVALID_SOCKET; }
    int Port() const { return m_port; }
    std::string Url(const std::string& target) const;
    std::wstring WideUrl(const std::string& target) const;
    // Every request received so far.
    std::vector<HttpRequest> Requests();

private:
    void AcceptLoop();
    void Serve(SOCKET s);

    Handler m_handler;
    SOCKET m_listen = INVALID_SOCKET;
    int m_port = 0;
    std::atomic<bool> m_stopping{false};
    std::thread m_acceptor;
    std::mutex m_lock;
    std::vector<std::thread> m_workers;
    std::vector<SOCKET> m_open;
    std::vector<HttpRequest> m_requests;
};

// How long a test server waits on its client for a request, a request body
// or a hand-shake message. Generous: on a busy machine, under emulation, the
// client's next message can take many seconds.
const DWORD kServerWaitMs = 120000;

// Gives a connection accepted by a test server the receive time-out of kServerWaitMs.
void BoundServerWaits(SOCKET s);

// A receive on such a connection that failed after starting at `started`
// (GetTickCount) because the bound ran out: the running test fails, saying
// which wait ran out ("<server> waited ... for <what>"). False when the
// receive ended otherwise (the peer closed, the server stopped).
bool ServerWaitRanOut(DWORD started, const char* server, const char* what);

// A socket listening on 127.0.0.1 at a port the system chose (into `port`);
// INVALID_SOCKET when that fails.
SOCKET ListenOnLoopback(int& port);

// A port on 127.0.0.1 where nothing listens (bound once, then released).
int UnusedLocalPort();

// The deterministic content of a test file of `size` bytes named `seed`.
std::string TestFileContent(const std::string& seed, size_t size);

// Serves the slice of `content` that a request's Range header asks for (or
// all of it), `chunk` bytes at a time with `pauseMs` between the chunks.
// Counts the body bytes it sent into *sent when given.
void ServeContent(const HttpRequest& request, HttpConnection& connection, const std::string& content,
                  size_t chunk, DWORD pauseMs, std::atomic<long long>* sent = nullptr);

// Answers 200 with a body that does not end: filler bytes until the peer goes
// away, the server stops or `limit` body bytes are out. The framing is the
// caller's: no length (the end would be the close), or chunked. The body
// begins with `start`. Counts the body bytes it sent into *sent when given.
enum class EndlessFraming { kNone, kChunked };
void ServeEndless(HttpConnection& connection, EndlessFraming framing, long long limit,
                  std::atomic<long long>* sent = nullptr, const std::string& start = std::string());
