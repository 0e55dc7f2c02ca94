#include "platform/crypto/QsmUrl.h"

#include <gtest/gtest.h>

namespace {

TEST(QsmUrl, ParsesTargets)
{
    const struct {
        const char* url;
        bool ok;
        const char* scheme;
        const char* host;
        int port;
        const char* path;
        const char* hostHeader;
    } cases[] = {
        {"https://localhost/path", true, "https", "localhost", 443, "/path", "localhost"},
        {"http://example.skarn.test", true, "http", "example.skarn.test", 80, "/", "example.skarn.test"},
        {"HTTPS://127.0.0.1:8443/a:b", true, "https", "127.0.0.1", 8443, "/a:b", "127.0.0.1:8443"},
        {"http://user:pw@host:81/", true, "http", "host", 81, "/", "host:81"},
        {"http://h:80?q#f", true, "http", "h", 80, "/?q", "h"},
        {"https://[::1]:443/x#f", true, "https", "::1", 443, "/x", "[::1]"},
        {"http://[fe80::1]:8080/", true, "http", "fe80::1", 8080, "/", "[fe80::1]:8080"},
        {"localhost:80", false, "", "", 0, "", ""},
        {"https://h:65536/", false, "", "", 0, "", ""},
        {"ftp://h/", false, "", "", 0, "", ""},
        {nullptr, false, "", "", 0, "", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.url ? c.url : "null");
        QsmUrl u;
        std::string error;
        ASSERT_EQ(c.ok, u.parse(c.url, error)) << error;
        EXPECT_EQ(c.ok, error.empty());
        if (c.ok) {
            EXPECT_EQ(c.scheme, u.scheme);
            EXPECT_EQ(c.host, u.host);
            EXPECT_EQ(c.port, u.port);
            EXPECT_EQ(c.path, u.path);
            EXPECT_EQ(c.hostHeader, u.hostHeader());
        }
    }
}

}  // namespace
