#include "platform/crypto/QsmSocket.h"

#include "platform/crypto/QsmSessionCache.h"
#include "platform/crypto/QsmSocketBio.h"
#include "platform/crypto/QsmTlsContext.h"
#include "platform/crypto/QsmUrl.h"
#include "platform/crypto/VexCrypto.h"

#include <openssl/err.h>
#include <openssl/x509v3.h>

#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>

namespace {

long long nowMillis()
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

std::string errnoText(int err) { return std::strerror(err); }

socklen_t lengthOf(int family) { return family == AF_INET6 ? sizeof(sockaddr_in6) : sizeof(sockaddr_in); }

// Applies one option to a descriptor; the errno of a failure, else 0.
int applyOption(int fd, unsigned long option, int value)
{
    int rc = 0;
    switch (option) {
    case QSM_TCP_NODELAY:
        rc = ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &value, sizeof value);
        break;
    case QSM_SO_REUSEADDR:
        rc = ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &value, sizeof value);
        break;
    case QSM_SO_SNDBUF:
        rc = ::setsockopt(fd, SOL_SOCKET, SO_SNDBUF, &value, sizeof value);
        break;
    case QSM_SO_RCVBUF:
        rc = ::setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &value, sizeof value);
        break;
    default: {
        int flags = ::fcntl(fd, F_GETFL);
        rc = flags < 0 ? -1 : ::fcntl(fd, F_SETFL, value ? (flags | O_NONBLOCK) : (flags & ~O_NONBLOCK));
        break;
    }
    }
    return rc == 0 ? 0 : errno;
}

}  // namespace

QsmSocket::QsmSocket(const QsmSessionConfig& config) : m_config(config) {}

QsmSocket::~QsmSocket()
{
    if (m_parked)
        delete m_parked;
    m_parked = nullptr;
    dropConnection();
    if (m_serverCtx)
        SSL_CTX_free(m_serverCtx);
}

int QsmSocket::fail(int status, const std::string& text)
{
    m_lastError = text;
    return status;
}

void QsmSocket::setBlocking(bool blocking)
{
    if (m_fd < 0)
        return;
    int flags = ::fcntl(m_fd, F_GETFL);
    if (flags >= 0)
        ::fcntl(m_fd, F_SETFL, blocking ? (flags & ~O_NONBLOCK) : (flags | O_NONBLOCK));
}

void QsmSocket::dropConnection()
{
    if (m_ssl) {
        if (m_state == Secured && !m_tlsBroken && m_fd >= 0) {
            // Tell the peer the stream ends here; never wait for its answer.
            setBlocking(false);
            ERR_clear_error();
            SSL_shutdown(m_ssl);
            ERR_clear_error();
        }
        SSL_free(m_ssl);
        m_ssl = nullptr;
    }
    if (m_fd >= 0) {
        ::close(m_fd);
        m_fd = -1;
    }
}

int QsmSocket::ensureSocket(int family, const char* call)
{
    if (m_fd >= 0) {
        if (m_family != family)
            return fail(QSM_E_INVALID, std::string(call) + ": the socket is of family " + std::to_string(m_family) +
                                           ", the address of family " + std::to_string(family));
        return QSM_S_OK;
    }
    if (family != AF_INET && family != AF_INET6)
        return fail(QSM_E_INVALID, std::string(call) + ": an address of family " + std::to_string(family) +
                                       " cannot be used");
    if ((m_config.family == QsmSessionConfig::FamilyIPv4 && family != AF_INET) ||
        (m_config.family == QsmSessionConfig::FamilyIPv6 && family != AF_INET6))
        return fail(QSM_E_INVALID, std::string(call) + ": the address does not belong to the document's protocolFamily");
    m_fd = ::socket(family, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (m_fd < 0)
        return fail(QSM_E_SYSTEM, std::string(call) + ": socket() failed: " + errnoText(errno));
    m_family = family;
    for (const auto& o : m_pendingOptions) {
        int err = applyOption(m_fd, o.first, o.second);
        if (err)
            return fail(QSM_E_SYSTEM, std::string(call) + ": option " + std::to_string(o.first) +
                                          " cannot be set: " + errnoText(err));
    }
    if (m_nonBlocking)
        setBlocking(false);
    return QSM_S_OK;
}

int QsmSocket::makeTls(const char* call, bool server, const std::string& host)
{
    std::string error;
    SSL_CTX* ctx = m_serverCtx;
    if (server) {
        SSL_CTX_up_ref(ctx);
    } else {
        ctx = QsmTlsContext::acquire(QsmTlsContext::Client, m_config, error);
        if (!ctx)
            return fail(QSM_E_CONFIG, std::string(call) + ": " + error);
    }
    ERR_clear_error();
    m_ssl = SSL_new(ctx);
    SSL_CTX_free(ctx);  // the connection holds its own reference
    BIO* bio = m_ssl ? QsmSocketBio::create(m_fd) : nullptr;
    if (!bio) {
        if (m_ssl)
            SSL_free(m_ssl);
        m_ssl = nullptr;
        return fail(QSM_E_TLS, std::string(call) + ": cannot create a TLS connection: " + QsmTlsContext::drainErrors());
    }
    SSL_set_bio(m_ssl, bio, bio);
    if (server) {
        SSL_set_accept_state(m_ssl);
        return QSM_S_OK;
    }
    SSL_set_connect_state(m_ssl);
    const std::string name = m_config.serverName.empty() ? host : m_config.serverName;
    const bool literal = QsmUrl::isIpLiteral(name);
    if (!name.empty() && !literal)
        SSL_set_tlsext_host_name(m_ssl, name.c_str());
    const bool verifies = QsmTlsContext::verifies(QsmTlsContext::Client, m_config);
    if (verifies) {
        int ok = literal ? X509_VERIFY_PARAM_set1_ip_asc(SSL_get0_param(m_ssl), name.c_str())
                         : SSL_set1_host(m_ssl, name.c_str());
        if (name.empty() || ok != 1) {
            SSL_free(m_ssl);
            m_ssl = nullptr;
            return fail(QSM_E_CONFIG, std::string(call) + ": no usable name to verify the server certificate against ('" +
                                          name + "')");
        }
    }
    // A session of an earlier connection to the same server, made with the
    // same trust, spares the full handshake.
    m_sessionOffered =
        QsmSessionCache::offer(m_ssl, QsmSessionCache::keyOf(m_config, verifies, QsmUrl::describe(m_peer), host, name));
    return QSM_S_OK;
}

int QsmSocket::connect(const char* call, const sockaddr_storage& address, int length, bool tls, const std::string& host)
{
    switch (m_state) {
    case Negotiating:
        return fail(QSM_E_NEGOTIATE, std::string(call) + ": the connection waits for QSM_EstablishSecure");
    case Connected:
    case Secured:
        return QSM_S_OK;
    case Failed:
        return QSM_E_FAILED;  // the reason of the failure stays in lastError
    case Listening:
        return fail(QSM_E_FAILED, std::string(call) + ": the handle is a listener");
    case Idle:
        break;
    }
    if (m_role == Accepted)
        return fail(QSM_E_FAILED, std::string(call) + ": the handle is an accepted connection");
    const int family = address.ss_family;
    if (length < static_cast<int>(lengthOf(family)) || (family != AF_INET && family != AF_INET6))
        return fail(QSM_E_FAILED, std::string(call) + ": an address of family " + std::to_string(family) +
                                      " and length " + std::to_string(length) + " cannot be connected to");
    int st = ensureSocket(family, call);
    if (st != QSM_S_OK)
        return st == QSM_E_INVALID ? QSM_E_FAILED : st;
    m_role = Client;

    // With a connect time-out the attempt runs without blocking and the wait
    // below is bounded by it.
    const int limitMillis = m_config.connectTimeoutSeconds > 0 ? 1000 * m_config.connectTimeoutSeconds : 60000;
    if (m_config.connectTimeoutSeconds > 0 && !m_nonBlocking)
        setBlocking(false);
    int rc = ::connect(m_fd, reinterpret_cast<const sockaddr*>(&address), lengthOf(family));
    int err = rc == 0 ? 0 : errno;
    if (err == EINTR || err == EINPROGRESS) {
        // The connection goes on in the background: wait for its outcome.
        pollfd p{m_fd, POLLOUT, 0};
        int n;
        const long long until = nowMillis() + limitMillis;
        do {
            const long long left = until - nowMillis();
            n = left > 0 ? ::poll(&p, 1, static_cast<int>(left)) : 0;
        } while (n < 0 && errno == EINTR);
        socklen_t len = sizeof err;
        if (n <= 0)
            err = n == 0 ? ETIMEDOUT : errno;
        else if (::getsockopt(m_fd, SOL_SOCKET, SO_ERROR, &err, &len) != 0)
            err = errno;
    }
    if (m_config.connectTimeoutSeconds > 0 && !m_nonBlocking)
        setBlocking(true);
    if (err != 0) {
        // A descriptor whose connect failed cannot be connected again: the next attempt makes a new one.
        ::close(m_fd);
        m_fd = -1;
        return fail(QSM_E_CONNECT, std::string(call) + ": connecting to " + QsmUrl::describe(address) +
                                       " failed: " + errnoText(err));
    }
    m_peer = address;
    if (!tls) {
        m_state = Connected;
        return QSM_S_OK;
    }
    std::string peerHost = host;
    if (peerHost.empty()) {
        std::string text = QsmUrl::describe(address);
        std::size_t colon = text.rfind(':');
        peerHost = text.substr(0, colon);
        if (!peerHost.empty() && peerHost[0] == '[')
            peerHost = peerHost.substr(1, peerHost.size() - 2);
    }
    st = makeTls(call, false, peerHost);
    if (st != QSM_S_OK) {
        m_state = Failed;
        dropConnection();
        return QSM_E_FAILED;
    }
    m_state = Negotiating;
    m_deadline = 0;
    return fail(QSM_E_NEGOTIATE, std::string(call) + ": TLS negotiation required");
}

std::string QsmSocket::tlsFailure(int sslError, int sysErr) const
{
    std::string reason;
    long verify = m_ssl ? SSL_get_verify_result(m_ssl) : X509_V_OK;
    if (verify != X509_V_OK)
        reason = std::string("certificate verification failed: ") + X509_verify_cert_error_string(verify) + "; ";
    switch (sslError) {
    case SSL_ERROR_ZERO_RETURN:
        return reason + "the peer closed the TLS connection";
    case SSL_ERROR_SYSCALL: {
        std::string queue = QsmTlsContext::drainErrors();
        if (sysErr == 0)
            return reason + "the peer closed the connection (" + queue + ")";
        return reason + errnoText(sysErr) + " (" + queue + ")";
    }
    default:
        return reason + QsmTlsContext::drainErrors();
    }
}

int QsmSocket::handshakeStep(const char* call)
{
    ERR_clear_error();
    errno = 0;
    int rc = SSL_do_handshake(m_ssl);
    const int sysErr = errno;
    if (rc == 1) {
        m_state = Secured;
        m_wantWrite = false;
        if (m_role == Client)
            QsmSessionCache::handshakeDone(m_ssl, m_sessionOffered);
        return QSM_S_OK;
    }
    int e = SSL_get_error(m_ssl, rc);
    if (e == SSL_ERROR_WANT_READ || e == SSL_ERROR_WANT_WRITE) {
        m_wantWrite = e == SSL_ERROR_WANT_WRITE;
        return QSM_E_WOULD_BLOCK;
    }
    std::string who = QsmUrl::describe(m_peer);
    m_tlsBroken = true;
    m_state = Failed;
    fail(QSM_E_TLS, std::string(call) + ": TLS handshake with " + who + " failed: " + tlsFailure(e, sysErr));
    QsmSessionCache::handshakeFailed(m_ssl);
    dropConnection();
    return QSM_E_TLS;
}

int QsmSocket::runHandshake(const char* call)
{
    if (m_deadline == 0)
        m_deadline = nowMillis() + 1000LL * m_config.handshakeTimeoutSeconds;
    if (m_nonBlocking) {
        int st = handshakeStep(call);
        if (st != QSM_E_WOULD_BLOCK || nowMillis() < m_deadline)
            return st;
        return handshakeTimedOut(call);
    }
    setBlocking(false);
    for (;;) {
        int st = handshakeStep(call);
        if (st != QSM_E_WOULD_BLOCK) {
            setBlocking(true);
            return st;
        }
        long long left = m_deadline - nowMillis();
        if (left <= 0)
            break;
        pollfd p{m_fd, static_cast<short>(m_wantWrite ? POLLOUT : POLLIN), 0};
        int n = ::poll(&p, 1, static_cast<int>(left > 1000 ? 1000 : left));
        if (n < 0 && errno != EINTR) {
            int err = errno;
            m_state = Failed;
            m_tlsBroken = true;
            fail(QSM_E_SYSTEM, std::string(call) + ": waiting for the TLS handshake failed: " + errnoText(err));
            QsmSessionCache::handshakeFailed(m_ssl);
            dropConnection();
            return QSM_E_SYSTEM;
        }
    }
    return handshakeTimedOut(call);
}

int QsmSocket::handshakeTimedOut(const char* call)
{
    m_state = Failed;
    m_tlsBroken = true;
    fail(QSM_E_HANDSHAKE_TIMEOUT, std::string(call) + ": TLS handshake with " + QsmUrl::describe(m_peer) +
                                      " did not finish within " + std::to_string(m_config.handshakeTimeoutSeconds) +
                                      " seconds");
    QsmSessionCache::handshakeFailed(m_ssl);
    dropConnection();
    return QSM_E_HANDSHAKE_TIMEOUT;
}

int QsmSocket::establishSecure()
{
    static const char call[] = "QSM_EstablishSecure";
    if (m_role == Listener) {
        if (!m_parked || m_parked->m_state != Negotiating)
            return fail(QSM_E_INVALID, std::string(call) + ": no accepted connection waits for negotiation");
        // The handshake of an accepted connection runs to its end here, bounded
        // by the handshake time-out, whatever the listener's own mode.
        int st = m_parked->runHandshake(call);
        if (st == QSM_S_OK)
            return st;
        fail(st, m_parked->lastError());
        delete m_parked;  // a failed handshake ends that connection only
        m_parked = nullptr;
        return st;
    }
    switch (m_state) {
    case Secured:
        return QSM_S_OK;
    case Negotiating:
        return runHandshake(call);
    case Failed:
        return QSM_E_FAILED;
    default:
        return fail(QSM_E_INVALID, std::string(call) + ": no negotiation is pending on this handle");
    }
}

int QsmSocket::bind(const sockaddr_storage& address, int length)
{
    if (m_state != Idle || m_role == Client)
        return fail(QSM_E_INVALID, "QSM_Bind: the handle is already in use");
    if (length < static_cast<int>(lengthOf(address.ss_family)))
        return fail(QSM_E_INVALID, "QSM_Bind: the address length is too small");
    int st = ensureSocket(address.ss_family, "QSM_Bind");
    if (st != QSM_S_OK)
        return st;
    if (::bind(m_fd, reinterpret_cast<const sockaddr*>(&address), lengthOf(address.ss_family)) != 0)
        return fail(QSM_E_SYSTEM, "QSM_Bind: binding " + QsmUrl::describe(address) + " failed: " + errnoText(errno));
    return QSM_S_OK;
}

int QsmSocket::listen(int backlog)
{
    if (m_fd < 0 || (m_state != Idle && m_state != Listening))
        return fail(QSM_E_INVALID, "QSM_Listen: the handle is not bound");
    // A listener listens again with a new backlog.
    if (m_config.forceSSL && !m_serverCtx) {
        std::string error;
        m_serverCtx = QsmTlsContext::acquire(QsmTlsContext::Server, m_config, error);
        if (!m_serverCtx)
            return fail(QSM_E_CONFIG, "QSM_Listen: " + error);
    }
    if (::listen(m_fd, backlog) != 0)
        return fail(QSM_E_SYSTEM, "QSM_Listen: listen() failed: " + errnoText(errno));
    m_role = Listener;
    m_state = Listening;
    return QSM_S_OK;
}

int QsmSocket::getSockName(sockaddr_storage* address, int* length)
{
    if (m_fd < 0)
        return fail(QSM_E_INVALID, "QSM_GetSockName: the handle has no socket");
    sockaddr_storage local{};
    socklen_t len = sizeof local;
    if (::getsockname(m_fd, reinterpret_cast<sockaddr*>(&local), &len) != 0)
        return fail(QSM_E_SYSTEM, "QSM_GetSockName: getsockname() failed: " + errnoText(errno));
    std::size_t room = *length < 0 ? 0 : static_cast<std::size_t>(*length);
    std::memcpy(address, &local, room < sizeof local ? room : sizeof local);
    *length = static_cast<int>(len);
    return QSM_S_OK;
}

namespace {

// An accepted connection's peer address into the caller's area (as much as fits).
void giveAddress(const sockaddr_storage& peer, sockaddr_storage* address, int* length)
{
    if (!address || !length)
        return;
    std::size_t room = *length < 0 ? 0 : static_cast<std::size_t>(*length);
    std::memcpy(address, &peer, room < sizeof peer ? room : sizeof peer);
    *length = static_cast<int>(lengthOf(peer.ss_family));
}

}  // namespace

int QsmSocket::accept(QsmSocket** accepted, sockaddr_storage* address, int* length)
{
    static const char call[] = "QSM_Accept";
    if (m_state != Listening)
        return fail(QSM_E_INVALID, std::string(call) + ": the handle is not listening");
    if (m_parked) {
        if (m_parked->m_state != Secured)
            return fail(QSM_E_NEGOTIATE, std::string(call) + ": an accepted connection waits for QSM_EstablishSecure");
        QsmSocket* s = m_parked;
        m_parked = nullptr;
        giveAddress(s->m_peer, address, length);
        *accepted = s;
        return QSM_S_OK;
    }
    sockaddr_storage peer{};
    int fd;
    for (;;) {
        socklen_t len = sizeof peer;
        fd = ::accept4(m_fd, reinterpret_cast<sockaddr*>(&peer), &len, SOCK_CLOEXEC);
        if (fd >= 0)
            break;
        if (errno == EINTR || errno == ECONNABORTED)
            continue;
        if (errno == EAGAIN || errno == EWOULDBLOCK)
            return fail(QSM_E_WOULD_BLOCK, std::string(call) + ": no connection is waiting");
        return fail(QSM_E_SYSTEM, std::string(call) + ": accept() failed: " + errnoText(errno));
    }
    QsmSocket* s = new (std::nothrow) QsmSocket(m_config);
    if (!s) {
        ::close(fd);
        return fail(QSM_E_SYSTEM, std::string(call) + ": out of memory");
    }
    s->m_fd = fd;
    s->m_family = peer.ss_family;
    s->m_role = Accepted;
    s->m_peer = peer;
    s->m_state = Connected;
    if (m_config.forceSSL) {
        s->m_serverCtx = m_serverCtx;
        SSL_CTX_up_ref(m_serverCtx);
        if (s->makeTls(call, true, std::string()) != QSM_S_OK) {
            fail(QSM_E_TLS, s->lastError());
            delete s;
            return QSM_E_TLS;
        }
        s->m_state = Negotiating;
        if (m_deferHandshake) {
            // The caller negotiates on the accepted handle itself.
            giveAddress(peer, address, length);
            *accepted = s;
            return QSM_S_OK;
        }
        m_parked = s;
        return fail(QSM_E_NEGOTIATE, std::string(call) + ": TLS negotiation required with " + QsmUrl::describe(peer));
    }
    giveAddress(peer, address, length);
    *accepted = s;
    return QSM_S_OK;
}

int QsmSocket::setOption(unsigned long option, int value)
{
    if (option != QSM_TCP_NODELAY && option != QSM_SO_REUSEADDR && option != QSM_SO_SNDBUF &&
        option != QSM_SO_RCVBUF && option != QSM_FIONBIO && option != QSM_SO_DEFER_HANDSHAKE)
        return fail(QSM_E_INVALID, "QSM_SetSockOpt: option " + std::to_string(option) + " is not supported");
    if (option == QSM_SO_DEFER_HANDSHAKE) {
        m_deferHandshake = value != 0;
        return QSM_S_OK;
    }
    if (option == QSM_FIONBIO)
        m_nonBlocking = value != 0;
    if (m_fd < 0) {
        if (m_state == Failed)
            return fail(QSM_E_INVALID, "QSM_SetSockOpt: the connection has failed");
        if (option != QSM_FIONBIO)
            m_pendingOptions.emplace_back(option, value);
        return QSM_S_OK;
    }
    int err = applyOption(m_fd, option, value);
    if (err)
        return fail(QSM_E_SYSTEM, "QSM_SetSockOpt: option " + std::to_string(option) + " cannot be set: " + errnoText(err));
    return QSM_S_OK;
}

int QsmSocket::getOption(unsigned long option, int* value)
{
    int level = SOL_SOCKET, name;
    switch (option) {
    case QSM_TCP_NODELAY: level = IPPROTO_TCP; name = TCP_NODELAY; break;
    case QSM_SO_REUSEADDR: name = SO_REUSEADDR; break;
    case QSM_SO_SNDBUF: name = SO_SNDBUF; break;
    case QSM_SO_RCVBUF: name = SO_RCVBUF; break;
    default:
        return fail(QSM_E_INVALID, "QSM_GetSockOpt: option " + std::to_string(option) + " cannot be read");
    }
    if (m_fd < 0)
        return fail(QSM_E_INVALID, "QSM_GetSockOpt: the handle has no socket");
    socklen_t len = sizeof *value;
    if (::getsockopt(m_fd, level, name, value, &len) != 0)
        return fail(QSM_E_SYSTEM, "QSM_GetSockOpt: getsockopt() failed: " + errnoText(errno));
    return QSM_S_OK;
}

int QsmSocket::send(const char* bytes, int length, int* sent)
{
    *sent = 0;
    if (m_state != Connected && m_state != Secured)
        return fail(QSM_E_INVALID, "QSM_Send: the handle is not connected");
    if (!m_ssl) {
        for (;;) {
            ssize_t n = ::send(m_fd, bytes, static_cast<size_t>(length), MSG_NOSIGNAL);
            if (n >= 0) {
                *sent = static_cast<int>(n);
                return QSM_S_OK;
            }
            if (errno == EINTR)
                continue;
            if (errno == EAGAIN || errno == EWOULDBLOCK)
                return fail(QSM_E_WOULD_BLOCK, "QSM_Send: the socket cannot take more now");
            return fail(QSM_E_SYSTEM, "QSM_Send: send() failed: " + errnoText(errno));
        }
    }
    ERR_clear_error();
    errno = 0;
    size_t n = 0;
    int rc = SSL_write_ex(m_ssl, bytes, static_cast<size_t>(length), &n);
    const int sysErr = errno;
    if (rc == 1) {
        *sent = static_cast<int>(n);
        return QSM_S_OK;
    }
    int e = SSL_get_error(m_ssl, rc);
    if (e == SSL_ERROR_WANT_WRITE || e == SSL_ERROR_WANT_READ) {
        m_wantWrite = e == SSL_ERROR_WANT_WRITE;
        return fail(QSM_E_WOULD_BLOCK, "QSM_Send: the socket cannot take more now");
    }
    m_tlsBroken = true;
    return fail(e == SSL_ERROR_SYSCALL ? QSM_E_SYSTEM : QSM_E_TLS, "QSM_Send: TLS write failed: " + tlsFailure(e, sysErr));
}

int QsmSocket::recv(char* bytes, int length, int* received)
{
    *received = 0;
    if (m_state != Connected && m_state != Secured)
        return fail(QSM_E_INVALID, "QSM_Recv: the handle is not connected");
    if (!m_ssl) {
        for (;;) {
            ssize_t n = ::recv(m_fd, bytes, static_cast<size_t>(length), 0);
            if (n > 0) {
                *received = static_cast<int>(n);
                return QSM_S_OK;
            }
            if (n == 0)
                return fail(QSM_E_PEER_CLOSED, "QSM_Recv: the peer closed the connection");
            if (errno == EINTR)
                continue;
            if (errno == EAGAIN || errno == EWOULDBLOCK)
                return fail(QSM_E_WOULD_BLOCK, "QSM_Recv: no data yet");
            if (errno == ECONNRESET)
                return fail(QSM_E_PEER_CLOSED, "QSM_Recv: the peer reset the connection");
            return fail(QSM_E_SYSTEM, "QSM_Recv: recv() failed: " + errnoText(errno));
        }
    }
    for (;;) {
        ERR_clear_error();
        errno = 0;
        size_t n = 0;
        int rc = SSL_read_ex(m_ssl, bytes, static_cast<size_t>(length), &n);
        const int sysErr = errno;
        if (rc == 1) {
            *received = static_cast<int>(n);
            return QSM_S_OK;
        }
        int e = SSL_get_error(m_ssl, rc);
        if (e == SSL_ERROR_WANT_READ || e == SSL_ERROR_WANT_WRITE) {
            m_wantWrite = e == SSL_ERROR_WANT_WRITE;
            if (m_nonBlocking)
                return fail(QSM_E_WOULD_BLOCK, "QSM_Recv: no data yet");
            continue;  // a blocking socket: OpenSSL only handled a post-handshake message
        }
        if (e == SSL_ERROR_ZERO_RETURN)
            return fail(QSM_E_PEER_CLOSED, "QSM_Recv: the peer closed the TLS connection");
        unsigned long top = ERR_peek_error();
        m_tlsBroken = true;
        if ((e == SSL_ERROR_SYSCALL && (sysErr == 0 || sysErr == ECONNRESET)) ||
            (e == SSL_ERROR_SSL && ERR_GET_REASON(top) == SSL_R_UNEXPECTED_EOF_WHILE_READING)) {
            // The peer went away without a TLS close: the stream ends here.
            return fail(QSM_E_PEER_CLOSED, "QSM_Recv: the peer closed the connection without a TLS close: " +
                                               tlsFailure(e, sysErr));
        }
        return fail(e == SSL_ERROR_SYSCALL ? QSM_E_SYSTEM : QSM_E_TLS,
                    "QSM_Recv: TLS read failed: " + tlsFailure(e, sysErr));
    }
}

int QsmSocket::status()
{
    if (m_state != Connected && m_state != Secured)
        return fail(QSM_E_INVALID, "QSM_SocketStatus: the handle is not connected");
    if (m_tlsBroken)
        return fail(QSM_E_TLS, "QSM_SocketStatus: the TLS connection has failed");
    if (m_ssl && (SSL_get_shutdown(m_ssl) & SSL_RECEIVED_SHUTDOWN))
        return fail(QSM_E_PEER_CLOSED, "QSM_SocketStatus: the peer closed the TLS connection");
    if (m_ssl && SSL_pending(m_ssl) > 0)
        return fail(QSM_E_UNREAD_DATA, "QSM_SocketStatus: decrypted bytes wait unread");
    // One look at the receive queue answers both questions: an end of stream
    // (0) is the peer's close, bytes are data nobody asked for, EAGAIN is a
    // connection that is idle and usable.
    char c;
    const ssize_t n = ::recv(m_fd, &c, 1, MSG_PEEK | MSG_DONTWAIT);
    if (n == 0)
        return fail(QSM_E_PEER_CLOSED, "QSM_SocketStatus: the peer closed the connection");
    if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR)
        return fail(QSM_E_SYSTEM, "QSM_SocketStatus: " + errnoText(errno));
    const bool readAhead = m_ssl && SSL_has_pending(m_ssl);
    if (n < 0 && !readAhead)
        return QSM_S_OK;
    if (!m_ssl)
        return fail(QSM_E_UNREAD_DATA, "QSM_SocketStatus: bytes wait unread");
    // Record bytes on a TLS connection may be a session ticket or the peer's
    // close rather than application data: let OpenSSL read them without waiting.
    setBlocking(false);
    ERR_clear_error();
    errno = 0;
    std::size_t got = 0;
    const int rc = SSL_peek_ex(m_ssl, &c, 1, &got);
    const int sysErr = errno;
    const int e = rc == 1 ? SSL_ERROR_NONE : SSL_get_error(m_ssl, rc);
    if (!m_nonBlocking)
        setBlocking(true);
    if (e == SSL_ERROR_NONE)
        return fail(QSM_E_UNREAD_DATA, "QSM_SocketStatus: decrypted bytes wait unread");
    if (e == SSL_ERROR_WANT_READ || e == SSL_ERROR_WANT_WRITE)
        return QSM_S_OK;
    if (e == SSL_ERROR_ZERO_RETURN)
        return fail(QSM_E_PEER_CLOSED, "QSM_SocketStatus: the peer closed the TLS connection");
    m_tlsBroken = true;
    return fail(QSM_E_TLS, "QSM_SocketStatus: " + tlsFailure(e, sysErr));
}

short QsmSocket::readInterest(bool& readyNow) const
{
    readyNow = false;
    if (m_role == Listener && m_parked && m_parked->m_state == Secured)
        readyNow = true;
    if (m_ssl && (SSL_pending(m_ssl) > 0 || SSL_has_pending(m_ssl)))
        readyNow = true;
    return static_cast<short>(m_ssl && m_wantWrite ? (POLLIN | POLLOUT) : POLLIN);
}

bool QsmSocket::resumed() const { return m_ssl && m_state == Secured && SSL_session_reused(m_ssl) == 1; }

std::string QsmSocket::cipherInfo() const
{
    if (!m_ssl)
        return "plain";
    return std::string(SSL_get_version(m_ssl)) + " " + SSL_get_cipher_name(m_ssl);
}
