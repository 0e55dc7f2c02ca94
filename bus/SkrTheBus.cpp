#include "bus/SkrTheBus.h"

#include "api/SkarnException.h"
#include "bus/DOMAsciiString.h"
#include "conn/SkarnConnectionPool.h"
#include "conn/SkarnServerSocket.h"
#include "conn/SkrConnectionPoolFactory.h"
#include "net/SkarnSocket.h"
#include "platform/core/I18NString.h"
#include "platform/core/VexGuard.h"
#include "platform/core/VexIllegalArgumentError.h"
#include "platform/core/VexMacros.h"
#include "platform/crypto/QsmUrl.h"
#include "session/SkrServerSession.h"
#include "session/SkrSession.h"

#include <cstdlib>

// The public factory's one implementation is made here, so that the public
// classes know nothing of the layers that implement them.
Skarn* Skarn::getSessionFactory() { return VEX_GUARDED_NEW(nullptr, new SkrTheBus()); }

const char* SkrTheBus::getNamespaceURI() { return "http://skarn.invalid/mirra"; }

SkrTheBus::SkrTheBus() : m_namespace(nullptr), m_properties({"non-SSL-sockets", "QSMSSLServer"})
{
    m_namespace = VEX_GUARDED_NEW("SkrTheBus::SkrTheBus", new I18NString(getNamespaceURI()));
}

SkrTheBus::~SkrTheBus()
{
    delete m_namespace;
    m_namespace = nullptr;
}

void SkrTheBus::setProperty(const std::string& key, int value)
{
    setProperty(key, SkrPropertyTable::decimal(value));
}

void SkrTheBus::setProperty(const std::string& key, const std::string& value)
{
    if (!m_properties.set(key, value))
        VexIllegalArgumentError(0, nullptr).hurl(VEX_LOCATION, "SkrTheBus::setProperty", "VEX_THROW");
}

int SkrTheBus::secureFlag()
{
    return m_properties.getInt("non-SSL-sockets", 0) == 0 ? 1 : 0;
}

int SkrTheBus::serverSSLFlag()
{
    return (secureFlag() == 1 && m_properties.getInt("QSMSSLServer", 0) != 0) ? 1 : 0;
}

SkarnSession* SkrTheBus::getSession(char* url, char* options, int)
{
    // The URL is read before any connection is asked for: one that cannot be
    // used costs no connection.
    QsmUrl parsed;
    std::string reason;
    if (!parsed.parse(url, reason))
        SkarnException::raise(VEX_LOCATION, "SkrTheBus::getSession", SkarnException::errBadUrl,
                              {I18NString(url ? url : ""), I18NString(reason)});
    if (parsed.scheme != "http" && parsed.scheme != "https")
        SkarnException::raise(VEX_LOCATION, "SkrTheBus::getSession", SkarnException::errBadUrl,
                              {I18NString(url), I18NString("scheme '" + parsed.scheme + "' is not http or https")});
    int secure = secureFlag();
    SkarnSocket* socket = nullptr;
    try {
        socket = SkrConnectionPoolFactory::getInstance()->getSocketConnection(secure, url, options);
    } catch (VexThrowable& t) {
        VEX_RETHROW(t, "SkrTheBus::getSession");
    }
    SkrSession* session = nullptr;
    try {
        session = VEX_GUARDED_NEW("SkrTheBus::getSession", new SkrSession(this, socket, parsed.path.c_str()));
    } catch (...) {
        socket->release();
        throw;
    }
    session->setProperty("Host", parsed.hostHeader());
    return session;
}

SkarnSession* SkrTheBus::getSession(VexIDOM_Element& config, char* options, int reserved)
{
    DOMAsciiString host(config, *m_namespace, "host");
    DOMAsciiString port(config, *m_namespace, "port");
    DOMAsciiString path(config, *m_namespace, "path");
    return getSession(host.getValue(), std::atoi(port.getValue()), path.getValue(), options, reserved);
}

SkarnSession* SkrTheBus::getSession(const char* host, int port, const char* path, char* options, int)
{
    int secure = secureFlag();
    SkarnSocket* socket = nullptr;
    try {
        socket = SkrConnectionPoolFactory::getInstance()->getSocketConnection(secure, host, port, options);
    } catch (VexThrowable& t) {
        VEX_RETHROW(t, "SkrTheBus::getSession");
    }
    return VEX_GUARDED_NEW("SkrTheBus::getSession", new SkrSession(this, socket, path));
}

SkarnServerSocket* SkrTheBus::getServerSocket(char* serverAddr, int nPort, char* sessionConfigDoc)
{
    return SkarnServerSocket::getServerSocket(serverAddr, nPort, sessionConfigDoc, secureFlag(), serverSSLFlag());
}

SkarnServerSocket* SkrTheBus::getServerSocket(int nPort, char* sessionConfigDoc)
{
    return SkarnServerSocket::getServerSocket(nPort, sessionConfigDoc, secureFlag(), serverSSLFlag());
}

SkarnServerSession* SkrTheBus::getServerSession(SkarnSocket* socket)
{
    return VEX_GUARDED_NEW("SkrTheBus::getServerSession", new SkrServerSession(socket));
}

SkarnSocket* SkrTheBus::getSocket() { return SkrConnectionPoolFactory::getInstance()->createSocket(secureFlag()); }
