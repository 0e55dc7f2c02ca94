#include "platform/crypto/QsmSessionConfig.h"

#include <gtest/gtest.h>

namespace {

TEST(QsmSessionConfig, RefusesWhatItCannotUse)
{
    const struct {
        const char* document;
        const char* error;  // part of the reason
    } cases[] = {
        {nullptr, "no session configuration document"},
        {"<sessionConfigDocument><serviceID>x</serviceID>", "no sessionConfigDocument root"},
        {"<!DOCTYPE x [<!ENTITY e 'v'>]><sessionConfigDocument></sessionConfigDocument>", "document type"},
        {"<sessionConfigDocument><forceSSLStatus>YES</forceSSLStatus></sessionConfigDocument>",
         "forceSSLStatus must be ON or OFF, not 'YES'"},
        {"<sessionConfigDocument><caFile>&ext;</caFile></sessionConfigDocument>", "caFile does not hold plain text"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.error);
        QsmSessionConfig config;
        std::string error;
        EXPECT_FALSE(config.parse(c.document, error));
        EXPECT_NE(std::string::npos, error.find(c.error)) << error;
    }
}

TEST(QsmSessionConfig, ReadsEveryElementTheLastOneWinning)
{
    // The toolkit appends its own family after the caller's; names match whole.
    QsmSessionConfig c;
    std::string error;
    ASSERT_TRUE(c.parse("<sessionConfigDocument>"
                        "<serviceID> SkarnServerSocket </serviceID><forceSSLStatus>OFF</forceSSLStatus>"
                        "<forceSSLStatus>on</forceSSLStatus><protocolFamily>IPv4</protocolFamily>"
                        "<protocolFamily>IPv6</protocolFamily><certificateFile>/a/c&amp;d.pem</certificateFile>"
                        "<caFileBackup>/wrong</caFileBackup><caFile>/a/ca.pem</caFile>"
                        "<verifyPeer>OFF</verifyPeer><handshakeTimeoutSeconds>3</handshakeTimeoutSeconds>"
                        "<unknownElement>x</unknownElement></sessionConfigDocument>",
                        error))
        << error;
    EXPECT_EQ("SkarnServerSocket", c.serviceID);
    EXPECT_TRUE(c.forceSSL);
    EXPECT_EQ(QsmSessionConfig::FamilyIPv6, c.family);
    EXPECT_EQ("/a/c&d.pem", c.certificateFile);
    EXPECT_EQ("/a/ca.pem", c.caFile);
    EXPECT_EQ(0, c.verifyPeer);
    EXPECT_EQ(3, c.handshakeTimeoutSeconds);
    QsmSessionConfig d;  // what a missing element means
    ASSERT_TRUE(d.parse("<sessionConfigDocument></sessionConfigDocument>", error));
    EXPECT_FALSE(d.forceSSL);
    EXPECT_EQ(QsmSessionConfig::FamilyUnspecified, d.family);
    EXPECT_EQ(-1, d.verifyPeer);
    EXPECT_EQ(10, d.handshakeTimeoutSeconds);
}

}  // namespace
