#include "net/SkrSocketNonSSL.h"

#include "api/SkarnException.h"
#include "net/SkarnHost.h"
#include "platform/core/VexIllegalStateError.h"
#include "platform/core/VexMacros.h"
#include "platform/core/VexThread.h"
#include "platform/core/VexUrl.h"
#include "platform/crypto/VexSocketAddress.h"

#include <fcntl.h>
#include <poll.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>

namespace {

struct ErrorText {
    int code;
    const char* text;
};

const ErrorText kErrorTexts[] = {
    {10004, "Interrupted system call"},
    {10009, "Bad file number"},
    {10013, "Access denied"},
    {10014, "Bad address"},
    {10022, "Invalid argument"},
    {10024, "Too many open files"},
    {10035, "Operation would block"},
    {10036, "Operation now in progress"},
    {10037, "Operation already in progress"},
    {10038, "Socket operation on non-socket"},
    {10039, "Destination address required"},
    {10040, "Message too long"},
    {10041, "Protocol is wrong type for socket"},
    {10042, "Bad protocol option"},
    {10043, "Protocol not supported"},
    {10044, "Socket type not supported"},
    {10045, "Operation not supported on socket"},
    {10046, "Protocol family not supported"},
    {10047, "Address family not supported by protocol family"},
    {10048, "Address already in use"},
    {10049, "Can't assign requested address"},
    {10050, "Network is down"},
    {10051, "ICMP network unreachable"},
    {10052, "Network was reset"},
    {10053, "Software caused connection abort"},
    {10054, "Connection reset by peer"},
    {10055, "No buffer space is supported"},
    {10056, "Socket is already connected"},
    {10057, "Socket is not connected"},
    {10058, "Can't send after socket shutdown"},
    {10059, "Too many references"},
    {10060, "Connection timed out"},
    {10061, "Connection refused"},
    {10062, "Too many levels of symbolic links"},
    {10063, "Name too long"},
    {10064, "Host is down"},
    {10065, "Host is unreachable"},
    {10066, "Directory not empty"},
    {10067, "EPROCLIM returned"},
    {10068, "EUSERS returned"},
    {10069, "Disk quota exceeded"},
    {10070, "ESTALE returned"},
    {10071, "The object is remote"},
    {10091, "System not ready"},
    {10092, "Version is not supported"},
    {10093, "Not initialized"},
    {10101, "ptext =ed by WSARecv or WSARecvFrom to indicate the remote party has initiated a graceful shutdown "
            "sequence."},
    {11001, "Host not found"},
    {11002, "Try again"},
    {11003, "Non-recoverable error"},
    {11004, "No data record available"},
};

// After an interrupted connect the connection goes on being made: wait for it
// and take its outcome. 0 connected, else SOCKET_ERROR with errno set.
// Waits for a connect under way to end, at most `millis` (negative: without
// limit); a wait that runs out fails with ETIMEDOUT.
int completeInterruptedConnect(SOCKET s, int millis)
{
    pollfd p{};
    p.fd = s;
    p.events = POLLOUT;
    int r;
    do {
        r = ::poll(&p, 1, millis);
    } while (r < 0 && errno == EINTR);
    if (r == 0)
        errno = ETIMEDOUT;
    if (r <= 0)
        return SOCKET_ERROR;
    int error = 0;
    socklen_t length = sizeof error;
    if (::getsockopt(s, SOL_SOCKET, SO_ERROR, &error, &length) != 0)
        return SOCKET_ERROR;
    if (error != 0) {
        errno = error;
        return SOCKET_ERROR;
    }
    return 0;
}

const char kEchoPrefix[] = "";  // echo files: "../logs/<pid>_<name>"

}  // namespace

SkrSocketNonSSL::SkrSocketNonSSL()
    : SkrStreamSocket(0, reservedAddress(FAMILY_NOT_GIVEN), kEchoPrefix, false),
      m_ownSocket(INVALID_SOCKET),
      m_commSocket(INVALID_SOCKET),
      m_connected(0)
{
    m_in.bind(this);
    m_out.bind(this);
}

SkrSocketNonSSL::~SkrSocketNonSSL()
{
    closeEcho();
    Close();
}

SkarnSocketInputStream& SkrSocketNonSSL::getInputStream() { return m_in; }

QioOutputStream& SkrSocketNonSSL::getOutputStream() { return m_out; }

// ---- echo ----------------------------------------------------------------

std::string SkrSocketNonSSL::echoPath(const char* name) { return SkrStreamSocket::echoFilePath(kEchoPrefix, name); }

bool SkrSocketNonSSL::headersOn() const { return m_echo != 0 || std::getenv("ZEV_SKT_ECHO_RW") != nullptr; }

// ---- target --------------------------------------------------------------

void SkrSocketNonSSL::prepare(const char* url)
{
    m_url.reset();
    m_url.append(url);
    m_address = reservedAddress(FAMILY_NOT_GIVEN);
    m_nPort = 0;

    const VexUrl split = VexUrl::split(url);
    if (split.keyBegin == std::string::npos || split.keyBegin >= split.text.size()) {
        m_url.reset();
        SkarnException::raise(VEX_LOCATION, "SkrSocketNonSSL::prepare", SkarnException::errBadUrl,
                              {I18NString(split.text), I18NString("no ://")});
    }
    if (split.hasPort) {
        // The digits after the colon, as atoi reads them (0 when there are
        // none); a number no TCP port can have is refused rather than cut to
        // 16 bits, which would reach another port.
        errno = 0;
        const long port = std::strtol(split.portText.c_str(), nullptr, 10);
        if (errno == ERANGE || port < 0 || port > 65535) {
            m_url.reset();
            SkarnException::raise(VEX_LOCATION, "SkrSocketNonSSL::prepare", SkarnException::errBadUrl,
                                  {I18NString(split.text), I18NString("port out of range")});
        }
        m_nPort = static_cast<int>(port);
    }
    // A broken IPv6 literal names no host.
    const bool literalFault = split.fault == VexUrl::UnclosedLiteral || split.fault == VexUrl::TextAfterLiteral;
    m_address = literalFault ? reservedAddress(FAMILY_UNRESOLVED) : SkarnHost::getIPAddress(split.host.c_str());
    m_url.reset();
}

// ---- connecting ----------------------------------------------------------

void SkrSocketNonSSL::raiseSocketError(const char* function)
{
    SkarnException::raise(VEX_LOCATION, function, SkarnException::errSocket, {}, m_lastErrorText.c_str());
}

void SkrSocketNonSSL::checkPort(int port)
{
    if (port >= 0 && port <= 65535)
        return;
    WSASetLastError(WSAEINVAL);
    setLastErrorText();
    raiseSocketError("SkrSocketNonSSL::Open");
}

void SkrSocketNonSSL::Open(const char* url, const char* sessionConfigDoc)
{
    prepare(url);
    Open(m_nPort, m_address, sessionConfigDoc);
}

void SkrSocketNonSSL::Open(int port, const sockaddr_storage& address, const char* /*sessionConfigDoc*/)
{
    if (m_connected)
        return;
    checkPort(port);
    m_nPort = port;
    m_address = address;
    sockaddr_storage target = withPort(address, port);

    if (m_ownSocket != INVALID_SOCKET) {
        // Left by an earlier failed connect.
        ::shutdown(m_ownSocket, SD_BOTH);
        closesocket(m_ownSocket);
        m_ownSocket = INVALID_SOCKET;
    }
    m_ownSocket = wsa::socket(target.ss_family, SOCK_STREAM, 0);
    if (m_ownSocket == 0) {
        // Descriptor 0 (standard input closed) is not kept as a connection: take another.
        SOCKET zero = m_ownSocket;
        m_ownSocket = wsa::socket(target.ss_family, SOCK_STREAM, 0);
        const int failure = errno;  // the report is about this socket, not about closing descriptor 0
        ::shutdown(zero, SD_BOTH);
        closesocket(zero);
        errno = failure;
    }
    if (m_ownSocket == INVALID_SOCKET) {
        setLastErrorText();
        raiseSocketError("SkrSocketNonSSL::Open");
    }
    connectOwnSocket(target);
}

void SkrSocketNonSSL::Open(int port)
{
    if (m_connected)
        return;
    checkPort(port);
    m_nPort = port;
    VexSocketAddress resolver("QSM_Crypto_Interface");
    int count = 0;
    resolver.QSM_ResolveAddress(m_serverHost.c_str(), static_cast<unsigned short>(port), 0, &count);
    sockaddr_storage target;
    resolver.QSM_GetAddress(0, &target);
    if (target.ss_family == FAMILY_UNRESOLVED)
        VexIllegalStateError(0, nullptr).hurl(VEX_LOCATION, "SkrSocketNonSSL::Open", "VEX_THROW");

    if (m_ownSocket != INVALID_SOCKET) {
        ::shutdown(m_ownSocket, SD_BOTH);
        closesocket(m_ownSocket);
        m_ownSocket = INVALID_SOCKET;
    }
    m_ownSocket = wsa::socket(target.ss_family, SOCK_STREAM, 0);
    if (m_ownSocket == INVALID_SOCKET) {
        setLastErrorText();
        raiseSocketError("SkrSocketNonSSL::Open");
    }
    connectOwnSocket(target);
}

void SkrSocketNonSSL::connectOwnSocket(const sockaddr_storage& target)
{
    const socklen_t length = target.ss_family == AF_INET ? 16 : 28;
    const int attempts = m_limits.connectAttempts > 0 ? m_limits.connectAttempts : 1;
    const int limit = m_limits.connectTimeoutSeconds > 0 ? 1000 * m_limits.connectTimeoutSeconds : -1;
    for (int attempt = 1;; ++attempt) {
        // With a time-out the attempt runs without blocking and its wait is bounded.
        const int flags = limit > 0 ? ::fcntl(m_ownSocket, F_GETFL) : -1;
        if (flags >= 0)
            ::fcntl(m_ownSocket, F_SETFL, flags | O_NONBLOCK);
        int r = ::connect(m_ownSocket, reinterpret_cast<const sockaddr*>(&target), length);
        if (r != 0 && (WSAGetLastError() == WSAEINTR || (limit > 0 && errno == EINPROGRESS)))
            r = completeInterruptedConnect(m_ownSocket, limit);
        if (flags >= 0) {
            const int failure = errno;
            ::fcntl(m_ownSocket, F_SETFL, flags);
            errno = failure;
        }
        if (r == 0)
            break;
        if (attempt >= attempts) {
            setLastErrorText();
            raiseSocketError("SkrSocketNonSSL::Open");
        }
        if (m_limits.connectRetryPauseSeconds > 0)
            VexThread::sleep(m_limits.connectRetryPauseSeconds);
    }
    m_commSocket = m_ownSocket;
    m_connected = 1;
    setNoDelay();
}

void SkrSocketNonSSL::open() { Open(m_nPort, m_address, nullptr); }

void SkrSocketNonSSL::setNoDelay()
{
    if (!skarnTcpNoDelay.load())
        return;
    VEX_ASSERT(m_commSocket != INVALID_SOCKET);
    int on = 1;
    if (::setsockopt(m_commSocket, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on) != 0 && m_fpEcho)
        echoRecord(headersOn() ? "\nsetsockopt to TCP_NODELAY FAILED\n" : nullptr, 0, nullptr, 0);
}

int SkrSocketNonSSL::isAlive()
{
    if (!m_connected || m_endOfStream || m_in.held() > 0)
        return 0;
    // One non-blocking peek: an end of stream is the peer's close, a byte is
    // data nobody asked for; only "nothing yet" leaves the connection usable.
    char c;
    const ssize_t n = ::recv(m_commSocket, &c, 1, MSG_PEEK | MSG_DONTWAIT);
    return n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR) ? 1 : 0;
}

void SkrSocketNonSSL::Close()
{
    m_in.dropHeld();
    if (m_commSocket != m_ownSocket && m_connected && m_commSocket != INVALID_SOCKET) {
        ::shutdown(m_commSocket, SD_BOTH);
        closesocket(m_commSocket);
        m_commSocket = INVALID_SOCKET;
    }
    m_connected = 0;
    if (m_ownSocket != INVALID_SOCKET) {
        ::shutdown(m_ownSocket, SD_BOTH);
        closesocket(m_ownSocket);
        if (m_commSocket == m_ownSocket)
            m_commSocket = INVALID_SOCKET;
        m_ownSocket = INVALID_SOCKET;
    }
}

// ---- traffic -------------------------------------------------------------

void SkrSocketNonSSL::ReadBuffer(char* buffer, unsigned int length, int* received)
{
    if (!buffer || length == 0 || !received)
        raiseIllegalArgument("SkrSocketNonSSL::ReadBuffer");
    if (takeGivenBack(buffer, length, received))
        return;
    if (!m_connected || m_endOfStream)
        return;

    if (m_timeLimitCallback) {
        for (;;) {
            int r = wsa::waitReadable(m_commSocket, m_timeLimitSec);
            if (r > 0)
                break;
            if (r == 0) {
                m_timeLimitCallback(m_timeLimitArgument);  // raises to end the wait
                continue;
            }
            if (WSAGetLastError() == WSAEINTR)
                continue;
            setLastErrorText();
            raiseSocketError("SkrSocketNonSSL::ReadBuffer");
        }
    }

    *received = 0;
    const int ask = length > static_cast<unsigned>(INT_MAX) ? INT_MAX : static_cast<int>(length);
    for (;;) {
        int r = wsa::recv(m_commSocket, buffer, ask, 0);
        if (r > 0) {
            *received = r;
            break;
        }
        if (r == 0) {
            m_endOfStream = 1;
            break;
        }
        int error = WSAGetLastError();
        if (error == WSAECONNRESET) {
            m_endOfStream = 1;
            break;
        }
        if (error == WSAEINTR)
            continue;
        setLastErrorText();
        raiseSocketError("SkrSocketNonSSL::ReadBuffer");
    }

    if (m_fpEcho)  // at the end of the stream (0 bytes) the marker alone
        echoRecord(headersOn() ? "\n<read[%d]>\n" : nullptr, *received, buffer, *received);
}

void SkrSocketNonSSL::WriteBuffer(const char* buffer, unsigned int length, int* written)
{
    if (written)
        *written = 0;
    // `written` is an int: a longer write could not be counted.
    if (!buffer || length == 0 || !written || length > static_cast<unsigned>(INT_MAX))
        raiseIllegalArgument("SkrSocketNonSSL::WriteBuffer");

    const char* rest = buffer;
    int remaining = static_cast<int>(length);
    while (remaining > 0) {
        const int ask = remaining;
        int sent;
        if (m_commSocket == INVALID_SOCKET && std::getenv("ZEV_SKT_NO_SOCKET")) {
            sent = ask;
        } else {
            sent = wsa::send(m_commSocket, rest, ask, 0);
            if (sent < 0) {
                if (WSAGetLastError() == WSAEINTR)
                    continue;
                setLastErrorText();
                raiseSocketError("SkrSocketNonSSL::WriteBuffer");
            }
        }
        if (m_fpEcho)
            echoRecord(headersOn() ? "\n<write[%d]>\n" : nullptr, sent, rest, sent);
        *written += sent;
        rest += sent;
        remaining -= sent;
    }
}

// ---- error texts ---------------------------------------------------------

const char* SkrSocketNonSSL::errorText(int wsaError)
{
    for (const ErrorText& e : kErrorTexts)
        if (e.code == wsaError)
            return e.text;
    return "Unknown error code";
}

void SkrSocketNonSSL::setLastErrorText() { m_lastErrorText = I18NString(errorText(WSAGetLastError())); }
