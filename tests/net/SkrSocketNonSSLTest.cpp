// The plain socket alone: URL parsing, hostile targets, descriptor 0, the
// system's error texts, huge lengths, interrupted calls and the echo's own
// rules. What it shares with the secure socket is in SocketKindsTest.
#include "net/SkrSocketNonSSL.h"

#include "NetTestSupport.h"
#include "platform/core/VexIllegalArgumentError.h"
#include "support/ExpectThrow.h"
#include "support/Gate.h"
#include "support/LoopbackPeer.h"

#include <gtest/gtest.h>
#include <pthread.h>

#include <atomic>
#include <csignal>
#include <cstring>
#include <thread>

namespace {

// Shows what the socket keeps.
struct Plain : SkrSocketNonSSL {
    int port() const { return m_nPort; }
    SOCKET comm() const { return m_commSocket; }
    int connected() const { return m_connected; }
    const std::string& serverHost() const { return m_serverHost; }
    std::string address() const
    {
        VexByteBuffer text(16, 16);
        getIPAddress(text);
        return text.getData();
    }
    // Switches TCP_NODELAY on a descriptor of the test's choosing.
    void noDelayOn(SOCKET s)
    {
        m_commSocket = s;
        try {
            setNoDelay();
        } catch (...) {
            m_commSocket = INVALID_SOCKET;
            throw;
        }
        m_commSocket = INVALID_SOCKET;
    }
};

std::string roundTrip(SkarnSocket& s, const std::string& data)
{
    writeAll(s, data);
    return readUpTo(s, data.size());
}

const ExpectedSkarnError kBadUrl{30, 1841456247u, "", "SkrSocketNonSSL::prepare"};

}  // namespace

TEST(SkrSocketNonSSLPrepare, UrlTable)
{
    const std::string unresolvable = std::string("http://") + kUnresolvableHost + ":80/";
    const struct {
        std::string url;
        int port;
        const char* address;
        const char* refusal;  // the reason given with errBadUrl; null: prepared
    } cases[] = {
        {"http://127.0.0.1:9300/path", 9300, "127.0.0.1", nullptr},
        {"http://127.0.0.1/x", 0, "127.0.0.1", nullptr},
        {"http://127.0.0.1:abc/", 0, "127.0.0.1", nullptr},
        {"http://[::1]:8443/p", 8443, "::1", nullptr},
        {"x://[2001:db8::7]:1/", 1, "2001:db8::7", nullptr},
        {unresolvable, 80, "255.255.255.255", nullptr},
        {"127.0.0.1:80", 0, "", "no ://"},
        {"http://127.0.0.1:65536/", 0, "", "port out of range"},
        {"http://127.0.0.1:99999999999999999999999/", 0, "", "port out of range"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.url);
        Plain s;
        if (c.refusal) {
            SkarnException e = expectSkarnError([&] { s.prepare(c.url.c_str()); }, kBadUrl);
            EXPECT_EQ(c.url + "|" + c.refusal, parmsOf(e));
            EXPECT_EQ(SkarnSocket::FAMILY_NOT_GIVEN, s.getIPAddress().ss_family);
        } else {
            s.prepare(c.url.c_str());
            EXPECT_EQ(c.address, s.address());
        }
        EXPECT_EQ(c.port, s.port());
        EXPECT_EQ(0, s.connected());
    }
}

TEST(SkrSocketNonSSLConnect, ByPortToTheServerHost)
{
    LoopbackPeer peer(LoopbackPeer::IPv4, LoopbackPeer::echo());
    Plain s;
    s.setServerHostInfo(nullptr);
    EXPECT_EQ("localhost", s.serverHost());
    s.setServerHostInfo("127.0.0.1");
    s.Open(peer.port());
    EXPECT_EQ("by port", roundTrip(s, "by port"));
    Plain u;
    u.setServerHostInfo(kUnresolvableHost);
    EXPECT_EQ("SkrSocketNonSSL::Open", illegalStateText([&] { u.Open(80); }));
}

TEST(SkrSocketNonSSLConnect, HostileTargetsFailCleanly)
{
    // Hosts that the resolver refuses by itself (no query leaves the machine)
    // leave the address unresolved: the socket for it cannot be made. Ports no
    // TCP port can have are refused, never cut to 16 bits (which would reach
    // the listener 65536 below).
    LoopbackPeer peer(LoopbackPeer::IPv4, LoopbackPeer::echo());
    FakeSleep sleep;
    const int before = openDescriptorCount();
    auto url = [](std::string u) { return [u](Plain& s) { s.Open(u.c_str(), nullptr); }; };
    auto byAddress = [&peer](int port) { return [&peer, port](Plain& s) { s.Open(port, peer.address(), nullptr); }; };
    auto byHost = [](int port) {
        return [port](Plain& s) {
            s.setServerHostInfo("127.0.0.1");
            s.Open(port);
        };
    };
    const auto failure = [](const char* text) { return ExpectedSkarnError{5, kSocketError, text, "SkrSocketNonSSL::Open"}; };
    const ExpectedSkarnError notCreated = failure("Address family not supported by protocol family");
    const ExpectedSkarnError invalid = failure("Invalid argument");
    const int above = peer.port() + 65536;
    const struct {
        const char* label;
        std::function<void(Plain&)> open;
        ExpectedSkarnError want;
    } cases[] = {
        {"address not given", [](Plain& s) { s.open(); }, notCreated},
        {"very long host and path",
         url("http://" + std::string(kUnresolvableHost) + std::string(100000, 'x') + ":80/" + std::string(100000, 'p')),
         notCreated},
        {"missing host, with port", url("http://:80/"), notCreated},
        {"'[' without ']'", url("http://[::1:80/"), notCreated},
        {"port that is not a number: port 0", url("http://127.0.0.1:abc/"), failure("Connection refused")},
        {"URL port above the listener's", url("http://127.0.0.1:" + std::to_string(above) + "/"), kBadUrl},
        {"address, port above", byAddress(above), invalid},
        {"server host, port above", byHost(above), invalid},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        {
            Plain s;
            expectSkarnError([&] { c.open(s); }, c.want);
            EXPECT_EQ(0, s.connected());
        }
        EXPECT_EQ(before, openDescriptorCount());
    }
    EXPECT_EQ(4u, sleeps().size());  // only the refused connection was tried again
    EXPECT_EQ(0, peer.accepted());
}

// ---- traffic -------------------------------------------------------------

TEST(SkrSocketNonSSLTraffic, PeerThatResetsDuringReadGivesEndOfStream)
{
    LoopbackPeer peer(LoopbackPeer::IPv4, LoopbackPeer::resetAfter(4));
    Plain s;
    s.Open(peer.url().c_str(), nullptr);
    writeAll(s, "abcd");
    char buffer[16];
    int n = 3;
    EXPECT_NO_THROW(s.ReadBuffer(buffer, sizeof buffer, &n));
    EXPECT_EQ(0, n);
    n = 3;
    s.ReadBuffer(buffer, sizeof buffer, &n);  // at the end: nothing read, count untouched
    EXPECT_EQ(3, n);
}

TEST(SkrSocketNonSSLTraffic, WithoutASocketReadsEndAndWritesFail)
{
    ScopedEnv var("ZEV_SKT_NO_SOCKET", nullptr);
    const ExpectedSkarnError badFile{5, kSocketError, "Bad file number", "SkrSocketNonSSL::WriteBuffer"};
    LoopbackPeer peer(LoopbackPeer::IPv4, LoopbackPeer::echo());
    Plain s;
    int written = 5;
    s.Open(peer.url().c_str(), nullptr);
    EXPECT_EQ("before", roundTrip(s, "before"));
    s.Close();
    char buffer[8];
    int n = 77;
    s.ReadBuffer(buffer, sizeof buffer, &n);
    EXPECT_EQ(77, n);
    expectSkarnError([&] { s.WriteBuffer("after", 5, &written); }, badFile);
    EXPECT_EQ(0, written);
}

TEST(SkrSocketNonSSLTraffic, LongWritesGoInPiecesTheCountCanHold)
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
            ADD_FAILURE() << length << ": nothing thrown";
        } catch (const VexIllegalArgumentError& e) {
            EXPECT_EQ("SkrSocketNonSSL::WriteBuffer", e.getBackTraceAt(0).function);
        }
        EXPECT_EQ(0, written) << length;
    }
    int written = 0;
    s.WriteBuffer(&one, 0x7FFFFFFFu, &written);
    EXPECT_EQ(0x7FFFFFFF, written);
    // The output stream hands longer writes over in pieces of at most 0x7FFFFFFF.
    static char base[1];
    struct Recording : SkrSocketNonSSL {
        void WriteBuffer(const char* buffer, unsigned length, int* n) override
        {
            calls.emplace_back(reinterpret_cast<std::uintptr_t>(buffer) - reinterpret_cast<std::uintptr_t>(base), length);
            *n = static_cast<int>(length);
        }
        std::vector<std::pair<std::uintptr_t, unsigned>> calls;  // offset from the start, length
    } r;
    r.getOutputStream().write(base, 0xFFFFFFFFu);
    r.getOutputStream().write(base, 1);
    EXPECT_EQ((std::vector<std::pair<std::uintptr_t, unsigned>>{
                  {0, 0x7FFFFFFFu}, {0x7FFFFFFFu, 0x7FFFFFFFu}, {0xFFFFFFFEu, 1u}, {0, 1u}}),
              r.calls);
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

TEST(SkrSocketNonSSLTraffic, InterruptedCallsGoOn)
{
    // The peer starts reading only after half a second, so the write blocks
    // in send while signals arrive, and a send ends after part of its bytes:
    // every byte must still arrive once and in its place.
    const std::string data = pattern(16 * 1024 * 1024, 5);
    std::string received;
    std::atomic<bool> done{false};
    LoopbackPeer peer(LoopbackPeer::IPv4, [&](int fd, const std::atomic<bool>& stop) {
        std::this_thread::sleep_for(std::chrono::milliseconds(500));
        char buffer[65536];
        for (ssize_t n; LoopbackPeer::waitReadable(fd, stop) && (n = ::recv(fd, buffer, sizeof buffer, 0)) > 0;)
            received.append(buffer, static_cast<std::size_t>(n));
        done.store(true);
    });
    Plain s;
    s.Open(peer.url().c_str(), nullptr);
    int written = 0;
    interrupted([&] { s.WriteBuffer(data.data(), static_cast<unsigned>(data.size()), &written); });
    EXPECT_EQ(static_cast<int>(data.size()), written);
    s.Close();
    ASSERT_TRUE(pollUntil([&] { return done.load(); }));
    EXPECT_EQ(data.size(), received.size());
    EXPECT_TRUE(data == received) << "bytes out of place";
}

// ---- error texts ---------------------------------------------------------

TEST(SkrSocketNonSSLErrors, TextTable)
{
    // The texts the failures above reach are checked there; here the ends of
    // the table, its odd entry, and the numbers it does not know.
    const std::pair<int, const char*> cases[] = {
        {10004, "Interrupted system call"},
        {11004, "No data record available"},
        {10101, "ptext =ed by WSARecv or WSARecvFrom to indicate the remote party has initiated a graceful shutdown sequence."},
        {10072, "Unknown error code"},
        {11005, "Unknown error code"},
    };
    for (const auto& c : cases)
        EXPECT_STREQ(c.second, SkrSocketNonSSL::errorText(c.first)) << c.first;
    // The last error text follows the system's error, through its Winsock number.
    Plain s;
    for (const auto& e : std::vector<std::pair<int, const char*>>{
             {ECONNREFUSED, "Connection refused"}, {EPIPE, "Connection reset by peer"}, {ENOENT, "Unknown error code"}}) {
        errno = e.first;
        s.setLastErrorText();
        EXPECT_EQ(e.second, s.getLastErrorText().str());
    }
}

// ---- echo ----------------------------------------------------------------

TEST(SkrSocketNonSSLEcho, EndOfStreamRecordsAnEmptyReadMarkerOnce)
{
    EchoFolder folder;
    LoopbackPeer peer(LoopbackPeer::IPv4, LoopbackPeer::sendThenClose(std::string("\x00\xFF bin", 6)));
    Plain s;
    s.echo("end", "wb", 1);
    s.Open(peer.url().c_str(), nullptr);
    EXPECT_EQ(std::string("\x00\xFF bin", 6), readUpTo(s, 100));
    char c;
    EXPECT_EQ(QioInputStream::END, s.getInputStream().read(&c, 1));  // after the end: not read, not recorded
    EXPECT_EQ("\n<read[6]>\n" + std::string("\x00\xFF bin", 6) + "\n<read[0]>\n", fileText(folder.file("end")));
}

TEST(SkrSocketNonSSLEcho, ModesAppendByDefault)
{
    EchoFolder folder;
    ScopedEnv none("ZEV_SKT_NO_SOCKET", "1");
    Plain s;
    int written = 0;
    s.echo("append", "", 0);
    s.WriteBuffer("one", 3, &written);
    s.echo("append", nullptr, 0);  // reopened with "a+b": appends
    s.WriteBuffer("two", 3, &written);
    s.echo(nullptr, nullptr, 0);  // echo off: closed
    s.WriteBuffer("three", 5, &written);
    EXPECT_EQ("onetwo", fileText(folder.file("append")));
    {
        ScopedEnv mode("ZEV_SKT_ECHO_MODE", "wb123456789012345678");  // cut to 15 characters
        EXPECT_EQ("wb1234567890123", SkrSocketNonSSL::effectiveEchoMode(nullptr));
    }
    ScopedEnv mode("ZEV_SKT_ECHO_MODE", "w");
    EXPECT_EQ("ab", SkrSocketNonSSL::effectiveEchoMode("ab"));
    s.echo("append", nullptr, 0);  // the variable's mode truncates
    s.WriteBuffer("new", 3, &written);
    EXPECT_EQ("new", fileText(folder.file("append")));
    ScopedEnv home("SKARN_HOME", nullptr);  // the working directory
    EXPECT_EQ("../logs/" + std::to_string(getpid()) + "_trace", SkrSocketNonSSL::echoPath("trace"));
}

TEST(SkrSocketNonSSLEcho, FailedNoDelaySwitchIsRecordedWithHeaders)
{
    EchoFolder folder;
    int pipeEnds[2];
    ASSERT_EQ(0, ::pipe(pipeEnds));  // not a socket: setsockopt fails
    const std::string path = folder.root + "/nodelay", line = "\nsetsockopt to TCP_NODELAY FAILED\n";
    {
        Plain s;
        s.echo(nullptr, nullptr, 1);  // headers on
        s.echo(path);
        EXPECT_NO_THROW(s.noDelayOn(pipeEnds[0]));
        EXPECT_EQ(line, fileText(path));  // flushed at once
        s.echo(nullptr, nullptr, 0);      // headers off: nothing recorded
        s.echo(path);
        EXPECT_NO_THROW(s.noDelayOn(pipeEnds[0]));
        EXPECT_EQ(line, fileText(path));
        EXPECT_EQ("VEX_ASSERT(m_commSocket != INVALID_SOCKET);", assertionText([&] { s.noDelayOn(INVALID_SOCKET); }));
        skarnTcpNoDelay.store(0);  // switched off: nothing is checked or set
        EXPECT_NO_THROW(s.noDelayOn(INVALID_SOCKET));
        skarnTcpNoDelay.store(1);
    }
    ::close(pipeEnds[0]);
    ::close(pipeEnds[1]);
}
