#include "platform/dom/XmlUrl.h"

#include <xercesc/util/XMLException.hpp>

#include <gtest/gtest.h>

namespace {

// The exported URL class reads what the toolkit's sockets read, and refuses
// with Xerces' exception what cannot name a server.
TEST(XmlUrl, PartsAndRefusals)
{
    const struct {
        const char* url;
        const char* protocol;  // null: refused
        const char* host;
        int port;
        const char* path;
    } cases[] = {
        {"HTTP://Host:8080/a/b?x=1#top", "http", "Host", 8080, "/a/b?x=1"},
        {"https://[::1]/", "https", "::1", 443, "/"},
        {"http://h", "http", "h", 80, "/"},
        {"urn://h/x", "urn", "h", 0, "/x"},
        {"h/x", nullptr, "", 0, ""},
        {"http:///x", nullptr, "", 0, ""},
        {"http://h:65536/", nullptr, "", 0, ""},
        {"http://[::1/", nullptr, "", 0, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.url);
        if (!c.protocol) {
            EXPECT_THROW(XmlUrl{I18NString(c.url)}, XERCES_CPP_NAMESPACE::XMLException);
            continue;
        }
        const XmlUrl u{I18NString(c.url)};
        EXPECT_EQ(c.protocol, u.getProtocol().str());
        EXPECT_EQ(c.host, u.getHost().str());
        EXPECT_EQ(c.port, u.getPort());
        EXPECT_EQ(c.path, u.getPath().str());
    }
}

}  // namespace
