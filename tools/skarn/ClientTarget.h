#ifndef SKARN_TOOL_CLIENT_TARGET_H
#define SKARN_TOOL_CLIENT_TARGET_H

#include <string>

// Where a client connects and how: the URL and the session configuration document with the TLS settings
// and the read time-out, which the toolkit's sessions enforce.
class ClientTarget {
public:
    struct Tls {
        std::string caFile, certFile, keyFile;
        bool insecure = false;
        int handshakeSeconds = 0;  // 0: the toolkit's default
        int readTimeoutSeconds = 0;  // silence while a response is read; 0: none
    };

    // ToolError Usage for a URL without "scheme://authority", an unknown
    // scheme, a certificate without its key (or the reverse) and unreadable files.
    ClientTarget(const std::string& url, const Tls& tls);

    const std::string& url() const { return m_url; }
    const std::string& document() const { return m_document; }

private:
    std::string m_url, m_document;
};

#endif
