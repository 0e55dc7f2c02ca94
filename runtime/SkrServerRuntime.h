#ifndef SKR_SERVER_RUNTIME_H
#define SKR_SERVER_RUNTIME_H

#include "runtime/SkarnServerRuntime.h"
#include "runtime/SkrRequestHead.h"

#include <sys/epoll.h>
#include <sys/socket.h>

#include <atomic>
#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <unordered_set>
#include <vector>

class SkrServerSocket;
class SkrSocket;
class VexCrypto;

// The server runtime behind SkarnServerRuntime: an event loop that owns
// every connection while it is not with a worker, and the worker threads.
// The loop runs on one thread at a time, whichever leads: when it finds a
// complete request and another thread waits, it serves the request itself
// (leader and followers), so a request meets no hand-over between threads;
// further requests of the same turn queue for waiting threads. The leader
// keeps the loop while it serves: one waiting thread watches with a short
// timed wait and takes the loop over when the leader stays away longer than
// a few milliseconds, so a kept-alive exchange wakes no other thread and a
// long request delays the others' events by those milliseconds at most.
//
// A connection's states and who holds it:
//   Handshaking  loop   TLS negotiation, non-blocking, deadline handshakeTimeoutSeconds
//   Idle         loop   no byte of a next request yet, deadline idleTimeoutSeconds
//   Reading      loop   a head (and small body) arriving, deadline headTimeoutSeconds
//   Busy         worker the handler serves the request; then the worker re-arms a
//                       kept-alive connection itself (Rearming, then Idle), or hands
//                       it back through the returned queue and the wake-up descriptor
//                       (to close it, or when bytes of a next request wait)
//   Lingering    loop   answered and closing: its write side is shut and what the
//                       client still sends is read and dropped for a moment, so
//                       that the answer is not lost to a reset
// Only the loop deletes connections; a worker touches only the connection
// it was given, and none after re-arming it.
class SkrServerRuntime {
public:
    SkrServerRuntime(SkarnServerRuntime::Handler& handler, const SkarnServerRuntime::Limits& limits);
    ~SkrServerRuntime();
    SkrServerRuntime(const SkrServerRuntime&) = delete;
    SkrServerRuntime& operator=(const SkrServerRuntime&) = delete;

    int listen(const char* address, int port, const char* sessionConfigDoc, int serverSSL);
    int listen(SkrServerSocket* socket, bool ownBacklog);
    void run();
    void stop();
    SkarnServerRuntime::Counters counters() const;

private:
    // Rearming: a worker hands a kept-alive connection back to the loop's
    // watch itself (without waking the loop); for those few instructions the
    // loop neither deletes nor reads it. Pending: an event came meanwhile;
    // the worker's last step (its exchange to Idle) sees it and passes the
    // connection to the loop through the deferred list, touching it no more.
    enum State { Handshaking, Idle, Reading, Busy, Lingering, Rearming, Pending, StateCount };
    struct Connection {
        std::atomic<State> state{Idle};
        void* handle = nullptr;  // the library handle while handshaking; then the socket's
        std::unique_ptr<SkrSocket> socket;
        int fd = -1;
        unsigned events = 0;  // registered with epoll (0: not registered)
        bool registered = false;
        sockaddr_storage peer{};
        std::string peerText;
        std::string gathered;  // bytes of the next request read by the loop
        std::size_t scanned = 0;  // where the search for the head's end stopped
        std::size_t dropped = 0;  // lingering: bytes read and dropped
        bool headDone = false;
        SkrRequestHead head;
        std::atomic<long long> deadline{0};
        int requests = 0;
        bool keep = false;  // set by the worker: the connection may carry another request
        std::atomic<bool> forced{false};  // drain over: shut down under its worker
        long long start = 0;  // exchange start (ms)
        unsigned long long in0 = 0, out0 = 0;  // byte counts at the exchange's start
    };

    void adopt(SkrServerSocket* socket, bool ownBacklog);
    void acceptSome(long long now);
    void pauseListener(bool paused);
    bool queued();  // requests wait in the queue
    void startConnection(void* handle, const sockaddr_storage& peer, long long now);
    void onEvent(Connection* c, unsigned events, long long now);
    void stepHandshake(Connection* c, long long now);
    void secured(Connection* c, long long now);
    void gather(Connection* c, long long now);
    void evaluate(Connection* c, bool ended, long long now);
    void answer(Connection* c, int status, bool keep, long long now);
    void dispatch(Connection* c, long long now);
    void takeReturned(long long now);
    void linger(Connection* c, long long now);
    void close(Connection* c);
    void sweep(long long now);
    void beginDrain(long long now);
    void setState(Connection* c, State state);
    void arm(Connection* c, unsigned events);
    void startIdle(Connection* c, long long now);
    // Deadline, head search and byte counts for the connection's next request.
    void awaitNext(Connection* c, long long now);
    // Wakes the loop (returned connections, stop()); async-signal-safe.
    void wake();
    void report(SkarnServerRuntime::Exchange& exchange);

    // A thread of the runtime: it waits, then leads the loop or serves a
    // queued request.
    void participate();
    // Runs the loop until it finds a request for this thread (returned) or
    // the run ends (null). `away`: the turn under which this thread still
    // holds the loop while it serves (0: the loop went to another thread).
    Connection* lead(unsigned long long& away);
    void serve(Connection& c);
    // After serve(): back under the loop's watch, or to the loop.
    void handBack(Connection* c);

    SkarnServerRuntime::Handler& m_handler;
    SkarnServerRuntime::Limits m_limits;
    VexCrypto* m_crypto;
    SkrServerSocket* m_listener = nullptr;  // owned
    void* m_listenHandle = nullptr;
    int m_listenFd = -1;
    bool m_tls = false;
    bool m_listenerPaused = false;
    long long m_resumeListenerAt = 0;  // after a failed accept (no descriptors left)
    int m_epoll = -1;
    int m_wake = -1;  // eventfd: workers' returns and stop()
    std::unordered_set<Connection*> m_connections;
    std::atomic<bool> m_stopRequested{false};
    std::atomic<bool> m_draining{false};
    long long m_drainDeadline = 0;
    bool m_forcing = false;

    std::vector<std::thread> m_workers;
    std::mutex m_queueLock;
    std::condition_variable m_queueReady;
    std::deque<Connection*> m_queue;
    bool m_workersStop = false;
    bool m_hasLeader = false;  // a thread runs the loop (under m_queueLock)
    int m_waiting = 0;         // threads waiting for work or the loop (under m_queueLock)
    bool m_watcher = false;    // a waiting thread watches with a timed wait (under m_queueLock)
    bool m_leaderAway = false; // the leader serves its own request and keeps the loop (under m_queueLock)
    long long m_awaySince = 0; // since when (ms)
    unsigned long long m_turns = 0, m_awayTurn = 0;  // which leaving that was (under m_queueLock)
    Connection* m_mine = nullptr;  // the loop's request for its own thread
    std::vector<epoll_event> m_events = std::vector<epoll_event>(256);  // what one epoll_wait reports (the leader's)
    long long m_lastSweep = 0;
    std::mutex m_returnLock;
    std::vector<Connection*> m_returned;
    std::vector<Connection*> m_deferred;  // re-armed while an event came (under m_returnLock)

    std::atomic<unsigned long long> m_inState[StateCount] = {};
    std::atomic<unsigned long long> m_accepted{0}, m_requests{0}, m_faults{0}, m_edgeAnswers{0}, m_refused{0},
        m_idleTimeouts{0}, m_headTimeouts{0}, m_handshakeTimeouts{0}, m_bodyTimeouts{0}, m_writeTimeouts{0},
        m_handshakeFailures{0};
};

#endif
