#include "net/SkrSocket.h"

#include "api/CryptoError.h"
#include "api/SkarnException.h"
#include "platform/core/VexDowncastSize.h"
#include "platform/core/VexMacros.h"
#include "platform/core/VexThread.h"
#include "platform/core/VexUnexpectedError.h"
#include "platform/crypto/VexSocketAddress.h"
#include "platform/streams/QioIOTimeoutException.h"

#include <netinet/in.h>

#include <atomic>
#include <chrono>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <new>

#ifndef TRUE
#define TRUE true
#endif

namespace {

const char kRootEnd[] = "</sessionConfigDocument>";
const int kRootStartLength = 23;  // strlen("<sessionConfigDocument>")
const int kRetries = 5;
const char kEchoPrefix[] = "pid_";  // echo files: "../logs/pid_<pid>_<name>"

std::atomic<int> g_waitUnitMillis{1000};

}  // namespace

int SkrSocket::setWaitUnitMillis(int milliseconds)
{
    return g_waitUnitMillis.exchange(milliseconds > 0 ? milliseconds : 1000);
}

SkrSocket::SkrSocket()
    : SkrStreamSocket(0, reservedAddress(FAMILY_NOT_GIVEN), kEchoPrefix, true),
      m_crypto(VexCryptoSharedFactory::getInstance()),
      m_hQSMSocket(nullptr)
{
    m_echo = std::getenv("ZEV_SKT_ECHO_RW") ? 1 : 0;
    m_in.bind(this);
    m_out.bind(this);
}

SkrSocket::SkrSocket(void* handle, int port, const sockaddr_storage& address)
    : SkrStreamSocket(port, address, kEchoPrefix, true),
      m_crypto(VexCryptoSharedFactory::getInstance()),
      m_hQSMSocket(handle),
      m_open(1)
{
    m_echo = std::getenv("ZEV_SKT_ECHO_RW") ? 1 : 0;
    m_in.bind(this);
    m_out.bind(this);
    setNoDelay();
    // Like every socket the factory makes: with ZEV_SKT_NONBLOCKING present an
    // accepted connection works in non-blocking mode, so that read time-outs
    // and cancel reach a server's reads too.
    if (std::getenv("ZEV_SKT_NONBLOCKING")) {
        m_nonBlocking = 1;
        allocateReceiveBuffer();
        setNonBlocking();
    }
}

SkrSocket::~SkrSocket()
{
    closeEcho();
    try {
        Close();
    } catch (VexThrowable&) {
        // A destructor reports nothing; the handle is released all the same.
    }
}

SkarnSocketInputStream& SkrSocket::getInputStream() { return m_in; }

QioOutputStream& SkrSocket::getOutputStream() { return m_out; }

// ---- echo ----------------------------------------------------------------

std::string SkrSocket::echoPath(const char* name) { return SkrStreamSocket::echoFilePath(kEchoPrefix, name); }

void SkrSocket::echoRead(const char* buffer, int n)
{
    if (n > 0)
        echoRecord("\n<read[%04d]>\n", n, buffer, n);
}

void SkrSocket::echoWrite(const char* buffer, int n, bool blockingMode)
{
    // Blocking writes are recorded only with headers on, marker first.
    if (blockingMode && (!m_echo || n <= 0))
        return;
    echoRecord(m_echo ? "\n<write[%d]>\n" : nullptr, n, buffer, n);
}

// ---- targets ---------------------------------------------------------------

void SkrSocket::prepare(const char* url)
{
    Close();
    m_url.reset();
    m_url.append(url);
    m_nPort = 0;
    m_address = reservedAddress(FAMILY_UNRESOLVED);
}

bool SkrSocket::validateSessionDocument()
{
    if (!m_sessionConfigDoc)
        return false;
    const char* end = std::strstr(m_sessionConfigDoc, kRootEnd);
    return end && end - m_sessionConfigDoc >= kRootStartLength;
}

void SkrSocket::Open(const char* url, const char* sessionConfigDoc)
{
    if (m_open)
        return;
    VEX_ASSERT(sessionConfigDoc != NULL);
    m_sessionConfigDoc = sessionConfigDoc;
    VEX_ASSERT(validateSessionDocument() == TRUE);
    m_url.reset();
    m_url.append(url);
    m_nPort = 0;
    m_address = reservedAddress(FAMILY_UNRESOLVED);
    open();
}

void SkrSocket::Open(int port, const sockaddr_storage& address, const char* sessionConfigDoc)
{
    if (m_open)
        return;
    VEX_ASSERT(sessionConfigDoc != NULL);
    m_sessionConfigDoc = sessionConfigDoc;
    VEX_ASSERT(validateSessionDocument() == TRUE);
    m_nPort = port;
    VEX_ASSERT(m_nPort > 0 && m_nPort < 65536);
    m_url.reset();
    m_address = address;
    open();
}

void SkrSocket::Open(int)
{
    SkarnException::raise(VEX_LOCATION, "SkrSocket::Open(int)", SkarnException::errNotSupported);
}

// ---- opening ---------------------------------------------------------------

void SkrSocket::open()
{
    static const char kFunction[] = "SkrSocket::open()";
    if (m_open)
        return;
    if (!VexCrypto::isOpen())
        VexUnexpectedError(0, "cannot open Crypto lib").hurl(VEX_LOCATION, kFunction, "VEX_THROW");

    const bool haveUrl = !m_url.isEmpty();
    const std::string url = haveUrl ? std::string(m_url.getData(), m_url.length()) : std::string();
    sockaddr_storage target;
    VexSocketAddress resolver("QSM_Crypto_Interface");
    if (!haveUrl) {
        target = withPort(m_address, m_nPort);
    } else {
        int count = 0;
        resolver.QSM_ResolveAddressFromURI(url.c_str(), 0, &count);
        resolver.QSM_GetAddress(0, &target);
    }

    // The parameters of a failure to reach the target: the URL, or the address text and port.
    auto targetFailure = [&](int status, const char* literal, const char* function) {
        SkarnMessage message(haveUrl ? 1842289512u : 1841617768u);
        if (haveUrl) {
            message << VexMessageParm(I18NString(url));
        } else {
            char text[1025] = "";
            resolver.QSM_GetAddressAsText(&m_address, text, sizeof text);
            message << VexMessageParm(I18NString(text)) << VexMessageParm(static_cast<long>(m_nPort));
        }
        if (literal)
            message << VexMessageParm(static_cast<long>(status));
        SkarnException e(1, haveUrl ? SkarnException::errHostNotResolved : SkarnException::errNoAddress, message);
        if (literal)
            e << VexMessageString(literal);
        e.hurl(VEX_LOCATION, function, "VEX_THROW");
    };
    if (target.ss_family == FAMILY_UNRESOLVED)
        targetFailure(0, nullptr, kFunction);

    // The handle's address family is the target's, whatever the document says.
    const char* document = m_sessionConfigDoc ? m_sessionConfigDoc : "";
    char* details = nullptr;
    const int s = m_crypto->QSM_Socket(&m_hQSMSocket, document, target.ss_family, -1, &details);
    if (s != QSM_S_OK) {
        const std::string text = details ? details : "";
        m_crypto->QSM_CryptoFree(details);
        m_hQSMSocket = nullptr;
        char function[128];
        std::snprintf(function, sizeof function, "QSM_Socket=0x%x %s", static_cast<unsigned>(s), kFunction);
        targetFailure(s, text.c_str(), function);
    }
    m_crypto->QSM_CryptoFree(details);
    m_open = 1;

    connectLoop(haveUrl ? url.c_str() : nullptr, target);
    setNoDelay();
    if (m_nonBlocking) {
        allocateReceiveBuffer();
        setNonBlocking();
    }
}

void SkrSocket::connectLoop(const char* url, const sockaddr_storage& target)
{
    auto connectOnce = [&]() {
        return url ? m_crypto->QSM_Connect_Url(m_hQSMSocket, url, nullptr)
                   : m_crypto->QSM_Connect(m_hQSMSocket, &target, 128, nullptr);
    };
    int status = QSM_S_OK;
    for (int attempt = 1;; ++attempt) {
        int retries = kRetries;
        for (;;) {
            status = connectOnce();
            if (status == QSM_S_OK)
                return;
            if (status == QSM_E_FAILED)
                raiseCryptoError("QSM_Connect", status, "SkrSocket::open()");
            if (status != QSM_E_NEGOTIATE)
                break;
            int negotiation = m_crypto->QSM_EstablishSecure(m_hQSMSocket, nullptr);
            while (negotiation == QSM_E_WOULD_BLOCK && retries > 0) {
                --retries;
                negotiation = m_crypto->QSM_EstablishSecure(m_hQSMSocket, nullptr);
            }
            if (negotiation != QSM_S_OK || retries == 0)
                break;
            --retries;  // negotiated: the library now reports the connection
        }
        if (attempt >= m_limits.connectAttempts)
            raiseCryptoError("QSM_Connect", status, "SkrSocket::open()");
        if (m_limits.connectRetryPauseSeconds > 0)
            VexThread::sleep(m_limits.connectRetryPauseSeconds);
    }
}

void SkrSocket::raiseCryptoError(const char* call, int status, const char* function)
{
    I18NString text;
    {
        CryptoError error(m_hQSMSocket, call, status);
        error.describe(text);
    }
    SkarnException::raise(VEX_LOCATION, function, SkarnException::errSocket, {}, text.c_str());
}

void SkrSocket::setNoDelay()
{
    if (!skarnTcpNoDelay.load())
        return;
    VEX_ASSERT(m_hQSMSocket);
    int one = 1;
    if (m_crypto->QSM_SetSockOpt(m_hQSMSocket, QSM_TCP_NODELAY, &one, 4, nullptr) != QSM_S_OK)
        echoRecord(m_echo ? "\nQSM_SetSockOpt to TCP_NODELAY FAILED\n" : nullptr, 0, nullptr, 0);
}

void SkrSocket::allocateReceiveBuffer()
{
    m_readAhead.release();
    int size = 0;
    int length = 4;
    if (m_crypto->QSM_GetSockOpt(m_hQSMSocket, QSM_SO_RCVBUF, &size, &length, nullptr) != QSM_S_OK || size <= 0)
        return;
    m_readAhead.allocate(size);
}

void SkrSocket::setNonBlocking()
{
    int one = 1;
    int qsm_stat = m_crypto->QSM_SetSockOpt(m_hQSMSocket, QSM_FIONBIO, &one, 4, nullptr);
    VEX_ASSERT(qsm_stat == QSM_S_OK);
}

// ---- state -----------------------------------------------------------------

int SkrSocket::isAlive()
{
    // A connection handed to a new caller must stand at the start of that
    // caller's answer: bytes given back, held in the receive buffer or
    // waiting in the library belong to some earlier message, so the
    // connection is not reused.
    if (!m_open || m_endOfStream || m_in.held() > 0 || m_readAhead.held() > 0)
        return 0;
    return m_crypto->QSM_SocketStatus(m_hQSMSocket, nullptr) == QSM_S_OK ? 1 : 0;
}

void SkrSocket::Close()
{
    m_in.dropHeld();
    if (!m_open)
        return;
    char* details = nullptr;
    const int status = m_crypto->QSM_CloseHandle(&m_hQSMSocket, nullptr, &details);
    m_hQSMSocket = nullptr;
    m_open = 0;
    if (status != QSM_S_OK) {
        const std::string text = details ? details : "";
        m_crypto->QSM_CryptoFree(details);
        SkarnException::raise(VEX_LOCATION, "SkrSocket::Close", SkarnException::errSocket, {}, text.c_str());
    }
    m_crypto->QSM_CryptoFree(details);
}

// ---- waiting, reading, writing ---------------------------------------------

int SkrSocket::waitForSocket(int forWrite)
{
    const long long unit = g_waitUnitMillis.load();
    const long long millis = (m_timeLimitSec > 0 ? m_timeLimitSec : 3) * unit;
    for (;;) {
        QSM_Handle_Set readSet{0, {}}, writeSet{0, {}}, exceptSet{0, {}};
        QSM_Handle_Set& mine = forWrite ? writeSet : readSet;
        mine.count = 1;
        mine.handles[0] = m_hQSMSocket;
        timeval timeout{static_cast<time_t>(millis / 1000), static_cast<suseconds_t>((millis % 1000) * 1000)};
        int count = 0;
        char* details = nullptr;
        const int status = m_crypto->QSM_Select(&readSet, &writeSet, &exceptSet, &timeout, &count, &details);
        m_crypto->QSM_CryptoFree(details);
        if (status < 0)
            return status;
        if (mine.count == 1 && mine.handles[0] == m_hQSMSocket)
            return 0;
        // The time ran out. Only a read wait tells the callback, which ends the wait by raising.
        if (!forWrite && m_timeLimitCallback)
            m_timeLimitCallback(m_timeLimitArgument);
    }
}

int SkrSocket::receiveWaitingFor(char* buffer, int length, int* received)
{
    for (;;) {
        const int status = m_crypto->QSM_Recv(m_hQSMSocket, buffer, length, 0, received, nullptr);
        if (status != QSM_E_WOULD_BLOCK)
            return status;
        const int wait = waitForSocket(0);
        if (wait < 0)
            return wait;
    }
}

int SkrSocket::receiveBuffered(char* buffer, int length, int* received)
{
    *received = 0;
    if (!m_readAhead.allocated() || length > m_readAhead.size()) {
        // Larger than the buffer: what is held first, else straight into the caller's area.
        if (m_readAhead.held() > 0) {
            *received = m_readAhead.take(buffer, length);
            return QSM_S_OK;
        }
        return receiveWaitingFor(buffer, length, received);
    }
    if (m_readAhead.held() == 0) {
        int got = 0;
        const int status = receiveWaitingFor(m_readAhead.space(), m_readAhead.size(), &got);
        if (status != QSM_S_OK)
            return status;
        m_readAhead.filled(got);
    }
    *received = m_readAhead.take(buffer, length);
    return QSM_S_OK;
}

void SkrSocket::ReadBuffer(char* buffer, unsigned int length, int* received)
{
    if (!buffer || length == 0 || !received)
        raiseIllegalArgument("SkrSocket::ReadBuffer");
    *received = 0;
    if (takeGivenBack(buffer, length, received))
        return;
    const int want = length > static_cast<unsigned>(INT_MAX) ? INT_MAX : static_cast<int>(length);
    if (!m_open || m_endOfStream)
        return;
    if (!m_nonBlocking && m_in.hasResponseLimits()) {
        // A blocking read waits inside the library, where no limit reaches:
        // a connection read under limits works without blocking from now on.
        allocateReceiveBuffer();
        setNonBlocking();
        m_nonBlocking = 1;
    }
    int n = 0;
    const int status = m_nonBlocking ? receiveBuffered(buffer, want, &n)
                                     : m_crypto->QSM_Recv(m_hQSMSocket, buffer, want, 0, &n, nullptr);
    if (status != QSM_S_OK && status != QSM_E_PEER_CLOSED)
        raiseCryptoError("QSM_Recv", status, "SkrSocket::ReadBuffer");
    if (n == 0) {
        m_endOfStream = 1;
    } else {
        *received = n;
        m_bytesIn += static_cast<unsigned>(n);
        m_in.received(static_cast<unsigned>(n));
    }
    echoRead(buffer, n);
}

void SkrSocket::useNonBlocking()
{
    if (m_readAhead.held() == 0)
        m_readAhead.release();  // made for ZEV_SKT_NONBLOCKING; an event loop's connection reads without it
    if (m_nonBlocking)
        return;
    setNonBlocking();
    m_nonBlocking = 1;
}

int SkrSocket::receiveWaiting(char* buffer, int length)
{
    int n = 0;
    if (takeGivenBack(buffer, static_cast<unsigned>(length), &n))
        return n;
    if (m_readAhead.held() > 0) {
        n = m_readAhead.take(buffer, length);
        m_bytesIn += static_cast<unsigned>(n);
        return n;
    }
    if (!m_open || m_endOfStream)
        return -1;
    const int status = m_crypto->QSM_Recv(m_hQSMSocket, buffer, length, 0, &n, nullptr);
    if (status == QSM_E_WOULD_BLOCK)
        return 0;
    if (status != QSM_S_OK && status != QSM_E_PEER_CLOSED)
        raiseCryptoError("QSM_Recv", status, "SkrSocket::ReadBuffer");
    if (n == 0) {
        m_endOfStream = 1;
        return -1;
    }
    m_bytesIn += static_cast<unsigned>(n);
    echoRead(buffer, n);
    return n;
}

int SkrSocket::sendWaiting(const char* buffer, int length)
{
    int sent = 0;
    const int status = m_crypto->QSM_Send(m_hQSMSocket, buffer, length, 0, &sent, nullptr);
    if (status == QSM_E_WOULD_BLOCK)
        return 0;
    if (status != QSM_S_OK)
        raiseCryptoError("QSM_Send", status, "SkrSocket::WriteBuffer");
    m_bytesOut += static_cast<unsigned>(sent);
    echoWrite(buffer, sent, false);
    return sent;
}

int SkrSocket::descriptor(short& events, bool& readyNow) const
{
    int fd = -1, now = 0;
    events = 0;
    readyNow = false;
    if (!m_open || m_crypto->QSM_GetDescriptor(m_hQSMSocket, &fd, &events, &now) != QSM_S_OK)
        return -1;
    readyNow = now != 0 || m_in.held() > 0 || m_readAhead.held() > 0;
    return fd;
}

void SkrSocket::setWriteLimits(int silenceSeconds, int minBytesPerSecond)
{
    m_writeSilenceMillis = silenceSeconds > 0 ? 1000 * silenceSeconds : 0;
    m_writeMinRate = minBytesPerSecond > 0 ? minBytesPerSecond : 0;
    m_writeBlockedMillis = 0;
    m_writeBytes = 0;
    m_writeTimedOut = false;
}

int SkrSocket::waitWritable()
{
    using Clock = std::chrono::steady_clock;
    const Clock::time_point start = Clock::now();
    for (;;) {
        const long long waited = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
        const long long blocked = m_writeBlockedMillis + waited;
        const bool tooSlow = m_writeMinRate > 0 && blocked >= m_writeSilenceMillis &&
                             m_writeBytes * 1000 < static_cast<unsigned long long>(m_writeMinRate) * blocked;
        if (waited >= m_writeSilenceMillis || tooSlow) {
            m_writeTimedOut = true;
            QioIOTimeoutException(0).hurl(VEX_LOCATION, "SkrSocket::WriteBuffer - the peer does not take the data",
                                          "VEX_THROW");
        }
        QSM_Pollfd pollfd{m_hQSMSocket, QSM_POLL_WRITABLE, 0};
        const long long left = m_writeSilenceMillis - waited;
        char* details = nullptr;
        const int status =
            m_crypto->QSM_Poll(&pollfd, 1, static_cast<int>(left < 250 ? left : 250), nullptr, &details);
        m_crypto->QSM_CryptoFree(details);
        if (status == QSM_S_OK && (pollfd.revents & (QSM_POLL_WRITABLE | QSM_POLL_ERROR | QSM_POLL_HANGUP))) {
            m_writeBlockedMillis +=
                std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
            return 0;
        }
        if (status != QSM_S_OK && status != QSM_S_TIMEOUT && status != QSM_E_INTERRUPTED)
            return status;
    }
}

void SkrSocket::WriteBuffer(const char* buffer, unsigned int length, int* written)
{
    if (written)
        *written = 0;
    if (!buffer || length == 0 || !written)
        raiseIllegalArgument("SkrSocket::WriteBuffer");
    if (m_nonBlocking) {
        // Pieces of m_sendBufferSize bytes, one after the other (a loop: a
        // write of gigabytes must not take a stack frame per piece).
        const int piece = m_sendBufferSize > 0 ? m_sendBufferSize : INT_MAX;
        const char* rest = buffer;
        for (int remaining = VexDowncastSize<int>(length); remaining > 0;) {
            const int n = remaining < piece ? remaining : piece;
            int sent = 0;
            internalWriteBuffer(rest, n, &sent);
            *written += sent;
            rest += n;
            remaining -= n;
        }
        return;
    }
    unsigned remaining = length;
    const char* rest = buffer;
    while (remaining > 0) {
        int sent = 0;
        const int piece = remaining > static_cast<unsigned>(INT_MAX) ? INT_MAX : static_cast<int>(remaining);
        if (!m_hQSMSocket && std::getenv("ZEV_SKT_NO_SOCKET")) {
            sent = piece;
        } else {
            const int status = m_crypto->QSM_Send(m_hQSMSocket, rest, piece, 0, &sent, nullptr);
            if (status != QSM_S_OK)
                raiseCryptoError("QSM_Send", status, "SkrSocket::WriteBuffer");
        }
        echoWrite(rest, sent, true);
        m_bytesOut += static_cast<unsigned>(sent);
        *written += sent;
        rest += sent;
        remaining -= static_cast<unsigned>(sent);
    }
}

void SkrSocket::internalWriteBuffer(const char* buffer, int length, int* written)
{
    if (!buffer || !written)
        raiseIllegalArgument("SkrSocket::internalWriteBuffer");
    *written = 0;
    int remaining = length;
    const char* rest = buffer;
    while (remaining > 0) {
        int sent = 0;
        if (!m_hQSMSocket && std::getenv("ZEV_SKT_NO_SOCKET")) {
            sent = remaining;
        } else {
            // Send first: a connection that takes the bytes costs no wait.
            for (;;) {
                const int status = m_crypto->QSM_Send(m_hQSMSocket, rest, remaining, 0, &sent, nullptr);
                if (status == QSM_S_OK)
                    break;
                if (status != QSM_E_WOULD_BLOCK)
                    raiseCryptoError("QSM_Send", status, "SkrSocket::WriteBuffer");
                const int wait = m_writeSilenceMillis > 0 ? waitWritable() : waitForSocket(1);
                if (wait < 0)
                    raiseCryptoError("QSM_Select", wait, "SkrSocket::WriteBuffer");
            }
        }
        echoWrite(rest, sent, false);
        m_bytesOut += static_cast<unsigned>(sent);
        m_writeBytes += static_cast<unsigned>(sent);
        *written += sent;
        rest += sent;
        remaining -= sent;
    }
}
