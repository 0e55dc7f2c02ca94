#ifndef QSM_SESSION_CACHE_H
#define QSM_SESSION_CACHE_H

#include "platform/crypto/QsmSessionConfig.h"

#include <openssl/ssl.h>

#include <string>

// The TLS sessions of the process's client connections, kept so that the next
// connection to the same server resumes one instead of running a full
// handshake (a host that cannot keep connections alive pays for the
// certificate chain, its verification and the key exchange once).
//
// Sessions are filed under a key made of everything that decided whom the
// connection trusted and how: the address and port connected to, the host
// name given for it, the name verified (serverName, or that host), and the
// document's trust settings (caFile, whether the peer is verified,
// certificateFile, privateKeyFile). A resumed session skips the certificate
// checks, so a session is only ever offered to a connection that would have
// made the same checks against the same server.
//
// Per key, up to SESSIONS_PER_KEY sessions, newest first. A connection takes
// the newest one out when it starts: a TLS 1.3 ticket serves one connection
// only (RFC 8446 appendix C.4; the server sends fresh ones on the resumed
// connection), a TLS 1.2 session goes back after it resumed. A server that
// refuses the session leaves the key with what its full handshake brings; a
// failed handshake empties the key. The keys are bounded (least recently used
// first out); 0 turns the cache off.
//
// Thread-safe: one lock over the table. OpenSSL reports new sessions on the
// thread that reads the connection (TLS 1.3 tickets arrive after the
// handshake, with the first bytes read).
class QsmSessionCache {
public:
    static const int DEFAULT_KEYS = 256;
    static const int SESSIONS_PER_KEY = 4;

    // The key of a client connection; `address` as QsmUrl::describe gives it.
    static std::string keyOf(const QsmSessionConfig& config, bool verifies, const std::string& address,
                             const std::string& host, const std::string& verifiedName);

    // Makes a client context report its new sessions here.
    static void enable(SSL_CTX* ctx);
    // Files `ssl` (a new client connection) under `key` and sets the newest
    // session of that key on it, if any; true when one was offered.
    static bool offer(SSL* ssl, const std::string& key);
    // After the handshake of a connection set up by offer(): a TLS 1.2
    // session that was resumed goes back; one the server refused is dropped
    // with the rest of the key's older sessions.
    static void handshakeDone(SSL* ssl, bool offered);
    // A failed handshake: the key's sessions go.
    static void handshakeFailed(SSL* ssl);

    // The bound on keys (0: no caching; the table is emptied to fit).
    static void setCapacity(int keys);
    static int capacity();
    // Sessions kept now, over all keys.
    static int size();
    // Drops every session (at library stop).
    static void clear();
};

#endif
