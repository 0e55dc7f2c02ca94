#include "platform/core/VexUrl.h"

#include <gtest/gtest.h>

namespace {

// Every floor reads a URL through this one split: the pool's key, the
// socket's host and port text, the secure layer's verdict, the Host header.
TEST(VexUrl, SplitTable)
{
    const struct {
        const char* url;
        VexUrl::Fault fault;
        const char* scheme;
        const char* key;
        const char* host;
        const char* portText;
        int port;
        const char* path;
        const char* hostHeader;
    } cases[] = {
        {"https://localhost/path", VexUrl::None, "https", "localhost", "localhost", "", 443, "/path", "localhost"},
        {"http://example.skarn.test", VexUrl::None, "http", "example.skarn.test", "example.skarn.test", "", 80, "/",
         "example.skarn.test"},
        {"HTTPS://127.0.0.1:8443/a:b", VexUrl::None, "https", "127.0.0.1:8443", "127.0.0.1", "8443", 8443, "/a:b",
         "127.0.0.1:8443"},
        {"http://user:pw@host:81/", VexUrl::None, "http", "user:pw@host:81", "host", "81", 81, "/", "host:81"},
        {"http://h:80?q#f", VexUrl::None, "http", "h:80?q#f", "h", "80", 80, "/?q", "h"},
        {"http://h:/x", VexUrl::None, "http", "h:", "h", "", 80, "/x", "h"},
        {"https://[::1]:443/x#f", VexUrl::None, "https", "[::1]:443", "::1", "443", 443, "/x", "[::1]"},
        {"http://[fe80::1]:8080/", VexUrl::None, "http", "[fe80::1]:8080", "fe80::1", "8080", 8080, "/",
         "[fe80::1]:8080"},
        {"ftp://h:21/f", VexUrl::None, "ftp", "h:21", "h", "21", 21, "/f", "h:21"},
        {"localhost:80", VexUrl::NoScheme, "", "", "", "", 0, "", ""},
        {"://h/", VexUrl::NoScheme, "", "h", "h", "", 0, "/", "h:0"},
        {"http:///p", VexUrl::NoHost, "http", "", "", "", 80, "/p", ""},
        {"http://@:81/", VexUrl::NoHost, "http", "@:81", "", "81", 81, "/", ":81"},
        {"https://h:65536/", VexUrl::BadPort, "https", "h:65536", "h", "65536", 0, "/", "h:0"},
        {"http://h:0/", VexUrl::BadPort, "http", "h:0", "h", "0", 0, "/", "h:0"},
        {"http://h:+80/", VexUrl::BadPort, "http", "h:+80", "h", "+80", 0, "/", "h:0"},
        {"http://h:123456/", VexUrl::BadPort, "http", "h:123456", "h", "123456", 0, "/", "h:0"},
        {"ftp://h/", VexUrl::NoDefaultPort, "ftp", "h", "h", "", 0, "/", "h:0"},
        {"http://[::1:80/x", VexUrl::UnclosedLiteral, "http", "[::1:80", "", "", 80, "/x", ""},
        {"http://[::1]x:80/", VexUrl::TextAfterLiteral, "http", "[::1]x:80", "::1", "", 80, "/", "[::1]"},
        {"", VexUrl::NoUrl, "", "", "", "", 0, "", ""},
        {nullptr, VexUrl::NoUrl, "", "", "", "", 0, "", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.url ? c.url : "null");
        const VexUrl u = VexUrl::split(c.url);
        EXPECT_EQ(c.fault, u.fault);
        EXPECT_EQ(c.fault == VexUrl::None, u.usable());
        EXPECT_EQ(c.fault == VexUrl::None, u.reason().empty());
        EXPECT_EQ(c.scheme, u.scheme);
        EXPECT_EQ(c.key, u.key());
        EXPECT_EQ(c.host, u.host);
        EXPECT_EQ(c.portText, u.portText);
        EXPECT_EQ(c.port, u.port);
        EXPECT_EQ(c.path, u.path);
        if (c.fault == VexUrl::None) {
            EXPECT_EQ(c.hostHeader, u.hostHeader());
        }
    }
}

TEST(VexUrl, ReasonsNameTheUrl)
{
    const struct {
        const char* url;
        const char* reason;
    } cases[] = {
        {nullptr, "no URL"},
        {"h/x", "URL 'h/x' has no scheme"},
        {"http://[::1/", "URL 'http://[::1/' has an unclosed IPv6 literal"},
        {"http://[::1]x/", "URL 'http://[::1]x/' has text after its IPv6 literal"},
        {"http://:80/", "URL 'http://:80/' has no host"},
        {"http://h:8o/", "URL 'http://h:8o/' has no valid port"},
        {"gopher://h/", "URL 'gopher://h/' has no port and scheme 'gopher' has no default"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(c.reason, VexUrl::split(c.url).reason()) << (c.url ? c.url : "null");
}

}  // namespace
