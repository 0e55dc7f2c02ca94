#ifndef SKARN_SERVER_RUNTIME_H
#define SKARN_SERVER_RUNTIME_H

#include "../platform/core/SkarnExport.h"
#include "SkarnServerHandler.h"

#include <memory>
#include <string>

class SkarnServerSocket;
class SkrServerRuntime;

// A server that holds many connections: it accepts, negotiates TLS, keeps
// idle keep-alive connections, gathers each request head, answers what
// cannot carry an envelope, and hands each request to the host's handler on
// a worker thread with a server session whose request is readable and whose
// response is writable, exactly as getServerSession gives one.
//
//   struct Echo : SkarnServerHandler {
//       void serve(SkarnServerSession& s, SkarnServerExchange& e) override { ... }
//   } echo;
//   SkarnServerRuntime server(echo, SkarnServerRuntime::Limits());
//   server.listen("127.0.0.1", 8080, nullptr, 0);
//   server.run();        // until stop() (from any thread or a signal handler)
//
// Threads: one event loop (epoll) holds every connection that is not in a
// request: idle ones, ones under TLS negotiation, ones whose head trickles
// in; they cost no thread. A worker is taken only when a head is complete
// (and a small body, up to Limits::gatherBodyBytes, is gathered); the
// gathered bytes are given back to the connection's input stream, so the
// message reader reads them as from the wire.
//
// Answered by the runtime, never reaching the handler (a short plain-text
// body, no internal names): GET or HEAD on Limits::healthPath 200; any
// other method 405 with "Allow: POST"; a POST without Content-Length or
// chunking 411; a malformed head, two different Content-Length values, or
// Transfer-Encoding beside Content-Length 400; a head or small body not
// gathered within headTimeoutSeconds 408; a body above maxBodyBytes 413; a
// head above headLimitBytes 431; a version other than HTTP/1.0 or 1.1 505.
// A body that fails to read in the worker (bad chunking) gets 400, one that
// comes slower than bodyMinBytesPerSecond 408, when the handler has not
// begun a response. The handler answers envelope problems itself (SOAP
// faults); an exception it lets go before it began a response gets a SOAP
// Server fault (500) without internal names.
//
// Ownership: the runtime owns its listening socket, the connections and
// the sessions it hands to the handler (the handler must not release them).
// The handler object is the host's and must outlive run().
class SKARN_EXPORT SkarnServerRuntime {
public:
    struct Limits {
        // Open connections at most; one more is accepted and closed at once
        // (refuseOverLimit, counted), or waits in the listen queue until a
        // connection ends (false).
        int maxConnections = 10000;
        bool refuseOverLimit = true;
        int idleTimeoutSeconds = 30;       // a kept-alive connection with no request
        int headTimeoutSeconds = 10;       // from a request's first byte to its gathered head (408)
        int handshakeTimeoutSeconds = 10;  // TLS negotiation of a new connection
        int headLimitBytes = 64 * 1024;    // 431 above
        int gatherBodyBytes = 64 * 1024;   // body gathered before a worker is taken
        long long maxBodyBytes = 64LL * 1024 * 1024;  // Content-Length above: 413
        int bodyMinBytesPerSecond = 1024;  // a body's reads in the worker, after headTimeoutSeconds of grace
        int writeTimeoutSeconds = 30;      // a response write waiting on a peer that does not read
        int writeMinBytesPerSecond = 1024; // over all such waits of one response
        int maxRequestsPerConnection = 0;  // 0: no limit; the last response says "Connection: close"
        int workers = 0;                   // 0: four per core (at least four); 1: the loop's thread serves
        int drainSeconds = 10;             // stop(): in-flight exchanges finish within this
        std::string healthPath = "/health";
    };

    // A snapshot; open = idle + handshaking + reading + active. It is read
    // counter by counter: a connection changing state at that moment may be
    // missed in it.
    struct Counters {
        unsigned long long open = 0, idle = 0, handshaking = 0, reading = 0, active = 0;
        unsigned long long accepted = 0, requests = 0, faults = 0, edgeAnswers = 0, refused = 0;
        unsigned long long idleTimeouts = 0, headTimeouts = 0, handshakeTimeouts = 0, bodyTimeouts = 0,
                           writeTimeouts = 0, handshakeFailures = 0;
    };

    using Exchange = SkarnServerExchange;
    using Handler = SkarnServerHandler;

    SkarnServerRuntime(Handler& handler, const Limits& limits);
    // Closes the listener and every connection; run() must have returned
    // (or never been called).
    ~SkarnServerRuntime();
    SkarnServerRuntime(const SkarnServerRuntime&) = delete;
    SkarnServerRuntime& operator=(const SkarnServerRuntime&) = delete;

    // Opens the listener on `address` (null: every local address) and
    // `port` (0: any free one) with the system's largest backlog; TLS when
    // `serverSSL` is non-zero (the document then names certificateFile and
    // privateKeyFile). Returns the port. Failures as the factory's
    // getServerSocket raises them (SkarnException errSocket, errNoAddress).
    int listen(const char* address, int port, const char* sessionConfigDoc, int serverSSL);
    // Or a listening server socket the host opened (made by the factory);
    // the runtime owns it from now on. Returns its port.
    int listen(SkarnServerSocket* socket);

    // Serves until stop(); then stops accepting, closes idle connections,
    // lets in-flight exchanges finish within drainSeconds, closes the rest,
    // joins the workers and returns.
    void run();
    // Async-signal-safe: asks run() to stop.
    void stop();
    Counters counters() const;

private:
    std::unique_ptr<SkrServerRuntime> m_impl;
};

#endif
