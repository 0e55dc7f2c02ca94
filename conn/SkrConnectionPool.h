#ifndef SKR_CONNECTION_POOL_H
#define SKR_CONNECTION_POOL_H

#include "conn/SkarnConnectionPool.h"
#include "platform/core/VexThreadCriticalSection.h"

#include <list>
#include <map>
#include <string>

class VexUrl;

// The connection pool (see SkarnConnectionPool for the contract).
//
// Keys: a URL gives the text between "://" and the next "/" exactly as
// written ("http://srv:9300/a" and "https://srv:9300" give "srv:9300"; "SRV:9300"
// and "srv" are other keys); a host and port give "host:port". A URL without
// "://" or with an empty authority, and a port outside 1..65535, raise
// VexAssertError.
//
// Idle sockets: a list per key in the order they were given back. A request
// (getSocketConnection) takes the oldest one of its own kind
// (SkrConnectionProfile: the socket class, plain or TLS, and for TLS the trust
// settings of the document that opened it) and deletes each one of that kind
// met that is not alive (closed by the peer, or with any byte waiting unread:
// isAlive) or whose idle time (now - its time stamp, VexHighResolutionTime
// milliseconds) is not below the connection time-out. findIdleSocket(key)
// called directly takes any kind. Every socket handed out gets the limits of
// the request's document (SkarnSocket::Limits). There is no limit per key and
// no sweeping in the background. The lock guards the index and covers each
// whole lookup; a socket given back is stamped before the lock is taken.
//
// Configuration, read once at construction from
// "../configuration/Skarn_Config.xml" (resolved under SKARN_HOME) through the
// safe DOM parser (a DOCTYPE or entity declaration makes the parse fail):
//   SKARN_CONNECTION_TIMEOUT  idle limit in milliseconds (default 25000;
//                             0: nothing is reused; negative: no limit)
//   SKARN_SOCKET_TCP_NODELAY  the process-wide switch skarnTcpNoDelay
//                             (default 1; 0: TCP_NODELAY off for every
//                             connection made or accepted afterwards)
// A missing or unparsable file, or a missing or empty element, gives the default.
//
// Beyond taking sockets back: a socket given back with an empty key (a bare
// socket from createSocket) is closed and deleted; the destructor closes and
// deletes the idle sockets still held.
class SkrConnectionPool : public SkarnConnectionPool {
public:
    enum { DEFAULT_CONNECTION_TIMEOUT = 25000 };

    SkrConnectionPool();
    ~SkrConnectionPool() override;

    SkarnSocket* openConnection(int secure, const char* url, const char* options, std::string key) override;
    SkarnSocket* openConnection(int secure, int port, sockaddr_storage address, const char* options,
                                std::string key) override;
    SkarnSocket* findIdleSocket(std::string key) override;
    SkarnSocket* getSocketConnection(int secure, const char* url, const char* options) override;
    SkarnSocket* getSocketConnection(int secure, const char* host, int port, const char* options) override;
    void returnSocket(SkarnSocket* theSocket) override;
    SkarnSocket* createSocket(int secure) override;

    int getConnectionTimeout() const { return m_connectionTimeout; }

protected:
    static std::string urlKey(const VexUrl& url);
    static std::string hostPortKey(const char* host, int port);
    static bool isHttps(const char* url);

private:
    class HostRecord;
    // Reads the configuration file; the defaults stay for what it lacks.
    void readConfiguration();
    // Null unless `options` begins with "forceNew"; then the text after it.
    static const char* forcedOptions(const char* options);
    // The oldest idle socket of `key` that is alive, young enough and, when
    // `kind` is given, of that kind; others of the kind met on the way are
    // deleted, those of other kinds stay.
    SkarnSocket* takeIdle(const std::string& key, const std::string* kind);
    // takeIdle for the kind of a request (SkrConnectionProfile); the socket
    // found gets the request's limits.
    SkarnSocket* takeIdleFor(const std::string& key, int secure, bool https, const char* options);

    std::map<std::string, std::list<SkarnSocket*>> m_index;
    VexThreadCriticalSection m_lock{0};
    int m_connectionTimeout = DEFAULT_CONNECTION_TIMEOUT;
};

#endif
