// Ends the way the program ends, after a share-link resolution has set up
// libcurl and OpenSSL, and says whether OpenSSL cleaned itself up from the
// C run-time's exit handlers: the handler registered here first runs after
// any that the libraries registered later, while other threads of the
// program could still be inside a TLS call.
//   tls_exit.exe   exit code 0: OpenSSL still usable at that point; 3: it had
//                  cleaned up; anything else: the probe never ran.
#include <windows.h>

#include <openssl/crypto.h>
#include <stdlib.h>

#include "core/share_link.h"

namespace {

void Probe() {
    // After its clean-up OpenSSL refuses to start again.
    _exit(OPENSSL_init_crypto(0, nullptr) ? 0 : 3);
}

}  // namespace

int wmain() {
    atexit(Probe);
    CString direct;
    // Nothing listens there: the resolution fails, libcurl and OpenSSL are set up.
    ShareLinkResolver(L"http://127.0.0.1:9/s/1AbC", direct);
    return 4;
}
