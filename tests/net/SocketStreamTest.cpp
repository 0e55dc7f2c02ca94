// The plain socket's streams: reads, the time-out and cancel modes with every
// transition, and time-outs and cancellations of reads waiting on real loopback peers.
#include "net/SkrSocketNonSSL.h"

#include "platform/core/VexAssertError.h"
#include "platform/core/VexByteBuffer.h"
#include "platform/core/VexIllegalStateError.h"
#include "platform/core/VexUnsupportedOperationError.h"
#include "platform/streams/QioBufferedInputStream.h"
#include "platform/streams/QioIOCancelException.h"
#include "platform/streams/QioIOTimeoutException.h"
#include "support/LoopbackPeer.h"

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>

namespace {

using Clock = std::chrono::steady_clock;

double secondsSince(Clock::time_point start)
{
    return std::chrono::duration<double>(Clock::now() - start).count();
}

std::string assertText(const VexAssertError& e) { return e.getMessageAt(0).format().str(); }

}  // namespace

// ---- reads ---------------------------------------------------------------

TEST(SocketStreamRead, ByteFFReadsAs255)
{
    LoopbackPeer peer(LoopbackPeer::IPv4, LoopbackPeer::sendThenClose(std::string("\xFF\x00\x7F", 3)));
    SkrSocketNonSSL s;
    s.Open(peer.url().c_str(), nullptr);
    QioInputStream& in = s.getInputStream();
    EXPECT_EQ(255, in.read());
    EXPECT_EQ(0, in.read());
    EXPECT_EQ(127, in.read());
    EXPECT_EQ(-1, in.read());
    EXPECT_EQ(-1, in.read());
}

TEST(SocketStreamRead, BlockReadsAndEnd)
{
    LoopbackPeer peer(LoopbackPeer::IPv6, LoopbackPeer::sendThenClose("0123456789"));
    SkrSocketNonSSL s;
    s.Open(peer.url().c_str(), nullptr);
    QioInputStream& in = s.getInputStream();
    char buffer[4];
    std::string got;
    for (;;) {
        unsigned n = in.read(buffer, sizeof buffer);
        if (n == QioInputStream::END)
            break;
        ASSERT_LE(n, 4u);
        got.append(buffer, n);
    }
    EXPECT_EQ("0123456789", got);
    EXPECT_EQ(0u, in.read(buffer, 0));
}

TEST(SocketStreamRead, ByteBufferReadAppends)
{
    LoopbackPeer peer(LoopbackPeer::IPv4, LoopbackPeer::sendThenClose("tail"));
    SkrSocketNonSSL s;
    s.Open(peer.url().c_str(), nullptr);
    VexByteBuffer b(2, 2);
    b.append("head-");
    std::string all;
    unsigned total = 0;
    for (;;) {
        unsigned n = s.getInputStream().read(b, 100);
        if (n == QioInputStream::END)
            break;
        total += n;
    }
    EXPECT_EQ(4u, total);
    EXPECT_EQ("head-tail", std::string(b.getData(), b.length()));
}

TEST(SocketStreamRead, ReadOnSocketNotOpenIsEndAtOnce)
{
    SkrSocketNonSSL s;
    char buffer[8];
    VexByteBuffer b;
    EXPECT_EQ(-1, s.getInputStream().read());
    EXPECT_EQ(QioInputStream::END, s.getInputStream().read(buffer, 8));
    EXPECT_EQ(QioInputStream::END, s.getInputStream().read(b, 8));
    EXPECT_EQ(0u, b.length());
}

TEST(SocketStreamRead, WriteThroughOutputStreamAndCloseThroughInputStream)
{
    LoopbackPeer peer(LoopbackPeer::IPv4, LoopbackPeer::echo());
    SkrSocketNonSSL s;
    s.Open(peer.url().c_str(), nullptr);
    s.getOutputStream().write("line one\r\nline two\r\n", 20);
    s.getOutputStream().write("", 0);  // nothing to send
    QioBufferedInputStream buffered(s.getInputStream(), 1024);
    VexByteBuffer line;
    EXPECT_EQ(10, buffered.readline(line));
    EXPECT_EQ("line one\r\n", std::string(line.getData(), line.length()));
    line.reset();
    EXPECT_EQ(10, buffered.readline(line));
    EXPECT_EQ("line two\r\n", std::string(line.getData(), line.length()));
    s.getInputStream().close();
    EXPECT_EQ(-1, s.getInputStream().read());
    EXPECT_EQ(&s, s.getInputStream().getSocket());
}

TEST(SocketStreamRead, UnboundStreamsFailTheirAssertion)
{
    SkrSocketNonSSLInputStream in;
    SkrSocketNonSSLOutputStream out;
    char c;
    VexByteBuffer b;
    struct Case {
        const char* label;
        std::function<void()> body;
        const char* text;
    };
    const Case cases[] = {
        {"read()", [&] { in.read(); }, "VEX_ASSERT(m_mp_soap_socket);"},
        {"read(char*)", [&] { in.read(&c, 1); }, "VEX_ASSERT(m_mp_soap_socket);"},
        {"read(buffer)", [&] { in.read(b, 1); }, "VEX_ASSERT(m_mp_soap_socket);"},
        {"close", [&] { in.close(); }, "VEX_ASSERT(m_mp_soap_socket);"},
        {"getSocket", [&] { in.getSocket(); }, "VEX_ASSERT(m_mp_soap_socket != NULL);"},
        {"write", [&] { out.write("x", 1); }, "VEX_ASSERT(m_mp_soap_socket);"},
    };
    for (const Case& k : cases) {
        try {
            k.body();
            ADD_FAILURE() << k.label << ": nothing thrown";
        } catch (const VexAssertError& e) {
            EXPECT_EQ(k.text, assertText(e)) << k.label;
        }
    }
}

// ---- modes ---------------------------------------------------------------

TEST(SocketStreamModes, NoneToTimeoutAndBack)
{
    SkrSocketNonSSL s;
    SkarnSocketInputStream& in = s.getInputStream();
    EXPECT_EQ(1, in.canTimeout());
    EXPECT_EQ(1, in.canCancel());
    EXPECT_EQ(0, in.getTimeout());
    EXPECT_EQ(0, in.getCancel());

    EXPECT_EQ(1, in.setTimeout(5));
    EXPECT_EQ(5, in.getTimeout());
    EXPECT_EQ(5, s.getTimeLimitSec());
    EXPECT_EQ(1, in.canTimeout());
    EXPECT_EQ(0, in.canCancel());
    EXPECT_EQ(1, in.setTimeout(7));  // time-out to time-out
    EXPECT_EQ(7, in.getTimeout());

    EXPECT_EQ(0, in.setTimeout(0));
    EXPECT_EQ(0, in.getTimeout());
    EXPECT_EQ(0, s.getTimeLimitSec());
    EXPECT_EQ(1, in.canCancel());
    EXPECT_EQ(0, in.setTimeout(-3));
}

TEST(SocketStreamModes, NoneToCancelAndBack)
{
    SkrSocketNonSSL s;
    SkarnSocketInputStream& in = s.getInputStream();
    EXPECT_EQ(1, in.setCancel(1));
    EXPECT_EQ(1, in.getCancel());
    EXPECT_EQ(1, s.getTimeLimitSec());  // the callback runs every second
    EXPECT_EQ(0, in.getTimeout());      // though the socket's limit is 1
    EXPECT_EQ(0, in.canTimeout());
    EXPECT_EQ(1, in.canCancel());
    EXPECT_EQ(0, in.setTimeout(0));     // changes nothing in cancel mode
    EXPECT_EQ(1, s.getTimeLimitSec());
    EXPECT_EQ(1, in.getCancel());
    EXPECT_EQ(1, in.setCancel(1));      // cancel to cancel
    EXPECT_EQ(1, in.setCancel(0));
    EXPECT_EQ(0, in.getCancel());
    EXPECT_EQ(0, s.getTimeLimitSec());
    EXPECT_EQ(1, in.canTimeout());
}

TEST(SocketStreamModes, SetCancelZeroInModeNoneClearsTheCallback)
{
    SkrSocketNonSSL s;
    int dummy = 0;
    s.setTimeLimitCallback(+[](void*) {}, &dummy, 0);
    EXPECT_EQ(1, s.getInputStream().setCancel(0));
    EXPECT_EQ(0, s.getTimeLimitSec());
    EXPECT_EQ(0, s.getInputStream().getCancel());
}

TEST(SocketStreamModes, RefusedTransitions)
{
    struct Case {
        const char* label;
        std::function<void(SkarnSocketInputStream&)> enter;
        std::function<void(SkarnSocketInputStream&)> refused;
        const char* function;
    };
    const Case cases[] = {
        {"time-out to cancel", [](SkarnSocketInputStream& in) { in.setTimeout(5); },
         [](SkarnSocketInputStream& in) { in.setCancel(1); }, "SkarnSocketInputStream::setCancel"},
        {"setCancel(0) in time-out mode", [](SkarnSocketInputStream& in) { in.setTimeout(5); },
         [](SkarnSocketInputStream& in) { in.setCancel(0); }, "SkarnSocketInputStream::setCancel"},
        {"cancel to time-out", [](SkarnSocketInputStream& in) { in.setCancel(1); },
         [](SkarnSocketInputStream& in) { in.setTimeout(5); }, "SkarnSocketInputStream::setTimeout"},
    };
    for (const Case& c : cases) {
        SkrSocketNonSSL s;
        SkarnSocketInputStream& in = s.getInputStream();
        c.enter(in);
        int cancelBefore = in.getCancel();
        int limitBefore = s.getTimeLimitSec();
        try {
            c.refused(in);
            ADD_FAILURE() << c.label << ": nothing thrown";
        } catch (const VexUnsupportedOperationError& e) {
            ASSERT_GE(e.getBackTraceCount(), 1u);
            EXPECT_EQ(c.function, e.getBackTraceAt(0).function) << c.label;
            EXPECT_EQ(0u, e.getMessageCount()) << c.label;
        }
        EXPECT_EQ(cancelBefore, in.getCancel()) << c.label;
        EXPECT_EQ(limitBefore, s.getTimeLimitSec()) << c.label;
    }
}

TEST(SocketStreamModes, CancelBeforeCancelModeIsIllegal)
{
    SkrSocketNonSSL s;
    try {
        s.getInputStream().cancel();
        FAIL() << "nothing thrown";
    } catch (const VexIllegalStateError& e) {
        EXPECT_EQ("SkarnSocketInputStream::cancel", e.getBackTraceAt(0).function);
    }
}

TEST(SocketStreamModes, HandlerWithoutInstance)
{
    try {
        SkarnSocketInputStream::timeoutHandler(nullptr);
        FAIL() << "nothing thrown";
    } catch (const VexAssertError& e) {
        EXPECT_EQ("VEX_ASSERT(instancePointer);", assertText(e));
    }
}

TEST(SocketStreamModes, HandlerByMode)
{
    SkrSocketNonSSL s;
    SkarnSocketInputStream& in = s.getInputStream();
    EXPECT_THROW(SkarnSocketInputStream::timeoutHandler(&in), QioIOTimeoutException);  // mode none counts as time-out
    in.setCancel(1);
    EXPECT_NO_THROW(SkarnSocketInputStream::timeoutHandler(&in));
    in.cancel();
    try {
        SkarnSocketInputStream::timeoutHandler(&in);
        FAIL() << "nothing thrown";
    } catch (const QioIOCancelException& e) {
        EXPECT_EQ("SkarnSocketInputStream::timeoutHandler", e.getBackTraceAt(0).function);
        EXPECT_EQ("VEX_THROW", e.getBackTraceAt(0).macro);
    }
    EXPECT_NO_THROW(SkarnSocketInputStream::timeoutHandler(&in));  // the request was cleared
}

// ---- waiting reads on loopback -------------------------------------------

TEST(SocketStreamWait, TimeoutOnSilentPeer)
{
    LoopbackPeer peer(LoopbackPeer::IPv4, LoopbackPeer::silent());
    SkrSocketNonSSL s;
    s.Open(peer.url().c_str(), nullptr);
    SkarnSocketInputStream& in = s.getInputStream();
    ASSERT_EQ(1, in.setTimeout(1));
    Clock::time_point start = Clock::now();
    EXPECT_THROW(in.read(), QioIOTimeoutException);
    double took = secondsSince(start);
    EXPECT_GE(took, 0.9);
    EXPECT_LT(took, 3.0);
    // The socket stays open and the mode stays as it was.
    EXPECT_EQ(1, in.getTimeout());
    int written = 0;
    EXPECT_NO_THROW(s.WriteBuffer("still here", 10, &written));
}

TEST(SocketStreamWait, NoTimeoutWhileThePeerKeepsSending)
{
    // One byte every half second for 3 seconds, limit 1 second: the limit is on
    // silence, not on the whole read.
    LoopbackPeer peer(LoopbackPeer::IPv4, LoopbackPeer::trickle('t', 500, 6));
    SkrSocketNonSSL s;
    s.Open(peer.url().c_str(), nullptr);
    SkarnSocketInputStream& in = s.getInputStream();
    in.setTimeout(1);
    std::string got;
    Clock::time_point start = Clock::now();
    for (int c; (c = in.read()) != -1;)
        got += static_cast<char>(c);
    EXPECT_EQ("tttttt", got);
    EXPECT_LT(secondsSince(start), 10.0);
}

TEST(SocketStreamWait, CancelFromAnotherThread)
{
    LoopbackPeer peer(LoopbackPeer::IPv6, LoopbackPeer::silent());
    SkrSocketNonSSL s;
    s.Open(peer.url().c_str(), nullptr);
    SkarnSocketInputStream& in = s.getInputStream();
    in.setCancel(1);
    Clock::time_point start = Clock::now();
    std::thread canceller([&in] {
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        in.cancel();
    });
    try {
        in.read();
        ADD_FAILURE() << "the read was not cancelled";
    } catch (const QioIOCancelException&) {
    }
    canceller.join();
    double took = secondsSince(start);
    EXPECT_GE(took, 0.3);
    EXPECT_LT(took, 2.5);
    EXPECT_EQ(1, in.getCancel());  // the mode stays
}

TEST(SocketStreamWait, CancelWhileNoReadWaitsStaysPending)
{
    LoopbackPeer peer(LoopbackPeer::IPv4, LoopbackPeer::silent());
    SkrSocketNonSSL s;
    s.Open(peer.url().c_str(), nullptr);
    SkarnSocketInputStream& in = s.getInputStream();
    in.setCancel(1);
    in.cancel();
    std::this_thread::sleep_for(std::chrono::milliseconds(1200));  // nobody is reading
    Clock::time_point start = Clock::now();
    EXPECT_THROW(in.read(), QioIOCancelException);
    double took = secondsSince(start);
    EXPECT_GE(took, 0.9);  // raised by the first full second of waiting
    EXPECT_LT(took, 2.5);
}

TEST(SocketStreamWait, PendingCancelLetsDataAlreadyThereThrough)
{
    // Sends one byte at once, then stays silent.
    LoopbackPeer peer(LoopbackPeer::IPv4, [](int fd, const std::atomic<bool>& stop) {
        LoopbackPeer::sendAll(fd, "d", 1);
        LoopbackPeer::silent()(fd, stop);
    });
    struct Peek : SkrSocketNonSSL {
        SOCKET comm() const { return m_commSocket; }
    } s;
    s.Open(peer.url().c_str(), nullptr);
    SkarnSocketInputStream& in = s.getInputStream();
    in.setCancel(1);
    in.cancel();
    // Wait (outside the stream) until the byte is there.
    ASSERT_EQ(1, wsa::waitReadable(s.comm(), 10));
    EXPECT_EQ('d', in.read());
    EXPECT_THROW(in.read(), QioIOCancelException);  // still pending for the next wait
}

TEST(SocketStreamWait, CancelDuringAFlowLosesNoByte)
{
    // Four bytes 300 ms apart, then silence. A cancel made while they flow is
    // seen only at the first full second of silence: every byte comes first.
    LoopbackPeer peer(LoopbackPeer::IPv4, [](int fd, const std::atomic<bool>& stop) {
        LoopbackPeer::trickle('f', 300, 4)(fd, stop);
        LoopbackPeer::silent()(fd, stop);
    });
    SkrSocketNonSSL s;
    s.Open(peer.url().c_str(), nullptr);
    SkarnSocketInputStream& in = s.getInputStream();
    in.setCancel(1);
    std::thread canceller([&in] {
        std::this_thread::sleep_for(std::chrono::milliseconds(450));
        in.cancel();
    });
    std::string got;
    bool cancelled = false;
    try {
        for (int i = 0; i < 10; ++i) {
            int c = in.read();
            if (c == -1)
                break;
            got += static_cast<char>(c);
        }
    } catch (const QioIOCancelException&) {
        cancelled = true;
    }
    canceller.join();
    EXPECT_EQ("ffff", got);
    EXPECT_TRUE(cancelled);
    EXPECT_EQ(1, in.getCancel());
}
