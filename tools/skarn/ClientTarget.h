#ifndef SKARN_TOOL_CLIENT_TARGET_H
#define SKARN_TOOL_CLIENT_TARGET_H

#include "ToolError.h"

#include <string>

// Where a client connects and how: the URL and the session configuration
// document with the TLS settings and the connect and read limits, which the
// toolkit's sessions enforce.
class ClientTarget {
public:
    // Connect attempts and the pause between two of them, written into every document.
    static const int kConnectAttempts = 5, kConnectRetryPauseSeconds = 2;

    struct Tls {
        std::string caFile, certFile, keyFile;
        bool insecure = false;
        int handshakeSeconds = 0;  // 0: the toolkit's default
        int readTimeoutSeconds = 0;  // silence while a response is read; 0: none
        int connectTimeoutSeconds = 0;  // one connect attempt; 0: the system's
    };

    // ToolError Usage for a text the toolkit's URL class refuses (no
    // "scheme://host", a port that is not 1 to 65535), a scheme other than
    // http or https, a certificate
    // without its key (or the reverse) and unreadable files.
    ClientTarget(const std::string& url, const Tls& tls);

    const std::string& url() const { return m_url; }
    // "scheme://host[:port]", the port only when it is not the scheme's default.
    const std::string& origin() const { return m_origin; }
    // The path and query, "/" when the URL has none.
    const std::string& path() const { return m_path; }
    const std::string& document() const { return m_document; }
    // The authority, TLS and limits, for the words of a failure.
    const ToolError::Peer& peer() const { return m_peer; }

private:
    std::string m_url, m_origin, m_path, m_document;
    ToolError::Peer m_peer;
};

#endif
