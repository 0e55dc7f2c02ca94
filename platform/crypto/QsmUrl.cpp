#include "platform/crypto/QsmUrl.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>

#include <cctype>
#include <cstdlib>
#include <cstring>

bool QsmUrl::parse(const char* url, std::string& error)
{
    scheme.clear();
    host.clear();
    path.clear();
    port = 0;
    if (!url || !*url) {
        error = "no URL";
        return false;
    }
    std::string u(url);
    std::size_t sep = u.find("://");
    if (sep == std::string::npos || sep == 0) {
        error = "URL '" + u + "' has no scheme";
        return false;
    }
    for (std::size_t i = 0; i < sep; ++i)
        scheme += static_cast<char>(std::tolower(static_cast<unsigned char>(u[i])));
    std::string authority = u.substr(sep + 3);
    std::size_t slash = authority.find_first_of("/?#");
    if (slash != std::string::npos) {
        path = authority.substr(slash, authority.find('#', slash) - slash);
        authority.resize(slash);
    }
    if (path.empty() || path[0] != '/')
        path.insert(0, "/");
    std::size_t at = authority.rfind('@');
    if (at != std::string::npos)
        authority.erase(0, at + 1);

    std::string portText;
    if (!authority.empty() && authority[0] == '[') {
        std::size_t close = authority.find(']');
        if (close == std::string::npos) {
            error = "URL '" + u + "' has an unclosed IPv6 literal";
            return false;
        }
        host = authority.substr(1, close - 1);
        std::string rest = authority.substr(close + 1);
        if (!rest.empty()) {
            if (rest[0] != ':') {
                error = "URL '" + u + "' has text after its IPv6 literal";
                return false;
            }
            portText = rest.substr(1);
        }
    } else {
        std::size_t colon = authority.find(':');
        host = authority.substr(0, colon);
        if (colon != std::string::npos)
            portText = authority.substr(colon + 1);
    }
    if (host.empty()) {
        error = "URL '" + u + "' has no host";
        return false;
    }
    if (!portText.empty()) {
        char* end = nullptr;
        long p = std::strtol(portText.c_str(), &end, 10);
        if (*end || p < 1 || p > 65535) {
            error = "URL '" + u + "' has no valid port";
            return false;
        }
        port = static_cast<int>(p);
    } else if (scheme == "https") {
        port = 443;
    } else if (scheme == "http") {
        port = 80;
    } else {
        error = "URL '" + u + "' has no port and scheme '" + scheme + "' has no default";
        return false;
    }
    return true;
}

std::string QsmUrl::hostHeader() const
{
    std::string text = host.find(':') != std::string::npos ? "[" + host + "]" : host;
    const bool defaultPort = (scheme == "http" && port == 80) || (scheme == "https" && port == 443);
    if (!defaultPort)
        text += ":" + std::to_string(port);
    return text;
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
