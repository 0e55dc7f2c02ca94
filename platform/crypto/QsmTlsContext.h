#ifndef QSM_TLS_CONTEXT_H
#define QSM_TLS_CONTEXT_H

#include "platform/crypto/QsmSessionConfig.h"

#include <openssl/ssl.h>

#include <string>

// The OpenSSL contexts of the secure-socket layer, one per distinct setting
// (role, certificate, key, trusted roots, verification), made on first use and
// kept for the life of the process's library start, since loading a trust
// store costs far more than a handshake. TLS 1.2 is the lowest version offered
// or accepted. Client contexts file their sessions in QsmSessionCache; server
// contexts resume with OpenSSL's own session cache and tickets.
class QsmTlsContext {
public:
    enum Role { Client, Server };

    // A context for `config` in `role`, with one reference that the caller
    // owns (SSL_CTX_free). Null with a reason in `error` when a file cannot be
    // loaded or the key does not match the certificate.
    static SSL_CTX* acquire(Role role, const QsmSessionConfig& config, std::string& error);

    // Whether peers are verified for this role and configuration.
    static bool verifies(Role role, const QsmSessionConfig& config);

    // Drops every cached context and the client sessions kept for resumption
    // (at library stop); handles that still hold a context keep it alive
    // through their own reference.
    static void clear();

    // The OpenSSL error queue of this thread as one text ("reason; reason"), emptied.
    static std::string drainErrors();
};

#endif
