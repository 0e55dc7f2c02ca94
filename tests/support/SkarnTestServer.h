#ifndef SKARN_TEST_SKARN_TEST_SERVER_H
#define SKARN_TEST_SKARN_TEST_SERVER_H

// The loopback server of the tests, as a host writes it on the public headers
// only: a factory's server socket on 127.0.0.1 (plain, or TLS with a
// listener's document), accept with a time-out, a thread per connection. Each
// connection is served either as server sessions, one request after another
// until the client closes or asks to close or the handler says so, or as a raw
// socket handed to a SocketHandler. Accepted sockets block in reads that no
// time-out or cancel ends: tests close their client connections (the pool's
// destroyInstance) before the server goes. For raw peers that misbehave
// (silence, resets), see LoopbackPeer.

#include "support/ReadStream.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>
#include <thread>
#include <vector>

class QioInputStream;
class Skarn;
class SkarnServerSession;
class SkarnServerSocket;
class SkarnSocket;
class VexIDOM_Document;
class VexIDOM_Node;

class SkarnTestServer {
public:
    // Answers one request on `session`; false closes the connection afterwards.
    using Handler = std::function<bool(SkarnServerSession& session)>;
    // Serves one connection on its accepted socket, which is closed afterwards.
    using SocketHandler = std::function<void(SkarnSocket& socket)>;

    // `tlsDocument` empty: plain; else the session configuration document
    // (certificate, key) of a listener that accepts TLS only. Port 0: any.
    explicit SkarnTestServer(Handler handler, const std::string& tlsDocument = "", int port = 0);
    explicit SkarnTestServer(SocketHandler handler, const std::string& tlsDocument = "");
    // Stops accepting and joins every thread.
    ~SkarnTestServer();
    SkarnTestServer(const SkarnTestServer&) = delete;
    SkarnTestServer& operator=(const SkarnTestServer&) = delete;

    int port() const { return m_port; }
    int accepted() const { return m_accepted.load(); }
    // Waits (10 s at most) until `n` connections have been closed by this side.
    void awaitClosed(int n) const;

    // Sends back envelope and attachments, framed as the request (length or
    // chunks); closes after a request carrying "Connection: close".
    static Handler echo();

private:
    void start(const std::string& tlsDocument, int port);
    void acceptLoop();
    void serve(SkarnSocket* sock);

    Handler m_handler;
    SocketHandler m_socketHandler;
    Skarn* m_factory;
    SkarnServerSocket* m_listener;
    int m_port;
    std::atomic<bool> m_stop{false};
    std::atomic<int> m_accepted{0}, m_closed{0};
    std::thread m_acceptor;
    std::vector<std::thread> m_threads;  // one per connection, the accepting thread's only
};

// A SOAP envelope whose body holds one element m:Echo with `text`; the caller's.
VexIDOM_Document* soapEnvelope(const std::string& text);
std::string serialiseNode(const VexIDOM_Node& node);
void writeAll(SkarnSocket& s, const std::string& bytes);
// Reads from `fd` until the bytes read end with `mark`, the peer closes, or 10 s pass.
std::string readUntil(int fd, const std::string& mark);

#endif
