#ifndef SKARN_CONNECTION_POOL_H
#define SKARN_CONNECTION_POOL_H

#include "../platform/core/SkarnExport.h"

#include <sys/socket.h>

#include <string>

class SkarnSocket;

// The process-wide pool of idle client connections, reached through
// SkrConnectionPoolFactory::getInstance(). Idle connections are kept per key,
// the server's "host:port" as the caller wrote it, and handed out oldest first.
//
// Ownership: every socket the pool hands out (getSocketConnection,
// openConnection, findIdleSocket, createSocket) belongs to the caller until
// the caller gives it up with the socket's release(), which brings a socket
// still marked reusable back here through returnSocket. The pool owns the
// sockets it holds idle.
//
// Virtual slots (binding for hosts): 0 destructor, 1-2 openConnection (by URL,
// by port and address), 3 findIdleSocket, 4-5 getSocketConnection (by URL, by
// host and port), 6 returnSocket, 7 createSocket. All pure.
class SKARN_EXPORT SkarnConnectionPool {
public:
    virtual ~SkarnConnectionPool();

    // A new connection for `key`: a socket from createSocket(secure), keyed,
    // then connected to the URL (or to port and address) with `options` as
    // its session configuration document. Connect failures pass unchanged.
    virtual SkarnSocket* openConnection(int secure, const char* url, const char* options, std::string key) = 0;
    virtual SkarnSocket* openConnection(int secure, int port, sockaddr_storage address, const char* options,
                                        std::string key) = 0;
    // The oldest idle socket of `key` that is alive and not too old, or null;
    // the dead and stale ones met on the way are deleted.
    virtual SkarnSocket* findIdleSocket(std::string key) = 0;
    // An idle connection to the URL's authority, else a new one. `options`
    // beginning with "forceNew" skips the idle ones and passes the rest on.
    virtual SkarnSocket* getSocketConnection(int secure, const char* url, const char* options) = 0;
    virtual SkarnSocket* getSocketConnection(int secure, const char* host, int port, const char* options) = 0;
    // Takes a socket back (time stamp, reuse counter), to be handed out again.
    virtual void returnSocket(SkarnSocket* theSocket) = 0;
    // An unconnected socket (1: secure, else plain) marked reusable.
    virtual SkarnSocket* createSocket(int secure) = 0;

protected:
    SkarnConnectionPool() = default;

private:
    SkarnConnectionPool(const SkarnConnectionPool&) = delete;
    SkarnConnectionPool& operator=(const SkarnConnectionPool&) = delete;
};

#endif
