// The plain TCP socket on real loopback connections: URL parsing, connecting
// by URL and by address (IPv4 and IPv6), retries, reads and writes, failures
// with the system's texts, and descriptor hygiene.
#include "net/SkrSocketNonSSL.h"

#include "api/SkarnMessage.h"
#include "platform/core/VexAssertError.h"
#include "platform/core/VexIllegalArgumentError.h"
#include "platform/core/VexIllegalStateError.h"
#include "platform/core/VexThread.h"
#include "support/ExpectThrow.h"
#include "support/LoopbackPeer.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include "support/ScopedEnv.h"

#include <gtest/gtest.h>
#include <netinet/tcp.h>
#include <pthread.h>
#include <sys/mman.h>
#include <sys/resource.h>

#include <atomic>
#include <chrono>
#include <csignal>
#include <functional>
#include <memory>
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
    ScopedEnv var("ZEV_SKT_NO_SOCKET", "1");
    Plain s;
    int written = 0;
    s.WriteBuffer("nowhere", 7, &written);
    EXPECT_EQ(7, written);
}

TEST(SkrSocketNonSSLTraffic, WriteWithoutSocketFails)
{
    ScopedEnv var("ZEV_SKT_NO_SOCKET", nullptr);
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

// ---- hostile targets -----------------------------------------------------

TEST(SkrSocketNonSSLPrepare, PortOutOfRangeIsRefused)
{
    const char* urls[] = {
        "http://127.0.0.1:65536/",
        "http://127.0.0.1:70000/path",
        "http://127.0.0.1:-1/",
        "http://127.0.0.1:99999999999999999999999/",
        "http://[::1]:100000/",
    };
    for (const char* url : urls) {
        Plain s;
        SkarnException e = expectSkarnError([&] { s.prepare(url); }, {30, 1841456247u, "", "SkrSocketNonSSL::prepare"});
        EXPECT_EQ(std::string(url) + "|port out of range", parmsOf(e)) << url;
        EXPECT_EQ(0, s.port()) << url;
        EXPECT_EQ(0xFFFE, s.getIPAddress().ss_family) << url;
    }
    for (const char* url : {"http://127.0.0.1:65535/", "http://127.0.0.1:0/", "http://127.0.0.1:/"}) {
        Plain s;
        EXPECT_NO_THROW(s.prepare(url)) << url;
    }
}

TEST(SkrSocketNonSSLConnect, UrlWithPortOutOfRangeReachesNoPort)
{
    // 65536 more than a listening port would reach that port if it were cut to 16 bits.
    LoopbackPeer peer(LoopbackPeer::IPv4, LoopbackPeer::echo());
    FakeSleep sleep;
    int before = openDescriptorCount();
    {
        Plain s;
        std::string url = "http://127.0.0.1:" + std::to_string(peer.port() + 65536) + "/";
        expectSkarnError([&] { s.Open(url.c_str(), nullptr); }, {30, 1841456247u, "", "SkrSocketNonSSL::prepare"});
        EXPECT_EQ(0, s.connected());
        EXPECT_EQ(before, openDescriptorCount());
    }
    EXPECT_EQ(0, g_sleeps.load());
    EXPECT_EQ(0, peer.accepted());
}

TEST(SkrSocketNonSSLConnect, PortOutOfRangeReachesNoPort)
{
    LoopbackPeer peer(LoopbackPeer::IPv4, LoopbackPeer::echo());
    FakeSleep sleep;
    int before = openDescriptorCount();
    const int ports[] = {peer.port() + 65536, peer.port() - 65536, -1, 65536};
    for (int port : ports) {
        Plain byAddress;
        expectSkarnError([&] { byAddress.Open(port, peer.address(), nullptr); },
                         {5, 1841392216u, "Invalid argument", "SkrSocketNonSSL::Open"});
        EXPECT_EQ(0, byAddress.connected()) << port;
        EXPECT_EQ(before, openDescriptorCount()) << port;

        Plain byHost;
        byHost.setServerHostInfo("127.0.0.1");
        expectSkarnError([&] { byHost.Open(port); }, {5, 1841392216u, "Invalid argument", "SkrSocketNonSSL::Open"});
        EXPECT_EQ(0, byHost.connected()) << port;
        EXPECT_EQ(before, openDescriptorCount()) << port;
    }
    EXPECT_EQ(0, g_sleeps.load());
    EXPECT_EQ(0, peer.accepted());
}

TEST(SkrSocketNonSSLConnect, HostileUrlsFailCleanly)
{
    // Hosts that the resolver refuses by itself (no query leaves the machine)
    // leave the address unresolved: the socket for it cannot be made.
    std::string longHost = std::string(kUnresolvableHost) + std::string(100000, 'x');
    std::string longUrl = "http://" + longHost + ":80/" + std::string(100000, 'p');
    const std::string notCreated = "Address family not supported by protocol family";
    struct Case {
        const char* label;
        std::string url;
        std::string text;
    };
    const Case cases[] = {
        {"very long host and path", longUrl, notCreated},
        {"missing host, with port", "http://:80/", notCreated},
        {"missing host, path only", "http:///index", notCreated},
        {"'[' without ']'", "http://[::1:80/", notCreated},
        {"']' without '['", "http://::1]:80/", notCreated},
        {"brackets around nothing", "http://[]:80/", notCreated},
        {"port that is not a number: port 0", "http://127.0.0.1:abc/", "Connection refused"},
    };
    FakeSleep sleep;
    int before = openDescriptorCount();
    for (const Case& c : cases) {
        {
            Plain s;
            expectSkarnError([&] { s.Open(c.url.c_str(), nullptr); },
                             {5, 1841392216u, c.text, "SkrSocketNonSSL::Open"});
            EXPECT_EQ(0, s.connected()) << c.label;
        }
        EXPECT_EQ(before, openDescriptorCount()) << c.label;
    }
}

// ---- descriptor 0 --------------------------------------------------------

namespace {

// Frees descriptor 0 for the duration of a test and puts back what was there.
class FreeDescriptorZero {
public:
    FreeDescriptorZero()
    {
        if (::fcntl(0, F_GETFD) != -1) {
            m_saved = ::fcntl(0, F_DUPFD_CLOEXEC, 3);
            ::close(0);
        }
    }
    ~FreeDescriptorZero()
    {
        if (m_saved >= 0) {
            ::dup2(m_saved, 0);
            ::close(m_saved);
        } else {
            ::close(0);  // it was free before
        }
    }
    bool ok() const { return ::fcntl(0, F_GETFD) == -1; }

private:
    int m_saved = -1;
};

// Lowers the soft limit of open descriptors for the duration of a test.
class DescriptorLimit {
public:
    explicit DescriptorLimit(rlim_t limit)
    {
        ::getrlimit(RLIMIT_NOFILE, &m_old);
        rlimit lower = m_old;
        lower.rlim_cur = limit;
        m_ok = ::setrlimit(RLIMIT_NOFILE, &lower) == 0;
    }
    ~DescriptorLimit() { ::setrlimit(RLIMIT_NOFILE, &m_old); }
    bool ok() const { return m_ok; }

private:
    rlimit m_old{};
    bool m_ok = false;
};

}  // namespace

TEST(SkrSocketNonSSLConnect, HandleZeroIsNotKeptAsTheConnection)
{
    // A listener of our own whose backlog completes the connect without a thread.
    int listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    ASSERT_GE(listener, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(0, ::bind(listener, reinterpret_cast<sockaddr*>(&a), sizeof a));
    ASSERT_EQ(0, ::listen(listener, 4));
    socklen_t length = sizeof a;
    ASSERT_EQ(0, ::getsockname(listener, reinterpret_cast<sockaddr*>(&a), &length));
    sockaddr_storage target{};
    std::memcpy(&target, &a, sizeof a);

    SOCKET comm = INVALID_SOCKET;
    bool zeroFree = false;
    {
        FreeDescriptorZero zero;
        ASSERT_TRUE(zero.ok());
        Plain s;
        s.Open(ntohs(a.sin_port), target, nullptr);
        comm = s.comm();
        zeroFree = ::fcntl(0, F_GETFD) == -1;  // handle 0 was taken, then shut and closed
        EXPECT_EQ(1, s.connected());
    }
    ::close(listener);
    EXPECT_NE(0, comm);
    EXPECT_NE(INVALID_SOCKET, comm);
    EXPECT_TRUE(zeroFree);
}

TEST(SkrSocketNonSSLConnect, FailureAfterHandleZeroReportsTheSocketFailure)
{
    // Only descriptor 0 is below the limit: the first socket gets it, the
    // second cannot be made. The report is about that second socket, not
    // about shutting handle 0 down.
    (void)SkarnMessage(1841392216u).format();  // the catalogue is read before the limit
    sockaddr_storage target{};
    reinterpret_cast<sockaddr_in*>(&target)->sin_family = AF_INET;
    reinterpret_cast<sockaddr_in*>(&target)->sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    int before = openDescriptorCount();
    std::unique_ptr<SkarnException> raised;
    bool zeroFree = false;
    {
        FreeDescriptorZero zero;
        ASSERT_TRUE(zero.ok());
        Plain s;
        // The same path once before the limit (a socket that cannot be made):
        // sanitizer builds check the dynamic types on it with a pipe of their
        // own, which they could not open under the limit.
        sockaddr_storage notGiven{};
        notGiven.ss_family = 0xFFFE;
        try {
            s.Open(9, notGiven, nullptr);
        } catch (const SkarnException&) {
        }
        {
            DescriptorLimit limit(1);
            ASSERT_TRUE(limit.ok());
            try {
                s.Open(9, target, nullptr);
            } catch (const SkarnException& e) {
                raised.reset(new SkarnException(e));
            }
        }
        zeroFree = ::fcntl(0, F_GETFD) == -1;
    }
    ASSERT_TRUE(raised) << "nothing raised";
    expectSkarnError([&] { throw *raised; }, {5, 1841392216u, "Too many open files", "SkrSocketNonSSL::Open"});
    EXPECT_TRUE(zeroFree);
    EXPECT_EQ(before, openDescriptorCount());
}

// ---- after Close, huge lengths -------------------------------------------

TEST(SkrSocketNonSSLTraffic, AfterCloseReadsEndAndWritesFail)
{
    ScopedEnv var("ZEV_SKT_NO_SOCKET", nullptr);
    LoopbackPeer peer(LoopbackPeer::IPv4, LoopbackPeer::echo());
    Plain s;
    s.Open(peer.url().c_str(), nullptr);
    EXPECT_EQ("before", roundTrip(s, "before"));
    s.Close();
    char buffer[8];
    int n = 77;
    s.ReadBuffer(buffer, sizeof buffer, &n);
    EXPECT_EQ(77, n);
    EXPECT_EQ(-1, s.getInputStream().read());
    int written = 5;
    expectSkarnError([&] { s.WriteBuffer("after", 5, &written); },
                     {5, 1841392216u, "Bad file number", "SkrSocketNonSSL::WriteBuffer"});
    EXPECT_EQ(0, written);
    expectSkarnError([&] { s.getOutputStream().write("after", 5); },
                     {5, 1841392216u, "Bad file number", "SkrSocketNonSSL::WriteBuffer"});
}

TEST(SkrSocketNonSSLTraffic, WriteLongerThanItsCountCanHoldIsRefused)
{
    // Without a socket nothing of the buffer is read, so one byte stands for
    // a write of more than 2 GiB.
    ScopedEnv var("ZEV_SKT_NO_SOCKET", "1");
    Plain s;
    char one = 'x';
    for (unsigned length : {0x80000000u, 0xFFFFFFFFu}) {
        int written = 5;
        try {
            s.WriteBuffer(&one, length, &written);
            ADD_FAILURE() << length << ": nothing thrown, written " << written;
        } catch (const VexIllegalArgumentError& e) {
            EXPECT_EQ("SkrSocketNonSSL::WriteBuffer", e.getBackTraceAt(0).function);
        }
        EXPECT_EQ(0, written) << length;
    }
    int written = 0;
    s.WriteBuffer(&one, 0x7FFFFFFFu, &written);
    EXPECT_EQ(0x7FFFFFFF, written);
}

namespace {

// Records what its output stream hands to WriteBuffer instead of sending it.
class RecordingSocket : public SkrSocketNonSSL {
public:
    void WriteBuffer(const char* buffer, unsigned int length, int* written) override
    {
        calls.emplace_back(buffer, length);
        *written = static_cast<int>(length);
    }
    std::vector<std::pair<const char*, unsigned>> calls;
};

}  // namespace

TEST(SkrSocketNonSSLTraffic, OutputStreamHandsLongWritesOverInPieces)
{
    RecordingSocket s;
    static char base[1];
    s.getOutputStream().write(base, 0xFFFFFFFFu);
    ASSERT_EQ(3u, s.calls.size());
    EXPECT_EQ(base, s.calls[0].first);
    EXPECT_EQ(0x7FFFFFFFu, s.calls[0].second);
    EXPECT_EQ(0x7FFFFFFFu, static_cast<unsigned>(s.calls[1].first - base));
    EXPECT_EQ(0x7FFFFFFFu, s.calls[1].second);
    EXPECT_EQ(0xFFFFFFFEu, static_cast<unsigned>(s.calls[2].first - base));
    EXPECT_EQ(1u, s.calls[2].second);
    s.calls.clear();
    s.getOutputStream().write(base, 1);
    ASSERT_EQ(1u, s.calls.size());
    EXPECT_EQ(1u, s.calls[0].second);
}

TEST(SkrSocketNonSSLTraffic, HugeReadLengthsTakeWhatIsThere)
{
    // A buffer of 4 GiB of address space (reserved, never touched but for
    // what arrives): a count above INT_MAX is read as INT_MAX.
    const std::size_t size = std::size_t(1) << 32;
    void* space = ::mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
    ASSERT_NE(MAP_FAILED, space);
    char* buffer = static_cast<char*>(space);
    LoopbackPeer peer(LoopbackPeer::IPv4, LoopbackPeer::sendThenClose("abc"));
    Plain s;
    s.Open(peer.url().c_str(), nullptr);
    std::string got;
    for (int i = 0; i < 10; ++i) {
        int n = 0;
        s.ReadBuffer(buffer, 0xFFFFFFFFu, &n);
        if (n == 0)
            break;
        got.append(buffer, static_cast<std::size_t>(n));
    }
    ::munmap(space, size);
    EXPECT_EQ("abc", got);
}

namespace {

// Records what reaches the address form of Open.
class DocumentProbe : public SkrSocketNonSSL {
public:
    void Open(int port, const sockaddr_storage& address, const char* sessionConfigDoc) override
    {
        ports.push_back(port);
        documents.push_back(sessionConfigDoc);
        SkrSocketNonSSL::Open(port, address, sessionConfigDoc);
    }
    using SkrSocketNonSSL::Open;
    std::vector<int> ports;
    std::vector<const char*> documents;
};

}  // namespace

TEST(SkrSocketNonSSLConnect, UrlFormHandsItsDocumentToTheAddressForm)
{
    LoopbackPeer peer(LoopbackPeer::IPv4, LoopbackPeer::echo());
    static const char document[] = "<sessionConfigDocument/>";
    DocumentProbe s;
    s.Open(peer.url().c_str(), document);
    s.Close();
    s.open();
    ASSERT_EQ(2u, s.documents.size());
    EXPECT_EQ(document, s.documents[0]);
    EXPECT_EQ(nullptr, s.documents[1]);  // open() has no document
    EXPECT_EQ(peer.port(), s.ports[0]);
    EXPECT_EQ(peer.port(), s.ports[1]);
}

TEST(SkrSocketNonSSLRobustness, SocketLeftByFailedConnectIsReleasedByTheNextOpen)
{
    FakeSleep sleep;
    LoopbackPeer peer(LoopbackPeer::IPv4, LoopbackPeer::echo());
    int before = openDescriptorCount();
    {
        Plain s;
        std::string refused = "http://127.0.0.1:" + std::to_string(LoopbackPeer::unusedPort(LoopbackPeer::IPv4)) + "/";
        for (int i = 0; i < 3; ++i)
            expectSkarnError([&] { s.Open(refused.c_str(), nullptr); },
                             {5, 1841392216u, "Connection refused", "SkrSocketNonSSL::Open"});
        EXPECT_EQ(before + 1, openDescriptorCount());  // one socket kept, not three
        s.Open(peer.url().c_str(), nullptr);
        EXPECT_EQ("again", roundTrip(s, "again"));
        for (int waited = 0; peer.accepted() < 1 && waited < 5000; waited += 10)
            VexThread::sleepMillis(10);
        // Ours, and the peer's end of the connection.
        EXPECT_EQ(before + 2, openDescriptorCount());
    }
    for (int waited = 0; openDescriptorCount() != before && waited < 5000; waited += 10)
        VexThread::sleepMillis(10);
    EXPECT_EQ(before, openDescriptorCount());
}

TEST(SkrSocketNonSSLTraffic, InterruptedWritesGoOn)
{
    // The peer starts reading only after half a second, so the write blocks
    // in send while signals arrive; every byte must still arrive once.
    const std::size_t size = 16 * 1024 * 1024;
    std::atomic<std::size_t> received{0};
    LoopbackPeer peer(LoopbackPeer::IPv4, [&received](int fd, const std::atomic<bool>& stop) {
        std::this_thread::sleep_for(std::chrono::milliseconds(500));
        char buffer[65536];
        while (!stop.load() && LoopbackPeer::waitReadable(fd, stop)) {
            ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
            if (n <= 0)
                break;
            received.fetch_add(static_cast<std::size_t>(n));
        }
    });
    Plain s;
    s.Open(peer.url().c_str(), nullptr);
    std::vector<char> data(size, 's');
    int written = 0;
    interrupted([&] { s.WriteBuffer(data.data(), static_cast<unsigned>(data.size()), &written); });
    EXPECT_EQ(static_cast<int>(size), written);
    s.Close();
    for (int waited = 0; received.load() < size && waited < 10000; waited += 10)
        VexThread::sleepMillis(10);
    EXPECT_EQ(size, received.load());
}
