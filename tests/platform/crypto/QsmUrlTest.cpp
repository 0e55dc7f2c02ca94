#include "platform/crypto/QsmUrl.h"

#include <arpa/inet.h>
#include <netinet/in.h>

#include <gtest/gtest.h>

namespace {

struct UrlCase {
    const char* label;
    const char* url;
    bool ok;
    const char* scheme;
    const char* host;
    int port;
};

const UrlCase kUrls[] = {
    {"https default port", "https://localhost/path", true, "https", "localhost", 443},
    {"http default port", "http://example.skarn.test", true, "http", "example.skarn.test", 80},
    {"explicit port", "HTTPS://127.0.0.1:8443/a:b", true, "https", "127.0.0.1", 8443},
    {"IPv6 literal with port", "https://[::1]:9443/x", true, "https", "::1", 9443},
    {"IPv6 literal without port", "http://[::1]/x", true, "http", "::1", 80},
    {"user info dropped", "http://user:pw@host:81/", true, "http", "host", 81},
    {"no scheme", "localhost:80", false, "", "", 0},
    {"nothing after scheme", "https://", false, "", "", 0},
    {"port out of range", "https://h:65536/", false, "", "", 0},
    {"port zero", "https://h:0/", false, "", "", 0},
    {"port not a number", "https://h:8x/", false, "", "", 0},
    {"unknown scheme without port", "ftp://h/", false, "", "", 0},
    {"unclosed literal", "https://[::1/", false, "", "", 0},
    {"null", nullptr, false, "", "", 0},
};

TEST(QsmUrl, ParsesTargets)
{
    for (const UrlCase& c : kUrls) {
        SCOPED_TRACE(c.label);
        QsmUrl u;
        std::string error;
        ASSERT_EQ(c.ok, u.parse(c.url, error)) << error;
        if (!c.ok) {
            EXPECT_FALSE(error.empty());
            continue;
        }
        EXPECT_EQ(c.scheme, u.scheme);
        EXPECT_EQ(c.host, u.host);
        EXPECT_EQ(c.port, u.port);
    }
}

TEST(QsmUrl, ResolvesLoopback)
{
    QsmUrl u;
    std::string error;
    ASSERT_TRUE(u.parse("https://127.0.0.1:4433/", error));
    sockaddr_storage a{};
    ASSERT_TRUE(u.resolve(AF_INET, a, error)) << error;
    ASSERT_EQ(AF_INET, a.ss_family);
    EXPECT_EQ(4433, ntohs(reinterpret_cast<sockaddr_in*>(&a)->sin_port));
    EXPECT_EQ("127.0.0.1:4433", QsmUrl::describe(a));
    ASSERT_TRUE(u.parse("https://[::1]:4433/", error));
    ASSERT_TRUE(u.resolve(AF_UNSPEC, a, error)) << error;
    EXPECT_EQ("[::1]:4433", QsmUrl::describe(a));
    // A literal of one family cannot be had in the other.
    EXPECT_FALSE(u.resolve(AF_INET, a, error));
    EXPECT_FALSE(error.empty());
}

TEST(QsmUrl, RecognisesLiterals)
{
    EXPECT_TRUE(QsmUrl::isIpLiteral("127.0.0.1"));
    EXPECT_TRUE(QsmUrl::isIpLiteral("::1"));
    EXPECT_FALSE(QsmUrl::isIpLiteral("localhost"));
    EXPECT_FALSE(QsmUrl::isIpLiteral("127.0.0.1.example"));
}

}  // namespace
