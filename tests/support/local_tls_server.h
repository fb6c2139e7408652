// An HTTPS server on 127.0.0.1 for the certificate tests: OpenSSL with a
// self-signed certificate for IP 127.0.0.1 made when the server starts, or
// with a given certificate and key. It answers every request with one fixed
// body, or with the body that a responder gives for the request.
#pragma once

#include <winsock2.h>
#include <windows.h>

#include <atomic>
#include <functional>
#include <string>
#include <thread>
#include <vector>

class LocalTlsServer {
public:
    explicit LocalTlsServer(const std::string& body);
    // The body for a request, from its request line ("GET /x HTTP/1.1").
    typedef std::function<std::string(const std::string& requestLine)> Responder;
    // Serves with the certificate and private key given in PEM form.
    LocalTlsServer(Responder responder, const std::string& certificatePem, const std::string& keyPem);
    ~LocalTlsServer();
    LocalTlsServer(const LocalTlsServer&) = delete;
    LocalTlsServer& operator=(const LocalTlsServer&) = delete;

    bool Started() const { return m_listen != INVALID_SOCKET && m_ctx != nullptr; }
    int Port() const { return m_port; }
    std::wstring WideUrl(const std::string& target) const;
    // The certificate in DER form (to trust it in a certificate store).
    const std::vector<unsigned char>& CertificateDer() const { return m_der; }
    // Requests received and answered over a completed hand-shake.
    int Answered() const { return m_answered; }

private:
    // Takes the certificate and key into the server context and starts serving.
    void Start(void* certificate, void* key);
    void Serve();

    Responder m_responder;
    void* m_ctx = nullptr;  // SSL_CTX
    std::vector<unsigned char> m_der;
    SOCKET m_listen = INVALID_SOCKET;
    int m_port = 0;
    std::atomic<SOCKET> m_connection{INVALID_SOCKET};  // the one being served
    std::atomic<bool> m_stopping{false};
    std::atomic<int> m_answered{0};
    std::thread m_thread;
};

// The server certificate and key that tests/run_with_trusted_authority.sh
// made with a test authority that the Windows root store trusts in that
// script's private Wine session (found through KAVETTA_TRUSTED_TLS). False,
// with the reason in `why`, when the program runs anywhere else.
bool TrustedServerFiles(std::string& certificatePem, std::string& keyPem, std::string& why);

// A server certificate and key made here, signed by that same test authority,
// for the subject alternative names given in OpenSSL's form
// ("IP:127.0.0.1,DNS:..."). False, with the reason, where TrustedServerFiles is.
bool TrustedServerFilesFor(const char* altNames, std::string& certificatePem, std::string& keyPem, std::string& why);
