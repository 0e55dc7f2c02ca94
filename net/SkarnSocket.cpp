#include "net/SkarnSocket.h"

#include "api/SkarnException.h"
#include "net/SkrSocket.h"
#include "net/SkrSocketNonSSL.h"
#include "platform/core/VexByteBuffer.h"
#include "platform/core/VexGuard.h"
#include "platform/crypto/VexSocketAddress.h"

#include <cstdlib>
#include <cstring>

// The process-wide TCP_NODELAY switch (see SkarnSocket.h).
std::atomic<int> skarnTcpNoDelay{1};

#define SKARN_NOT_SUPPORTED(function) SkarnException::raise(VEX_LOCATION, function, SkarnException::errNotSupported)

sockaddr_storage SkarnSocket::reservedAddress(int family)
{
    sockaddr_storage a;
    if (family == FAMILY_UNRESOLVED) {
        std::memset(&a, 0xFF, sizeof a);
    } else {
        std::memset(&a, 0, sizeof a);
        a.ss_family = static_cast<sa_family_t>(family);
    }
    return a;
}

SkarnSocket::SkarnSocket()
    : m_timeLimitCallback(nullptr),
      m_timeLimitArgument(nullptr),
      m_timeLimitSec(0),
      m_nPort(0),
      m_address(reservedAddress(FAMILY_UNRESOLVED)),
      m_nonBlocking(0),
      m_timestamp(0),
      m_reusable(0),
      m_reuseCounter(0)
{
}

SkarnSocket::SkarnSocket(int port, const sockaddr_storage& address)
    : m_timeLimitCallback(nullptr),
      m_timeLimitArgument(nullptr),
      m_timeLimitSec(0),
      m_nPort(port),
      m_address(address.ss_family == FAMILY_UNRESOLVED ? reservedAddress(FAMILY_UNRESOLVED) : address),
      m_nonBlocking(0),
      m_timestamp(0),
      m_reusable(0),
      m_reuseCounter(0)
{
}

SkarnSocket::~SkarnSocket()
{
    m_timeLimitCallback = nullptr;
    m_timeLimitArgument = nullptr;
    m_reusable = 0;
    m_reuseCounter = 0;
    m_nonBlocking = 0;
    m_poolKey.clear();
}

void SkarnSocket::getIPAddress(VexByteBuffer& text) const
{
    if (m_address.ss_family == FAMILY_UNRESOLVED) {
        text.append("255.255.255.255");
        return;
    }
    char buffer[1025];
    VexSocketAddress resolver("QSM_Crypto_Interface");
    resolver.QSM_GetAddressAsText(&m_address, buffer, sizeof buffer);
    text.append(buffer);
}

const sockaddr_storage& SkarnSocket::getIPAddress() const { return m_address; }

void SkarnSocket::echo(std::string) { SKARN_NOT_SUPPORTED("SkarnSocket::echo"); }

void SkarnSocket::echo(const char*) { SKARN_NOT_SUPPORTED("SkarnSocket::echo"); }

void SkarnSocket::echo(const char*, const char*, int) { SKARN_NOT_SUPPORTED("SkarnSocket::echo"); }

void SkarnSocket::setServerHostInfo(const char*) { SKARN_NOT_SUPPORTED("SkarnSocket::setServerHostInfo"); }

void SkarnSocket::setTimeLimitCallback(void (*callback)(void*), void* argument, int seconds)
{
    m_timeLimitCallback = callback;
    m_timeLimitArgument = argument;
    m_timeLimitSec = seconds;
}

int SkarnSocket::isNonBlockingSocket() { return m_nonBlocking; }

namespace {
std::atomic<SkarnSocket::GiveBack> g_giveBack{nullptr};
}  // namespace

void SkarnSocket::setGiveBack(GiveBack giveBack) { g_giveBack.store(giveBack); }

void SkarnSocket::release()
{
    const GiveBack giveBack = g_giveBack.load();
    if (m_reusable != 1 || !giveBack) {
        delete this;
        return;
    }
    giveBack(this);
}

int SkarnSocket::getTimeLimitSec() const { return m_timeLimitSec; }

void SkarnSocket::setTimestamp(unsigned long long timestamp) { m_timestamp = timestamp; }

unsigned long long SkarnSocket::getTimestamp() const { return m_timestamp; }

int SkarnSocket::isReusable() const { return m_reusable; }

void SkarnSocket::disableReuse() { m_reusable = 0; }

void SkarnSocket::resetReuseCounter() { m_reuseCounter = 0; }

unsigned short SkarnSocket::getReuseCounter() const { return m_reuseCounter; }

void SkarnSocket::incReuseCounter() { m_reuseCounter = static_cast<unsigned short>(m_reuseCounter + 1); }

SkarnSocket* SkarnSocket::getSocket(int secure, int nonBlocking)
{
    if (std::getenv("ZEV_SKT_NONBLOCKING"))
        nonBlocking = 1;
    SkarnSocket* socket = secure == 1 ? static_cast<SkarnSocket*>(VEX_GUARDED_NEW("SkarnSocket::getSocket", new SkrSocket()))
                                      : VEX_GUARDED_NEW("SkarnSocket::getSocket", new SkrSocketNonSSL());
    socket->m_nonBlocking = nonBlocking;
    return socket;
}
