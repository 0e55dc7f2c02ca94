#include "skarn/WatchedSocket.h"

#include "platform/core/VexFileLocation.h"
#include "platform/core/VexThrowable.h"
#include "platform/streams/QioIOTimeoutException.h"

#include <algorithm>

WatchedSocket::WatchedSocket(SkarnSocket* inner, const Limits& limits) : m_inner(inner), m_limits(limits)
{
    if (limits.idleSeconds > 0 || limits.silenceSeconds > 0 || limits.messageSeconds > 0 || limits.stop)
        m_inner->getInputStream().setTimeout(1);
}

WatchedSocket::~WatchedSocket()
{
    try {
        m_inner->Close();
    } catch (VexThrowable&) {
        // The connection goes all the same.
    }
    delete m_inner;  // never pooled on its own: the pool holds this object instead
}

void WatchedSocket::expectMessage()
{
    m_expiry = NotExpired;
    m_messageStart = Clock::now();
    m_firstByte = Clock::time_point();
}

void WatchedSocket::discardInput(unsigned long long limit)
{
    char buffer[16384];
    try {
        for (unsigned long long dropped = 0; dropped < limit;) {
            const unsigned n = m_inner->getInputStream().read(buffer, sizeof buffer);
            if (n == QioInputStream::END)
                return;
            dropped += n;
        }
    } catch (VexThrowable&) {
        // Silent for a second, or gone: nothing more to wait for.
    }
}

void WatchedSocket::getIPAddress(VexByteBuffer& text) const { m_inner->getIPAddress(text); }

const sockaddr_storage& WatchedSocket::getIPAddress() const { return m_inner->getIPAddress(); }

void WatchedSocket::prepare(const char* url) { m_inner->prepare(url); }

void WatchedSocket::prepare(int port, const sockaddr_storage& address) { m_inner->prepare(port, address); }

void WatchedSocket::Open(const char* url, const char* sessionConfigDoc) { m_inner->Open(url, sessionConfigDoc); }

void WatchedSocket::Open(int port, const sockaddr_storage& address, const char* sessionConfigDoc)
{
    m_inner->Open(port, address, sessionConfigDoc);
}

void WatchedSocket::Open(int port) { m_inner->Open(port); }

void WatchedSocket::open() { m_inner->open(); }

int WatchedSocket::isAlive() { return !m_held.empty() || m_inner->isAlive(); }

void WatchedSocket::Close()
{
    m_held.clear();
    m_inner->Close();
}

void WatchedSocket::checkLimits(Clock::time_point waitStart)
{
    const Clock::time_point now = Clock::now();
    auto passed = [&](Clock::time_point since, int seconds) {
        return seconds > 0 && now - since >= std::chrono::seconds(seconds);
    };
    if (!messageStarted() && m_limits.stop && m_limits.stop->load())
        m_expiry = Stopped;
    else if (!messageStarted() && passed(m_messageStart, m_limits.idleSeconds))
        m_expiry = Idle;
    else if (messageStarted() && passed(m_firstByte, m_limits.messageSeconds))
        m_expiry = Message;
    else if (passed(waitStart, m_limits.silenceSeconds))
        m_expiry = Silence;
    if (m_expiry != NotExpired)
        QioIOTimeoutException(0).hurl(VEX_LOCATION, "WatchedSocket::read", "VEX_THROW");
}

unsigned WatchedSocket::readInner(char* buffer, unsigned length)
{
    if (m_readsStopped)
        return QioInputStream::END;
    if (!m_held.empty()) {
        const unsigned n = std::min<unsigned>(length, static_cast<unsigned>(m_held.size()));
        m_held.copy(buffer, n);
        m_held.erase(0, n);
        if (!messageStarted())
            m_firstByte = Clock::now();
        return n;
    }
    const Clock::time_point waitStart = Clock::now();
    for (;;) {
        checkLimits(waitStart);
        try {
            const unsigned n = m_inner->getInputStream().read(buffer, length);
            if (n != QioInputStream::END && n > 0) {
                if (!messageStarted())
                    m_firstByte = Clock::now();
                m_bytesIn += n;
            }
            return n;
        } catch (const QioIOTimeoutException&) {
            // One second without data: the limits are looked at again.
        }
    }
}

int WatchedSocket::Input::read()
{
    char c;
    return m_owner.readInner(&c, 1) == 1 ? static_cast<unsigned char>(c) : -1;
}

unsigned WatchedSocket::Input::read(char* buffer, unsigned length)
{
    return length == 0 ? 0 : m_owner.readInner(buffer, length);
}

void WatchedSocket::Output::write(const char* bytes, unsigned length)
{
    m_owner.m_inner->getOutputStream().write(bytes, length);
    m_owner.m_bytesOut += length;
}

