#include "platform/crypto/VexSocketAddress.h"

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
    std::string u = url ? url : "";
    std::size_t sep = u.find("://");
    if (sep == std::string::npos || sep + 3 >= u.size()) {
        m_lastError = WSAHOST_NOT_FOUND;
        return QSM_E_NOT_RESOLVED;
    }
    std::string scheme = u.substr(0, sep);
    for (char& c : scheme)
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    std::string authority = u.substr(sep + 3);
    std::size_t end = authority.find_first_of("/?#");
    if (end != std::string::npos)
        authority.erase(end);
    std::size_t at = authority.rfind('@');
    if (at != std::string::npos)
        authority.erase(0, at + 1);

    std::string host;
    std::string portText;
    if (!authority.empty() && authority[0] == '[') {
        std::size_t close = authority.find(']');
        if (close == std::string::npos) {
            m_lastError = WSAHOST_NOT_FOUND;
            return QSM_E_NOT_RESOLVED;
        }
        host = authority.substr(1, close - 1);
        if (close + 1 < authority.size() && authority[close + 1] == ':')
            portText = authority.substr(close + 2);
    } else {
        std::size_t colon = authority.find(':');
        host = authority.substr(0, colon);
        if (colon != std::string::npos)
            portText = authority.substr(colon + 1);
    }
    if (host.empty()) {
        m_lastError = WSAHOST_NOT_FOUND;
        return QSM_E_NOT_RESOLVED;
    }
    long port = 0;
    if (!portText.empty()) {
        for (char c : portText) {
            if (c < '0' || c > '9') {
                m_lastError = WSAHOST_NOT_FOUND;
                return QSM_E_NOT_RESOLVED;
            }
        }
        port = portText.size() > 5 ? 65536 : std::stol(portText);
        if (port > 65535) {
            m_lastError = WSAHOST_NOT_FOUND;
            return QSM_E_NOT_RESOLVED;
        }
    } else if (scheme == "http") {
        port = 80;
    } else if (scheme == "https") {
        port = 443;
    }
    return QSM_ResolveAddress(host.c_str(), static_cast<unsigned short>(port), 0, count);
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
