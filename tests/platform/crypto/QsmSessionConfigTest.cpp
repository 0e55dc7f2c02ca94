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

TEST(QsmSessionConfig, NamesMatchWholeAndTheLastElementWins)
{
    // The toolkit appends its own family and TLS switch after the caller's.
    QsmSessionConfig c;
    std::string error;
    ASSERT_TRUE(c.parse("<sessionConfigDocument><forceSSLStatus>OFF</forceSSLStatus><forceSSLStatus>on</forceSSLStatus>"
                        "<protocolFamily>IPv4</protocolFamily><protocolFamily>IPv6</protocolFamily>"
                        "<caFileBackup>/wrong</caFileBackup><caFile>/a/c&amp;a.pem</caFile></sessionConfigDocument>",
                        error))
        << error;
    EXPECT_TRUE(c.forceSSL);
    EXPECT_EQ(QsmSessionConfig::FamilyIPv6, c.family);
    EXPECT_EQ("/a/c&a.pem", c.caFile);
}

}  // namespace
