#ifndef SKARN_TEST_SKARN_TEST_SERVER_H
#define SKARN_TEST_SKARN_TEST_SERVER_H

// A server loop as a host writes it, on the public headers only (a program
// linked to libskarn.so alone can use it): a factory's server socket, accept
// with a time-out, one thread per accepted connection, on it server sessions
// one request after another until the client closes the connection, asks to
// close it, or the handler says so.
//
//   SkarnTestServer server(SkarnTestServer::echo());          plain, a port the system picks
//   SkarnTestServer tls(SkarnTestServer::echo(), document);   TLS, certificate in the document
//   ... clients on server.port() ...
//   server.stop();   (or the destructor) stops accepting and joins every thread.
//
// Accepted connections are blocking sockets of the secure-socket library,
// whose reads neither time out nor take a cancel: a connection's thread ends
// when its client closes it, so tests close their client connections (the
// pool's destroyInstance) before stopping. SkarnProcessInitialize must have run.

#include <atomic>
#include <functional>
#include <list>
#include <mutex>
#include <string>
#include <thread>

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

    // `tlsDocument` empty: plain connections; else the session configuration
    // document (certificate and key) of a listener that accepts TLS only.
    explicit SkarnTestServer(Handler handler, const std::string& tlsDocument = "", int port = 0);
    ~SkarnTestServer();
    SkarnTestServer(const SkarnTestServer&) = delete;
    SkarnTestServer& operator=(const SkarnTestServer&) = delete;

    int port() const { return m_port; }
    int accepted() const { return m_accepted.load(); }
    // Waits (10 s at most) until `n` connections have been closed by this side.
    void awaitClosed(int n) const;
    void stop();

    // Sends back the request's envelope and attachments (content type, id,
    // bytes), with a content length when the request had one, else chunked;
    // closes after a request carrying "Connection: close".
    static Handler echo();

private:
    struct Connection {
        SkarnSocket* sock;
        std::thread thread;
        std::atomic<bool> done{false};
    };
    void acceptLoop();
    void serve(Connection* c);
    void reap(bool all);

    Handler m_handler;
    Skarn* m_factory = nullptr;
    SkarnServerSocket* m_listener = nullptr;
    int m_port = 0;
    std::atomic<bool> m_stop{false};
    std::atomic<int> m_accepted{0};
    std::atomic<int> m_closed{0};
    std::thread m_acceptor;
    std::mutex m_lock;
    std::list<Connection> m_connections;
};

// A SOAP envelope whose body holds one element m:Echo with `text`; owned by the caller.
VexIDOM_Document* soapEnvelope(const std::string& text);
// The node serialised as UTF-8.
std::string serialiseNode(const VexIDOM_Node& node);
// Every byte of a stream, to its end.
std::string readStream(QioInputStream& in);
// Reads from `fd` until the bytes read end with `mark`, the peer closes, or 10 s pass.
std::string readUntil(int fd, const std::string& mark);

#endif
