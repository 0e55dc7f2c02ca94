#ifndef SKR_THE_BUS_H
#define SKR_THE_BUS_H

#include "api/Skarn.h"
#include "session/SkrPropertyTable.h"

#include <string>

class I18NString;

// The factory behind Skarn::getSessionFactory(). It picks plain or secure
// transport from its properties at every call, takes client connections from
// the connection pool and wraps them in client sessions, and makes server
// sockets, server sessions and bare sockets. It keeps nothing it hands out.
//
// Properties (exact keys, decimal text):
//   "non-SSL-sockets"  non-zero: plain sockets everywhere; unset or 0: secure transport
//   "QSMSSLServer"     non-zero, with secure transport: server sockets accept TLS only
// Other keys raise VexIllegalArgumentError "SkrTheBus::setProperty".
// getSession by URL sets the session's "Host" property to the URL's host; an
// unparsable URL raises SkarnException errBadUrl (message 1841456247). The
// configuration-element form reads "host", "port", "path" in the bus
// namespace (getNamespaceURI) and raises errMissingConfigValue for a missing one.
// Pool failures pass with one more back-trace entry. One factory may be shared
// by threads.
class SkrTheBus : public Skarn {
public:
    SkrTheBus();
    ~SkrTheBus() override;
    SkrTheBus(const SkrTheBus&) = delete;
    SkrTheBus& operator=(const SkrTheBus&) = delete;

    void setProperty(const std::string& key, int value) override;
    void setProperty(const std::string& key, const std::string& value) override;
    SkarnSession* getSession(char* url, char* options, int reserved) override;
    SkarnSession* getSession(VexIDOM_Element& config, char* options, int reserved) override;
    SkarnSession* getSession(const char* host, int port, const char* path, char* options, int reserved) override;
    SkarnServerSocket* getServerSocket(char* serverAddr, int nPort, char* sessionConfigDoc) override;
    SkarnServerSocket* getServerSocket(int nPort, char* sessionConfigDoc) override;
    SkarnServerSession* getServerSession(SkarnSocket* socket) override;
    SkarnSocket* getSocket() override;

    // The namespace of configuration elements.
    static const char* getNamespaceURI();

private:
    int secureFlag();
    int serverSSLFlag();

    I18NString* m_namespace;
    SkrPropertyTable m_properties;
};

#endif
