// An HTTPS server on 127.0.0.1 for the certificate tests: OpenSSL with a
// self-signed certificate for IP 127.0.0.1 made when the server starts. It
// answers every request with one fixed body.
#pragma once

#include <winsock2.h>
#include <windows.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

class LocalTlsServer {
public:
    explicit LocalTlsServer(const std::string& body);
    ~LocalTlsServer();
    LocalTlsServer(const LocalTlsServer&) = delete;
    LocalTlsServer& operator=(const LocalTlsServer&) = delete;

    bool Started() const { return m_listen != INVALID_SOCKET && m_ctx != nullptr; }
    int Port() const { return m_port; }
    std::wstring WideUrl(const std::string& target) const;
    // The certificate in DER form (to trust it in a certificate store).
    const std::vector<unsigned char>& CertificateDer() const { return m_der; }
    // Requests answered after a completed hand-shake.
    int Answered() const { return m_answered; }

private:
    void Serve();

    std::string m_body;
    void* m_ctx = nullptr;  // SSL_CTX
    std::vector<unsigned char> m_der;
    SOCKET m_listen = INVALID_SOCKET;
    int m_port = 0;
    std::atomic<bool> m_stopping{false};
    std::atomic<int> m_answered{0};
    std::thread m_thread;
};
