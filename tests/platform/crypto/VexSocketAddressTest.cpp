// The resolver: host names and URLs to IPv4 and IPv6 addresses, and back to text.
#include "platform/crypto/VexSocketAddress.h"

#include "platform/crypto/VexCrypto.h"
#include "support/LoopbackPeer.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace {

struct Resolved {
    int status;
    int count;
    int family;
    std::string text;
    int port;
};

Resolved first(VexSocketAddress& r, int status, int count)
{
    sockaddr_storage a;
    r.QSM_GetAddress(0, &a);
    char text[1025];
    r.QSM_GetAddressAsText(&a, text, sizeof text);
    int port = -1;
    if (a.ss_family == AF_INET)
        port = ntohs(reinterpret_cast<sockaddr_in*>(&a)->sin_port);
    else if (a.ss_family == AF_INET6)
        port = ntohs(reinterpret_cast<sockaddr_in6*>(&a)->sin6_port);
    return {status, count, a.ss_family, text, port};
}

}  // namespace

TEST(VexSocketAddressResolve, HostsAndUrls)
{
    const int bad = VexSocketAddress::QSM_E_NOT_RESOLVED;
    const std::string unresolvable = std::string("http://") + kUnresolvableHost + "/";
    const struct {
        std::string target;  // a host resolved with `port`, or a URL when `port` is 0
        unsigned short port;
        int status, family;
        const char* text;
        int resolvedPort;
    } cases[] = {
        {"127.0.0.1", 80, QSM_S_OK, AF_INET, "127.0.0.1", 80},
        {"::1", 443, QSM_S_OK, AF_INET6, "::1", 443},
        {kUnresolvableHost, 80, bad, 0xFFFF, "", -1},
        {"http://127.0.0.1:9300/svc", 0, QSM_S_OK, AF_INET, "127.0.0.1", 9300},
        {"HTTPS://127.0.0.1", 0, QSM_S_OK, AF_INET, "127.0.0.1", 443},
        {"soap://127.0.0.1/", 0, QSM_S_OK, AF_INET, "127.0.0.1", 0},
        {"http://[::1]:8080/a:b", 0, QSM_S_OK, AF_INET6, "::1", 8080},
        {"http://127.0.0.1:65536/", 0, bad, 0xFFFF, "", -1},
        {"127.0.0.1:80", 0, bad, 0xFFFF, "", -1},
        {unresolvable, 0, bad, 0xFFFF, "", -1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.target);
        VexSocketAddress r("QSM_Crypto_Interface");
        int count = -1;
        const bool url = c.port == 0;
        const int status = url ? r.QSM_ResolveAddressFromURI(c.target.c_str(), 0, &count)
                               : r.QSM_ResolveAddress(c.target.c_str(), c.port, 0, &count);
        Resolved got = first(r, status, count);
        EXPECT_EQ(c.status, got.status);
        EXPECT_EQ(c.status == QSM_S_OK ? 1 : 0, got.count);
        EXPECT_EQ(c.family, got.family);
        EXPECT_EQ(c.text, got.text);
        EXPECT_EQ(c.resolvedPort, got.port);
        if (c.status != QSM_S_OK) {
            sockaddr_storage a, ff;
            std::memset(&ff, 0xFF, sizeof ff);
            EXPECT_EQ(VexSocketAddress::QSM_E_NOT_RESOLVED, r.QSM_GetAddress(0, &a));
            EXPECT_EQ(0, std::memcmp(&ff, &a, sizeof a));
        }
    }
}

TEST(VexSocketAddressResolve, LocalMachineAndListener)
{
    VexSocketAddress r("QSM_Crypto_Interface");
    int count = 0;
    EXPECT_EQ(QSM_S_OK, r.QSM_ResolveAddress("localhost", 9, 0, &count));
    EXPECT_GE(count, 1);
    for (int i = 0; i < count; ++i) {
        sockaddr_storage a;
        EXPECT_EQ(QSM_S_OK, r.QSM_GetAddress(i, &a));
        char text[64];
        r.QSM_GetAddressAsText(&a, text, sizeof text);
        EXPECT_TRUE(std::string(text) == "127.0.0.1" || std::string(text) == "::1") << text;
    }
    EXPECT_EQ(QSM_S_OK, r.QSM_ResolveAddress(nullptr, 9, 1, &count));  // every local address
    const std::string any = first(r, 0, 0).text;
    EXPECT_TRUE(any == "0.0.0.0" || any == "::") << any;
}
