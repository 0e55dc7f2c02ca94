// The socket model's base: fields at construction, the bodies that store and
// count, the operations it does not support, and the address texts.
#include "net/SkarnSocket.h"

#include "net/SkarnSocketInputStream.h"
#include "platform/core/VexByteBuffer.h"
#include "support/ExpectThrow.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>

#include <cstring>

namespace {

// Implements only what is pure, so the base's own bodies are what runs.
class BareSocket : public SkarnSocket {
public:
    BareSocket() = default;
    BareSocket(int port, const sockaddr_storage& a) : SkarnSocket(port, a) {}
    explicit BareSocket(bool* deleted) : m_deleted(deleted) {}
    ~BareSocket() override
    {
        if (m_deleted)
            *m_deleted = true;
    }
    SkarnSocketInputStream& getInputStream() override { throw 0; }
    QioOutputStream& getOutputStream() override { throw 0; }
    void prepare(const char*) override {}
    void prepare(int, const sockaddr_storage&) override {}
    void Open(const char*, const char*) override {}
    void Open(int, const sockaddr_storage&, const char*) override {}
    void Open(int) override {}
    void open() override {}
    void setPoolKey(std::string key) override { m_poolKey = key; }
    std::string getPoolKey() override { return m_poolKey; }
    int isAlive() override { return 0; }
    void Close() override {}

    int port() const { return m_nPort; }
    void* argument() const { return m_timeLimitArgument; }
    bool hasCallback() const { return m_timeLimitCallback != nullptr; }

private:
    bool* m_deleted = nullptr;
};

sockaddr_storage ipv4(const char* text, int port)
{
    sockaddr_storage a{};
    sockaddr_in* in = reinterpret_cast<sockaddr_in*>(&a);
    in->sin_family = AF_INET;
    in->sin_port = htons(static_cast<unsigned short>(port));
    inet_pton(AF_INET, text, &in->sin_addr);
    return a;
}

sockaddr_storage ipv6(const char* text)
{
    sockaddr_storage a{};
    sockaddr_in6* in6 = reinterpret_cast<sockaddr_in6*>(&a);
    in6->sin6_family = AF_INET6;
    inet_pton(AF_INET6, text, &in6->sin6_addr);
    return a;
}

bool allBytes(const sockaddr_storage& a, unsigned char value)
{
    const unsigned char* p = reinterpret_cast<const unsigned char*>(&a);
    for (std::size_t i = 0; i < sizeof a; ++i)
        if (p[i] != value)
            return false;
    return true;
}

void callback(void*) {}

}  // namespace

TEST(SkarnSocketBase, FieldsAtConstruction)
{
    BareSocket s;
    EXPECT_EQ(0, s.port());
    EXPECT_EQ(0xFFFF, s.getIPAddress().ss_family);
    EXPECT_TRUE(allBytes(s.getIPAddress(), 0xFF));
    EXPECT_EQ(0, s.getTimeLimitSec());
    EXPECT_FALSE(s.hasCallback());
    EXPECT_EQ(0, s.isNonBlockingSocket());
    EXPECT_EQ("", s.getPoolKey());
    EXPECT_EQ(0ull, s.getTimestamp());
    EXPECT_EQ(0, s.isReusable());
    EXPECT_EQ(0, s.getReuseCounter());
}

TEST(SkarnSocketBase, ConstructorCopiesPortAndAddress)
{
    sockaddr_storage a = ipv4("10.1.2.3", 8080);
    BareSocket s(8080, a);
    EXPECT_EQ(8080, s.port());
    EXPECT_EQ(0, std::memcmp(&a, &s.getIPAddress(), sizeof a));

    sockaddr_storage unresolved{};
    unresolved.ss_family = 0xFFFF;  // the rest zero: stored as every byte 0xFF
    BareSocket u(1, unresolved);
    EXPECT_TRUE(allBytes(u.getIPAddress(), 0xFF));
}

TEST(SkarnSocketBase, AddressAsText)
{
    struct Case {
        const char* label;
        sockaddr_storage address;
        const char* text;
    };
    sockaddr_storage notGiven{};
    notGiven.ss_family = 0xFFFE;
    sockaddr_storage unresolved;
    std::memset(&unresolved, 0xFF, sizeof unresolved);
    const Case cases[] = {
        {"unresolved", unresolved, "255.255.255.255"},
        {"IPv4 loopback", ipv4("127.0.0.1", 80), "127.0.0.1"},
        {"IPv4 other", ipv4("192.0.2.17", 1), "192.0.2.17"},
        {"IPv6 loopback", ipv6("::1"), "::1"},
        {"IPv6 documentation", ipv6("2001:db8::5"), "2001:db8::5"},
        {"not given", notGiven, ""},
    };
    for (const Case& c : cases) {
        BareSocket s(1, c.address);
        VexByteBuffer text(16, 16);
        text.append("at ");
        s.getIPAddress(text);
        EXPECT_EQ(std::string("at ") + c.text, text.getData()) << c.label;
    }
}

TEST(SkarnSocketBase, UnsupportedOperations)
{
    BareSocket s;
    SkarnSocket& base = s;
    const unsigned number = 1841854490u;
    expectSkarnError([&] { base.echo(std::string("f")); }, {0, number, "", "SkarnSocket::echo"});
    expectSkarnError([&] { base.echo("f"); }, {0, number, "", "SkarnSocket::echo"});
    expectSkarnError([&] { base.echo("f", "wb", 1); }, {0, number, "", "SkarnSocket::echo"});
    expectSkarnError([&] { base.setServerHostInfo("h"); }, {0, number, "", "SkarnSocket::setServerHostInfo"});
}

TEST(SkarnSocketBase, StoringBodies)
{
    BareSocket s;
    int argument = 7;
    s.setTimeLimitCallback(&callback, &argument, 12);
    EXPECT_TRUE(s.hasCallback());
    EXPECT_EQ(&argument, s.argument());
    EXPECT_EQ(12, s.getTimeLimitSec());
    s.setTimeLimitCallback(nullptr, nullptr, 0);
    EXPECT_FALSE(s.hasCallback());
    EXPECT_EQ(0, s.getTimeLimitSec());

    s.setTimestamp(0x123456789ABCull);
    EXPECT_EQ(0x123456789ABCull, s.getTimestamp());

    s.markReusable();
    EXPECT_EQ(1, s.isReusable());
    s.disableReuse();
    EXPECT_EQ(0, s.isReusable());
}

TEST(SkarnSocketBase, ReuseCounterWrapsAt65536)
{
    BareSocket s;
    s.incReuseCounter();
    s.incReuseCounter();
    EXPECT_EQ(2, s.getReuseCounter());
    s.resetReuseCounter();
    EXPECT_EQ(0, s.getReuseCounter());
    for (int i = 0; i < 65535; ++i)
        s.incReuseCounter();
    EXPECT_EQ(65535, s.getReuseCounter());
    s.incReuseCounter();
    EXPECT_EQ(0, s.getReuseCounter());
}

TEST(SkarnSocketBase, ReleaseDeletesTheSocket)
{
    bool deleted = false;
    SkarnSocket* s = new BareSocket(&deleted);
    s->release();
    EXPECT_TRUE(deleted);
}

TEST(SkarnSocketBase, TcpNoDelaySwitchIsOnByDefault) { EXPECT_EQ(1, skarnTcpNoDelay.load()); }
