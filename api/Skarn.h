#ifndef SKARN_H
#define SKARN_H

#include "../platform/core/SkarnExport.h"

#include <string>

class SkarnSession;
class SkarnServerSession;
class SkarnServerSocket;
class SkarnSocket;
class VexIDOM_Element;

// The factory: the host's way to client sessions, server sockets, server
// sessions and bare sockets. getSessionFactory() makes a new factory on every
// call; the host deletes it. Everything a factory returns belongs to the caller.
//
// Virtual slots (binding for hosts): 0 destructor, 1 setProperty(key, int) (pure),
// 2 setProperty(key, text), 3-5 getSession (by URL, by configuration element,
// by host/port/path), 6 getServerSocket(address, port, document),
// 7 getServerSocket(port, document), 8 getServerSession, 9 getSocket.
// The bodies here raise SkarnException errNotSupported (message 1841854490).
class SKARN_EXPORT Skarn {
public:
    Skarn() = default;
    virtual ~Skarn();
    virtual void setProperty(const std::string& key, int value) = 0;
    virtual void setProperty(const std::string& key, const std::string& value);
    virtual SkarnSession* getSession(char* url, char* options, int reserved);
    virtual SkarnSession* getSession(VexIDOM_Element& config, char* options, int reserved);
    virtual SkarnSession* getSession(const char* host, int port, const char* path, char* options, int reserved);
    virtual SkarnServerSocket* getServerSocket(char* serverAddr, int nPort, char* sessionConfigDoc);
    virtual SkarnServerSocket* getServerSocket(int nPort, char* sessionConfigDoc);
    virtual SkarnServerSession* getServerSession(SkarnSocket* socket);
    virtual SkarnSocket* getSocket();

    // A new factory, owned by the caller.
    static Skarn* getSessionFactory();
};

#endif
