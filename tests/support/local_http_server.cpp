#include "support/local_http_server.h"

#include <ws2tcpip.h>

#include <gtest/gtest.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

namespace {

struct WinsockStartup {
    WinsockStartup() {
        WSADATA data;
        WSAStartup(MAKEWORD(2, 2), &data);
    }
};

void EnsureWinsock() { static WinsockStartup startup; }

const char* ReasonText(int status) {
    switch (status) {
    case 200: return "OK";
    case 206: return "Partial Content";
    case 301: return "Moved Permanently";
    case 302: return "Found";
    case 404: return "Not Found";
    case 416: return "Range Not Satisfiable";
    case 500: return "Internal Server Error";
    default: return "Status";
    }
}

}  // namespace

std::string HttpRequest::Header(const char* name) const {
    size_t nameLength = strlen(name);
    size_t pos = 0;
    while (pos < headers.size()) {
        size_t end = headers.find("\r\n", pos);
        if (end == std::string::npos) end = headers.size();
        std::string line = headers.substr(pos, end - pos);
        if (line.size() > nameLength && line[nameLength] == ':' && _strnicmp(line.c_str(), name, nameLength) == 0) {
            size_t v = nameLength + 1;
            while (v < line.size() && line[v] == ' ') ++v;
            return line.substr(v);
        }
        pos = end + 2;
    }
    return std::string();
}

bool HttpConnection::Send(const void* data, size_t size) {
    const char* p = static_cast<const char*>(data);
    while (size > 0) {
        if (m_stopping) return false;
        int n = send(m_socket, p, size > 65536 ? 65536 : (int)size, 0);
        if (n <= 0) return false;
        p += n;
        size -= n;
    }
    return true;
}

bool HttpConnection::Respond(int status, const std::string& body, const std::string& extraHeaders) {
    char head[256];
    snprintf(head, sizeof(head), "HTTP/1.1 %d %s\r\nContent-Length: %u\r\nConnection: close\r\n", status,
             ReasonText(status), (unsigned)body.size());
    return Send(std::string(head) + extraHeaders + "\r\n" + body);
}

void HttpConnection::WaitForClose(DWORD milliseconds) {
    DWORD start = GetTickCount();
    for (;;) {
        if (m_stopping) return;
        if (GetTickCount() - start >= milliseconds) {
            ADD_FAILURE() << "the test HTTP server's handler waited " << milliseconds / 1000
                          << " s for the client to close the connection, and it did not";
            return;
        }
        fd_set set;
        FD_ZERO(&set);
        FD_SET(m_socket, &set);
        timeval tv = {0, 100 * 1000};
        int r = select(0, &set, nullptr, nullptr, &tv);
        if (r < 0) return;
        if (r > 0) {
            char buf[512];
            int n = recv(m_socket, buf, sizeof(buf), 0);
            if (n <= 0) return;
        }
    }
}

LocalHttpServer::LocalHttpServer(Handler handler) : m_handler(std::move(handler)) {
    EnsureWinsock();
    m_listen = ListenOnLoopback(m_port);
    if (m_listen == INVALID_SOCKET) return;
    m_acceptor = std::thread(&LocalHttpServer::AcceptLoop, this);
}

LocalHttpServer::~LocalHttpServer() {
    m_stopping = true;
    if (m_listen != INVALID_SOCKET) closesocket(m_listen);
    if (m_acceptor.joinable()) m_acceptor.join();
    std::vector<std::thread> workers;
    {
        std::lock_guard<std::mutex> guard(m_lock);
        for (SOCKET s : m_open) shutdown(s, SD_BOTH);
        workers.swap(m_workers);
    }
    for (std::thread& t : workers) t.join();
}

std::string LocalHttpServer::Url(const std::string& target) const {
    return "http://127.0.0.1:" + std::to_string(m_port) + target;
}

std::wstring LocalHttpServer::WideUrl(const std::string& target) const {
    std::string u = Url(target);
    return std::wstring(u.begin(), u.end());
}

std::vector<HttpRequest> LocalHttpServer::Requests() {
    std::lock_guard<std::mutex> guard(m_lock);
    return m_requests;
}

void LocalHttpServer::AcceptLoop() {
    while (!m_stopping) {
        SOCKET c = accept(m_listen, nullptr, nullptr);
        if (c == INVALID_SOCKET) break;
        std::lock_guard<std::mutex> guard(m_lock);
        if (m_stopping) {
            closesocket(c);
            break;
        }
        m_open.push_back(c);
        m_workers.emplace_back(&LocalHttpServer::Serve, this, c);
    }
}

void LocalHttpServer::Serve(SOCKET s) {
    BoundServerWaits(s);
    std::string data;
    char buf[4096];
    size_t headerEnd = std::string::npos;
    while (headerEnd == std::string::npos && data.size() < 1 << 20) {
        DWORD started = GetTickCount();
        int n = recv(s, buf, sizeof(buf), 0);
        if (n <= 0) {
            ServerWaitRanOut(started, "the test HTTP server", "the request's head");
            break;
        }
        data.append(buf, n);
        headerEnd = data.find("\r\n\r\n");
    }
    if (headerEnd != std::string::npos) {
        HttpRequest request;
        std::string head = data.substr(0, headerEnd);
        size_t lineEnd = head.find("\r\n");
        std::string first = head.substr(0, lineEnd);
        size_t sp1 = first.find(' ');
        size_t sp2 = first.find(' ', sp1 + 1);
        request.method = first.substr(0, sp1);
        request.target = first.substr(sp1 + 1, sp2 - sp1 - 1);
        request.headers = lineEnd == std::string::npos ? std::string() : head.substr(lineEnd + 2);
        request.body = data.substr(headerEnd + 4);
        size_t length = strtoul(request.Header("Content-Length").c_str(), nullptr, 10);
        while (request.body.size() < length) {
            DWORD started = GetTickCount();
            int n = recv(s, buf, sizeof(buf), 0);
            if (n <= 0) {
                ServerWaitRanOut(started, "the test HTTP server", "the request's body");
                break;
            }
            request.body.append(buf, n);
        }
        {
            std::lock_guard<std::mutex> guard(m_lock);
            m_requests.push_back(request);
        }
        HttpConnection connection(s, m_stopping);
        m_handler(request, connection);
    }
    shutdown(s, SD_SEND);
    std::lock_guard<std::mutex> guard(m_lock);
    for (size_t i = 0; i < m_open.size(); ++i)
        if (m_open[i] == s) {
            m_open.erase(m_open.begin() + i);
            break;
        }
    closesocket(s);
}

void BoundServerWaits(SOCKET s) {
    DWORD timeout = kServerWaitMs;
    setsockopt(s, SOL_SOCKET, SO_RCVTIMEO, (const char*)&timeout, sizeof(timeout));
}

bool ServerWaitRanOut(DWORD started, const char* server, const char* what) {
    // A receive time-out ends the receive at the bound; the peer's close or
    // the server's own shutdown ends it before (a margin for the clock's steps).
    if (GetTickCount() - started + 1000 < kServerWaitMs) return false;
    ADD_FAILURE() << server << " waited " << kServerWaitMs / 1000 << " s for " << what
                  << " from the client, and it did not come";
    return true;
}

SOCKET ListenOnLoopback(int& port) {
    EnsureWinsock();
    SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    if (s == INVALID_SOCKET) return s;
    sockaddr_in addr = {};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    int len = sizeof(addr);
    if (bind(s, (sockaddr*)&addr, sizeof(addr)) != 0 || listen(s, 64) != 0 ||
        getsockname(s, (sockaddr*)&addr, &len) != 0) {
        closesocket(s);
        return INVALID_SOCKET;
    }
    port = ntohs(addr.sin_port);
    return s;
}

int UnusedLocalPort() {
    EnsureWinsock();
    SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in addr = {};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    int len = sizeof(addr);
    bind(s, (sockaddr*)&addr, sizeof(addr));
    getsockname(s, (sockaddr*)&addr, &len);
    closesocket(s);
    return ntohs(addr.sin_port);
}

std::string TestFileContent(const std::string& seed, size_t size) {
    unsigned state = 2166136261u;
    for (char c : seed) state = (state ^ (unsigned char)c) * 16777619u;
    std::string out(size, '\0');
    for (size_t i = 0; i < size; ++i) {
        state = state * 1103515245u + 12345u;
        out[i] = (char)(state >> 16);
    }
    return out;
}

void ServeContent(const HttpRequest& request, HttpConnection& connection, const std::string& content, size_t chunk,
                  DWORD pauseMs, std::atomic<long long>* sent) {
    size_t from = 0;
    std::string range = request.Header("Range");
    bool partial = false;
    if (range.compare(0, 6, "bytes=") == 0) {
        from = strtoul(range.c_str() + 6, nullptr, 10);
        partial = true;
        if (from >= content.size()) {
            connection.Respond(416, std::string(), "Content-Range: bytes */" + std::to_string(content.size()) + "\r\n");
            return;
        }
    }
    std::string head = partial ? "HTTP/1.1 206 Partial Content\r\n" : "HTTP/1.1 200 OK\r\n";
    head += "Content-Length: " + std::to_string(content.size() - from) + "\r\n";
    if (partial)
        head += "Content-Range: bytes " + std::to_string(from) + "-" + std::to_string(content.size() - 1) + "/" +
                std::to_string(content.size()) + "\r\n";
    head += "Accept-Ranges: bytes\r\nConnection: close\r\n\r\n";
    if (!connection.Send(head)) return;
    for (size_t pos = from; pos < content.size();) {
        size_t n = content.size() - pos < chunk ? content.size() - pos : chunk;
        if (!connection.Send(content.data() + pos, n)) return;
        if (sent) *sent += (long long)n;
        pos += n;
        if (pauseMs && pos < content.size()) Sleep(pauseMs);
    }
}

void ServeEndless(HttpConnection& connection, EndlessFraming framing, long long limit, std::atomic<long long>* sent,
                  const std::string& start) {
    const bool chunked = framing == EndlessFraming::kChunked;
    std::string head = "HTTP/1.1 200 OK\r\n";
    if (chunked) head += "Transfer-Encoding: chunked\r\n";
    head += "Connection: close\r\n\r\n";
    if (!connection.Send(head)) return;
    auto piece = [&](const std::string& bytes) {
        char size[32];
        snprintf(size, sizeof(size), "%x\r\n", (unsigned)bytes.size());
        if (chunked && !connection.Send(size)) return false;
        if (!connection.Send(bytes)) return false;
        if (chunked && !connection.Send("\r\n")) return false;
        if (sent) *sent += (long long)bytes.size();
        return true;
    };
    if (!start.empty() && !piece(start)) return;
    const std::string filler(64 * 1024, '[');
    for (long long out = (long long)start.size(); out < limit; out += (long long)filler.size())
        if (!piece(filler)) return;
}
