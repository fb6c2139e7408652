#include "support/local_tls_server.h"

#include "support/local_http_server.h"

#include <stdio.h>
#include <stdlib.h>

#include <openssl/err.h>
#include <openssl/pem.h>
#include <openssl/rsa.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>

namespace {

void AddExtension(X509* cert, int nid, const char* value) {
    X509V3_CTX ctx;
    X509V3_set_ctx_nodb(&ctx);
    X509V3_set_ctx(&ctx, cert, cert, nullptr, nullptr, 0);
    X509_EXTENSION* ext = X509V3_EXT_conf_nid(nullptr, &ctx, nid, value);
    if (ext) {
        X509_add_ext(cert, ext, -1);
        X509_EXTENSION_free(ext);
    }
}

bool ReadTextFile(const std::string& path, std::string& text) {
    FILE* f = fopen(path.c_str(), "rb");
    if (!f) return false;
    char buf[4096];
    size_t n;
    text.clear();
    while ((n = fread(buf, 1, sizeof(buf), f)) > 0) text.append(buf, n);
    fclose(f);
    return !text.empty();
}

}  // namespace

bool TrustedServerFiles(std::string& certificatePem, std::string& keyPem, std::string& why) {
    char folder[MAX_PATH] = {};
    DWORD length = GetEnvironmentVariableA("KAVETTA_TRUSTED_TLS", folder, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) {
        why = "needs a trusted test authority: the <program>_trusted_https test entry runs this case "
              "(tests/run_with_trusted_authority.sh)";
        return false;
    }
    if (!ReadTextFile(std::string(folder) + "\\server.crt", certificatePem) ||
        !ReadTextFile(std::string(folder) + "\\server.key", keyPem)) {
        why = std::string("no server certificate and key in ") + folder;
        return false;
    }
    return true;
}

bool TrustedServerFilesFor(const char* altNames, std::string& certificatePem, std::string& keyPem,
                           std::string& why) {
    std::string ignored;
    if (!TrustedServerFiles(ignored, ignored, why)) return false;
    char folder[MAX_PATH] = {};
    GetEnvironmentVariableA("KAVETTA_TRUSTED_TLS", folder, MAX_PATH);
    std::string authorityPem, authorityKeyPem;
    if (!ReadTextFile(std::string(folder) + "\\authority.crt", authorityPem) ||
        !ReadTextFile(std::string(folder) + "\\authority.key", authorityKeyPem)) {
        why = std::string("no test authority in ") + folder;
        return false;
    }
    BIO* authorityBio = BIO_new_mem_buf(authorityPem.data(), (int)authorityPem.size());
    BIO* authorityKeyBio = BIO_new_mem_buf(authorityKeyPem.data(), (int)authorityKeyPem.size());
    X509* authority = PEM_read_bio_X509(authorityBio, nullptr, nullptr, nullptr);
    EVP_PKEY* authorityKey = PEM_read_bio_PrivateKey(authorityKeyBio, nullptr, nullptr, nullptr);
    EVP_PKEY* key = EVP_RSA_gen(2048);
    X509* cert = X509_new();
    bool made = false;
    if (authority && authorityKey && key && cert) {
        X509_set_version(cert, 2);
        ASN1_INTEGER_set(X509_get_serialNumber(cert), (long)GetTickCount());
        X509_gmtime_adj(X509_getm_notBefore(cert), -3600);
        X509_gmtime_adj(X509_getm_notAfter(cert), 86400);
        X509_set_pubkey(cert, key);
        X509_NAME_add_entry_by_txt(X509_get_subject_name(cert), "CN", MBSTRING_ASC,
                                   (const unsigned char*)"127.0.0.1", -1, -1, 0);
        X509_set_issuer_name(cert, X509_get_subject_name(authority));
        AddExtension(cert, NID_basic_constraints, "CA:FALSE");
        AddExtension(cert, NID_ext_key_usage, "serverAuth");
        AddExtension(cert, NID_subject_alt_name, altNames);
        if (X509_sign(cert, authorityKey, EVP_sha256()) > 0) {
            BIO* out = BIO_new(BIO_s_mem());
            BIO* keyOut = BIO_new(BIO_s_mem());
            if (PEM_write_bio_X509(out, cert) == 1 &&
                PEM_write_bio_PrivateKey(keyOut, key, nullptr, nullptr, 0, nullptr, nullptr) == 1) {
                char* data = nullptr;
                long n = BIO_get_mem_data(out, &data);
                certificatePem.assign(data, n);
                n = BIO_get_mem_data(keyOut, &data);
                keyPem.assign(data, n);
                made = true;
            }
            BIO_free(out);
            BIO_free(keyOut);
        }
    }
    X509_free(cert);
    EVP_PKEY_free(key);
    X509_free(authority);
    EVP_PKEY_free(authorityKey);
    BIO_free(authorityBio);
    BIO_free(authorityKeyBio);
    if (!made) why = "could not make a server certificate with the test authority";
    return made;
}

LocalTlsServer::LocalTlsServer(const std::string& body)
    : m_responder([body](const std::string&) { return body; }) {
    EVP_PKEY* key = EVP_RSA_gen(2048);
    X509* cert = X509_new();
    if (!key || !cert) return;
    X509_set_version(cert, 2);
    ASN1_INTEGER_set(X509_get_serialNumber(cert), (long)GetTickCount());
    X509_gmtime_adj(X509_getm_notBefore(cert), -3600);
    X509_gmtime_adj(X509_getm_notAfter(cert), 86400);
    X509_set_pubkey(cert, key);
    X509_NAME* name = X509_get_subject_name(cert);
    X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC, (const unsigned char*)"127.0.0.1", -1, -1, 0);
    X509_set_issuer_name(cert, name);
    AddExtension(cert, NID_basic_constraints, "critical,CA:TRUE");
    AddExtension(cert, NID_subject_alt_name, "IP:127.0.0.1");
    AddExtension(cert, NID_subject_key_identifier, "hash");
    X509_sign(cert, key, EVP_sha256());
    Start(cert, key);
    X509_free(cert);
    EVP_PKEY_free(key);
}

LocalTlsServer::LocalTlsServer(Responder responder, const std::string& certificatePem, const std::string& keyPem)
    : m_responder(std::move(responder)) {
    BIO* certBio = BIO_new_mem_buf(certificatePem.data(), (int)certificatePem.size());
    BIO* keyBio = BIO_new_mem_buf(keyPem.data(), (int)keyPem.size());
    X509* cert = certBio ? PEM_read_bio_X509(certBio, nullptr, nullptr, nullptr) : nullptr;
    EVP_PKEY* key = keyBio ? PEM_read_bio_PrivateKey(keyBio, nullptr, nullptr, nullptr) : nullptr;
    if (cert && key) Start(cert, key);
    X509_free(cert);
    EVP_PKEY_free(key);
    BIO_free(certBio);
    BIO_free(keyBio);
}

void LocalTlsServer::Start(void* certificate, void* privateKey) {
    X509* cert = static_cast<X509*>(certificate);
    EVP_PKEY* key = static_cast<EVP_PKEY*>(privateKey);
    int derLength = i2d_X509(cert, nullptr);
    if (derLength > 0) {
        m_der.resize(derLength);
        unsigned char* p = m_der.data();
        i2d_X509(cert, &p);
    }
    SSL_CTX* ctx = SSL_CTX_new(TLS_server_method());
    if (ctx && SSL_CTX_use_certificate(ctx, cert) == 1 && SSL_CTX_use_PrivateKey(ctx, key) == 1) m_ctx = ctx;
    else if (ctx) SSL_CTX_free(ctx);
    if (!m_ctx) return;

    m_listen = ListenOnLoopback(m_port);
    if (m_listen == INVALID_SOCKET) return;
    m_thread = std::thread(&LocalTlsServer::Serve, this);
}

LocalTlsServer::~LocalTlsServer() {
    m_stopping = true;
    if (m_listen != INVALID_SOCKET) closesocket(m_listen);
    // A connection being served stops waiting on its client.
    SOCKET c = m_connection;
    if (c != INVALID_SOCKET) shutdown(c, SD_BOTH);
    if (m_thread.joinable()) m_thread.join();
    if (m_ctx) SSL_CTX_free(static_cast<SSL_CTX*>(m_ctx));
}

std::wstring LocalTlsServer::WideUrl(const std::string& target) const {
    std::string u = "https://127.0.0.1:" + std::to_string(m_port) + target;
    return std::wstring(u.begin(), u.end());
}

// One connection at a time: enough for the tests. Every wait on the client
// has the test servers' generous bound; one that runs out fails the test.
void LocalTlsServer::Serve() {
    const char* const server = "the test HTTPS server";
    while (!m_stopping) {
        SOCKET c = accept(m_listen, nullptr, nullptr);
        if (c == INVALID_SOCKET) return;
        m_connection = c;
        if (m_stopping) shutdown(c, SD_BOTH);
        BoundServerWaits(c);
        SSL* ssl = SSL_new(static_cast<SSL_CTX*>(m_ctx));
        SSL_set_fd(ssl, (int)c);
        DWORD started = GetTickCount();
        if (SSL_accept(ssl) == 1) {
            std::string request;
            char buf[4096];
            while (request.find("\r\n\r\n") == std::string::npos) {
                started = GetTickCount();
                int n = SSL_read(ssl, buf, sizeof(buf));
                if (n <= 0) {
                    ServerWaitRanOut(started, server, "the request's head");
                    break;
                }
                request.append(buf, n);
            }
            // A request body (a form POST) is read before the answer.
            size_t headEnd = request.find("\r\n\r\n");
            size_t lengthAt = request.find("Content-Length:");
            if (headEnd != std::string::npos && lengthAt != std::string::npos && lengthAt < headEnd) {
                size_t wanted = headEnd + 4 + strtoul(request.c_str() + lengthAt + 15, nullptr, 10);
                while (request.size() < wanted) {
                    started = GetTickCount();
                    int n = SSL_read(ssl, buf, sizeof(buf));
                    if (n <= 0) {
                        ServerWaitRanOut(started, server, "the request's body");
                        break;
                    }
                    request.append(buf, n);
                }
            }
            // A client that judges the certificate after the hand-shake
            // closes without a request: nothing to answer then.
            if (headEnd != std::string::npos) {
                std::string body = m_responder(request.substr(0, request.find("\r\n")));
                std::string reply = "HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(body.size()) +
                                    "\r\nConnection: close\r\n\r\n" + body;
                SSL_write(ssl, reply.data(), (int)reply.size());
                ++m_answered;
            }
            SSL_shutdown(ssl);
        } else {
            // A client that refuses the certificate ends the hand-shake at once.
            ServerWaitRanOut(started, server, "the client's next hand-shake message");
        }
        SSL_free(ssl);
        m_connection = INVALID_SOCKET;
        closesocket(c);
    }
}
