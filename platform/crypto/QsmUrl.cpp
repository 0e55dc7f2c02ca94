#include "platform/crypto/QsmUrl.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>

#include <cctype>
#include <cstdlib>
#include <cstring>

bool QsmUrl::parse(const char* url, std::string& error)
{
    static_cast<VexUrl&>(*this) = VexUrl::split(url);
    if (!usable())
        error = reason();
    return usable();
}

bool QsmUrl::resolve(int family, sockaddr_storage& address, std::string& error) const
{
    addrinfo hints{};
    hints.ai_family = family;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_NUMERICSERV | AI_ADDRCONFIG;
    if (host == "localhost" || isIpLiteral(host))
        hints.ai_flags &= ~AI_ADDRCONFIG;
    addrinfo* list = nullptr;
    const std::string service = std::to_string(port);
    int rc = ::getaddrinfo(host.c_str(), service.c_str(), &hints, &list);
    if (rc != 0 || !list) {
        error = "cannot resolve '" + host + "': " + (rc ? ::gai_strerror(rc) : "no address");
        return false;
    }
    std::memset(&address, 0, sizeof address);
    std::memcpy(&address, list->ai_addr, list->ai_addrlen);
    ::freeaddrinfo(list);
    return true;
}

int QsmUrl::portOf(const sockaddr_storage& address)
{
    if (address.ss_family == AF_INET)
        return ntohs(reinterpret_cast<const sockaddr_in&>(address).sin_port);
    if (address.ss_family == AF_INET6)
        return ntohs(reinterpret_cast<const sockaddr_in6&>(address).sin6_port);
    return 0;
}

std::string QsmUrl::addressText(const sockaddr_storage& address)
{
    char text[INET6_ADDRSTRLEN] = "?";
    if (address.ss_family == AF_INET)
        ::inet_ntop(AF_INET, &reinterpret_cast<const sockaddr_in&>(address).sin_addr, text, sizeof text);
    else if (address.ss_family == AF_INET6)
        ::inet_ntop(AF_INET6, &reinterpret_cast<const sockaddr_in6&>(address).sin6_addr, text, sizeof text);
    return text;
}

std::string QsmUrl::describe(const sockaddr_storage& address)
{
    const std::string port = std::to_string(portOf(address));
    if (address.ss_family == AF_INET)
        return addressText(address) + ":" + port;
    if (address.ss_family == AF_INET6)
        return "[" + addressText(address) + "]:" + port;
    return "(address of family " + std::to_string(address.ss_family) + ")";
}

bool QsmUrl::isIpLiteral(const std::string& host)
{
    unsigned char buf[sizeof(in6_addr)];
    return ::inet_pton(AF_INET, host.c_str(), buf) == 1 || ::inet_pton(AF_INET6, host.c_str(), buf) == 1;
}
