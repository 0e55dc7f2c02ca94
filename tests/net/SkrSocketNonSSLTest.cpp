// The plain TCP socket on real loopback connections: URL parsing, connecting
// by URL and by address (IPv4 and IPv6), retries, reads and writes, failures
// with the system's texts, and descriptor hygiene.
#include "net/SkrSocketNonSSL.h"

#include "platform/core/VexAssertError.h"
#include "platform/core/VexIllegalArgumentError.h"
#include "platform/core/VexIllegalStateError.h"
#include "platform/core/VexThread.h"
#include "support/ExpectThrow.h"
#include "support/LoopbackPeer.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/tcp.h>
#include <pthread.h>

#include <atomic>
#include <chrono>
#include <csignal>
#include <functional>
#include <thread>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

std::atomic<int> g_sleeps{0};
std::atomic<int> g_sleptSeconds{0};

void fakeSleep(int seconds)
{
    g_sleeps.fetch_add(1);
    g_sleptSeconds.fetch_add(seconds);
}

// Counts the connect retries' sleeps instead of sleeping.
class FakeSleep {
public:
    FakeSleep()
    {
        g_sleeps = 0;
        g_sleptSeconds = 0;
        m_previous = VexThread::setSleepFunction(&fakeSleep);
    }
    ~FakeSleep() { VexThread::setSleepFunction(m_previous); }

private:
    VexThread::SleepFunction m_previous;
};

std::string addressText(SkarnSocket& s)
{
    VexByteBuffer text(16, 16);
    s.getIPAddress(text);
    return text.getData();
}

class Plain : public SkrSocketNonSSL {
public:
    int port() const { return m_nPort; }
    SOCKET comm() const { return m_commSocket; }
    int connected() const { return m_connected; }
    const std::string& serverHost() const { return m_serverHost; }
};

// Writes `data` and reads the same number of bytes back.
std::string roundTrip(SkrSocketNonSSL& s, const std::string& data)
{
    int written = 0;
    s.WriteBuffer(data.data(), static_cast<unsigned>(data.size()), &written);
    EXPECT_EQ(static_cast<int>(data.size()), written);
    std::string back;
    char buffer[65536];
    while (back.size() < data.size()) {
        int n = 0;
        s.ReadBuffer(buffer, sizeof buffer, &n);
        if (n == 0)
            break;
        back.append(buffer, static_cast<std::size_t>(n));
    }
    return back;
}

class EnvVar {
public:
    EnvVar(const char* name, const char* value) : m_name(name)
    {
        const char* old = std::getenv(name);
        if (old)
            m_old = old, m_had = true;
        if (value)
            ::setenv(name, value, 1);
        else
            ::unsetenv(name);
    }
    ~EnvVar()
    {
        if (m_had)
            ::setenv(m_name.c_str(), m_old.c_str(), 1);
        else
            ::unsetenv(m_name.c_str());
    }

private:
    std::string m_name, m_old;
    bool m_had = false;
};

}  // namespace

// ---- URL parsing ---------------------------------------------------------

TEST(SkrSocketNonSSLPrepare, UrlTable)
{
    struct Case {
        const char* label;
        const char* url;
        int port;
        const char* address;
    };
    const Case cases[] = {
        {"host and port", "http://127.0.0.1:9300/path", 9300, "127.0.0.1"},
        {"no path", "http://127.0.0.1:81", 81, "127.0.0.1"},
        {"no port", "http://127.0.0.1/x", 0, "127.0.0.1"},
        {"colon only in the path", "http://127.0.0.1/a:77", 0, "127.0.0.1"},
        {"port not a number", "http://127.0.0.1:abc/", 0, "127.0.0.1"},
        {"bracketed IPv6 with port", "http://[::1]:8443/p", 8443, "::1"},
        {"bracketed IPv6 without port", "https://[::1]/p:5", 0, "::1"},
        {"bracketed IPv6, colons inside", "x://[2001:db8::7]:1/", 1, "2001:db8::7"},
        {"any scheme", "soap://127.0.0.2:5", 5, "127.0.0.2"},
    };
    std::string unresolvable = std::string("http://") + kUnresolvableHost + ":80/";
    std::vector<Case> all(std::begin(cases), std::end(cases));
    all.push_back({"host that does not resolve", unresolvable.c_str(), 80, "255.255.255.255"});
    for (const Case& c : all) {
        Plain s;
        s.prepare(c.url);
        EXPECT_EQ(c.port, s.port()) << c.label;
        EXPECT_EQ(c.address, addressText(s)) << c.label;
        EXPECT_EQ(0, s.connected()) << c.label;
    }
}

TEST(SkrSocketNonSSLPrepare, UrlWithoutSchemeSeparatorIsRefused)
{
    for (const char* url : {"127.0.0.1:80", "http://", "", "http:/host/"}) {
        Plain s;
        SkarnException e = expectSkarnError([&] { s.prepare(url); }, {30, 1841456247u, "", "SkrSocketNonSSL::prepare"});
        EXPECT_EQ(std::string(url) + "|no ://", parmsOf(e)) << url;
        EXPECT_EQ(0xFFFE, s.getIPAddress().ss_family) << url;
    }
}

TEST(SkrSocketNonSSLPrepare, PortAndAddress)
{
    Plain s;
    sockaddr_storage unresolved;
    std::memset(&unresolved, 0xFF, sizeof unresolved);
    s.prepare(77, unresolved);
    EXPECT_EQ(77, s.port());
    EXPECT_NE(0xFFFF, s.getIPAddress().ss_family);  // the local machine
    std::string local = addressText(s);
    EXPECT_TRUE(local == "127.0.0.1" || local == "::1") << local;

    LoopbackPeer peer(LoopbackPeer::IPv4, LoopbackPeer::echo());
    s.prepare(peer.port(), peer.address());
    EXPECT_EQ("127.0.0.1", addressText(s));
    s.open();
    EXPECT_EQ("ping", roundTrip(s, "ping"));
}

// ---- connecting, reading, writing ----------------------------------------

TEST(SkrSocketNonSSLConnect, ByUrlIPv4)
{
    LoopbackPeer peer(LoopbackPeer::IPv4, LoopbackPeer::echo());
    Plain s;
    s.Open(peer.url("/service").c_str(), nullptr);
    EXPECT_EQ(1, s.connected());
    EXPECT_EQ(peer.port(), s.port());
    EXPECT_EQ("hello, loopback", roundTrip(s, "hello, loopback"));
    int on = 0;
    socklen_t length = sizeof on;
    ASSERT_EQ(0, ::getsockopt(s.comm(), IPPROTO_TCP, TCP_NODELAY, &on, &length));
    EXPECT_NE(0, on);
}

TEST(SkrSocketNonSSLConnect, ByUrlToIPv6Listener)
{
    LoopbackPeer peer(LoopbackPeer::IPv6, LoopbackPeer::echo());
    Plain s;
    std::string url = "http://[::1]:" + std::to_string(peer.port()) + "/x:1";
    s.Open(url.c_str(), nullptr);
    EXPECT_EQ("::1", addressText(s));
    EXPECT_EQ(AF_INET6, s.getIPAddress().ss_family);
    EXPECT_EQ("over IPv6", roundTrip(s, "over IPv6"));
}

TEST(SkrSocketNonSSLConnect, ByAddressIPv4AndIPv6)
{
    for (LoopbackPeer::Family f : {LoopbackPeer::IPv4, LoopbackPeer::IPv6}) {
        LoopbackPeer peer(f, LoopbackPeer::echo());
        Plain s;
        sockaddr_storage a = peer.address();
        s.Open(peer.port(), a, nullptr);
        std::string big(200000, 'x');
        for (std::size_t i = 0; i < big.size(); ++i)
            big[i] = static_cast<char>(i * 31 + 7);
        EXPECT_EQ(big, roundTrip(s, big));
    }
}

TEST(SkrSocketNonSSLConnect, ByPortToServerHost)
{
    LoopbackPeer peer(LoopbackPeer::IPv4, LoopbackPeer::echo());
    Plain s;
    s.setServerHostInfo("127.0.0.1");
    s.Open(peer.port());
    EXPECT_EQ("by port", roundTrip(s, "by port"));
    EXPECT_EQ(0xFFFE, s.getIPAddress().ss_family);  // the stored address is left as it was
}

TEST(SkrSocketNonSSLConnect, ByPortToHostThatDoesNotResolve)
{
    Plain s;
    s.setServerHostInfo(kUnresolvableHost);
    try {
        s.Open(80);
        FAIL() << "nothing thrown";
    } catch (const VexIllegalStateError& e) {
        ASSERT_GE(e.getBackTraceCount(), 1u);
        EXPECT_EQ("SkrSocketNonSSL::Open", e.getBackTraceAt(0).function);
    }
}

TEST(SkrSocketNonSSLConnect, OpenWhenConnectedDoesNothing)
{
    LoopbackPeer peer(LoopbackPeer::IPv4, LoopbackPeer::echo());
    LoopbackPeer other(LoopbackPeer::IPv4, LoopbackPeer::echo());
    Plain s;
    s.Open(peer.url().c_str(), nullptr);
    SOCKET first = s.comm();
    s.Open(other.url().c_str(), nullptr);
    EXPECT_EQ(first, s.comm());
    EXPECT_EQ(0, other.accepted());
}

TEST(SkrSocketNonSSLConnect, RefusedConnectionTriesFiveTimes)
{
    FakeSleep sleep;
    Plain s;
    std::string url = "http://127.0.0.1:" + std::to_string(LoopbackPeer::unusedPort(LoopbackPeer::IPv4)) + "/";
    expectSkarnError([&] { s.Open(url.c_str(), nullptr); },
                     {5, 1841392216u, "Connection refused", "SkrSocketNonSSL::Open"});
    EXPECT_EQ(4, g_sleeps.load());
    EXPECT_EQ(8, g_sleptSeconds.load());
    EXPECT_EQ(0, s.connected());
    EXPECT_EQ("Connection refused", s.getLastErrorText().str());
    s.Close();
}

TEST(SkrSocketNonSSLConnect, SocketThatCannotBeCreated)
{
    Plain s;  // address not given: family 0xFFFE
    expectSkarnError([&] { s.open(); },
                     {5, 1841392216u, "Address family not supported by protocol family", "SkrSocketNonSSL::Open"});
}

TEST(SkrSocketNonSSLConnect, CloseAndOpenAgain)
{
    LoopbackPeer peer(LoopbackPeer::IPv4, LoopbackPeer::echo());
    Plain s;
    s.Open(peer.url().c_str(), nullptr);
    EXPECT_EQ("one", roundTrip(s, "one"));
    s.Close();
    EXPECT_EQ(0, s.connected());
    EXPECT_EQ(INVALID_SOCKET, s.comm());
    s.Close();  // twice is harmless
    s.open();
    EXPECT_EQ("two", roundTrip(s, "two"));
    EXPECT_EQ(2, peer.accepted());
    EXPECT_EQ(0, s.isAlive());
}

TEST(SkrSocketNonSSLTraffic, ReadWhenNotConnectedLeavesCountAlone)
{
    Plain s;
    char buffer[8];
    int n = 42;
    s.ReadBuffer(buffer, sizeof buffer, &n);
    EXPECT_EQ(42, n);
}

TEST(SkrSocketNonSSLTraffic, IllegalArguments)
{
    Plain s;
    char buffer[4];
    int n = 0;
    EXPECT_THROW(s.ReadBuffer(nullptr, 4, &n), VexIllegalArgumentError);
    EXPECT_THROW(s.ReadBuffer(buffer, 0, &n), VexIllegalArgumentError);
    EXPECT_THROW(s.ReadBuffer(buffer, 4, nullptr), VexIllegalArgumentError);
    n = 5;
    EXPECT_THROW(s.WriteBuffer(nullptr, 4, &n), VexIllegalArgumentError);
    EXPECT_EQ(0, n);
    n = 5;
    EXPECT_THROW(s.WriteBuffer(buffer, 0, &n), VexIllegalArgumentError);
    EXPECT_EQ(0, n);
    EXPECT_THROW(s.WriteBuffer(buffer, 4, nullptr), VexIllegalArgumentError);
    try {
        s.WriteBuffer(buffer, 0, &n);
    } catch (const VexIllegalArgumentError& e) {
        EXPECT_EQ("SkrSocketNonSSL::WriteBuffer", e.getBackTraceAt(0).function);
    }
}

TEST(SkrSocketNonSSLTraffic, PeerThatClosesGivesEndOfStream)
{
    LoopbackPeer peer(LoopbackPeer::IPv4, LoopbackPeer::sendThenClose("bye"));
    Plain s;
    s.Open(peer.url().c_str(), nullptr);
    std::string got;
    char buffer[16];
    for (int i = 0; i < 10; ++i) {
        int n = 0;
        s.ReadBuffer(buffer, sizeof buffer, &n);
        if (n == 0)
            break;
        got.append(buffer, static_cast<std::size_t>(n));
    }
    EXPECT_EQ("bye", got);
    int n = 9;
    s.ReadBuffer(buffer, sizeof buffer, &n);  // at the end: nothing read, count untouched
    EXPECT_EQ(9, n);
    s.Close();
    s.open();  // the end of the stream survives a new connection
    n = 9;
    s.ReadBuffer(buffer, sizeof buffer, &n);
    EXPECT_EQ(9, n);
}

TEST(SkrSocketNonSSLTraffic, PeerThatResetsDuringReadGivesEndOfStream)
{
    LoopbackPeer peer(LoopbackPeer::IPv4, LoopbackPeer::resetAfter(4));
    Plain s;
    s.Open(peer.url().c_str(), nullptr);
    int written = 0;
    s.WriteBuffer("abcd", 4, &written);
    char buffer[16];
    int n = 0;
    EXPECT_NO_THROW(s.ReadBuffer(buffer, sizeof buffer, &n));
    EXPECT_EQ(0, n);
    n = 3;
    s.ReadBuffer(buffer, sizeof buffer, &n);
    EXPECT_EQ(3, n);
}

TEST(SkrSocketNonSSLTraffic, PeerThatClosesDuringWriteRaisesWithSystemText)
{
    // The peer reads 64 KiB and goes away; the rest of a large write must fail
    // with the system's text (and no SIGPIPE, which would end this program).
    LoopbackPeer peer(LoopbackPeer::IPv4, LoopbackPeer::resetAfter(65536));
    Plain s;
    s.Open(peer.url().c_str(), nullptr);
    std::vector<char> data(64 * 1024 * 1024, 'w');
    int written = 0;
    try {
        for (int i = 0; i < 8; ++i)
            s.WriteBuffer(data.data(), static_cast<unsigned>(data.size()), &written);
        FAIL() << "the write did not fail";
    } catch (const SkarnException& e) {
        EXPECT_EQ(SkarnException::errSocket, e.getErrorCode());
        ASSERT_EQ(2u, e.getMessageCount());
        EXPECT_EQ(1841392216u, e.getMessageAt(0).getMsgNumber());
        std::string text = e.getMessageAt(1).format().str();
        EXPECT_TRUE(text == "Connection reset by peer" || text == "Software caused connection abort") << text;
        EXPECT_EQ("SkrSocketNonSSL::WriteBuffer", e.getBackTraceAt(0).function);
    }
    EXPECT_EQ(1, s.connected());  // a failed write leaves the socket connected
}

TEST(SkrSocketNonSSLTraffic, WriteWithoutSocketUnderNoSocketVariable)
{
    EnvVar var("ZEV_SKT_NO_SOCKET", "1");
    Plain s;
    int written = 0;
    s.WriteBuffer("nowhere", 7, &written);
    EXPECT_EQ(7, written);
}

TEST(SkrSocketNonSSLTraffic, WriteWithoutSocketFails)
{
    EnvVar var("ZEV_SKT_NO_SOCKET", nullptr);
    Plain s;
    int written = 0;
    expectSkarnError([&] { s.WriteBuffer("x", 1, &written); },
                     {5, 1841392216u, "Bad file number", "SkrSocketNonSSL::WriteBuffer"});
}

TEST(SkrSocketNonSSLTraffic, NoDelaySwitchOff)
{
    LoopbackPeer peer(LoopbackPeer::IPv4, LoopbackPeer::echo());
    skarnTcpNoDelay.store(0);
    Plain s;
    s.Open(peer.url().c_str(), nullptr);
    skarnTcpNoDelay.store(1);
    int on = 1;
    socklen_t length = sizeof on;
    ASSERT_EQ(0, ::getsockopt(s.comm(), IPPROTO_TCP, TCP_NODELAY, &on, &length));
    EXPECT_EQ(0, on);
}

TEST(SkrSocketNonSSLRobustness, ThousandConnectionsLeaveNoDescriptor)
{
    int before = openDescriptorCount();
    ASSERT_GT(before, 0);
    {
        LoopbackPeer peer(LoopbackPeer::IPv4, LoopbackPeer::echo());
        for (int i = 0; i < 1000; ++i) {
            SkrSocketNonSSL* s = new SkrSocketNonSSL;
            if (i % 2 == 0) {
                s->Open(peer.url().c_str(), nullptr);
            } else {
                s->Open(peer.port(), peer.address(), nullptr);
                s->Close();
            }
            s->release();
        }
        for (int waited = 0; peer.accepted() < 1000 && waited < 10000; waited += 10)
            VexThread::sleepMillis(10);
        EXPECT_EQ(1000, peer.accepted());
    }  // the peer closes its own ends and its listener
    EXPECT_EQ(before, openDescriptorCount());
}

// ---- error texts ---------------------------------------------------------

TEST(SkrSocketNonSSLErrors, TextTable)
{
    struct Case {
        int code;
        const char* text;
    };
    const Case cases[] = {
        {10004, "Interrupted system call"},
        {10009, "Bad file number"},
        {10013, "Access denied"},
        {10014, "Bad address"},
        {10022, "Invalid argument"},
        {10024, "Too many open files"},
        {10035, "Operation would block"},
        {10036, "Operation now in progress"},
        {10037, "Operation already in progress"},
        {10038, "Socket operation on non-socket"},
        {10039, "Destination address required"},
        {10040, "Message too long"},
        {10041, "Protocol is wrong type for socket"},
        {10042, "Bad protocol option"},
        {10043, "Protocol not supported"},
        {10044, "Socket type not supported"},
        {10045, "Operation not supported on socket"},
        {10046, "Protocol family not supported"},
        {10047, "Address family not supported by protocol family"},
        {10048, "Address already in use"},
        {10049, "Can't assign requested address"},
        {10050, "Network is down"},
        {10051, "ICMP network unreachable"},
        {10052, "Network was reset"},
        {10053, "Software caused connection abort"},
        {10054, "Connection reset by peer"},
        {10055, "No buffer space is supported"},
        {10056, "Socket is already connected"},
        {10057, "Socket is not connected"},
        {10058, "Can't send after socket shutdown"},
        {10059, "Too many references"},
        {10060, "Connection timed out"},
        {10061, "Connection refused"},
        {10062, "Too many levels of symbolic links"},
        {10063, "Name too long"},
        {10064, "Host is down"},
        {10065, "Host is unreachable"},
        {10066, "Directory not empty"},
        {10067, "EPROCLIM returned"},
        {10068, "EUSERS returned"},
        {10069, "Disk quota exceeded"},
        {10070, "ESTALE returned"},
        {10071, "The object is remote"},
        {10091, "System not ready"},
        {10092, "Version is not supported"},
        {10093, "Not initialized"},
        {10101, "ptext =ed by WSARecv or WSARecvFrom to indicate the remote party has initiated a graceful "
                "shutdown sequence."},
        {11001, "Host not found"},
        {11002, "Try again"},
        {11003, "Non-recoverable error"},
        {11004, "No data record available"},
        {0, "Unknown error code"},
        {10000, "Unknown error code"},
        {10072, "Unknown error code"},
        {11005, "Unknown error code"},
        {-1, "Unknown error code"},
    };
    for (const Case& c : cases)
        EXPECT_STREQ(c.text, SkrSocketNonSSL::errorText(c.code)) << c.code;
}

TEST(SkrSocketNonSSLErrors, LastErrorTextFollowsTheSystemError)
{
    Plain s;
    errno = ECONNREFUSED;
    s.setLastErrorText();
    EXPECT_EQ("Connection refused", s.getLastErrorText().str());
    errno = EPIPE;
    s.setLastErrorText();
    EXPECT_EQ("Connection reset by peer", s.getLastErrorText().str());
    errno = ENOENT;  // no Winsock counterpart
    s.setLastErrorText();
    EXPECT_EQ("Unknown error code", s.getLastErrorText().str());
}

TEST(SkrSocketNonSSLMisc, ServerHostAndPoolKey)
{
    Plain s;
    s.setPoolKey("h:1");
    EXPECT_EQ("h:1", s.getPoolKey());
    s.setServerHostInfo("srv");
    EXPECT_EQ("srv", s.serverHost());
    s.setServerHostInfo(nullptr);
    EXPECT_EQ("localhost", s.serverHost());
}

namespace {

void onSignal(int) {}

// Interrupts the calling thread with SIGUSR1 (handled, without restart) a
// few times while `body` runs.
void interrupted(const std::function<void()>& body)
{
    struct sigaction action {};
    struct sigaction previous {};
    action.sa_handler = &onSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = 0;  // no SA_RESTART: blocking calls fail with EINTR
    ASSERT_EQ(0, sigaction(SIGUSR1, &action, &previous));
    pthread_t target = pthread_self();
    std::atomic<bool> done{false};
    std::thread kicker([&] {
        for (int i = 0; i < 3 && !done.load(); ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
            pthread_kill(target, SIGUSR1);
        }
    });
    body();
    done.store(true);
    kicker.join();
    sigaction(SIGUSR1, &previous, nullptr);
}

}  // namespace

TEST(SkrSocketNonSSLTraffic, InterruptedReadsGoOn)
{
    for (bool withTimeLimit : {false, true}) {
        LoopbackPeer peer(LoopbackPeer::IPv4, LoopbackPeer::trickle('i', 500, 1));
        Plain s;
        s.Open(peer.url().c_str(), nullptr);
        if (withTimeLimit)
            s.getInputStream().setTimeout(5);
        int c = 0;
        interrupted([&] { c = s.getInputStream().read(); });
        EXPECT_EQ('i', c) << (withTimeLimit ? "waiting with a time limit" : "in recv");
    }
}
