#include "net/SkrSocket.h"

#include "api/CryptoError.h"
#include "api/SkarnException.h"
#include "net/SkarnHost.h"
#include "net/SkrSocketNonSSL.h"
#include "platform/core/VexDowncastSize.h"
#include "platform/core/VexFmDir.h"
#include "platform/core/VexIllegalArgumentError.h"
#include "platform/core/VexMacros.h"
#include "platform/core/VexOutOfMemoryError.h"
#include "platform/core/VexThread.h"
#include "platform/core/VexUnexpectedError.h"
#include "platform/core/VexUtSystemInfo.h"
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

std::atomic<int> g_waitUnitMillis{1000};

void raiseIllegalArgument(const char* function)
{
    VexIllegalArgumentError(0, nullptr).hurl(VEX_LOCATION, function, "VEX_THROW");
}

void setPort(sockaddr_storage& address, int port)
{
    if (address.ss_family == AF_INET)
        reinterpret_cast<sockaddr_in*>(&address)->sin_port = htons(static_cast<uint16_t>(port));
    else if (address.ss_family == AF_INET6)
        reinterpret_cast<sockaddr_in6*>(&address)->sin6_port = htons(static_cast<uint16_t>(port));
}

}  // namespace

int SkrSocket::setWaitUnitMillis(int milliseconds)
{
    return g_waitUnitMillis.exchange(milliseconds > 0 ? milliseconds : 1000);
}

SkrSocket::SkrSocket()
    : SkarnSocket(0, reservedAddress(FAMILY_NOT_GIVEN)),
      m_crypto(VexCryptoSharedFactory::getInstance()),
      m_hQSMSocket(nullptr),
      m_echo(std::getenv("ZEV_SKT_ECHO_RW") ? 1 : 0)
{
    m_in.bind(this);
    m_out.bind(this);
}

SkrSocket::SkrSocket(void* handle, int port, const sockaddr_storage& address)
    : SkarnSocket(port, address),
      m_crypto(VexCryptoSharedFactory::getInstance()),
      m_hQSMSocket(handle),
      m_open(1),
      m_echo(std::getenv("ZEV_SKT_ECHO_RW") ? 1 : 0)
{
    m_in.bind(this);
    m_out.bind(this);
    setNoDelay();
    // Like every socket the factory makes: with ZEV_SKT_NONBLOCKING present an
    // accepted connection works in non-blocking mode, so that read time-outs
    // and cancel reach a server's reads too.
    if (std::getenv("ZEV_SKT_NONBLOCKING")) {
        m_nonBlocking = 1;
        try {
            allocateReceiveBuffer();
            setNonBlocking();
        } catch (...) {
            std::free(m_recvBuffer);
            m_recvBuffer = nullptr;
            throw;
        }
    }
}

SkrSocket::~SkrSocket()
{
    echo(nullptr, nullptr, 0);
    try {
        Close();
    } catch (VexThrowable&) {
        // A destructor reports nothing; the handle is released all the same.
    }
    m_sessionConfigDoc = nullptr;
    m_hQSMSocket = nullptr;
    if (m_fpEcho) {
        std::fclose(m_fpEcho);
        m_fpEcho = nullptr;
    }
    std::free(m_recvBuffer);
    m_recvBuffer = nullptr;
}

SkarnSocketInputStream& SkrSocket::getInputStream() { return m_in; }

QioOutputStream& SkrSocket::getOutputStream() { return m_out; }

// ---- echo ----------------------------------------------------------------

std::string SkrSocket::echoPath(const char* name)
{
    char path[512];
    std::snprintf(path, sizeof path, "../logs/pid_%ld_%.200s", VexUtSystemInfo::getProcessId(), name ? name : "");
    return VexFmDir::resolveEffectivePath(path);
}

void SkrSocket::echo(std::string sFileName)
{
    if (m_fpEcho) {
        std::fflush(m_fpEcho);
        std::fclose(m_fpEcho);
        m_fpEcho = nullptr;
    }
    if (sFileName.empty())
        return;
    m_fpEcho = std::fopen(sFileName.c_str(), "a+b");
    VEX_ASSERT(m_fpEcho != NULL);
}

void SkrSocket::echo(const char* sfilename) { echo(sfilename, nullptr, 0); }

void SkrSocket::echo(const char* sfilename, const char* mode, int echo_rw)
{
    if (m_fpEcho) {
        std::fclose(m_fpEcho);
        m_fpEcho = nullptr;
    }
    m_echo = (m_echo || echo_rw) ? 1 : 0;
    if (!sfilename || !*sfilename)
        return;
    const std::string m = SkrSocketNonSSL::effectiveEchoMode(mode);
    m_fpEcho = std::fopen(echoPath(sfilename).c_str(), m.c_str());
}

void SkrSocket::echoRead(const char* buffer, int n)
{
    if (!m_fpEcho || n <= 0)
        return;
    std::fprintf(m_fpEcho, "\n<read[%04d]>\n", n);
    std::fwrite(buffer, 1, static_cast<size_t>(n), m_fpEcho);
    std::fflush(m_fpEcho);
}

void SkrSocket::echoWrite(const char* buffer, int n, bool blockingMode)
{
    if (!m_fpEcho)
        return;
    if (blockingMode) {
        // Blocking writes are recorded only with headers on, marker first.
        if (!m_echo || n <= 0)
            return;
        std::fprintf(m_fpEcho, "\n<write[%ld]>\n", static_cast<long>(n));
        std::fwrite(buffer, 1, static_cast<size_t>(n), m_fpEcho);
    } else {
        if (m_echo)
            std::fprintf(m_fpEcho, "\n<write[%ld]>\n", static_cast<long>(n));
        if (n > 0)
            std::fwrite(buffer, 1, static_cast<size_t>(n), m_fpEcho);
    }
    std::fflush(m_fpEcho);
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

void SkrSocket::prepare(int port, const sockaddr_storage& address)
{
    Close();
    m_url.reset();
    m_nPort = port;
    m_address = address.ss_family == FAMILY_UNRESOLVED ? SkarnHost::getIPAddress(nullptr) : address;
}

void SkrSocket::setServerHostInfo(const char* host) { m_serverHost = host ? host : "localhost"; }

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
        target = m_address;
        setPort(target, m_nPort);
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
    if (m_crypto->QSM_SetSockOpt(m_hQSMSocket, QSM_TCP_NODELAY, &one, 4, nullptr) != QSM_S_OK && m_fpEcho) {
        if (m_echo)
            std::fputs("\nQSM_SetSockOpt to TCP_NODELAY FAILED\n", m_fpEcho);
        std::fflush(m_fpEcho);
    }
}

void SkrSocket::allocateReceiveBuffer()
{
    std::free(m_recvBuffer);
    m_recvBuffer = nullptr;
    m_recvHeld = 0;
    m_recvSize = 0;
    int size = 0;
    int length = 4;
    if (m_crypto->QSM_GetSockOpt(m_hQSMSocket, QSM_SO_RCVBUF, &size, &length, nullptr) != QSM_S_OK || size <= 0)
        return;
    m_recvBuffer = static_cast<char*>(std::malloc(static_cast<size_t>(size)));
    if (!m_recvBuffer)
        VexOutOfMemoryError(0, nullptr).hurl(VEX_LOCATION, nullptr, "VEX_THROW");
    m_recvSize = size;
}

void SkrSocket::setNonBlocking()
{
    int one = 1;
    int qsm_stat = m_crypto->QSM_SetSockOpt(m_hQSMSocket, QSM_FIONBIO, &one, 4, nullptr);
    VEX_ASSERT(qsm_stat == QSM_S_OK);
}

// ---- state -----------------------------------------------------------------

void SkrSocket::setPoolKey(std::string key) { m_poolKey = std::move(key); }

std::string SkrSocket::getPoolKey() { return m_poolKey; }

int SkrSocket::isAlive()
{
    // A connection handed to a new caller must stand at the start of that
    // caller's answer: bytes given back, held in the receive buffer or
    // waiting in the library belong to some earlier message, so the
    // connection is not reused.
    if (!m_open || m_endOfStream || m_in.held() > 0 || m_recvHeld > 0)
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

int SkrSocket::receiveBuffered(char* buffer, int length, int* received)
{
    *received = 0;
    if (!m_recvBuffer || length > m_recvSize) {
        // Larger than the buffer: what is held first, else straight into the caller's area.
        if (m_recvHeld > 0) {
            const int n = m_recvHeld < length ? m_recvHeld : length;
            std::memcpy(buffer, m_recvBuffer, static_cast<size_t>(n));
            std::memmove(m_recvBuffer, m_recvBuffer + n, static_cast<size_t>(m_recvHeld - n));
            m_recvHeld -= n;
            *received = n;
            return QSM_S_OK;
        }
        for (;;) {
            const int status = m_crypto->QSM_Recv(m_hQSMSocket, buffer, length, 0, received, nullptr);
            if (status != QSM_E_WOULD_BLOCK)
                return status;
            const int wait = waitForSocket(0);
            if (wait < 0)
                return wait;
        }
    }
    if (m_recvHeld == 0) {
        for (;;) {
            int got = 0;
            const int status = m_crypto->QSM_Recv(m_hQSMSocket, m_recvBuffer, m_recvSize, 0, &got, nullptr);
            if (status == QSM_E_WOULD_BLOCK) {
                const int wait = waitForSocket(0);
                if (wait < 0)
                    return wait;
                continue;
            }
            if (status != QSM_S_OK)
                return status;
            m_recvHeld = got;
            break;
        }
    }
    if (m_recvHeld < length) {
        std::memcpy(buffer, m_recvBuffer, static_cast<size_t>(m_recvHeld));
        *received = m_recvHeld;
        m_recvHeld = 0;
    } else {
        std::memcpy(buffer, m_recvBuffer, static_cast<size_t>(length));
        std::memmove(m_recvBuffer, m_recvBuffer + length, static_cast<size_t>(m_recvHeld - length));
        m_recvHeld -= length;
        *received = length;
    }
    return QSM_S_OK;
}

void SkrSocket::ReadBuffer(char* buffer, unsigned int length, int* received)
{
    if (!buffer || length == 0 || !received)
        raiseIllegalArgument("SkrSocket::ReadBuffer");
    *received = 0;
    const int want = length > static_cast<unsigned>(INT_MAX) ? INT_MAX : static_cast<int>(length);
    // Bytes given back to the input stream come first, without a wait; they
    // were echoed when they were received.
    if (m_in.held() > 0) {
        *received = static_cast<int>(m_in.takeHeld(buffer, static_cast<unsigned>(want)));
        return;
    }
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
    if (m_recvBuffer && m_recvHeld == 0) {
        std::free(m_recvBuffer);  // made for ZEV_SKT_NONBLOCKING; an event loop's connection reads without it
        m_recvBuffer = nullptr;
        m_recvSize = 0;
    }
    if (m_nonBlocking)
        return;
    setNonBlocking();
    m_nonBlocking = 1;
}

int SkrSocket::receiveWaiting(char* buffer, int length)
{
    if (m_in.held() > 0)
        return static_cast<int>(m_in.takeHeld(buffer, static_cast<unsigned>(length)));
    if (m_recvHeld > 0) {
        int n = 0;
        receiveBuffered(buffer, length, &n);  // serves what is held without a wait
        m_bytesIn += static_cast<unsigned>(n);
        return n;
    }
    if (!m_open || m_endOfStream)
        return -1;
    int n = 0;
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
    readyNow = now != 0 || m_in.held() > 0 || m_recvHeld > 0;
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
