#ifndef SKARN_TEST_LOOPBACK_PEER_H
#define SKARN_TEST_LOOPBACK_PEER_H

// In-process TCP peers on loopback (127.0.0.1 or ::1) for end-to-end tests,
// over raw descriptors, for peers that misbehave below the toolkit's sockets
// (for TLS peers and servers on the toolkit's own server socket see
// SkarnTestServer.h).
//
// A LoopbackPeer listens on a port the system picks and serves each accepted
// connection with the handler on a thread of its own (connections held open
// at once, as a pool holds them); the descriptor is closed when the handler
// returns. Every wait inside is bounded
// (polls of 50 ms that look at the stop flag), and the destructor stops and
// joins, so a test that fails half-way leaves no thread or descriptor behind.
//
//   LoopbackPeer peer(LoopbackPeer::IPv4, LoopbackPeer::echo());
//   socket.Open(peer.url().c_str(), nullptr);          // "http://127.0.0.1:<port>/"
//   socket.Open(peer.port(), peer.address(), nullptr);
//
// Canned handlers: echo (sends back what it reads), silent (reads, never
// sends), resetAfter (reads n bytes, then resets the connection),
// sendThenClose, and readThenSend (reads n bytes, answers, then closes
// without reading more).

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <atomic>
#include <functional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

class LoopbackPeer {
public:
    enum Family { IPv4, IPv6 };
    // Serves one connection; `stop` turns true when the peer is being stopped.
    using Handler = std::function<void(int fd, const std::atomic<bool>& stop)>;

    LoopbackPeer(Family family, Handler handler);
    ~LoopbackPeer() { stop(); }
    LoopbackPeer(const LoopbackPeer&) = delete;
    LoopbackPeer& operator=(const LoopbackPeer&) = delete;

    int port() const { return m_port; }
    // "http://127.0.0.1:<port><path>" or "http://[::1]:<port><path>".
    std::string url(const char* path = "/") const;
    // The listening address (port included, network byte order).
    sockaddr_storage address() const { return m_address; }
    // Connections accepted so far.
    int accepted() const { return m_accepted.load(); }
    // Stops accepting, tells the handler to stop, joins. Idempotent.
    void stop();

    static Handler echo();
    static Handler silent();
    static Handler resetAfter(std::size_t bytes);
    static Handler sendThenClose(std::string bytes);
    static Handler readThenSend(std::size_t bytes, std::string reply);

    // Helpers for handlers: wait up to the stop flag for readability (true:
    // readable); send everything (false when the peer went away).
    static bool waitReadable(int fd, const std::atomic<bool>& stop);
    static bool sendAll(int fd, const char* bytes, std::size_t length);

    // A connected pair of raw descriptors on loopback: first the connecting
    // end, then the accepted one. Both owned by the caller.
    static std::pair<int, int> connectedPair(Family family);
    // A port on which nothing listens (bound once, then released).
    static int unusedPort(Family family);

private:
    Handler m_handler;
    int m_listener = -1;
    int m_port = 0;
    Family m_family;
    sockaddr_storage m_address{};
    std::atomic<bool> m_stop{false};
    std::atomic<int> m_accepted{0};
    std::thread m_thread;
    std::vector<std::thread> m_workers;  // touched by the accepting thread, then by stop()
};

// 127.0.0.1:<port>, or [::1]:<port> when `ipv6`; the port in network byte order.
sockaddr_storage loopbackAddress(int port, bool ipv6 = false);

// The number of descriptors the process has open (/proc/self/fd).
int openDescriptorCount();

// A host name that does not resolve, refused by the system's resolver itself
// (one label longer than 63 characters) so that no name server is asked.
// Tests use it, never an invented name, because any other unknown name would
// send a query off this machine.
extern const char* const kUnresolvableHost;

#endif
