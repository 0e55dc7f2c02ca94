// The socket model's base (address texts, the reuse counter), the socket input
// stream's time-out and cancel modes, and the host names and addresses of SkarnHost.
#include "net/SkarnSocket.h"

#include "net/SkarnHost.h"
#include "net/SkrSocket.h"
#include "net/SkrSocketNonSSL.h"
#include "platform/core/VexByteBuffer.h"
#include "platform/core/VexUnsupportedOperationError.h"
#include "platform/streams/QioIOCancelException.h"
#include "platform/streams/QioIOTimeoutException.h"
#include "support/ExpectThrow.h"
#include "support/LoopbackPeer.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <unistd.h>

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
    void setPoolKey(std::string) override {}
    std::string getPoolKey() override { return ""; }
    int isAlive() override { return 0; }
    void Close() override {}
    int port() const { return m_nPort; }

private:
    bool* m_deleted = nullptr;
};

sockaddr_storage address(int family, const char* text, int port = 0)
{
    sockaddr_storage a{};
    a.ss_family = static_cast<sa_family_t>(family);
    if (family == AF_INET) {
        reinterpret_cast<sockaddr_in*>(&a)->sin_port = htons(static_cast<unsigned short>(port));
        inet_pton(AF_INET, text, &reinterpret_cast<sockaddr_in*>(&a)->sin_addr);
    } else if (family == AF_INET6) {
        inet_pton(AF_INET6, text, &reinterpret_cast<sockaddr_in6*>(&a)->sin6_addr);
    } else if (family == SkarnSocket::FAMILY_UNRESOLVED) {
        std::memset(&a, 0xFF, sizeof a);
    }
    return a;
}

std::string text(const sockaddr_storage& a)
{
    BareSocket s(1, a);
    VexByteBuffer t(16, 16);
    t.append("at ");
    s.getIPAddress(t);
    return t.getData();
}

bool allBytes(const sockaddr_storage& a, unsigned char value)
{
    const unsigned char* p = reinterpret_cast<const unsigned char*>(&a);
    return std::all_of(p, p + sizeof a, [value](unsigned char c) { return c == value; });
}

}  // namespace

TEST(SkarnSocketBase, FieldsAndAddresses)
{
    sockaddr_storage a = address(AF_INET, "10.1.2.3", 8080);
    BareSocket copied(8080, a);
    EXPECT_EQ(8080, copied.port());
    EXPECT_EQ(0, std::memcmp(&a, &copied.getIPAddress(), sizeof a));
    sockaddr_storage unresolved{};
    unresolved.ss_family = SkarnSocket::FAMILY_UNRESOLVED;  // the rest zero: stored as every byte 0xFF
    EXPECT_TRUE(allBytes(BareSocket(1, unresolved).getIPAddress(), 0xFF));
    EXPECT_EQ("at 255.255.255.255", text(address(SkarnSocket::FAMILY_UNRESOLVED, "")));
    EXPECT_EQ("at 192.0.2.17", text(address(AF_INET, "192.0.2.17", 1)));
    EXPECT_EQ("at 2001:db8::5", text(address(AF_INET6, "2001:db8::5")));
    EXPECT_EQ("at ", text(address(SkarnSocket::FAMILY_NOT_GIVEN, "")));
}

TEST(SkarnSocketBase, ReuseCounterWrapsAndReleaseDeletes)
{
    bool deleted = false;
    SkarnSocket* s = new BareSocket(&deleted);
    s->markReusable();
    EXPECT_EQ(1, s->isReusable());
    s->disableReuse();
    EXPECT_EQ(0, s->isReusable());
    for (int i = 0; i < 65535; ++i)
        s->incReuseCounter();
    EXPECT_EQ(65535, s->getReuseCounter());
    s->incReuseCounter();
    EXPECT_EQ(0, s->getReuseCounter());
    s->release();
    EXPECT_TRUE(deleted);
}

// ---- the input stream's modes (shared by both sockets' streams) ------------

TEST(SocketStreamModes, TimeOutAndCancelTransitions)
{
    SkrSocketNonSSL s;
    SkarnSocketInputStream& in = s.getInputStream();
    EXPECT_EQ(1, in.setTimeout(5));
    EXPECT_EQ(5, in.getTimeout());
    EXPECT_EQ(5, s.getTimeLimitSec());
    EXPECT_EQ(0, in.canCancel());
    EXPECT_EQ(0, in.setTimeout(0));
    EXPECT_EQ(0, s.getTimeLimitSec());
    EXPECT_EQ(1, in.setCancel(1));
    EXPECT_EQ(1, in.getCancel());
    EXPECT_EQ(1, s.getTimeLimitSec());  // the callback runs every second
    EXPECT_EQ(0, in.getTimeout());      // though the socket's limit is 1
    EXPECT_EQ(0, in.canTimeout());
    EXPECT_EQ(0, in.setTimeout(0));     // changes nothing in cancel mode
    EXPECT_EQ(1, s.getTimeLimitSec());
    EXPECT_EQ(1, in.setCancel(0));
    EXPECT_EQ(0, in.getCancel());
    EXPECT_EQ(0, s.getTimeLimitSec());
    EXPECT_EQ(1, in.canTimeout());
    s.setTimeLimitCallback(+[](void*) {}, &s, 0);
    EXPECT_EQ(1, in.setCancel(0));  // in no mode: clears the callback
    EXPECT_EQ(0, s.getTimeLimitSec());
}

TEST(SocketStreamModes, RefusedTransitions)
{
    using Step = std::function<void(SkarnSocketInputStream&)>;
    const Step timeOut = [](SkarnSocketInputStream& in) { in.setTimeout(5); };
    const Step cancel = [](SkarnSocketInputStream& in) { in.setCancel(1); };
    const struct {
        const char* label;
        Step enter, refused;
        const char* function;
    } cases[] = {
        {"time-out to cancel", timeOut, cancel, "SkarnSocketInputStream::setCancel"},
        {"cancel to time-out", cancel, timeOut, "SkarnSocketInputStream::setTimeout"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        SkrSocketNonSSL s;
        SkarnSocketInputStream& in = s.getInputStream();
        c.enter(in);
        const int cancelBefore = in.getCancel(), limitBefore = s.getTimeLimitSec();
        try {
            c.refused(in);
            ADD_FAILURE() << "nothing thrown";
        } catch (const VexUnsupportedOperationError& e) {
            EXPECT_EQ(c.function, e.getBackTraceAt(0).function);
            EXPECT_EQ(0u, e.getMessageCount());
        }
        EXPECT_EQ(cancelBefore, in.getCancel());
        EXPECT_EQ(limitBefore, s.getTimeLimitSec());
    }
    SkrSocketNonSSL s;
    EXPECT_EQ("SkarnSocketInputStream::cancel", illegalStateText([&] { s.getInputStream().cancel(); }));
}

TEST(SocketStreamModes, HandlerByMode)
{
    EXPECT_EQ("VEX_ASSERT(instancePointer);", assertionText([] { SkarnSocketInputStream::timeoutHandler(nullptr); }));
    SkrSocketNonSSL s;
    SkarnSocketInputStream& in = s.getInputStream();
    EXPECT_THROW(SkarnSocketInputStream::timeoutHandler(&in), QioIOTimeoutException);  // no mode counts as time-out
    in.setCancel(1);
    EXPECT_NO_THROW(SkarnSocketInputStream::timeoutHandler(&in));
    in.cancel();
    try {
        SkarnSocketInputStream::timeoutHandler(&in);
        ADD_FAILURE() << "nothing thrown";
    } catch (const QioIOCancelException& e) {
        EXPECT_EQ("SkarnSocketInputStream::timeoutHandler", e.getBackTraceAt(0).function);
        EXPECT_EQ("VEX_THROW", e.getBackTraceAt(0).macro);
    }
    EXPECT_NO_THROW(SkarnSocketInputStream::timeoutHandler(&in));  // the request was cleared
}

// ---- the host --------------------------------------------------------------

TEST(SkarnHost, MachineName)
{
    char expected[256] = "";
    ASSERT_EQ(0, gethostname(expected, sizeof expected));
    ASSERT_GT(std::strlen(expected), 1u);
    char buffer[256];
    std::memset(buffer, 'x', sizeof buffer);
    SkarnHost::getInternetMachineName(buffer, sizeof buffer);
    EXPECT_STREQ(expected, buffer);
    EXPECT_NO_THROW(SkarnHost::getInternetMachineName(nullptr, 10));
    char small[1];
    SkarnException e = expectSkarnError([&] { SkarnHost::getInternetMachineName(small, sizeof small); },
                                        {24, 1841643536u, "", "SkarnHost::getInternetMachineName"});
    EXPECT_EQ("10063", parmsOf(e));  // ENAMETOOLONG as its Winsock number
}

TEST(SkarnHost, AddressTable)
{
    const std::pair<const char*, std::string> cases[] = {
        {"192.0.2.44", "at 192.0.2.44"},
        {"2001:db8::1", "at 2001:db8::1"},
        {kUnresolvableHost, "at 255.255.255.255"},
        {"[::1]", "at 255.255.255.255"},
    };
    for (const auto& c : cases) {
        sockaddr_storage a = SkarnHost::getIPAddress(c.first);
        EXPECT_EQ(c.second, text(a)) << c.first;
        if (a.ss_family == AF_INET) {
            EXPECT_EQ(0, reinterpret_cast<sockaddr_in*>(&a)->sin_port) << c.first;
        } else if (a.ss_family != AF_INET6) {
            EXPECT_TRUE(allBytes(a, 0xFF)) << c.first;
        }
    }
    sockaddr_storage named = SkarnHost::getIPAddress("localhost"), null = SkarnHost::getIPAddress(nullptr);
    EXPECT_EQ(0, std::memcmp(&named, &null, sizeof named));
    EXPECT_TRUE(text(named) == "at 127.0.0.1" || text(named) == "at ::1") << text(named);
}
