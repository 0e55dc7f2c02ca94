#include "platform/crypto/VexSocketAddress.h"

#include "platform/core/VexUrl.h"
#include "platform/crypto/VexCrypto.h"
#include "platform/winsock/Winsock.h"

#include <netdb.h>

#include <cstring>
#include <string>

VexSocketAddress::VexSocketAddress(const char* /*interfaceName*/) {}

VexSocketAddress::~VexSocketAddress() = default;

int VexSocketAddress::QSM_ResolveAddress(const char* host, unsigned short port, int passive, int* count)
{
    m_results.clear();
    m_lastError = 0;
    if (count)
        *count = 0;

    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_protocol = IPPROTO_TCP;
    hints.ai_flags = AI_NUMERICSERV | (passive ? AI_PASSIVE : 0);
    std::string service = std::to_string(port);
    addrinfo* list = nullptr;
    int rc = ::getaddrinfo(host, service.c_str(), &hints, &list);
    if (rc != 0) {
        m_lastError = WSAErrorFromResolver(rc);
        return QSM_E_NOT_RESOLVED;
    }
    for (addrinfo* a = list; a; a = a->ai_next) {
        if ((a->ai_family != AF_INET && a->ai_family != AF_INET6) || a->ai_addrlen > sizeof(sockaddr_storage))
            continue;
        sockaddr_storage s{};
        std::memcpy(&s, a->ai_addr, a->ai_addrlen);
        bool seen = false;
        for (const sockaddr_storage& r : m_results)
            if (std::memcmp(&r, &s, sizeof s) == 0)
                seen = true;
        if (!seen)
            m_results.push_back(s);
    }
    ::freeaddrinfo(list);
    if (m_results.empty()) {
        m_lastError = WSANO_DATA;
        return QSM_E_NOT_RESOLVED;
    }
    if (count)
        *count = static_cast<int>(m_results.size());
    return QSM_S_OK;
}

int VexSocketAddress::QSM_ResolveAddressFromURI(const char* url, int /*flags*/, int* count)
{
    m_results.clear();
    m_lastError = 0;
    if (count)
        *count = 0;
    // A scheme without a default port resolves with port 0, as a bare host does.
    const VexUrl u = VexUrl::split(url);
    if (!u.usable() && u.fault != VexUrl::NoDefaultPort) {
        m_lastError = WSAHOST_NOT_FOUND;
        return QSM_E_NOT_RESOLVED;
    }
    return QSM_ResolveAddress(u.host.c_str(), static_cast<unsigned short>(u.port), 0, count);
}

int VexSocketAddress::QSM_GetAddress(int index, sockaddr_storage* address)
{
    if (!address)
        return QSM_E_NOT_RESOLVED;
    if (index < 0 || static_cast<std::size_t>(index) >= m_results.size()) {
        std::memset(address, 0xFF, sizeof *address);
        return QSM_E_NOT_RESOLVED;
    }
    *address = m_results[static_cast<std::size_t>(index)];
    return QSM_S_OK;
}

int VexSocketAddress::QSM_GetAddressAsText(const sockaddr_storage* address, char* text, int size)
{
    if (!text || size <= 0)
        return QSM_E_NOT_RESOLVED;
    text[0] = '\0';
    if (!address)
        return QSM_E_NOT_RESOLVED;
    const void* raw = nullptr;
    if (address->ss_family == AF_INET)
        raw = &reinterpret_cast<const sockaddr_in*>(address)->sin_addr;
    else if (address->ss_family == AF_INET6)
        raw = &reinterpret_cast<const sockaddr_in6*>(address)->sin6_addr;
    else
        return QSM_E_NOT_RESOLVED;
    if (!::inet_ntop(address->ss_family, raw, text, static_cast<socklen_t>(size))) {
        text[0] = '\0';
        return QSM_E_NOT_RESOLVED;
    }
    return QSM_S_OK;
}
