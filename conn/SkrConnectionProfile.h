#ifndef SKR_CONNECTION_PROFILE_H
#define SKR_CONNECTION_PROFILE_H

#include "net/SkarnSocket.h"

#include <string>

// What the connection pool reads from a request for a connection besides its
// key: the kind of connection it asks for and the limits it works under.
//
// Kind: the socket class (the factory's secure flag), the transport (TLS when
// the class is the secure-socket one and the document says forceSSLStatus ON
// or the URL's scheme is "https"; plain otherwise) and, for TLS, the trust
// settings of the document (caFile, certificateFile, privateKeyFile,
// serverName, verifyPeer). Two requests may share a pooled connection only
// when their kinds are equal texts: an https request never gets a plain
// connection, nor one opened with other trust. A document the secure-socket
// layer would refuse gives a kind of its own, its whole text, so it shares
// with nothing else.
//
// Limits: connectAttempts, connectRetryPauseSeconds, connectTimeoutSeconds,
// readTimeoutSeconds, responseTimeoutSeconds from the document (the
// defaults of SkarnSocket::Limits where it says nothing).
//
// A thread keeps the last profile it computed: a host that sends one
// document again and again has it read once.
class SkrConnectionProfile {
public:
    // `https`: the URL's scheme is https (false for the host-and-port form).
    // `document` may be null.
    static const SkrConnectionProfile& of(int secure, bool https, const char* document);

    const std::string& kind() const { return m_kind; }
    const SkarnSocket::Limits& limits() const { return m_limits; }

    // Gives the socket the kind and the limits.
    void applyTo(SkarnSocket& socket) const;

private:
    void compute(int secure, bool https, const char* document);

    std::string m_kind;
    SkarnSocket::Limits m_limits;
};

#endif
