// The connection pool on loopback: keys, oldest-first reuse, idle age, dead connections, "forceNew",
// the configuration file, giving back through release() and what the pool closes.
#include "conn/SkrConnectionPool.h"
#include "conn/SkrConnectionPoolFactory.h"
#include "net/SkarnSocket.h"
#include "platform/core/VexHighResolutionTime.h"
#include "platform/streams/QioOutputStream.h"
#include "support/ExpectThrow.h"
#include "support/Gate.h"
#include "support/LoopbackPeer.h"
#include "support/ScopedEnv.h"

#include <netinet/tcp.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>

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

// A loopback server that holds each connection open until the client sends
// anything or closes it, and counts the connections the client closed.
struct HoldingPeer {
    std::atomic<int> closedByClient{0};
    LoopbackPeer peer{LoopbackPeer::IPv4, [this](int fd, const std::atomic<bool>& stop) {
                          char b[64];
                          if (LoopbackPeer::waitReadable(fd, stop) && ::recv(fd, b, sizeof b, 0) == 0)
                              ++closedByClient;
                      }};
    bool closedIs(int n) { return pollUntil([&] { return closedByClient.load() == n; }); }
    SkarnSocket* get(SkarnConnectionPool& pool, const std::string& options = kDoc, int secure = 1)
    {
        return pool.getSocketConnection(secure, peer.url().c_str(), options.c_str());
    }
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

// Each pool reads the file when it is made. One connection is opened (its
// TCP_NODELAY read back), given back and aged (idle: milliseconds since its
// time stamp); is it handed out to the next request?
TEST(ConnectionPoolReuse, ConfigurationAndWhatIsHandedOutTable)
{
    struct Row {
        const char* label; const char* file; long long idle; int secure; bool dead; std::string options; bool reused;
        int noDelay;
    } rows[] = {
        {"no file: 25 s, idle 1 s", nullptr, 1000, 1, false, kDoc, true, 1},
        {"no file: 25 s, idle 25 s", nullptr, 25000, 1, false, kDoc, false, 1},
        {"time stamp later than now", nullptr, -60000, 1, false, kDoc, false, 1},
        {"both set: 0 never reused", "<c><SKARN_CONNECTION_TIMEOUT>0</SKARN_CONNECTION_TIMEOUT>"
         "<SKARN_SOCKET_TCP_NODELAY>0</SKARN_SOCKET_TCP_NODELAY></c>", 0, 1, false, kDoc, false, 0},
        {"found anywhere, negative: no age limit",
         "<a><b x='1'><SKARN_CONNECTION_TIMEOUT> -1\n</SKARN_CONNECTION_TIMEOUT></b></a>", 26000, 1, false, kDoc, true,
         1},
        {"empty and blank: defaults",
         "<c><SKARN_CONNECTION_TIMEOUT/><SKARN_SOCKET_TCP_NODELAY> </SKARN_SOCKET_TCP_NODELAY></c>", 1000, 1, false,
         kDoc, true, 1},
        {"external entity: not well-formed here", "<!DOCTYPE c [<!ENTITY x SYSTEM 'file:///etc/hostname'>]>"
         "<c><SKARN_CONNECTION_TIMEOUT>&x;</SKARN_CONNECTION_TIMEOUT></c>", 1000, 1, false, kDoc, true, 1},
        {"closed by the server", nullptr, 0, 1, true, kDoc, false, 1},
        {"plain connections too", nullptr, 0, 0, false, kDoc, true, 1},
        {"forceNew", nullptr, 0, 1, false, "forceNew" + kDoc, false, 1},
        {"other letter case does not force", nullptr, 0, 1, false, "FORCENEW" + kDoc, true, 1},
    };
    HoldingPeer p;
    int accepted = 0;
    for (const Row& row : rows) {
        ConfigHome home(row.file);
        skarnTcpNoDelay.store(!row.noDelay);  // the pool sets it either way
        SkrConnectionPool pool;
        SkarnSocket* first = pool.getSocketConnection(row.secure, p.peer.url().c_str(), kDoc.c_str());
        EXPECT_EQ(row.noDelay, noDelayTowards(p.peer.port())) << row.label;
        if (row.dead) {
            first->getOutputStream().write("x", 1);  // the peer closes on it
            ASSERT_TRUE(pollUntil([&] { return first->isAlive() == 0; })) << row.label;
        }
        pool.returnSocket(first);
        first->setTimestamp(VexHighResolutionTime::getLocalTime() - row.idle);
        std::unique_ptr<SkarnSocket> next(p.get(pool, row.options, row.secure));
        accepted += row.reused ? 1 : 2;
        EXPECT_TRUE(pollUntil([&] { return p.peer.accepted() == accepted; })) << row.label;
        if (row.reused) {  // else `first` may have been deleted, and its address be the new one's
            EXPECT_EQ(first, next.get()) << row.label;
        }
        std::unique_ptr<SkarnSocket> left(pool.findIdleSocket(next->getPoolKey()));
        EXPECT_EQ(row.options.rfind("forceNew", 0) == 0, left && left.get() == first) << row.label;
    }
    skarnTcpNoDelay.store(1);
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
    // Oldest first, under the same key by another path, by host and port, without a path.
    EXPECT_EQ(s[0], pool.getSocketConnection(1, p.peer.url("/other").c_str(), kDoc.c_str()));
    EXPECT_EQ(s[1], pool.getSocketConnection(1, "127.0.0.1", p.peer.port(), kDoc.c_str()));
    EXPECT_EQ(s[2], pool.getSocketConnection(1, ("http://" + key).c_str(), kDoc.c_str()));
    s[1]->release();
    s[0]->release();
    EXPECT_EQ(s[1], p.get(pool));
    EXPECT_EQ(2, s[1]->getReuseCounter());
    EXPECT_TRUE(pollUntil([&] { return p.peer.accepted() == 3; }));
    // Refused before any connection: keys that cannot be made; after "forceNew", only the rest is the
    // document (16 bytes before its end tag are too few, 24 would do).
    EXPECT_EQ("VEX_ASSERT(validateSessionDocument() == TRUE);",
              assertionText([&] { p.get(pool, "forceNew" + std::string(16, ' ') + "</sessionConfigDocument>"); }));
    EXPECT_EQ("VEX_ASSERT(pos1 != CSTD_STD_NAME::string::npos);",
              assertionText([&] { pool.getSocketConnection(1, "127.0.0.1/a", kDoc.c_str()); }));
    EXPECT_EQ("VEX_ASSERT(port > 0 && port < 65536);",
              assertionText([&] { pool.getSocketConnection(1, "127.0.0.1", 0, kDoc.c_str()); }));
    // A bare socket has no key: given back, it is closed and deleted.
    SkarnSocket* bare = pool.createSocket(1);
    bare->Open(p.peer.url().c_str(), kDoc.c_str());
    bare->release();
    EXPECT_TRUE(p.closedIs(1));
    // A connection that may not be reused is closed when given back.
    s[2]->disableReuse();
    s[2]->release();
    EXPECT_TRUE(p.closedIs(2));
    s[1]->release();
    SkrConnectionPoolFactory::destroyInstance();  // closes the idle ones
    EXPECT_TRUE(p.closedIs(4));
}
