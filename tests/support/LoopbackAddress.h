#ifndef SKARN_TEST_LOOPBACK_ADDRESS_H
#define SKARN_TEST_LOOPBACK_ADDRESS_H

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <cstdint>

// 127.0.0.1:<port>, or [::1]:<port> when `ipv6`; the port in network byte order.
inline sockaddr_storage loopbackAddress(int port, bool ipv6 = false)
{
    sockaddr_storage a{};
    if (ipv6) {
        sockaddr_in6* a6 = reinterpret_cast<sockaddr_in6*>(&a);
        a6->sin6_family = AF_INET6;
        a6->sin6_addr = in6addr_loopback;
        a6->sin6_port = htons(static_cast<uint16_t>(port));
    } else {
        sockaddr_in* a4 = reinterpret_cast<sockaddr_in*>(&a);
        a4->sin_family = AF_INET;
        a4->sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        a4->sin_port = htons(static_cast<uint16_t>(port));
    }
    return a;
}

#endif
