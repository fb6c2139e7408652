// A small HTTP/1.1 server on 127.0.0.1 for tests: one thread, one request
// per connection, answers from a table of paths. Unknown paths get 404.
// Everything is bounded: accept polls a stop flag, reads time out.
// Link the test program with ws2_32.
#pragma once

#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>
#include <process.h>

#include <map>
#include <mutex>
#include <string>
#include <vector>

class LocalHttpServer {
public:
    struct Response {
        int status = 200;
        std::string body;
        // Accept the connection and close it without an answer.
        bool hangUp = false;
    };

    LocalHttpServer() {
        WSADATA data;
        WSAStartup(MAKEWORD(2, 2), &data);
        m_listen = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
        sockaddr_in address = {};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        address.sin_port = 0;
        if (m_listen == INVALID_SOCKET || bind(m_listen, (sockaddr*)&address, sizeof(address)) != 0 ||
            listen(m_listen, 16) != 0)
            return;
        int length = sizeof(address);
        getsockname(m_listen, (sockaddr*)&address, &length);
        m_port = ntohs(address.sin_port);
        m_thread = (HANDLE)_beginthreadex(nullptr, 0, ThreadMain, this, 0, nullptr);
    }

    ~LocalHttpServer() {
        m_stop = true;
        if (m_thread) {
            WaitForSingleObject(m_thread, 10000);
            CloseHandle(m_thread);
        }
        if (m_listen != INVALID_SOCKET) closesocket(m_listen);
        WSACleanup();
    }

    LocalHttpServer(const LocalHttpServer&) = delete;
    LocalHttpServer& operator=(const LocalHttpServer&) = delete;

    bool Running() const { return m_thread != nullptr && m_port != 0; }
    unsigned short Port() const { return m_port; }

    void Set(const std::string& path, int status, const std::string& body) {
        Response r;
        r.status = status;
        r.body = body;
        Set(path, r);
    }
    void Set(const std::string& path, const Response& response) {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_routes[path] = response;
    }
    std::wstring Url(const std::string& path) const {
        return L"http://127.0.0.1:" + std::to_wstring(m_port) + std::wstring(path.begin(), path.end());
    }
    // The paths requested so far, in order.
    std::vector<std::string> Paths() const {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_paths;
    }
    // The full text (request line and headers) of the last request.
    std::string LastRequest() const {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_lastRequest;
    }

    // A port on 127.0.0.1 where nothing listens (bound once, then released).
    static unsigned short ClosedPort() {
        WSADATA data;
        WSAStartup(MAKEWORD(2, 2), &data);
        SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
        sockaddr_in address = {};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        bind(s, (sockaddr*)&address, sizeof(address));
        int length = sizeof(address);
        getsockname(s, (sockaddr*)&address, &length);
        closesocket(s);
        WSACleanup();
        return ntohs(address.sin_port);
    }

private:
    static unsigned __stdcall ThreadMain(void* self) {
        static_cast<LocalHttpServer*>(self)->Serve();
        return 0;
    }

    void Serve() {
        while (!m_stop) {
            fd_set readable;
            FD_ZERO(&readable);
            FD_SET(m_listen, &readable);
            timeval wait = {0, 100000};
            if (select(0, &readable, nullptr, nullptr, &wait) <= 0) continue;
            SOCKET client = accept(m_listen, nullptr, nullptr);
            if (client == INVALID_SOCKET) continue;
            Answer(client);
            closesocket(client);
        }
    }

    void Answer(SOCKET client) {
        DWORD timeout = 5000;
        setsockopt(client, SOL_SOCKET, SO_RCVTIMEO, (const char*)&timeout, sizeof(timeout));
        std::string request;
        char chunk[2048];
        while (request.find("\r\n\r\n") == std::string::npos && request.size() < 65536) {
            int n = recv(client, chunk, sizeof(chunk), 0);
            if (n <= 0) return;
            request.append(chunk, n);
        }
        std::string path;
        size_t space = request.find(' ');
        if (space != std::string::npos) {
            size_t end = request.find(' ', space + 1);
            path = request.substr(space + 1, end == std::string::npos ? std::string::npos : end - space - 1);
        }
        Response response;
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_paths.push_back(path);
            m_lastRequest = request.substr(0, request.find("\r\n\r\n"));
            auto it = m_routes.find(path);
            if (it != m_routes.end()) {
                response = it->second;
            } else {
                response.status = 404;
                response.body = "no such path";
            }
        }
        if (response.hangUp) return;
        std::string head = "HTTP/1.1 " + std::to_string(response.status) + " Test\r\nContent-Type: text/plain\r\n" +
                           "Content-Length: " + std::to_string(response.body.size()) + "\r\nConnection: close\r\n\r\n";
        std::string all = head + response.body;
        size_t sent = 0;
        while (sent < all.size()) {
            int n = send(client, all.data() + sent, (int)(all.size() - sent), 0);
            if (n <= 0) break;
            sent += (size_t)n;
        }
        shutdown(client, SD_SEND);
        // A short drain, so that nothing unread makes the close a reset.
        timeout = 200;
        setsockopt(client, SOL_SOCKET, SO_RCVTIMEO, (const char*)&timeout, sizeof(timeout));
        for (int i = 0; i < 4; ++i) {
            int n = recv(client, chunk, sizeof(chunk), 0);
            if (n <= 0) break;
        }
    }

    SOCKET m_listen = INVALID_SOCKET;
    unsigned short m_port = 0;
    HANDLE m_thread = nullptr;
    volatile bool m_stop = false;
    mutable std::mutex m_mutex;
    std::map<std::string, Response> m_routes;
    std::vector<std::string> m_paths;
    std::string m_lastRequest;
};
