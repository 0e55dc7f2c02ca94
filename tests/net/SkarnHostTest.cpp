// The local machine's name and host-name resolution.
#include "net/SkarnHost.h"

#include "net/SkarnSocket.h"
#include "support/ExpectThrow.h"
#include "support/LoopbackPeer.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstring>
#include <string>

namespace {

std::string text(const sockaddr_storage& a)
{
    char buffer[INET6_ADDRSTRLEN] = "";
    if (a.ss_family == AF_INET)
        inet_ntop(AF_INET, &reinterpret_cast<const sockaddr_in*>(&a)->sin_addr, buffer, sizeof buffer);
    else if (a.ss_family == AF_INET6)
        inet_ntop(AF_INET6, &reinterpret_cast<const sockaddr_in6*>(&a)->sin6_addr, buffer, sizeof buffer);
    return buffer;
}

}  // namespace

TEST(SkarnHostName, IsTheSystemsHostName)
{
    char expected[256] = "";
    ASSERT_EQ(0, gethostname(expected, sizeof expected));
    char buffer[256];
    std::memset(buffer, 'x', sizeof buffer);
    SkarnHost::getInternetMachineName(buffer, sizeof buffer);
    EXPECT_STREQ(expected, buffer);
}

TEST(SkarnHostName, NullBufferDoesNothing) { EXPECT_NO_THROW(SkarnHost::getInternetMachineName(nullptr, 10)); }

TEST(SkarnHostName, BufferTooSmallRaisesHostNameError)
{
    char expected[256] = "";
    ASSERT_EQ(0, gethostname(expected, sizeof expected));
    ASSERT_GT(std::strlen(expected), 1u);
    char buffer[1];
    SkarnException e = expectSkarnError([&] { SkarnHost::getInternetMachineName(buffer, sizeof buffer); },
                                        {24, 1841643536u, "", "SkarnHost::getInternetMachineName"});
    // ENAMETOOLONG as its Winsock number.
    EXPECT_EQ("10063", parmsOf(e));
}

TEST(SkarnHostAddress, Table)
{
    struct Case {
        const char* host;
        int family;
        const char* text;
    };
    const Case cases[] = {
        {"127.0.0.1", AF_INET, "127.0.0.1"},
        {"::1", AF_INET6, "::1"},
        {"192.0.2.44", AF_INET, "192.0.2.44"},
        {"2001:db8::1", AF_INET6, "2001:db8::1"},
    };
    for (const Case& c : cases) {
        sockaddr_storage a = SkarnHost::getIPAddress(c.host);
        EXPECT_EQ(c.family, a.ss_family) << c.host;
        EXPECT_EQ(c.text, text(a)) << c.host;
        if (a.ss_family == AF_INET) {
            EXPECT_EQ(0, reinterpret_cast<sockaddr_in*>(&a)->sin_port) << c.host;
        }
    }
}

TEST(SkarnHostAddress, LocalhostAndNull)
{
    sockaddr_storage named = SkarnHost::getIPAddress("localhost");
    sockaddr_storage null = SkarnHost::getIPAddress(nullptr);
    EXPECT_EQ(0, std::memcmp(&named, &null, sizeof named));
    std::string t = text(named);
    EXPECT_TRUE(t == "127.0.0.1" || t == "::1") << t;
}

TEST(SkarnHostAddress, HostThatDoesNotResolveIsUnresolved)
{
    for (const char* host : {kUnresolvableHost, "", "[::1]"}) {
        sockaddr_storage a = SkarnHost::getIPAddress(host);
        EXPECT_EQ(SkarnSocket::FAMILY_UNRESOLVED, a.ss_family) << host;
        const unsigned char* p = reinterpret_cast<const unsigned char*>(&a);
        bool all = true;
        for (std::size_t i = 0; i < sizeof a; ++i)
            all = all && p[i] == 0xFF;
        EXPECT_TRUE(all) << host;
    }
}
