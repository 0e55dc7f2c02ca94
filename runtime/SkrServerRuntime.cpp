#include "runtime/SkrServerRuntime.h"

#include "conn/SkrServerSocket.h"
#include "net/SkrSocket.h"
#include "platform/core/VexThrowable.h"
#include "platform/crypto/QsmUrl.h"
#include "platform/crypto/VexCrypto.h"
#include "platform/streams/QioIOTimeoutException.h"
#include "session/SkrServerSession.h"

#include <netinet/in.h>
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <system_error>

namespace {

// Tags of the two descriptors that are not connections.
char kListenerTag, kWakeTag;

const int kLargestBacklog = 65535;  // the kernel takes its own maximum (somaxconn) for anything larger
const int kTickMillis = 250;        // time-outs are looked at this often
// A leader serving its own request keeps the loop; a waiting thread takes the
// loop over when the leader has been away this long (and checks this often).
const int kTakeoverMillis = 5;
const int kLingerMillis = 2000;     // a closing connection's unread bytes are dropped for this long
const std::size_t kLingerBytes = 1 << 20;
const int kAcceptsPerWake = 64;
const std::size_t kKeptBuffer = 4096;  // a connection keeps a gathering buffer this small between requests

long long nowMillis()
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

int defaultWorkers()
{
    const unsigned cores = std::thread::hardware_concurrency();
    return std::max(4, static_cast<int>(cores) * 4);
}

}  // namespace

SkrServerRuntime::SkrServerRuntime(SkarnServerRuntime::Handler& handler, const SkarnServerRuntime::Limits& limits)
    : m_handler(handler), m_limits(limits), m_crypto(VexCryptoSharedFactory::getInstance())
{
    if (m_limits.workers <= 0)
        m_limits.workers = defaultWorkers();
    m_wake = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    m_epoll = ::epoll_create1(EPOLL_CLOEXEC);
    if (m_wake < 0 || m_epoll < 0)
        throw std::system_error(errno, std::generic_category(), "SkrServerRuntime: epoll or eventfd");
}

SkrServerRuntime::~SkrServerRuntime()
{
    const std::vector<Connection*> open(m_connections.begin(), m_connections.end());
    for (Connection* c : open)
        close(c);
    if (m_listener)
        m_listener->release();
    ::close(m_epoll);
    ::close(m_wake);
}

int SkrServerRuntime::listen(const char* address, int port, const char* sessionConfigDoc, int serverSSL)
{
    std::string host = address ? address : "";
    std::string document = sessionConfigDoc ? sessionConfigDoc : "";
    SkarnServerSocket* socket = SkarnServerSocket::getServerSocket(address ? &host[0] : nullptr, port,
                                                                   document.empty() ? nullptr : &document[0], 1,
                                                                   serverSSL);
    return listen(static_cast<SkrServerSocket*>(socket), true);
}

int SkrServerRuntime::listen(SkrServerSocket* socket, bool ownBacklog)
{
    if (m_listener) {
        ::epoll_ctl(m_epoll, EPOLL_CTL_DEL, m_listenFd, nullptr);
        m_listener->release();
    }
    m_listener = socket;
    adopt(socket, ownBacklog);
    return socket->getListenOnPort();
}

void SkrServerRuntime::adopt(SkrServerSocket* socket, bool ownBacklog)
{
    m_listenHandle = socket->listeningHandle();
    m_tls = socket->serverSSL() != 0;
    const int on = 1;
    m_crypto->QSM_SetSockOpt(m_listenHandle, QSM_FIONBIO, &on, 4, nullptr);
    if (m_tls)
        m_crypto->QSM_SetSockOpt(m_listenHandle, QSM_SO_DEFER_HANDSHAKE, &on, 4, nullptr);
    if (ownBacklog)
        m_crypto->QSM_Listen(m_listenHandle, kLargestBacklog, nullptr);
    short events;
    int readyNow;
    m_crypto->QSM_GetDescriptor(m_listenHandle, &m_listenFd, &events, &readyNow);
    epoll_event e{};
    e.events = EPOLLIN;
    e.data.ptr = &kListenerTag;
    ::epoll_ctl(m_epoll, EPOLL_CTL_ADD, m_listenFd, &e);
}

void SkrServerRuntime::stop()
{
    m_stopRequested.store(true);
    wake();
}

void SkrServerRuntime::wake()
{
    const std::uint64_t one = 1;
    ssize_t written = ::write(m_wake, &one, sizeof one);
    (void)written;  // a full counter already wakes the loop
}

SkarnServerRuntime::Counters SkrServerRuntime::counters() const
{
    SkarnServerRuntime::Counters c;
    c.handshaking = m_inState[Handshaking].load();
    c.idle = m_inState[Idle].load() + m_inState[Rearming].load();
    c.reading = m_inState[Reading].load() + m_inState[Lingering].load();
    c.active = m_inState[Busy].load();
    c.open = c.handshaking + c.idle + c.reading + c.active;
    c.accepted = m_accepted.load();
    c.requests = m_requests.load();
    c.faults = m_faults.load();
    c.edgeAnswers = m_edgeAnswers.load();
    c.refused = m_refused.load();
    c.idleTimeouts = m_idleTimeouts.load();
    c.headTimeouts = m_headTimeouts.load();
    c.handshakeTimeouts = m_handshakeTimeouts.load();
    c.bodyTimeouts = m_bodyTimeouts.load();
    c.writeTimeouts = m_writeTimeouts.load();
    c.handshakeFailures = m_handshakeFailures.load();
    return c;
}

void SkrServerRuntime::run()
{
    epoll_event wake{};
    wake.events = EPOLLIN | EPOLLET;  // each write is an edge: the counter is never read
    wake.data.ptr = &kWakeTag;
    ::epoll_ctl(m_epoll, EPOLL_CTL_ADD, m_wake, &wake);
    m_workersStop = false;
    m_hasLeader = false;
    m_lastSweep = nowMillis();
    for (int i = 1; i < m_limits.workers; ++i)
        m_workers.emplace_back([this] { participate(); });
    participate();
    for (std::thread& t : m_workers)
        t.join();
    m_workers.clear();
}

void SkrServerRuntime::participate()
{
    unsigned long long away = 0;  // the turn of the loop this thread left to serve its own request
    for (;;) {
        Connection* c = nullptr;
        bool holdsLoop = false;
        if (away) {
            std::lock_guard<std::mutex> lock(m_queueLock);
            if (m_leaderAway && m_awayTurn == away) {
                m_leaderAway = false;  // nobody took the loop over meanwhile: it is still ours
                holdsLoop = true;
            }
            away = 0;
        }
        if (!holdsLoop) {
            std::unique_lock<std::mutex> lock(m_queueLock);
            ++m_waiting;
            bool watching = false;
            for (;;) {
                if (m_workersStop)
                    break;
                if (!m_hasLeader) {
                    m_hasLeader = true;  // the loop is ours until we take a request of it
                    holdsLoop = true;
                    break;
                }
                if (!m_queue.empty()) {
                    c = m_queue.front();
                    m_queue.pop_front();
                    break;
                }
                if (m_leaderAway && nowMillis() - m_awaySince >= kTakeoverMillis) {
                    m_leaderAway = false;  // its leader serves a long request: the loop is ours now
                    holdsLoop = true;
                    break;
                }
                if (!m_watcher)
                    m_watcher = watching = true;
                if (watching)
                    m_queueReady.wait_for(lock, std::chrono::milliseconds(kTakeoverMillis));
                else
                    m_queueReady.wait(lock);
            }
            if (watching) {
                m_watcher = false;
                if (m_leaderAway && m_waiting > 1)
                    m_queueReady.notify_one();  // another waiting thread watches the absent leader
            }
            --m_waiting;
            if (m_workersStop)
                return;
        }
        if (holdsLoop)
            c = lead(away);
        if (c) {
            serve(*c);
            handBack(c);
        }
    }
}

SkrServerRuntime::Connection* SkrServerRuntime::lead(unsigned long long& away)
{
    std::vector<epoll_event>& events = m_events;  // the leader's alone
    for (;;) {
        const int n = ::epoll_wait(m_epoll, events.data(), static_cast<int>(events.size()),
                                   m_limits.workers == 1 && queued() ? 0 : kTickMillis);
        long long now = nowMillis();
        for (int i = 0; i < n; ++i) {
            void* tag = events[static_cast<std::size_t>(i)].data.ptr;
            if (tag == &kListenerTag) {
                acceptSome(now);
            } else if (tag == &kWakeTag) {
                // Returned connections and stop() are looked at after the events.
            } else {
                onEvent(static_cast<Connection*>(tag), events[static_cast<std::size_t>(i)].events, now);
            }
        }
        takeReturned(now);
        if (m_stopRequested.load() && !m_draining.load())
            beginDrain(now);
        if (now - m_lastSweep >= kTickMillis) {
            sweep(now);
            m_lastSweep = now;
        }
        if (m_draining.load() && m_connections.empty()) {
            {
                std::lock_guard<std::mutex> lock(m_queueLock);
                m_workersStop = true;
            }
            m_queueReady.notify_all();
            return nullptr;
        }
        Connection* mine = m_mine;
        if (!mine && m_limits.workers == 1) {
            // The only thread: nobody else takes the queue, so it serves
            // what it queued, one request at a time between turns (which
            // then do not wait for events).
            std::lock_guard<std::mutex> lock(m_queueLock);
            if (!m_queue.empty()) {
                mine = m_queue.front();
                m_queue.pop_front();
            }
        }
        if (mine) {
            // A request of ours: this thread serves it, so the request meets
            // no hand-over. The loop stays ours while a waiting thread watches
            // (it takes the loop over when we are away longer than
            // kTakeoverMillis); with no watcher it goes to a waiting thread now.
            m_mine = nullptr;
            bool handOver = false;
            {
                std::lock_guard<std::mutex> lock(m_queueLock);
                if (m_watcher) {
                    m_leaderAway = true;
                    m_awaySince = now;
                    away = m_awayTurn = ++m_turns;
                } else {
                    m_hasLeader = false;
                    handOver = true;
                }
            }
            if (handOver)
                m_queueReady.notify_one();
            return mine;
        }
    }
}

bool SkrServerRuntime::queued()
{
    std::lock_guard<std::mutex> lock(m_queueLock);
    return !m_queue.empty();
}

void SkrServerRuntime::pauseListener(bool paused)
{
    if (paused == m_listenerPaused || !m_listener)
        return;
    epoll_event e{};
    e.events = paused ? 0u : static_cast<unsigned>(EPOLLIN);
    e.data.ptr = &kListenerTag;
    ::epoll_ctl(m_epoll, EPOLL_CTL_MOD, m_listenFd, &e);
    m_listenerPaused = paused;
}

void SkrServerRuntime::acceptSome(long long now)
{
    for (int i = 0; i < kAcceptsPerWake && m_listener; ++i) {
        const bool full = m_connections.size() >= static_cast<std::size_t>(m_limits.maxConnections);
        if (full && !m_limits.refuseOverLimit) {
            pauseListener(true);  // connections wait in the listen queue until one ends
            return;
        }
        void* handle = nullptr;
        sockaddr_storage peer{};
        int length = sizeof peer;
        const int status = m_crypto->QSM_Accept(m_listenHandle, &handle, &peer, &length, nullptr);
        if (status == QSM_E_WOULD_BLOCK)
            return;
        if (status != QSM_S_OK) {
            // Out of descriptors, most likely: the listener rests a moment
            // rather than spin on a connection it cannot take.
            pauseListener(true);
            m_resumeListenerAt = now + 100;
            return;
        }
        ++m_accepted;
        if (full) {
            ++m_refused;
            m_crypto->QSM_CloseHandle(&handle, nullptr, nullptr);
            continue;
        }
        startConnection(handle, peer, now);
    }
}

void SkrServerRuntime::startConnection(void* handle, const sockaddr_storage& peer, long long now)
{
    std::unique_ptr<Connection> owned(new Connection);
    Connection* c = owned.get();
    c->handle = handle;
    c->peer = peer;
    c->peerText = QsmUrl::addressText(peer);
    m_connections.insert(owned.release());
    ++m_inState[c->state];
    if (m_tls) {
        const int on = 1;
        m_crypto->QSM_SetSockOpt(handle, QSM_FIONBIO, &on, 4, nullptr);
        setState(c, Handshaking);
        c->deadline = now + 1000LL * m_limits.handshakeTimeoutSeconds;
        stepHandshake(c, now);
        return;
    }
    secured(c, now);
}

void SkrServerRuntime::stepHandshake(Connection* c, long long now)
{
    const int status = m_crypto->QSM_EstablishSecure(c->handle, nullptr);
    if (status == QSM_S_OK) {
        secured(c, now);
        return;
    }
    if (status != QSM_E_WOULD_BLOCK) {
        ++(status == QSM_E_HANDSHAKE_TIMEOUT ? m_handshakeTimeouts : m_handshakeFailures);
        close(c);
        return;
    }
    int fd, readyNow;
    short wanted;
    if (m_crypto->QSM_GetDescriptor(c->handle, &fd, &wanted, &readyNow) != QSM_S_OK) {
        close(c);
        return;
    }
    c->fd = fd;
    arm(c, (wanted & POLLOUT) ? EPOLLIN | EPOLLOUT : EPOLLIN);
}

void SkrServerRuntime::secured(Connection* c, long long now)
{
    try {
        c->socket.reset(new SkrSocket(c->handle, QsmUrl::portOf(c->peer), c->peer));
    } catch (...) {
        m_crypto->QSM_CloseHandle(&c->handle, nullptr, nullptr);
        c->handle = nullptr;
        close(c);
        return;
    }
    c->handle = nullptr;
    short events;
    bool readyNow;
    try {
        c->socket->useNonBlocking();
    } catch (...) {
        close(c);
        return;
    }
    c->fd = c->socket->descriptor(events, readyNow);
    startIdle(c, now);
    gather(c, now);  // a client may have sent its request with the handshake's end
}

void SkrServerRuntime::startIdle(Connection* c, long long now)
{
    setState(c, Idle);
    awaitNext(c, now);
}

void SkrServerRuntime::awaitNext(Connection* c, long long now)
{
    c->deadline = now + 1000LL * m_limits.idleTimeoutSeconds;
    c->headDone = false;
    c->scanned = 0;
    c->in0 = c->socket->bytesReceived();
    c->out0 = c->socket->bytesSent();
}

void SkrServerRuntime::onEvent(Connection* c, unsigned events, long long now)
{
    (void)events;
    State rearming = Rearming;
    if (c->state.compare_exchange_strong(rearming, Pending))
        return;  // its worker is finishing the re-arm: it passes the connection on
    c->events = 0;  // disarmed by the one-shot report
    switch (c->state.load()) {
    case Handshaking:
        stepHandshake(c, now);
        break;
    case Idle:
    case Reading:
        gather(c, now);
        break;
    case Lingering: {
        char drop[16384];
        int n = 0;
        try {
            while ((n = c->socket->receiveWaiting(drop, sizeof drop)) > 0)
                c->dropped += static_cast<std::size_t>(n);
        } catch (VexThrowable&) {
            n = -1;
        }
        if (n != 0 || c->dropped > kLingerBytes)
            close(c);
        break;
    }
    case Busy:
    case Rearming:
    case Pending:
    case StateCount:
        break;
    }
}

void SkrServerRuntime::gather(Connection* c, long long now)
{
    const std::size_t cap =
        static_cast<std::size_t>(m_limits.headLimitBytes) + static_cast<std::size_t>(m_limits.gatherBodyBytes) + 1;
    char buffer[16384];
    bool ended = false;
    try {
        while (c->gathered.size() < cap) {
            const std::size_t room = std::min(cap - c->gathered.size(), sizeof buffer);
            const int n = c->socket->receiveWaiting(buffer, static_cast<int>(room));
            if (n == 0)
                break;
            if (n < 0) {
                ended = true;
                break;
            }
            c->gathered.append(buffer, static_cast<std::size_t>(n));
            if (!m_tls && static_cast<std::size_t>(n) < room)
                break;  // the queue is drained: a later byte fires the registration again
        }
    } catch (VexThrowable&) {
        close(c);  // a reset or a broken TLS record: nothing to answer
        return;
    }
    evaluate(c, ended, now);
}

void SkrServerRuntime::evaluate(Connection* c, bool ended, long long now)
{
    const SkrRequestHead::Rules rules{static_cast<std::size_t>(m_limits.headLimitBytes), m_limits.maxBodyBytes,
                                      &m_limits.healthPath};
    for (;;) {
        if (!c->headDone) {
            if (c->gathered.empty()) {
                if (ended) {
                    close(c);
                    return;
                }
                arm(c, EPOLLIN);
                return;
            }
            if (c->state == Idle) {
                setState(c, Reading);
                c->deadline = now + 1000LL * m_limits.headTimeoutSeconds;
                if (m_draining.load())
                    c->deadline = std::min(c->deadline.load(), m_drainDeadline);
            }
            const std::size_t end = SkrRequestHead::findEnd(c->gathered.data(), c->gathered.size(),
                                                            c->scanned > 3 ? c->scanned - 3 : 0);
            c->scanned = c->gathered.size();
            SkrRequestHead::Verdict verdict = SkrRequestHead::Incomplete;
            if (end != std::string::npos || c->gathered.size() > rules.headLimit)
                verdict = c->head.examine(c->gathered.data(), end != std::string::npos ? end : c->gathered.size(), rules);
            if (verdict == SkrRequestHead::Incomplete) {
                if (ended) {
                    close(c);  // half a head, then the end: nothing to answer
                    return;
                }
                arm(c, EPOLLIN);
                return;
            }
            if (verdict == SkrRequestHead::Answer) {
                const bool keep = c->head.status() == 200 && c->head.keepAlive() && !m_draining.load();
                const std::size_t used = c->head.headLength();
                answer(c, c->head.status(), keep, now);
                if (!keep)
                    return;
                c->gathered.erase(0, used);
                continue;  // a pipelined request may follow
            }
            c->headDone = true;
        }
        const std::size_t body = c->gathered.size() - c->head.headLength();
        const long long wanted = std::min<long long>(c->head.contentLength(), m_limits.gatherBodyBytes);
        const bool ready = c->head.chunked() || c->head.expectContinue() || static_cast<long long>(body) >= wanted || ended;
        if (!ready) {
            arm(c, EPOLLIN);
            return;
        }
        dispatch(c, now);
        return;
    }
}

void SkrServerRuntime::answer(Connection* c, int status, bool keep, long long now)
{
    const std::string text = SkrRequestHead::answer(status, !keep, c->head.headMethod());
    ++m_edgeAnswers;  // counted before the client can see it
    std::size_t sent = 0;
    try {
        while (sent < text.size()) {
            const int n = c->socket->sendWaiting(text.data() + sent, static_cast<int>(text.size() - sent));
            if (n <= 0)
                break;
            sent += static_cast<std::size_t>(n);
        }
    } catch (VexThrowable&) {
        sent = 0;
        keep = false;
    }
    SkarnServerRuntime::Exchange exchange;
    exchange.peer = c->peerText;
    exchange.method = c->head.method();
    exchange.path = c->head.path();
    exchange.status = status;
    exchange.edge = true;
    exchange.bytesIn = c->socket->bytesReceived() - c->in0;
    exchange.bytesOut = c->socket->bytesSent() - c->out0;
    report(exchange);
    if (sent < text.size() || !keep) {
        linger(c, now);
        return;
    }
    ++c->requests;
    startIdle(c, now);
}

void SkrServerRuntime::linger(Connection* c, long long now)
{
    // A plain connection shuts its write side and drops what the client
    // still sends, so that the kernel does not answer those bytes with a
    // reset that could destroy the answer; TLS ends with its close.
    if (m_tls || c->fd < 0 || ::shutdown(c->fd, SHUT_WR) != 0) {
        close(c);
        return;
    }
    setState(c, Lingering);
    c->gathered.clear();
    c->dropped = 0;
    c->deadline = now + kLingerMillis;
    arm(c, EPOLLIN);
}

void SkrServerRuntime::dispatch(Connection* c, long long now)
{
    if (!c->gathered.empty())
        c->socket->getInputStream().unread(c->gathered.data(), static_cast<unsigned>(c->gathered.size()));
    if (c->gathered.capacity() > kKeptBuffer)
        std::string().swap(c->gathered);  // a large buffer is not kept for the next request
    else
        c->gathered.clear();
    setState(c, Busy);  // not armed: its one-shot registration already fired
    c->start = now;
    {
        std::lock_guard<std::mutex> lock(m_queueLock);
        // The loop's own thread serves the first request it finds when
        // another thread waits to take the loop over; the rest queue.
        if (!m_mine && m_waiting > static_cast<int>(m_queue.size())) {
            m_mine = c;
            return;
        }
        m_queue.push_back(c);
    }
    m_queueReady.notify_one();
}

void SkrServerRuntime::takeReturned(long long now)
{
    std::vector<Connection*> back, deferred;
    {
        std::lock_guard<std::mutex> lock(m_returnLock);
        back.swap(m_returned);
        deferred.swap(m_deferred);
    }
    for (Connection* c : deferred)
        if (m_connections.count(c) && c->state == Idle) {
            c->events = 0;  // its one-shot report was taken while it was re-armed
            gather(c, now);
        }
    for (Connection* c : back) {
        const bool spent = m_limits.maxRequestsPerConnection > 0 && c->requests >= m_limits.maxRequestsPerConnection;
        if (c->forced) {
            close(c);
            continue;
        }
        if (!c->keep || spent || m_draining.load()) {
            linger(c, now);
            continue;
        }
        startIdle(c, now);
        short events;
        bool readyNow = false;
        c->socket->descriptor(events, readyNow);
        if (readyNow)
            gather(c, now);  // bytes read ahead: a pipelined request goes on at once
        else
            arm(c, EPOLLIN);
    }
    if (m_listenerPaused && m_resumeListenerAt == 0 &&
        m_connections.size() < static_cast<std::size_t>(m_limits.maxConnections))
        pauseListener(false);
}

void SkrServerRuntime::close(Connection* c)
{
    if (c->registered && c->fd >= 0)
        ::epoll_ctl(m_epoll, EPOLL_CTL_DEL, c->fd, nullptr);
    --m_inState[c->state];
    m_connections.erase(c);
    if (c->handle)
        m_crypto->QSM_CloseHandle(&c->handle, nullptr, nullptr);
    c->socket.reset();  // closes the connection (a TLS close first)
    delete c;
    if (m_listenerPaused && m_resumeListenerAt == 0 && !m_draining.load())
        pauseListener(false);
}

void SkrServerRuntime::sweep(long long now)
{
    if (m_listenerPaused && m_resumeListenerAt != 0 && now >= m_resumeListenerAt) {
        m_resumeListenerAt = 0;
        pauseListener(false);
    }
    std::vector<Connection*> expired;
    for (Connection* c : m_connections)
        if (c->state != Busy && c->state != Rearming && c->state != Pending &&
            (now >= c->deadline || (m_draining.load() && c->state == Idle)))
            expired.push_back(c);
    for (Connection* c : expired) {
        switch (c->state.load()) {
        case Handshaking:
            ++m_handshakeTimeouts;
            close(c);
            break;
        case Idle:
            ++m_idleTimeouts;
            close(c);
            break;
        case Reading:
            ++m_headTimeouts;
            c->head = SkrRequestHead();
            answer(c, 408, false, now);
            break;
        default:
            close(c);
            break;
        }
    }
    if (m_draining.load() && now >= m_drainDeadline && !m_forcing) {
        // The drain is over: connections still with a worker are shut down
        // under it, so that its reads and writes end now.
        m_forcing = true;
        for (Connection* c : m_connections)
            if (c->state == Busy && c->fd >= 0) {
                c->forced = true;
                ::shutdown(c->fd, SHUT_RDWR);
            }
    }
}

void SkrServerRuntime::beginDrain(long long now)
{
    m_draining.store(true);
    m_drainDeadline = now + 1000LL * m_limits.drainSeconds;
    if (m_listener) {
        ::epoll_ctl(m_epoll, EPOLL_CTL_DEL, m_listenFd, nullptr);
        m_listener->release();
        m_listener = nullptr;
    }
    std::vector<Connection*> idle;
    for (Connection* c : m_connections) {
        if (c->state == Idle || c->state == Handshaking)
            idle.push_back(c);
        else if (c->state != Busy)
            c->deadline = std::min(c->deadline.load(), m_drainDeadline);
    }
    for (Connection* c : idle)
        close(c);
}

void SkrServerRuntime::setState(Connection* c, State state)
{
    const State was = c->state.load();
    if (was == state)
        return;
    --m_inState[was];
    ++m_inState[state];
    c->state.store(state);
}

void SkrServerRuntime::arm(Connection* c, unsigned events)
{
    // One-shot: a reported event disarms the descriptor, so a connection
    // handed to a worker needs no call to leave the loop's watch.
    if (c->fd < 0 || (c->registered && c->events == events))
        return;
    epoll_event e{};
    e.events = events ? events | EPOLLONESHOT : 0;
    e.data.ptr = c;
    if (::epoll_ctl(m_epoll, c->registered ? EPOLL_CTL_MOD : EPOLL_CTL_ADD, c->fd, &e) == 0) {
        c->registered = true;
        c->events = events;
    }
}

void SkrServerRuntime::report(SkarnServerRuntime::Exchange& exchange)
{
    ++m_requests;
    if (exchange.status >= 500)
        ++m_faults;
    try {
        m_handler.served(exchange);
    } catch (...) {
        // An access log that fails must not take the server with it.
    }
}

void SkrServerRuntime::handBack(Connection* c)
{
    ++c->requests;
    const bool spent = m_limits.maxRequestsPerConnection > 0 && c->requests >= m_limits.maxRequestsPerConnection;
    short events;
    bool readyNow = false;
    if (c->keep && !spent && !m_draining.load() && !c->forced.load() && c->socket->descriptor(events, readyNow) >= 0 &&
        !readyNow) {
        // The usual end of an exchange: the connection waits for its next
        // request under the loop's watch, and the loop is not woken for it.
        awaitNext(c, nowMillis());
        setState(c, Rearming);
        c->events = EPOLLIN;
        epoll_event e{};
        e.events = EPOLLIN | EPOLLONESHOT;
        e.data.ptr = c;
        const bool armed = ::epoll_ctl(m_epoll, EPOLL_CTL_MOD, c->fd, &e) == 0;
        if (armed) {
            // The last touch: from here the loop owns it.
            --m_inState[Rearming];
            ++m_inState[Idle];
            if (c->state.exchange(Idle) != Pending)
                return;
            {
                std::lock_guard<std::mutex> lock(m_returnLock);
                m_deferred.push_back(c);  // its event came while we re-armed: the loop takes it from here
            }
            wake();
            return;
        }
        c->events = 0;
        setState(c, Busy);
    }
    {
        std::lock_guard<std::mutex> lock(m_returnLock);
        m_returned.push_back(c);
    }
    wake();
}

void SkrServerRuntime::serve(Connection& c)
{
    SkrSocket& socket = *c.socket;
    SkarnSocketInputStream& in = socket.getInputStream();
    in.setResponseLimits(m_limits.headTimeoutSeconds, 0);
    in.setMinimumRate(m_limits.bodyMinBytesPerSecond, m_limits.headTimeoutSeconds);
    socket.setWriteLimits(m_limits.writeTimeoutSeconds, m_limits.writeMinBytesPerSecond);

    SkarnServerRuntime::Exchange exchange;
    exchange.peer = c.peerText;
    exchange.method = c.head.method();
    exchange.path = c.head.path();
    const bool last = !c.head.keepAlive() ||
                      (m_limits.maxRequestsPerConnection > 0 && c.requests + 1 >= m_limits.maxRequestsPerConnection);
    SkrServerSession* session = nullptr;
    bool failed = false;
    int answerStatus = 0;
    try {
        session = new SkrServerSession(&socket);
        session->setClosing(last, &m_draining, &exchange.close);
        m_handler.serve(*session, exchange);
    } catch (QioIOTimeoutException&) {
        failed = true;
        if (socket.writeTimedOut()) {
            ++m_writeTimeouts;
        } else {
            ++m_bodyTimeouts;
            answerStatus = 408;
        }
    } catch (...) {
        failed = true;
        if (socket.writeTimedOut())
            ++m_writeTimeouts;
        else
            answerStatus = session && !session->requestComplete() ? 400 : 500;
    }
    if (exchange.status == 0 && session && session->responseComplete())
        exchange.status = 200;
    bool keep = !failed && session && session->requestComplete() && session->responseComplete() && !last &&
                !exchange.close && !m_draining.load();
    if (answerStatus != 0 && session && !session->responseStarted()) {
        // The handler's request could not be read, or it failed before it
        // answered: the runtime answers, and the connection ends.
        const std::string text = SkrRequestHead::answer(answerStatus, true, false);
        ++m_edgeAnswers;
        try {
            int written = 0;
            socket.WriteBuffer(text.data(), static_cast<unsigned>(text.size()), &written);
            exchange.status = answerStatus;
            exchange.edge = true;
        } catch (...) {
            // The client is gone.
        }
    }
    if (session) {
        try {
            session->release();
        } catch (...) {
            keep = false;  // a response left half written
        }
    }
    in.setResponseLimits(0, 0);
    socket.setWriteLimits(0, 0);
    exchange.bytesIn = socket.bytesReceived() - c.in0;
    exchange.bytesOut = socket.bytesSent() - c.out0;
    exchange.millis = nowMillis() - c.start;
    report(exchange);
    c.keep = keep;
}
