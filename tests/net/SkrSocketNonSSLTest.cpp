// The plain socket alone: URL parsing, hostile targets and interrupted sends. What it shares with the secure socket is in
// SocketKindsTest.
#include "net/SkrSocketNonSSL.h"

#include "NetTestSupport.h"
#include "support/ExpectThrow.h"
#include "support/Gate.h"
#include "support/LoopbackPeer.h"

#include <gtest/gtest.h>
#include <pthread.h>

#include <atomic>
#include <csignal>
#include <thread>

namespace {

// Shows what the socket keeps.
struct Plain : SkrSocketNonSSL {
    int port() const { return m_nPort; }
    int connected() const { return m_connected; }
    std::string address() const
    {
        VexByteBuffer text(16, 16);
        getIPAddress(text);
        return text.getData();
    }
};

const ExpectedSkarnError kBadUrl{30, 1841456247u, "", "SkrSocketNonSSL::prepare"};

}  // namespace

TEST(SkrSocketNonSSLPrepare, UrlTable)
{
    const struct {
        std::string url;
        int port;
        const char* address;
        const char* refusal;  // the reason given with errBadUrl; null: prepared
    } cases[] = {
        {"http://127.0.0.1:9300/path", 9300, "127.0.0.1", nullptr},
        {"http://[::1]:8443/p", 8443, "::1", nullptr},
        {std::string("http://") + kUnresolvableHost + ":80/", 80, "255.255.255.255", nullptr},
        {"http://user@127.0.0.1:9301?q=1", 9301, "127.0.0.1", nullptr},
        {"http://[::1:80/", 0, "255.255.255.255", nullptr},
        {"127.0.0.1:80", 0, "", "no ://"},
        {"http://", 0, "", "no ://"},
        {"http://127.0.0.1:65536/", 0, "", "port out of range"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.url);
        Plain s;
        if (c.refusal) {
            SkarnException e = expectSkarnError([&] { s.prepare(c.url.c_str()); }, kBadUrl);
            EXPECT_EQ(c.url + "|" + c.refusal, parmsOf(e));
        } else {
            s.prepare(c.url.c_str());
            EXPECT_EQ(c.address, s.address());
        }
        EXPECT_EQ(c.port, s.port());
        EXPECT_EQ(0, s.connected());
    }
}

TEST(SkrSocketNonSSLConnect, HostileTargetsFailCleanly)
{
    // An address not given or not resolved cannot have a socket. Ports no TCP
    // port can have are refused, never cut to 16 bits (which would reach the
    // listener 65536 below).
    LoopbackPeer peer(LoopbackPeer::IPv4, LoopbackPeer::echo());
    FakeSleep sleep;
    const int before = openDescriptorCount();
    auto url = [](std::string u) { return [u](Plain& s) { s.Open(u.c_str(), nullptr); }; };
    const auto failure = [](const char* text) { return ExpectedSkarnError{5, kSocketError, text, "SkrSocketNonSSL::Open"}; };
    const int above = peer.port() + 65536;
    const struct {
        const char* label;
        std::function<void(Plain&)> open;
        ExpectedSkarnError want;
    } cases[] = {
        {"address not given", [](Plain& s) { s.open(); }, failure("Address family not supported by protocol family")},
        {"port that is not a number: port 0", url("http://127.0.0.1:abc/"), failure("Connection refused")},
        {"URL port above the listener's", url("http://127.0.0.1:" + std::to_string(above) + "/"), kBadUrl},
        {"address, port above", [&](Plain& s) { s.Open(above, peer.address(), nullptr); }, failure("Invalid argument")},
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

namespace {

void onSignal(int) {}

}  // namespace

TEST(SkrSocketNonSSLTraffic, InterruptedCallsGoOn)
{
    // The peer starts reading only after half a second, so the write blocks
    // in send while signals (handled, without restart) arrive, and a send ends
    // after part of its bytes: every byte must still arrive once and in its place.
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
    struct sigaction action {};
    struct sigaction previous {};
    action.sa_handler = &onSignal;
    sigemptyset(&action.sa_mask);
    ASSERT_EQ(0, sigaction(SIGUSR1, &action, &previous));
    pthread_t target = pthread_self();
    std::thread kicker([&] {
        for (int i = 0; i < 3; ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
            pthread_kill(target, SIGUSR1);
        }
    });
    int written = 0;
    s.WriteBuffer(data.data(), static_cast<unsigned>(data.size()), &written);
    kicker.join();
    sigaction(SIGUSR1, &previous, nullptr);
    EXPECT_EQ(static_cast<int>(data.size()), written);
    s.Close();
    ASSERT_TRUE(pollUntil([&] { return done.load(); }));
    EXPECT_EQ(data.size(), received.size());
    EXPECT_TRUE(data == received) << "bytes out of place";
}
