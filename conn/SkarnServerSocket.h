#ifndef SKARN_SERVER_SOCKET_H
#define SKARN_SERVER_SOCKET_H

#include "../platform/core/SkarnExport.h"

class SkarnSocket;

// A listening TCP port that turns each incoming connection into a connected
// SkarnSocket for a server session.
//
// Calling order: getServerSocket (which opens: binds and listens), then
// awaitCommunicationAttempt in a loop, then release(). Each accepted socket
// belongs to the caller (release() or delete it); the server socket belongs to
// the caller of getServerSocket until its release(). One accepting thread per
// server socket; the accepted sockets may go to other threads.
//
// Whether connections are TLS is decided by the session configuration
// document: the server socket writes forceSSLStatus ON or OFF into it (from
// `serverSSL`), whatever the caller's document said. A TLS listener needs a
// certificate: pass a document with certificateFile and privateKeyFile (they
// are kept); with the default document open fails at QSM_Listen.
//
// Virtual slots (binding for hosts): 0 destructor, 1-4 open (port; address and
// port; port and document; address, port and document), 5-6
// awaitCommunicationAttempt (with a time-out in seconds; without), 7 release
// (pure). The bodies here raise SkarnException errNotSupported (1841854490).
class SKARN_EXPORT SkarnServerSocket {
public:
    virtual ~SkarnServerSocket();

    virtual void open(int nPort);
    virtual void open(char* serverAddr, int nPort);
    virtual void open(int nPort, char* sessionConfigDoc);
    virtual void open(char* serverAddr, int nPort, char* sessionConfigDoc);
    // The next connection, waiting at most `nTimeout` seconds (0: without
    // limit); null when none came in time. Owned by the caller. On a TLS
    // listener a client whose handshake has not finished does not hold it:
    // that handshake goes on at the next call.
    virtual SkarnSocket* awaitCommunicationAttempt(int nTimeout);
    virtual SkarnSocket* awaitCommunicationAttempt();
    // Closes the listening socket and deletes this object.
    virtual void release() = 0;

    // The port listened on: the one asked for, or the one the system chose
    // for port 0; 0 before open.
    int getListenOnPort() { return m_listenOnPort; }

    // A listening server socket on `nPort` (0: any free port) of every local
    // address, or of `serverAddr` (an address that does not resolve: of every
    // local address). `sessionConfigDoc` null or empty: the default document
    // for `serverSSL` (non-zero: TLS). `secureTransport` is not used: listening
    // sockets always go through the secure-socket library.
    // Failures: VexUnexpectedError "cannot open Crypto lib" before the library
    // is initialised; SkarnException errNoAddress (1841617768) when nothing
    // resolves or the port is outside 0..65535; errSocket (1841392216) with the
    // library's text when the document is refused or binding, listening fails.
    static SkarnServerSocket* getServerSocket(int nPort, char* sessionConfigDoc, int secureTransport, int serverSSL);
    static SkarnServerSocket* getServerSocket(char* serverAddr, int nPort, char* sessionConfigDoc,
                                              int secureTransport, int serverSSL);

protected:
    SkarnServerSocket() = default;

    int m_listenOnPort = 0;

private:
    SkarnServerSocket(const SkarnServerSocket&) = delete;
    SkarnServerSocket& operator=(const SkarnServerSocket&) = delete;
};

#endif
