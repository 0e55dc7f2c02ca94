#include "platform/crypto/QsmSessionConfig.h"

#include <gtest/gtest.h>

namespace {

struct ConfigCase {
    const char* label;
    const char* document;
    bool ok;
    const char* error;  // part of the reason when !ok
};

const ConfigCase kCases[] = {
    {"null document", nullptr, false, "no session configuration document"},
    {"no root", "<other></other>", false, "no sessionConfigDocument root"},
    {"root never closed", "<sessionConfigDocument><serviceID>x</serviceID>", false, "no sessionConfigDocument root"},
    {"doctype refused", "<!DOCTYPE x [<!ENTITY e 'v'>]><sessionConfigDocument></sessionConfigDocument>", false,
     "document type"},
    {"bad switch", "<sessionConfigDocument><forceSSLStatus>YES</forceSSLStatus></sessionConfigDocument>", false,
     "forceSSLStatus must be ON or OFF, not 'YES'"},
    {"bad family", "<sessionConfigDocument><protocolFamily>IPX</protocolFamily></sessionConfigDocument>", false,
     "protocolFamily must be IPv4 or IPv6, not 'IPX'"},
    {"bad verify", "<sessionConfigDocument><verifyPeer>1</verifyPeer></sessionConfigDocument>", false,
     "verifyPeer must be ON or OFF"},
    {"time-out not a number",
     "<sessionConfigDocument><handshakeTimeoutSeconds>ten</handshakeTimeoutSeconds></sessionConfigDocument>", false,
     "handshakeTimeoutSeconds"},
    {"time-out zero", "<sessionConfigDocument><handshakeTimeoutSeconds>0</handshakeTimeoutSeconds></sessionConfigDocument>",
     false, "handshakeTimeoutSeconds"},
    {"unclosed element", "<sessionConfigDocument><caFile>/x</sessionConfigDocument>", false, "caFile has no end tag"},
    {"markup inside a value", "<sessionConfigDocument><caFile><b>x</b></caFile></sessionConfigDocument>", false,
     "caFile does not hold plain text"},
    {"unknown entity", "<sessionConfigDocument><caFile>&ext;</caFile></sessionConfigDocument>", false,
     "caFile does not hold plain text"},
    {"minimal", "<sessionConfigDocument></sessionConfigDocument>", true, ""},
};

TEST(QsmSessionConfig, RefusesWhatItCannotUse)
{
    for (const ConfigCase& c : kCases) {
        SCOPED_TRACE(c.label);
        QsmSessionConfig config;
        std::string error;
        EXPECT_EQ(c.ok, config.parse(c.document, error));
        if (!c.ok) {
            EXPECT_NE(std::string::npos, error.find(c.error)) << error;
        }
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
                        "<privateKeyFile>/a/k.pem</privateKeyFile><caFileBackup>/wrong</caFileBackup><caFile>/a/ca.pem</caFile>"
                        "<verifyPeer>OFF</verifyPeer><serverName>example.skarn.test</serverName>"
                        "<handshakeTimeoutSeconds>3</handshakeTimeoutSeconds><unknownElement>x</unknownElement>"
                        "</sessionConfigDocument>",
                        error))
        << error;
    EXPECT_EQ("SkarnServerSocket", c.serviceID);
    EXPECT_TRUE(c.forceSSL);
    EXPECT_EQ(QsmSessionConfig::FamilyIPv6, c.family);
    EXPECT_EQ("/a/c&d.pem", c.certificateFile);
    EXPECT_EQ("/a/k.pem", c.privateKeyFile);
    EXPECT_EQ("/a/ca.pem", c.caFile);
    EXPECT_EQ(0, c.verifyPeer);
    EXPECT_EQ("example.skarn.test", c.serverName);
    EXPECT_EQ(3, c.handshakeTimeoutSeconds);
    QsmSessionConfig d;  // what a missing element means
    ASSERT_TRUE(d.parse("<sessionConfigDocument><serviceID>x</serviceID></sessionConfigDocument>", error));
    EXPECT_FALSE(d.forceSSL);
    EXPECT_EQ(QsmSessionConfig::FamilyUnspecified, d.family);
    EXPECT_EQ(-1, d.verifyPeer);
    EXPECT_EQ(10, d.handshakeTimeoutSeconds);
    EXPECT_TRUE(d.caFile.empty());
}

TEST(QsmSessionConfig, EveryCutOrDamageIsAnsweredCleanly)
{
    // Cut a full document at every position, and damage it byte by byte:
    // each text either parses or is refused with a reason, never anything else.
    const std::string doc =
        "<sessionConfigDocument><serviceID>s</serviceID><forceSSLStatus>ON</forceSSLStatus>"
        "<caFile>/a&amp;b</caFile><handshakeTimeoutSeconds>5</handshakeTimeoutSeconds></sessionConfigDocument>";
    int parsed = 0;
    for (std::size_t cut = 0; cut <= doc.size(); ++cut) {
        QsmSessionConfig c;
        std::string error;
        if (c.parse(doc.substr(0, cut).c_str(), error)) {
            ++parsed;
        } else {
            EXPECT_FALSE(error.empty()) << "cut at " << cut;
        }
    }
    EXPECT_EQ(1, parsed);  // only the whole document has its closing root tag
    for (std::size_t i = 0; i < doc.size(); ++i) {
        for (char bad : {'<', '>', '&', '/', '\0'}) {
            std::string text = doc;
            text[i] = bad;
            QsmSessionConfig c;
            std::string error;
            if (!c.parse(text.c_str(), error)) {
                EXPECT_FALSE(error.empty()) << "byte " << i;
            }
        }
    }
}

}  // namespace
