// What the plain and the secure socket share, one table over both: the secure
// socket with a plain session document (blocking and non-blocking) talks to the
// same raw loopback peers as the plain one.
#include "net/SkrSocket.h"
#include "net/SkrSocketNonSSL.h"
#include "NetTestSupport.h"
#include "platform/core/VexByteBuffer.h"
#include "platform/streams/QioIOCancelException.h"
#include "platform/streams/QioIOTimeoutException.h"
#include "support/ExpectThrow.h"
#include "support/Gate.h"
#include "support/LoopbackPeer.h"

#include <gtest/gtest.h>

#include <thread>

namespace {

struct Kind {
    const char* name;
    bool secure;
    int nonBlocking;
    const char* echoRaw;      // the echo of "hello" out and "world!" in, headers off
    const char* echoHeaders;  // the same with headers on
};

void PrintTo(const Kind& k, std::ostream* os) { *os << k.name; }

const char kEchoHeaders[] = "\n<write[5]>\nhello\n<read[0006]>\nworld!";
const Kind kKinds[] = {
    {"plain", false, 0, "helloworld!", "\n<write[5]>\nhello\n<read[6]>\nworld!"},
    {"secure", true, 0, "\n<read[0006]>\nworld!", kEchoHeaders},
    {"secureNonBlocking", true, 1, "hello\n<read[0006]>\nworld!", kEchoHeaders},
};

struct PlainPeek : SkrSocketNonSSL {
    int connected() const { return m_connected; }
};
struct SecurePeek : SkrSocket {
    explicit SecurePeek(int nonBlocking) { m_nonBlocking = nonBlocking; }
};

class Kinds : public ::testing::TestWithParam<Kind> {
protected:
    const Kind& k = GetParam();
    SocketPtr make() const { return k.secure ? SocketPtr(new SecurePeek(k.nonBlocking)) : SocketPtr(new PlainPeek); }
    const char* doc() const { return k.secure ? kPlainDoc : nullptr; }
    std::string fn(const char* name) const { return std::string(k.secure ? "SkrSocket::" : "SkrSocketNonSSL::") + name; }
    void openUrl(SkarnSocket& s, const LoopbackPeer& p) const { s.Open(p.url().c_str(), doc()); }
};

// Waiting reads: a blocking secure socket waits without a limit, so it is left out.
using Waits = Kinds;

std::string kindName(const ::testing::TestParamInfo<Kind>& i) { return i.param.name; }

TEST_P(Kinds, ExchangeKeepsEveryByte)
{
    for (LoopbackPeer::Family family : {LoopbackPeer::IPv4, LoopbackPeer::IPv6}) {
        SCOPED_TRACE(family == LoopbackPeer::IPv4 ? "IPv4, by address" : "IPv6, by URL");
        LoopbackPeer peer(family, LoopbackPeer::echo());
        SocketPtr s = make();
        if (family == LoopbackPeer::IPv6)
            openUrl(*s, peer);
        else
            s->Open(peer.port(), peer.address(), doc());
        const std::string data = pattern(200000, family);
        writeAll(*s, data);
        // Reads below, at and above a receive buffer's size: no byte lost, none twice.
        EXPECT_EQ(data, readStream(s->getInputStream(), data.size(), {1, 7, 4096, 1 << 20, 33, 70000}));
    }
}

TEST_P(Kinds, StreamsReadToTheEndWhichOutlivesANewConnection)
{
    LoopbackPeer peer(LoopbackPeer::IPv4, LoopbackPeer::sendThenClose(std::string("\xFF\x00tail", 6)));
    SocketPtr s = make();
    SkarnSocketInputStream& in = s->getInputStream();
    char c;
    VexByteBuffer b(2, 2);
    EXPECT_EQ(-1, in.read());  // not open: the end at once
    EXPECT_EQ(QioInputStream::END, in.read(b, 8));
    openUrl(*s, peer);
    EXPECT_EQ(255, in.read());
    EXPECT_EQ(0, in.read());
    b.append("head-");
    for (int i = 0; i < 10 && in.read(b, 100) != QioInputStream::END; ++i) {
    }
    EXPECT_EQ("head-tail", std::string(b.getData(), b.length()));
    EXPECT_EQ(QioInputStream::END, in.read(&c, 1));
    EXPECT_EQ(-1, in.read());
    EXPECT_EQ(0u, in.read(&c, 0));
    EXPECT_TRUE(pollUntil([&] { return s->isAlive() == 0; }));  // the secure socket sees the peer gone
    s->Close();
    s->open();
    EXPECT_EQ(QioInputStream::END, in.read(&c, 1));
}

TEST_P(Kinds, RefusedConnectionTriesFiveTimesAndKeepsOneDescriptor)
{
    LoopbackPeer peer(LoopbackPeer::IPv4, LoopbackPeer::echo());
    const int port = LoopbackPeer::unusedPort(LoopbackPeer::IPv4);
    const int before = openDescriptorCount();
    {
        FakeSleep sleep;
        SocketPtr s = make();
        const ExpectedSkarnError refused{
            5, kSocketError,
            k.secure ? "QSM_Connect=0xfffffff6 QSM_Connect: connecting to 127.0.0.1:" + std::to_string(port) +
                           " failed: Connection refused"
                     : "Connection refused",
            k.secure ? "SkrSocket::open()" : "SkrSocketNonSSL::Open"};
        expectSkarnError([&] { s->Open(port, loopbackAddress(port), doc()); }, refused);
        EXPECT_EQ((std::vector<int>{2, 2, 2, 2}), sleeps());
        EXPECT_EQ(0, s->isAlive());
        if (k.secure) {
            s->open();  // the handle stays until Close: nothing happens meanwhile
        } else {
            expectSkarnError([&] { s->Open(port, loopbackAddress(port), doc()); }, refused);
        }
        // The plain socket keeps one socket for the next attempt (one, not two); the secure layer none.
        EXPECT_EQ(before + (k.secure ? 0 : 1), openDescriptorCount());
        s->Close();
        EXPECT_EQ(before, openDescriptorCount());
        openUrl(*s, peer);
        writeAll(*s, "again");
        EXPECT_EQ("again", readStream(s->getInputStream(), 5));
    }
    EXPECT_TRUE(pollUntil([&] { return openDescriptorCount() == before; }));
}

TEST_P(Kinds, PeerGoneDuringWriteRaisesInsteadOfSignalling)
{
    LoopbackPeer peer(LoopbackPeer::IPv4, LoopbackPeer::resetAfter(1));
    SocketPtr s = make();
    openUrl(*s, peer);
    writeAll(*s, "x");
    const std::string block(65536, 'b');
    try {
        for (int i = 0; i < 1000; ++i) {
            writeAll(*s, block);
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        ADD_FAILURE() << "the write did not fail";
    } catch (const SkarnException& e) {
        EXPECT_EQ(SkarnException::errSocket, e.getErrorCode());
        EXPECT_EQ(fn("WriteBuffer"), e.getBackTraceAt(0).function);
        ASSERT_EQ(2u, e.getMessageCount());
        EXPECT_EQ(kSocketError, e.getMessageAt(0).getMsgNumber());
        const std::string text = e.getMessageAt(1).format().str();
        EXPECT_EQ(0u, text.find(k.secure ? "QSM_Send=0xfffffffb QSM_Send: " : "")) << text;
        EXPECT_TRUE(text.find("Connection reset by peer") != std::string::npos ||
                    text.find("Broken pipe") != std::string::npos ||
                    text.find("Software caused connection abort") != std::string::npos)
            << text;
    }
    if (!k.secure) {
        EXPECT_EQ(1, static_cast<PlainPeek&>(*s).connected());  // a failed write leaves the socket connected
    }
}

TEST_P(Kinds, ManyConnectionsLeaveNoDescriptor)
{
    const int before = openDescriptorCount();
    {
        LoopbackPeer peer(LoopbackPeer::IPv4, LoopbackPeer::echo());
        for (int i = 0; i < 100; ++i) {
            SocketPtr s = make();
            if (i % 2 == 0) {
                openUrl(*s, peer);
            } else {
                s->Open(peer.port(), peer.address(), doc());
                s->Close();
            }
        }
        EXPECT_TRUE(pollUntil([&] { return peer.accepted() == 100; }));
    }
    EXPECT_EQ(before, openDescriptorCount());
}

TEST_P(Kinds, EchoRecordsTheTraffic)
{
    EchoFolder folder;
    for (int headers : {0, 1}) {
        LoopbackPeer peer(LoopbackPeer::IPv4, LoopbackPeer::readThenSend(5, "world!"));
        const std::string name = "traffic" + std::to_string(headers);
        {
            SocketPtr s = make();
            s->echo(name.c_str(), "wb", headers);
            openUrl(*s, peer);
            writeAll(*s, "hello");
            EXPECT_EQ("world!", readStream(s->getInputStream(), 6));
            // Flushed after every record.
            EXPECT_EQ(headers ? k.echoHeaders : k.echoRaw, fileText(folder.file(name, k.secure ? "pid_" : ""))) << headers;
        }
    }
}

TEST_P(Waits, TimeOutAndCancelLeaveTheSocketOpen)
{
    LoopbackPeer peer(LoopbackPeer::IPv4, LoopbackPeer::silent());
    SocketPtr s = make();
    openUrl(*s, peer);
    SkarnSocketInputStream& in = s->getInputStream();
    ASSERT_EQ(1, in.setTimeout(1));
    EXPECT_THROW(in.read(), QioIOTimeoutException);
    EXPECT_EQ(1, in.getTimeout());
    EXPECT_EQ(1, s->isAlive());  // the socket stays open
    EXPECT_NO_THROW(writeAll(*s, "still here"));
    EXPECT_EQ(0, in.setTimeout(0));
    ASSERT_EQ(1, in.setCancel(1));
    std::thread canceller([&in] {
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        in.cancel();
    });
    EXPECT_THROW(in.read(), QioIOCancelException);
    canceller.join();
    EXPECT_EQ(1, in.getCancel());
    in.cancel();  // made while nobody reads: waits for the next read
    EXPECT_THROW(in.read(), QioIOCancelException);
}

INSTANTIATE_TEST_SUITE_P(Both, Kinds, ::testing::ValuesIn(kKinds), kindName);
INSTANTIATE_TEST_SUITE_P(Both, Waits, ::testing::Values(kKinds[0], kKinds[2]), kindName);

}  // namespace
