#ifndef SKR_SERVER_SOCKET_H
#define SKR_SERVER_SOCKET_H

#include "conn/SkarnServerSocket.h"
#include "net/SkrSocket.h"

#include <vector>

// The server socket over the secure-socket library. Its SkrSocket part holds
// the listening handle (m_hQSMSocket) and the open flag; release() through
// either base closes it and deletes the object.
//
// open(address, port, document) resolves (a host that does not resolve falls
// back to every local address), writes forceSSLStatus (ON when the server-SSL
// flag is non-zero, else OFF) and protocolFamily into a copy of the document
// in place of any forceSSLStatus the caller gave, creates the handle, allows
// reuse of the local address, binds, reads back the port the system chose for
// port 0, and listens with a backlog of 20. A document without
// "</sessionConfigDocument>", or with "<forceSSLStatus>" but no
// "</forceSSLStatus>", is refused (errSocket) before the library sees it.
//
// Accepting negotiates TLS when the library asks for it (-15), with one budget
// of five repeats shared by the handshake (-23: call again) and the accept.
// A failed accept or handshake raises errSocket with the library's text; the
// listener stays open and the next call accepts the next connection.
//
// A TLS listener's accept with a time-out returns within that time whatever
// clients do: it takes connections before their handshake and runs the
// handshakes of up to 63 of them side by side without blocking; one that has
// not finished when the time is up stays pending for the next call (each is
// bounded by the document's handshakeTimeoutSeconds). Pending connections
// are closed with the listener.
class SkrServerSocket : public SkarnServerSocket, public SkrSocket {
public:
    SkrServerSocket();
    explicit SkrServerSocket(int serverSSL);
    ~SkrServerSocket() override;

    using SkarnServerSocket::open;
    void open(int nPort, char* sessionConfigDoc) override;
    void open(char* serverAddr, int nPort, char* sessionConfigDoc) override;
    SkarnSocket* awaitCommunicationAttempt(int nTimeout) override;
    SkarnSocket* awaitCommunicationAttempt() override;
    void release() override;

    // For a server runtime that takes the listener over (not virtual).
    void* listeningHandle() const { return m_hQSMSocket; }
    int serverSSL() const { return m_serverSSL; }

private:
    // An accepted connection under negotiation, with its peer.
    struct Pending {
        void* handle;
        sockaddr_storage peer;
    };

    SkarnSocket* accept(const char* function);
    SkarnSocket* acceptNegotiating(int seconds);
    // One handshake step on pending[i]: the secured socket, null while it goes on; a failure raises.
    SkarnSocket* stepHandshake(std::size_t i);
    SkarnSocket* wrapAccepted(void* handle, const sockaddr_storage& peer, const char* function);
    void closePending();
    [[noreturn]] void raiseCryptoError(const char* call, int result, const char* function);

    int m_serverSSL;
    bool m_deferring = false;  // the listener hands out connections before their handshake
    std::vector<Pending> m_pending;
};

#endif
