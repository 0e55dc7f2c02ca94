// The resolver: host names and URLs to IPv4 and IPv6 addresses, and back to text;
// what does not resolve leaves every byte of the address 0xFF.
#include "platform/crypto/VexSocketAddress.h"

#include "platform/crypto/VexCrypto.h"
#include "support/LoopbackPeer.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>

#include <cstring>
#include <string>

TEST(VexSocketAddressResolve, HostsAndUrls)
{
    const int bad = VexSocketAddress::QSM_E_NOT_RESOLVED;
    const struct {
        std::string target;  // a host resolved with `port`, or a URL when `port` is 0
        unsigned short port;
        int status;
        const char* text;  // "" when not resolved
        int resolvedPort;
    } cases[] = {
        {"127.0.0.1", 80, QSM_S_OK, "127.0.0.1", 80},
        {kUnresolvableHost, 80, bad, "", 0},
        {"http://127.0.0.1:9300/svc", 0, QSM_S_OK, "127.0.0.1", 9300},
        {"HTTPS://127.0.0.1", 0, QSM_S_OK, "127.0.0.1", 443},
        {"http://[::1]:8080/a:b", 0, QSM_S_OK, "::1", 8080},
        {std::string("http://") + kUnresolvableHost + "/", 0, bad, "", 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.target);
        VexSocketAddress r("QSM_Crypto_Interface");
        int count = -1;
        const int status = c.port ? r.QSM_ResolveAddress(c.target.c_str(), c.port, 0, &count)
                                  : r.QSM_ResolveAddressFromURI(c.target.c_str(), 0, &count);
        EXPECT_EQ(c.status, status);
        EXPECT_EQ(c.status == QSM_S_OK ? 1 : 0, count);
        sockaddr_storage a;
        EXPECT_EQ(c.status, r.QSM_GetAddress(0, &a));
        if (c.status == QSM_S_OK) {
            char text[64];
            r.QSM_GetAddressAsText(&a, text, sizeof text);
            EXPECT_EQ(c.text, std::string(text));
            // The port sits at the same place in both families.
            EXPECT_EQ(c.resolvedPort, ntohs(reinterpret_cast<sockaddr_in*>(&a)->sin_port));
        } else {
            sockaddr_storage ff;
            std::memset(&ff, 0xFF, sizeof ff);
            EXPECT_EQ(0, std::memcmp(&ff, &a, sizeof a));
        }
    }
}
