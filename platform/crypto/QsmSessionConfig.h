#ifndef QSM_SESSION_CONFIG_H
#define QSM_SESSION_CONFIG_H

#include <string>

// What the secure-socket layer takes from a session configuration document
// (root <sessionConfigDocument>). Elements, each a plain text child of the
// root; when an element occurs more than once the last occurrence wins (the
// toolkit's own family and TLS setting take the place of the caller's, Own):
//   forceSSLStatus           ON: every connection of the handle is TLS (default OFF)
//   protocolFamily           IPv4 or IPv6: the socket's address family
//   serviceID                a name for the handle, shown in failure texts
//   certificateFile          PEM certificate (chain) presented to the peer
//   privateKeyFile           PEM private key of that certificate
//   caFile                   PEM trusted roots (default: the system store)
//   verifyPeer               ON/OFF; default ON for clients, OFF for listeners
//                            (a listener with ON requires a client certificate)
//   serverName               host name checked against the server certificate
//                            (default: the host of the URL, or the address)
//   handshakeTimeoutSeconds  bound of one TLS handshake (default 10)
//   connectTimeoutSeconds    bound of one TCP connect attempt (default 0: the system's)
// and, for the toolkit's client connections above this layer (this layer
// only checks them):
//   connectAttempts          connect attempts before giving up (default 5, 1..100)
//   connectRetryPauseSeconds pause between two attempts (default 2)
//   readTimeoutSeconds       longest silence while a response is read (default 0: none)
//   responseTimeoutSeconds   longest time for a whole response (default 0: none)
//
// The text is read with a small extractor, not an XML parser: no DOCTYPE is
// accepted, no entity but the five predefined ones is expanded, nothing is
// fetched. Unknown elements are ignored.
class QsmSessionConfig {
public:
    enum Family { FamilyUnspecified = 0, FamilyIPv4 = 4, FamilyIPv6 = 6 };

    bool forceSSL = false;
    Family family = FamilyUnspecified;
    std::string serviceID;
    std::string certificateFile;
    std::string privateKeyFile;
    std::string caFile;
    int verifyPeer = -1;  // -1: not given (the role decides), 0 OFF, 1 ON
    std::string serverName;
    int handshakeTimeoutSeconds = 10;
    int connectTimeoutSeconds = 0;
    int connectAttempts = 5;
    int connectRetryPauseSeconds = 2;
    int readTimeoutSeconds = 0;
    int responseTimeoutSeconds = 0;

    // What the toolkit decides for its own sockets, in place of what the
    // caller's document says: the address family of the target, and whether
    // a listener speaks TLS. The document's element is then not read at all.
    struct Own {
        Family family = FamilyUnspecified;  // unspecified: the document's
        int forceSSL = -1;                  // -1: the document's; 0 OFF, 1 ON
    };

    // Fills this object from `document`, then takes `own`. Returns false with
    // a reason in `error` when the document is not a session configuration
    // document or a value is not one the element accepts.
    bool parse(const char* document, std::string& error, const Own& own);
    bool parse(const char* document, std::string& error);

    // The settings that decide whom a TLS client trusts and is trusted as
    // (caFile, certificateFile, privateKeyFile, serverName, verifyPeer), as
    // one text: two documents open connections of the same trust exactly
    // when their texts are equal. The connection pool's kinds and the TLS
    // session cache's keys are both made from it.
    std::string trustText() const;

private:
    // The text of the last <name>...</name> in `doc` (entities decoded);
    // false when the element does not occur. `error` is set for a malformed one.
    static bool lastElement(const std::string& doc, const char* name, std::string& value, std::string& error);
    static bool onOff(const std::string& value, const char* name, bool& out, std::string& error);
    static bool number(const std::string& value, const char* name, long low, long high, int& out,
                       std::string& error);
};

#endif
