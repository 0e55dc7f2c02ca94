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

TEST(VexSocketAddressResolve, HostsAndPorts)
{
    struct Case {
        const char* host;
        unsigned short port;
        int family;
        const char* text;
    };
    const Case cases[] = {
        {"127.0.0.1", 80, AF_INET, "127.0.0.1"},
        {"::1", 443, AF_INET6, "::1"},
        {"10.20.30.40", 65535, AF_INET, "10.20.30.40"},
        {"fe80::1:2", 1, AF_INET6, "fe80::1:2"},
    };
    for (const Case& c : cases) {
        VexSocketAddress r("QSM_Crypto_Interface");
        int count = -1;
        int status = r.QSM_ResolveAddress(c.host, c.port, 0, &count);
        Resolved got = first(r, status, count);
        EXPECT_EQ(QSM_S_OK, got.status) << c.host;
        EXPECT_EQ(1, got.count) << c.host;
        EXPECT_EQ(c.family, got.family) << c.host;
        EXPECT_EQ(c.text, got.text) << c.host;
        EXPECT_EQ(c.port, got.port) << c.host;
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
    sockaddr_storage a;
    r.QSM_GetAddress(0, &a);
    char text[64];
    r.QSM_GetAddressAsText(&a, text, sizeof text);
    EXPECT_TRUE(std::string(text) == "0.0.0.0" || std::string(text) == "::") << text;
}

TEST(VexSocketAddressResolve, FailureGivesUnresolvedAddress)
{
    VexSocketAddress r("QSM_Crypto_Interface");
    int count = 7;
    EXPECT_EQ(VexSocketAddress::QSM_E_NOT_RESOLVED, r.QSM_ResolveAddress(kUnresolvableHost, 80, 0, &count));
    EXPECT_EQ(0, count);
    EXPECT_TRUE(r.getLastError() >= 11001 && r.getLastError() <= 11004) << r.getLastError();
    sockaddr_storage a;
    EXPECT_EQ(VexSocketAddress::QSM_E_NOT_RESOLVED, r.QSM_GetAddress(0, &a));
    sockaddr_storage ff;
    std::memset(&ff, 0xFF, sizeof ff);
    EXPECT_EQ(0, std::memcmp(&ff, &a, sizeof a));
    EXPECT_EQ(0xFFFF, a.ss_family);
}

TEST(VexSocketAddressResolve, IndexOutOfRange)
{
    VexSocketAddress r("QSM_Crypto_Interface");
    int count = 0;
    ASSERT_EQ(QSM_S_OK, r.QSM_ResolveAddress("127.0.0.1", 1, 0, &count));
    sockaddr_storage a;
    EXPECT_EQ(VexSocketAddress::QSM_E_NOT_RESOLVED, r.QSM_GetAddress(1, &a));
    EXPECT_EQ(0xFFFF, a.ss_family);
    EXPECT_EQ(VexSocketAddress::QSM_E_NOT_RESOLVED, r.QSM_GetAddress(-1, &a));
}

TEST(VexSocketAddressUri, Table)
{
    struct Case {
        const char* url;
        int status;
        int family;
        const char* text;
        int port;
    };
    const int bad = VexSocketAddress::QSM_E_NOT_RESOLVED;
    const Case cases[] = {
        {"http://127.0.0.1:9300/svc", QSM_S_OK, AF_INET, "127.0.0.1", 9300},
        {"http://127.0.0.1/svc", QSM_S_OK, AF_INET, "127.0.0.1", 80},
        {"HTTPS://127.0.0.1", QSM_S_OK, AF_INET, "127.0.0.1", 443},
        {"soap://127.0.0.1/", QSM_S_OK, AF_INET, "127.0.0.1", 0},
        {"http://[::1]:8080/a:b", QSM_S_OK, AF_INET6, "::1", 8080},
        {"https://[::1]/", QSM_S_OK, AF_INET6, "::1", 443},
        {"http://user@127.0.0.1:5/", QSM_S_OK, AF_INET, "127.0.0.1", 5},
        {"http://127.0.0.1:65536/", bad, 0xFFFF, "", -1},
        {"http://127.0.0.1:8x/", bad, 0xFFFF, "", -1},
        {"127.0.0.1:80", bad, 0xFFFF, "", -1},
        {"http://", bad, 0xFFFF, "", -1},
        {"http://[::1/", bad, 0xFFFF, "", -1},
    };
    std::string unresolvable = std::string("http://") + kUnresolvableHost + "/";
    std::vector<Case> all(std::begin(cases), std::end(cases));
    all.push_back({unresolvable.c_str(), bad, 0xFFFF, "", -1});
    for (const Case& c : all) {
        VexSocketAddress r("QSM_Crypto_Interface");
        int count = -1;
        int status = r.QSM_ResolveAddressFromURI(c.url, 0, &count);
        Resolved got = first(r, status, count);
        EXPECT_EQ(c.status, got.status) << c.url;
        EXPECT_EQ(c.family, got.family) << c.url;
        EXPECT_EQ(c.text, got.text) << c.url;
        EXPECT_EQ(c.port, got.port) << c.url;
        EXPECT_EQ(c.status == QSM_S_OK ? 1 : 0, got.count) << c.url;
    }
}

TEST(VexSocketAddressText, SmallBufferAndOtherFamilies)
{
    VexSocketAddress r("QSM_Crypto_Interface");
    sockaddr_storage a{};
    a.ss_family = AF_INET6;
    inet_pton(AF_INET6, "2001:db8::abcd", &reinterpret_cast<sockaddr_in6*>(&a)->sin6_addr);
    char small[5] = "xxxx";
    EXPECT_EQ(VexSocketAddress::QSM_E_NOT_RESOLVED, r.QSM_GetAddressAsText(&a, small, sizeof small));
    EXPECT_STREQ("", small);
    char text[1025];
    EXPECT_EQ(QSM_S_OK, r.QSM_GetAddressAsText(&a, text, sizeof text));
    EXPECT_STREQ("2001:db8::abcd", text);
    a.ss_family = 0xFFFE;
    std::strcpy(text, "junk");
    EXPECT_EQ(VexSocketAddress::QSM_E_NOT_RESOLVED, r.QSM_GetAddressAsText(&a, text, sizeof text));
    EXPECT_STREQ("", text);
}
