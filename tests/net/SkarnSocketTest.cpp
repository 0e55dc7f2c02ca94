// The socket model's base (the reuse counter), the socket input stream's
// time-out handler, and the machine name of SkarnHost.
#include "net/SkarnSocket.h"

#include "net/SkarnHost.h"
#include "net/SkrSocketNonSSL.h"
#include "platform/streams/QioIOCancelException.h"
#include "platform/streams/QioIOTimeoutException.h"
#include "support/ExpectThrow.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstring>

namespace {

// Implements only what is pure, so the base's own bodies are what runs.
class BareSocket : public SkarnSocket {
public:
    explicit BareSocket(bool* deleted) : m_deleted(deleted) {}
    ~BareSocket() override { *m_deleted = true; }
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

private:
    bool* m_deleted;
};

}  // namespace

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

