// The connection pool on real loopback connections: keys, oldest-first reuse,
// idle age, dead connections, "forceNew", the configuration file, giving back
// through release() and what the pool closes.
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
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <functional>

namespace {

const std::string kDoc = "<sessionConfigDocument></sessionConfigDocument>";

// A SKARN_HOME whose "../configuration/Skarn_Config.xml" holds `text` (none when null).
class ConfigHome {
public:
    explicit ConfigHome(const char* text)
    {
        char dir[] = "/tmp/skarn-conn-XXXXXX";
        m_dir = ::mkdtemp(dir);
        ::mkdir((m_dir + "/bin").c_str(), 0700);
        ::mkdir((m_dir + "/configuration").c_str(), 0700);
        if (text) {
            FILE* f = std::fopen(file().c_str(), "w");
            std::fputs(text, f);
            std::fclose(f);
        }
        m_env.reset(new ScopedEnv("SKARN_HOME", m_dir + "/bin"));
    }
    ~ConfigHome()
    {
        ::unlink(file().c_str());
        ::rmdir((m_dir + "/configuration").c_str());
        ::rmdir((m_dir + "/bin").c_str());
        ::rmdir(m_dir.c_str());
    }

private:
    std::string file() const { return m_dir + "/configuration/Skarn_Config.xml"; }
    std::string m_dir;
    std::unique_ptr<ScopedEnv> m_env;
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
};

struct KeyProbe : SkrConnectionPool {
    using SkrConnectionPool::hostPortKey;
    using SkrConnectionPool::urlKey;
};

// The key, or the text of the assertion that refused it.
std::string keyOr(const std::function<std::string()>& make)
{
    std::string key;
    const std::string failure = assertionText([&] { key = make(); });
    return failure == "nothing raised" ? key : failure;
}

// The descriptor of this process connected to 127.0.0.1:<port>, -1 if none.
int clientDescriptor(int port)
{
    for (int fd = 0; fd < 4096; ++fd) {
        sockaddr_in a{};
        socklen_t n = sizeof a;
        if (::getpeername(fd, reinterpret_cast<sockaddr*>(&a), &n) == 0 && a.sin_family == AF_INET &&
            ntohs(a.sin_port) == port)
            return fd;
    }
    return -1;
}

}  // namespace

TEST(ConnectionPoolKeys, Table)
{
    const char* const kPos1 = "VEX_ASSERT(pos1 != CSTD_STD_NAME::string::npos);";
    const char* const kPos2 = "VEX_ASSERT(pos2 > pos1);";
    const char* const kPort = "VEX_ASSERT(port > 0 && port < 65536);";
    struct Row {
        const char* label;
        std::function<std::string()> make;
        std::string want;
    } rows[] = {
        {"authority with port and path", [] { return KeyProbe::urlKey("http://srv:9300/a/b"); }, "srv:9300"},
        {"other scheme, no path", [] { return KeyProbe::urlKey("https://srv:9300"); }, "srv:9300"},
        {"case kept", [] { return KeyProbe::urlKey("http://SRV:9300/"); }, "SRV:9300"},
        {"no default port added", [] { return KeyProbe::urlKey("http://srv/x"); }, "srv"},
        {"no scheme", [] { return KeyProbe::urlKey("srv:9300/a"); }, kPos1},
        {"null URL", [] { return KeyProbe::urlKey(nullptr); }, kPos1},
        {"empty authority before a path", [] { return KeyProbe::urlKey("http:///a"); }, kPos2},
        {"empty authority at the end", [] { return KeyProbe::urlKey("http://"); }, kPos2},
        {"host and port", [] { return KeyProbe::hostPortKey("srv", 9300); }, "srv:9300"},
        {"highest port", [] { return KeyProbe::hostPortKey("h", 65535); }, "h:65535"},
        {"port 0", [] { return KeyProbe::hostPortKey("h", 0); }, kPort},
        {"port 65536", [] { return KeyProbe::hostPortKey("h", 65536); }, kPort},
        {"null socket given back",
         [] {
             SkrConnectionPool pool;
             pool.returnSocket(nullptr);
             return std::string();
         },
         "VEX_ASSERT(theSocket);"},
    };
    for (const Row& row : rows)
        EXPECT_EQ(row.want, keyOr(row.make)) << row.label;
}

TEST(ConnectionPoolConfiguration, Table)
{
    struct Row {
        const char* label;
        const char* file;
        int timeout;
        int noDelay;
    } rows[] = {
        {"no file", nullptr, 25000, 1},
        {"both set", "<c><SKARN_CONNECTION_TIMEOUT>5000</SKARN_CONNECTION_TIMEOUT>"
                     "<SKARN_SOCKET_TCP_NODELAY>0</SKARN_SOCKET_TCP_NODELAY></c>", 5000, 0},
        {"found anywhere, negative", "<a><b x='1'><SKARN_CONNECTION_TIMEOUT> -1\n</SKARN_CONNECTION_TIMEOUT></b></a>",
         -1, 1},
        {"first of two", "<c><SKARN_CONNECTION_TIMEOUT>7</SKARN_CONNECTION_TIMEOUT>"
                         "<SKARN_CONNECTION_TIMEOUT>8</SKARN_CONNECTION_TIMEOUT></c>", 7, 1},
        {"empty and blank texts", "<c><SKARN_CONNECTION_TIMEOUT/><SKARN_SOCKET_TCP_NODELAY> </SKARN_SOCKET_TCP_NODELAY></c>",
         25000, 1},
        {"not a number reads 0", "<c><SKARN_CONNECTION_TIMEOUT>soon</SKARN_CONNECTION_TIMEOUT></c>", 0, 1},
        {"not well-formed", "<c><SKARN_CONNECTION_TIMEOUT>5</c>", 25000, 1},
        {"internal entity", "<!DOCTYPE c [<!ENTITY t '0'>]><c><SKARN_CONNECTION_TIMEOUT>&t;</SKARN_CONNECTION_TIMEOUT>"
                            "<SKARN_SOCKET_TCP_NODELAY>0</SKARN_SOCKET_TCP_NODELAY></c>", 25000, 1},
        {"external entity", "<!DOCTYPE c [<!ENTITY x SYSTEM 'file:///etc/hostname'>]>"
                            "<c><SKARN_CONNECTION_TIMEOUT>&x;</SKARN_CONNECTION_TIMEOUT></c>", 25000, 1},
        {"entity expansion", "<!DOCTYPE c [<!ENTITY a 'aaaa'><!ENTITY b '&a;&a;&a;&a;'>]><c>&b;</c>", 25000, 1},
    };
    for (const Row& row : rows) {
        ConfigHome home(row.file);
        skarnTcpNoDelay.store(row.noDelay ? 0 : 1);  // the pool sets it either way
        SkrConnectionPool pool;
        EXPECT_EQ(row.timeout, pool.getConnectionTimeout()) << row.label;
        EXPECT_EQ(row.noDelay, skarnTcpNoDelay.load()) << row.label;
    }
    skarnTcpNoDelay.store(1);
}

TEST(ConnectionPoolReuse, OldestFirstPerKeyWithReuseCounter)
{
    HoldingPeer p;
    {
        SkrConnectionPool pool;
        const std::string port = std::to_string(p.peer.port());
        SkarnSocket* s[3];
        for (SkarnSocket*& x : s) {
            x = pool.getSocketConnection(1, p.url("/a").c_str(), kDoc.c_str());
            EXPECT_EQ("127.0.0.1:" + port, x->getPoolKey());
            EXPECT_EQ(1, x->isReusable());
        }
        ASSERT_TRUE(p.acceptedIs(3));
        for (SkarnSocket* x : s)
            pool.returnSocket(x);
        // Same key by another path, by host and port, by another scheme.
        EXPECT_EQ(s[0], pool.getSocketConnection(1, p.url("/other").c_str(), kDoc.c_str()));
        EXPECT_EQ(s[1], pool.getSocketConnection(1, "127.0.0.1", p.peer.port(), kDoc.c_str()));
        EXPECT_EQ(s[2], pool.getSocketConnection(1, ("https://127.0.0.1:" + port).c_str(), kDoc.c_str()));
        EXPECT_EQ(nullptr, pool.findIdleSocket("127.0.0.1:" + port));
        pool.returnSocket(s[1]);
        pool.returnSocket(s[0]);
        EXPECT_EQ(s[1], pool.findIdleSocket("127.0.0.1:" + port));
        EXPECT_EQ(2, s[1]->getReuseCounter());
        EXPECT_EQ(2, s[0]->getReuseCounter());
        EXPECT_EQ(1, s[2]->getReuseCounter());
        pool.returnSocket(s[1]);
        pool.returnSocket(s[2]);
        EXPECT_EQ(3, p.peer.accepted());
    }
    EXPECT_TRUE(p.closedIs(3));  // the pool closed what it still held
}

TEST(ConnectionPoolReuse, IdleAgeTable)
{
    struct Row {
        const char* label;
        const char* timeout;  // the configured text, or none
        long long idle;       // milliseconds since the time stamp
        bool reused;
    } rows[] = {
        {"default, idle 1 s", nullptr, 1000, true},
        {"default, idle 25 s", nullptr, 25000, false},
        {"time stamp later than now", nullptr, -60000, false},
        {"0: never reused", "0", 0, false},
        {"negative: no age limit", "-1", 26000, true},
        {"60 s, idle 30 s", "60000", 30000, true},
    };
    HoldingPeer p;
    int expectAccepted = 0;
    for (const Row& row : rows) {
        std::string file;
        if (row.timeout)
            file = std::string("<c><SKARN_CONNECTION_TIMEOUT>") + row.timeout + "</SKARN_CONNECTION_TIMEOUT></c>";
        ConfigHome home(row.timeout ? file.c_str() : nullptr);
        SkrConnectionPool pool;
        SkarnSocket* first = pool.getSocketConnection(1, p.url().c_str(), kDoc.c_str());
        pool.returnSocket(first);
        first->setTimestamp(VexHighResolutionTime::getLocalTime() - row.idle);
        SkarnSocket* next = pool.getSocketConnection(1, p.url().c_str(), kDoc.c_str());
        expectAccepted += row.reused ? 1 : 2;
        EXPECT_TRUE(p.acceptedIs(expectAccepted)) << row.label;
        if (row.reused) {
            EXPECT_EQ(first, next) << row.label;
        }
        delete next;
    }
}

TEST(ConnectionPoolReuse, DeadAndPlainConnectionsAreNotHandedOut)
{
    HoldingPeer p;
    SkrConnectionPool pool;
    SkarnSocket* s = pool.getSocketConnection(1, p.url().c_str(), kDoc.c_str());
    s->getOutputStream().write("x", 1);  // the peer closes on it
    ASSERT_TRUE(pollUntil([&] { return s->isAlive() == 0; }));
    pool.returnSocket(s);
    SkarnSocket* plain = pool.getSocketConnection(0, p.url().c_str(), kDoc.c_str());
    EXPECT_TRUE(p.acceptedIs(2));
    EXPECT_EQ(0, plain->isAlive());
    pool.returnSocket(plain);
    delete pool.getSocketConnection(1, p.url().c_str(), kDoc.c_str());
    EXPECT_TRUE(p.acceptedIs(3));
    EXPECT_TRUE(p.closedIs(2));  // the plain one (deleted when met) and the last one
}

TEST(ConnectionPoolReuse, ForceNewTable)
{
    struct Row {
        const char* label;
        std::string options;
        bool reused;
    } rows[] = {
        {"plain document", kDoc, true},
        {"forceNew", "forceNew" + kDoc, false},
        {"other letter case", "FORCENEW" + kDoc, true},
        {"forceNew twice", "forceNewforceNew" + kDoc, false},  // the rest is passed on as it is
    };
    HoldingPeer p;
    SkrConnectionPool pool;
    SkarnSocket* idle = pool.getSocketConnection(1, p.url().c_str(), kDoc.c_str());
    int accepted = 1;
    for (const Row& row : rows) {
        pool.returnSocket(idle);
        SkarnSocket* got = pool.getSocketConnection(1, p.url().c_str(), row.options.c_str());
        EXPECT_EQ(row.reused, got == idle) << row.label;
        accepted += row.reused ? 0 : 1;
        EXPECT_TRUE(p.acceptedIs(accepted)) << row.label;
        if (!row.reused) {
            EXPECT_EQ(idle, pool.findIdleSocket(got->getPoolKey())) << row.label;
            delete got;
        }
    }
    delete idle;
    // "forceNew" alone passes an empty document on, which the secure socket refuses.
    EXPECT_EQ("VEX_ASSERT(validateSessionDocument() == TRUE);",
              assertionText([&] { pool.getSocketConnection(1, p.url().c_str(), "forceNew"); }));
}

TEST(ConnectionPoolFactory, ReleaseGivesBackAndDestroyInstanceCloses)
{
    HoldingPeer p;
    ConfigHome home(nullptr);
    SkrConnectionPoolFactory::destroyInstance();
    SkarnConnectionPool* pool = SkrConnectionPoolFactory::getInstance();
    EXPECT_EQ(pool, SkrConnectionPoolFactory::getInstance());
    SkarnSocket* s = pool->getSocketConnection(1, p.url().c_str(), kDoc.c_str());
    s->release();
    EXPECT_EQ(s, pool->getSocketConnection(1, p.url().c_str(), kDoc.c_str()));
    EXPECT_EQ(1, s->getReuseCounter());
    s->release();
    // A bare socket has no key: given back, it is closed and deleted.
    SkarnSocket* bare = pool->createSocket(1);
    EXPECT_EQ(1, bare->isReusable());
    bare->Open(p.url().c_str(), kDoc.c_str());
    bare->release();
    EXPECT_TRUE(p.closedIs(1));
    // Not reusable (the reader saw "Connection: close"): deleted, not pooled.
    SkarnSocket* closing = pool->getSocketConnection(1, p.url().c_str(), ("forceNew" + kDoc).c_str());
    closing->disableReuse();
    closing->release();
    EXPECT_TRUE(p.closedIs(2));
    SkrConnectionPoolFactory::destroyInstance();
    EXPECT_TRUE(p.closedIs(3));
    EXPECT_NE(nullptr, SkrConnectionPoolFactory::getInstance());
    SkrConnectionPoolFactory::destroyInstance();
}

TEST(ConnectionPoolFactory, NoDelaySwitchFromTheConfiguration)
{
    const std::pair<const char*, int> rows[] = {{"<c><SKARN_SOCKET_TCP_NODELAY>0</SKARN_SOCKET_TCP_NODELAY></c>", 0},
                                                 {"<c/>", 1}};
    for (const auto& [file, want] : rows) {
        HoldingPeer p;
        ConfigHome home(file);
        SkrConnectionPoolFactory::destroyInstance();
        SkarnSocket* s = SkrConnectionPoolFactory::getInstance()->getSocketConnection(1, p.url().c_str(), kDoc.c_str());
        int on = -1;
        socklen_t length = sizeof on;
        ASSERT_EQ(0, ::getsockopt(clientDescriptor(p.peer.port()), IPPROTO_TCP, TCP_NODELAY, &on, &length)) << file;
        EXPECT_EQ(want, on != 0) << file;
        delete s;
    }
    SkrConnectionPoolFactory::destroyInstance();
}
