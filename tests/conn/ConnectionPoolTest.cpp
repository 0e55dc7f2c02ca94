// The connection pool on loopback: keys, oldest-first reuse, idle age, dead connections, "forceNew",
// the configuration file, giving back through release() and what the pool closes.
#include "conn/SkrConnectionPool.h"
#include "conn/SkrConnectionPoolFactory.h"
#include "net/SkarnSocket.h"
#include "platform/core/VexHighResolutionTime.h"
#include "platform/streams/QioOutputStream.h"
#include "support/ExpectVexError.h"
#include "support/Gate.h"
#include "support/LoopbackPeer.h"
#include "support/ScopedEnv.h"

#include <netinet/in.h>
#include <netinet/tcp.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <functional>

namespace {

const std::string kDoc = "<sessionConfigDocument></sessionConfigDocument>";

// A SKARN_HOME whose "../configuration/Skarn_Config.xml" holds `text` (no file when null).
struct ConfigHome {
    explicit ConfigHome(const char* text) : home("SKARN_HOME", root + "/bin")
    {
        std::filesystem::create_directories(root + "/bin");
        std::filesystem::create_directories(root + "/configuration");
        if (text)
            std::ofstream(root + "/configuration/Skarn_Config.xml") << text;
    }
    ~ConfigHome() { std::filesystem::remove_all(root); }
    char dir[32] = "/tmp/skarn-conn-XXXXXX";
    std::string root = ::mkdtemp(dir);
    ScopedEnv home;
};

// A loopback server that holds each connection open, closes it as soon as
// the client sends anything, and counts the connections the client closed.
struct HoldingPeer {
    std::atomic<int> closedByClient{0};
    LoopbackPeer peer{LoopbackPeer::IPv4, [this](int fd, const std::atomic<bool>& stop) {
                          char b[64];
                          if (LoopbackPeer::waitReadable(fd, stop) && ::recv(fd, b, sizeof b, 0) == 0)
                              ++closedByClient;
                      }};
    std::string url(const char* path = "/") const { return peer.url(path); }
    bool acceptedIs(int n) { return pollUntil([&] { return peer.accepted() == n; }); }
    bool closedIs(int n) { return pollUntil([&] { return closedByClient.load() == n; }); }
    SkarnSocket* get(SkarnConnectionPool& pool, const std::string& options = kDoc)
    {
        return pool.getSocketConnection(1, url().c_str(), options.c_str());
    }
};

struct KeyProbe : SkrConnectionPool {
    using SkrConnectionPool::hostPortKey;
    using SkrConnectionPool::urlKey;
};

// TCP_NODELAY of the descriptor of this process connected to 127.0.0.1:<port>.
int noDelayTowards(int port)
{
    for (int fd = 0; fd < 4096; ++fd) {
        sockaddr_in a{};
        socklen_t n = sizeof a;
        int on = -1;
        socklen_t length = sizeof on;
        if (::getpeername(fd, reinterpret_cast<sockaddr*>(&a), &n) == 0 && a.sin_family == AF_INET &&
            ntohs(a.sin_port) == port && ::getsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, &length) == 0)
            return on != 0;
    }
    return -1;
}

}  // namespace

TEST(ConnectionPoolKeys, Table)
{
    const char* const kPos1 = "VEX_ASSERT(pos1 != CSTD_STD_NAME::string::npos);";
    const char* const kPos2 = "VEX_ASSERT(pos2 > pos1);";
    const char* const kPort = "VEX_ASSERT(port > 0 && port < 65536);";
    const std::pair<std::function<std::string()>, std::string> rows[] = {
        {[] { return KeyProbe::urlKey("http://srv:9300/a/b"); }, "srv:9300"},
        {[] { return KeyProbe::urlKey("https://srv:9300"); }, "srv:9300"},       // no path
        {[] { return KeyProbe::urlKey("http://SRV:9300/"); }, "SRV:9300"},       // case kept
        {[] { return KeyProbe::urlKey("http://srv/x"); }, "srv"},                // no default port
        {[] { return KeyProbe::urlKey("srv:9300/a"); }, kPos1},                  // no scheme
        {[] { return KeyProbe::urlKey(nullptr); }, kPos1},
        {[] { return KeyProbe::urlKey("http:///a"); }, kPos2},                   // empty authority
        {[] { return KeyProbe::urlKey("http://"); }, kPos2},
        {[] { return KeyProbe::hostPortKey("srv", 9300); }, "srv:9300"},
        {[] { return KeyProbe::hostPortKey("h", 65535); }, "h:65535"},
        {[] { return KeyProbe::hostPortKey("h", 0); }, kPort},
        {[] { return KeyProbe::hostPortKey("h", 65536); }, kPort},
        {[] { return SkrConnectionPool().returnSocket(nullptr), std::string(); }, "VEX_ASSERT(theSocket);"},
    };
    for (const auto& [make, want] : rows) {
        std::string key;
        const std::string failure = assertionText([&] { key = make(); });
        EXPECT_EQ(want, failure == "nothing raised" ? key : failure);
    }
}

// Each pool reads the file when it is made; the TCP_NODELAY switch it sets is
// read back from the next connection.
TEST(ConnectionPoolConfiguration, Table)
{
    struct Row {
        const char* label; const char* file; int timeout, noDelay;
    } rows[] = {
        {"no file", nullptr, 25000, 1},
        {"both set", "<c><SKARN_CONNECTION_TIMEOUT>5000</SKARN_CONNECTION_TIMEOUT>"
                     "<SKARN_SOCKET_TCP_NODELAY>0</SKARN_SOCKET_TCP_NODELAY></c>", 5000, 0},
        {"found anywhere", "<a><b x='1'><SKARN_CONNECTION_TIMEOUT> -1\n</SKARN_CONNECTION_TIMEOUT></b></a>", -1, 1},
        {"first of two", "<c><SKARN_CONNECTION_TIMEOUT>7</SKARN_CONNECTION_TIMEOUT>"
                         "<SKARN_CONNECTION_TIMEOUT>8</SKARN_CONNECTION_TIMEOUT></c>", 7, 1},
        {"empty and blank", "<c><SKARN_CONNECTION_TIMEOUT/><SKARN_SOCKET_TCP_NODELAY> </SKARN_SOCKET_TCP_NODELAY></c>",
         25000, 1},
        {"not a number reads 0", "<c><SKARN_CONNECTION_TIMEOUT>soon</SKARN_CONNECTION_TIMEOUT></c>", 0, 1},
        {"not well-formed", "<c><SKARN_CONNECTION_TIMEOUT>5</c>", 25000, 1},
        {"internal entity", "<!DOCTYPE c [<!ENTITY t '0'>]><c><SKARN_CONNECTION_TIMEOUT>&t;</SKARN_CONNECTION_TIMEOUT>"
                            "<SKARN_SOCKET_TCP_NODELAY>0</SKARN_SOCKET_TCP_NODELAY></c>", 25000, 1},
        {"external entity", "<!DOCTYPE c [<!ENTITY x SYSTEM 'file:///etc/hostname'>]>"
                            "<c><SKARN_CONNECTION_TIMEOUT>&x;</SKARN_CONNECTION_TIMEOUT></c>", 25000, 1},
    };
    for (const Row& row : rows) {
        ConfigHome home(row.file);
        HoldingPeer p;
        skarnTcpNoDelay.store(!row.noDelay);  // the pool sets it either way
        SkrConnectionPool pool;
        EXPECT_EQ(row.timeout, pool.getConnectionTimeout()) << row.label;
        std::unique_ptr<SkarnSocket> s(p.get(pool));
        EXPECT_EQ(row.noDelay, noDelayTowards(p.peer.port())) << row.label;
    }
    skarnTcpNoDelay.store(1);
}

// One connection is given back and aged; what does the next request get?
TEST(ConnectionPoolReuse, WhatIsHandedOutTable)
{
    const std::string forceNew = "forceNew" + kDoc;
    // timeout: the configured text, or none; idle: milliseconds since the time stamp
    struct Row {
        const char* label; const char* timeout; long long idle; int secure; bool dead; std::string options; bool reused;
    } rows[] = {
        {"default, idle 1 s", nullptr, 1000, 1, false, kDoc, true},
        {"default, idle 25 s", nullptr, 25000, 1, false, kDoc, false},
        {"time stamp later than now", nullptr, -60000, 1, false, kDoc, false},
        {"0: never reused", "0", 0, 1, false, kDoc, false},
        {"negative: no age limit", "-1", 26000, 1, false, kDoc, true},
        {"60 s, idle 30 s", "60000", 30000, 1, false, kDoc, true},
        {"closed by the server", nullptr, 0, 1, true, kDoc, false},
        {"plain connections never", nullptr, 0, 0, false, kDoc, false},
        {"forceNew", nullptr, 0, 1, false, forceNew, false},
        {"other letter case does not force", nullptr, 0, 1, false, "FORCENEW" + kDoc, true},
        {"forceNew twice: the rest passed on", nullptr, 0, 1, false, "forceNew" + forceNew, false},
    };
    HoldingPeer p;
    int accepted = 0;
    for (const Row& row : rows) {
        const std::string file = std::string("<c><SKARN_CONNECTION_TIMEOUT>") + (row.timeout ? row.timeout : "") +
                                 "</SKARN_CONNECTION_TIMEOUT></c>";
        ConfigHome home(file.c_str());
        SkrConnectionPool pool;
        SkarnSocket* first = pool.getSocketConnection(row.secure, p.url().c_str(), kDoc.c_str());
        if (row.dead) {
            first->getOutputStream().write("x", 1);  // the peer closes on it
            ASSERT_TRUE(pollUntil([&] { return first->isAlive() == 0; })) << row.label;
        }
        pool.returnSocket(first);
        first->setTimestamp(VexHighResolutionTime::getLocalTime() - row.idle);
        std::unique_ptr<SkarnSocket> next(p.get(pool, row.options));
        accepted += row.reused ? 1 : 2;
        EXPECT_TRUE(p.acceptedIs(accepted)) << row.label;
        if (row.reused) {  // else `first` may have been deleted, and its address be the new one's
            EXPECT_EQ(first, next.get()) << row.label;
        }
        std::unique_ptr<SkarnSocket> left(pool.findIdleSocket(next->getPoolKey()));
        EXPECT_EQ(row.options.rfind("forceNew", 0) == 0, left && left.get() == first) << row.label;
    }
    // "forceNew" alone passes an empty document on, which the secure socket refuses.
    SkrConnectionPool pool;
    EXPECT_EQ("VEX_ASSERT(validateSessionDocument() == TRUE);", assertionText([&] { p.get(pool, "forceNew"); }));
}

TEST(ConnectionPoolFactory, ReleaseGivesBackOldestFirstAndDestroyInstanceCloses)
{
    HoldingPeer p;
    ConfigHome home(nullptr);
    SkrConnectionPoolFactory::destroyInstance();
    SkarnConnectionPool& pool = *SkrConnectionPoolFactory::getInstance();
    const std::string key = "127.0.0.1:" + std::to_string(p.peer.port());
    SkarnSocket* s[3] = {p.get(pool), p.get(pool), p.get(pool)};
    for (SkarnSocket* x : s) {
        EXPECT_EQ(key, x->getPoolKey());
        x->release();
    }
    // Oldest first, under the same key by another path, by host and port, by another scheme.
    EXPECT_EQ(s[0], pool.getSocketConnection(1, p.url("/other").c_str(), kDoc.c_str()));
    EXPECT_EQ(s[1], pool.getSocketConnection(1, "127.0.0.1", p.peer.port(), kDoc.c_str()));
    EXPECT_EQ(s[2], pool.getSocketConnection(1, ("https://" + key).c_str(), kDoc.c_str()));
    s[1]->release();
    s[0]->release();
    EXPECT_EQ(s[1], p.get(pool));
    EXPECT_EQ(2, s[1]->getReuseCounter());
    EXPECT_EQ(1, s[2]->getReuseCounter());
    EXPECT_TRUE(p.acceptedIs(3));
    // A bare socket has no key: given back, it is closed and deleted.
    SkarnSocket* bare = pool.createSocket(1);
    bare->Open(p.url().c_str(), kDoc.c_str());
    bare->release();
    EXPECT_TRUE(p.closedIs(1));
    // Not reusable (the reader saw "Connection: close"): deleted, not pooled.
    s[1]->disableReuse();
    s[1]->release();
    EXPECT_TRUE(p.closedIs(2));
    s[2]->release();
    SkrConnectionPoolFactory::destroyInstance();  // closes the idle s[0] and s[2]
    EXPECT_TRUE(p.closedIs(4));
}
