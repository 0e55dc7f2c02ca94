// The traffic echo of the plain socket: record markers, raw bytes, file names
// and modes, and where the files go.
#include "net/SkrSocketNonSSL.h"

#include "platform/core/VexAssertError.h"
#include "platform/core/VexUtSystemInfo.h"
#include "support/LoopbackPeer.h"

#include "support/ScopedEnv.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

namespace {

std::string slurp(const std::string& path)
{
    std::ifstream f(path, std::ios::binary);
    std::stringstream s;
    s << f.rdbuf();
    return s.str();
}

// A home for the toolkit: SKARN_HOME=<tmp>/bin, so "../logs/" is <tmp>/logs.
class EchoTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        char pattern[] = "/tmp/skarn-echo-XXXXXX";
        ASSERT_NE(nullptr, ::mkdtemp(pattern));
        m_root = pattern;
        ::mkdir((m_root + "/bin").c_str(), 0700);
        ::mkdir((m_root + "/logs").c_str(), 0700);
        m_home.reset(new ScopedEnv("SKARN_HOME", (m_root + "/bin").c_str()));
        m_rw.reset(new ScopedEnv("ZEV_SKT_ECHO_RW", nullptr));
        m_mode.reset(new ScopedEnv("ZEV_SKT_ECHO_MODE", nullptr));
    }
    void TearDown() override
    {
        m_home.reset();
        m_rw.reset();
        m_mode.reset();
        std::string cmd = "rm -rf '" + m_root + "'";
        EXPECT_EQ(0, std::system(cmd.c_str()));
    }
    std::string logFile(const std::string& name) const
    {
        return m_root + "/bin/../logs/" + std::to_string(VexUtSystemInfo::getProcessId()) + "_" + name;
    }

    std::string m_root;
    std::unique_ptr<ScopedEnv> m_home, m_rw, m_mode;
};

// Writes `data`, reads it back from an echo peer; returns the expected echo
// records of the reads as they happened.
std::string exchange(SkrSocketNonSSL& s, const std::string& data, bool markers)
{
    std::string expected;
    int written = 0;
    s.WriteBuffer(data.data(), static_cast<unsigned>(data.size()), &written);
    if (markers)
        expected += "\n<write[" + std::to_string(data.size()) + "]>\n";
    expected += data;
    std::size_t got = 0;
    char buffer[4096];
    while (got < data.size()) {
        int n = 0;
        s.ReadBuffer(buffer, sizeof buffer, &n);
        if (n == 0)
            break;
        if (markers)
            expected += "\n<read[" + std::to_string(n) + "]>\n";
        expected.append(buffer, static_cast<std::size_t>(n));
        got += static_cast<std::size_t>(n);
    }
    return expected;
}

}  // namespace

TEST_F(EchoTest, ExchangeWithMarkers)
{
    LoopbackPeer peer(LoopbackPeer::IPv4, LoopbackPeer::echo());
    std::string expected;
    {
        SkrSocketNonSSL s;
        s.echo("exchange.txt", "wb", 1);
        s.Open(peer.url().c_str(), nullptr);
        expected += exchange(s, "POST / HTTP/1.1\r\n\r\n", true);
        expected += exchange(s, std::string("\x00\xFF binary", 9), true);
        EXPECT_EQ(expected, slurp(logFile("exchange.txt")));  // flushed after every record
    }
    EXPECT_EQ(expected, slurp(logFile("exchange.txt")));
}

TEST_F(EchoTest, EndOfStreamRecordsAnEmptyReadMarker)
{
    LoopbackPeer peer(LoopbackPeer::IPv4, LoopbackPeer::sendThenClose("abc"));
    SkrSocketNonSSL s;
    s.echo("end.txt", "wb", 1);
    s.Open(peer.url().c_str(), nullptr);
    std::string expected;
    char buffer[16];
    for (;;) {
        int n = 0;
        s.ReadBuffer(buffer, sizeof buffer, &n);
        expected += "\n<read[" + std::to_string(n) + "]>\n" + std::string(buffer, static_cast<std::size_t>(n));
        if (n == 0)
            break;
    }
    int n = 0;
    s.ReadBuffer(buffer, sizeof buffer, &n);  // after the end: not read, not recorded
    EXPECT_EQ(expected, slurp(logFile("end.txt")));
    EXPECT_NE(std::string::npos, expected.find("abc"));
}

TEST_F(EchoTest, HeadersOffRecordsRawBytes)
{
    LoopbackPeer peer(LoopbackPeer::IPv6, LoopbackPeer::echo());
    SkrSocketNonSSL s;
    s.echo("raw.txt");
    s.Open(peer.url().c_str(), nullptr);
    std::string expected = exchange(s, "plain bytes", false);
    EXPECT_EQ("plain bytesplain bytes", expected);
    EXPECT_EQ(expected, slurp(logFile("raw.txt")));
}

TEST_F(EchoTest, EnvironmentTurnsHeadersOn)
{
    ScopedEnv rw("ZEV_SKT_ECHO_RW", "");
    LoopbackPeer peer(LoopbackPeer::IPv4, LoopbackPeer::echo());
    SkrSocketNonSSL s;
    s.echo("env.txt", nullptr, 0);
    s.Open(peer.url().c_str(), nullptr);
    std::string expected = exchange(s, "x", true);
    EXPECT_EQ(expected, slurp(logFile("env.txt")));
}

TEST_F(EchoTest, NoSocketWritesAreRecorded)
{
    ScopedEnv none("ZEV_SKT_NO_SOCKET", "1");
    SkrSocketNonSSL s;
    s.echo("nosocket.txt", nullptr, 1);
    int written = 0;
    s.WriteBuffer("would be sent", 13, &written);
    EXPECT_EQ("\n<write[13]>\nwould be sent", slurp(logFile("nosocket.txt")));
}

TEST_F(EchoTest, ModeAppendsByDefaultAndEchoOffCloses)
{
    ScopedEnv none("ZEV_SKT_NO_SOCKET", "1");
    SkrSocketNonSSL s;
    int written = 0;
    s.echo("append.txt", "", 0);
    s.WriteBuffer("one", 3, &written);
    s.echo("append.txt", nullptr, 0);  // reopened with "a+b": appends
    s.WriteBuffer("two", 3, &written);
    s.echo(nullptr, nullptr, 0);
    s.WriteBuffer("three", 5, &written);
    EXPECT_EQ("onetwo", slurp(logFile("append.txt")));
    s.echo("append.txt", "wb", 0);  // truncates
    s.WriteBuffer("four", 4, &written);
    EXPECT_EQ("four", slurp(logFile("append.txt")));
}

TEST_F(EchoTest, EffectiveMode)
{
    EXPECT_EQ("rb+", SkrSocketNonSSL::effectiveEchoMode("rb+"));
    EXPECT_EQ("a+b", SkrSocketNonSSL::effectiveEchoMode(nullptr));
    EXPECT_EQ("a+b", SkrSocketNonSSL::effectiveEchoMode(""));
    {
        ScopedEnv mode("ZEV_SKT_ECHO_MODE", "");
        EXPECT_EQ("a+b", SkrSocketNonSSL::effectiveEchoMode(nullptr));
    }
    {
        ScopedEnv mode("ZEV_SKT_ECHO_MODE", "wb");
        EXPECT_EQ("wb", SkrSocketNonSSL::effectiveEchoMode(nullptr));
        EXPECT_EQ("ab", SkrSocketNonSSL::effectiveEchoMode("ab"));
    }
    {
        ScopedEnv mode("ZEV_SKT_ECHO_MODE", "wb123456789012345678");  // 20 characters
        EXPECT_EQ("wb1234567890123", SkrSocketNonSSL::effectiveEchoMode(nullptr));
    }
}

TEST_F(EchoTest, EnvironmentModeIsUsed)
{
    ScopedEnv none("ZEV_SKT_NO_SOCKET", "1");
    ScopedEnv mode("ZEV_SKT_ECHO_MODE", "w");
    {
        std::ofstream(logFile("mode.txt")) << "old content";
    }
    SkrSocketNonSSL s;
    s.echo("mode.txt", nullptr, 0);
    int written = 0;
    s.WriteBuffer("new", 3, &written);
    EXPECT_EQ("new", slurp(logFile("mode.txt")));
}

TEST_F(EchoTest, PathCarriesProcessNumberAndAtMost200Characters)
{
    std::string pid = std::to_string(VexUtSystemInfo::getProcessId());
    EXPECT_EQ(m_root + "/bin/../logs/" + pid + "_trace", SkrSocketNonSSL::echoPath("trace"));
    std::string longName(250, 'n');
    EXPECT_EQ(m_root + "/bin/../logs/" + pid + "_" + std::string(200, 'n'), SkrSocketNonSSL::echoPath(longName.c_str()));
    {
        ScopedEnv home("SKARN_HOME", nullptr);  // the working directory
        EXPECT_EQ("../logs/" + pid + "_trace", SkrSocketNonSSL::echoPath("trace"));
    }
}

TEST_F(EchoTest, FileThatCannotBeOpenedLeavesEchoOff)
{
    ScopedEnv none("ZEV_SKT_NO_SOCKET", "1");
    SkrSocketNonSSL s;
    EXPECT_NO_THROW(s.echo("no-such-dir/x.txt", nullptr, 1));
    int written = 0;
    EXPECT_NO_THROW(s.WriteBuffer("y", 1, &written));
    EXPECT_EQ(1, written);
}

TEST_F(EchoTest, ExactFileName)
{
    ScopedEnv none("ZEV_SKT_NO_SOCKET", "1");
    std::string path = m_root + "/exact.bin";
    SkrSocketNonSSL s;
    s.echo(path);
    int written = 0;
    s.WriteBuffer("ab", 2, &written);
    s.echo(std::string());  // closes
    EXPECT_EQ("ab", slurp(path));

    s.echo(nullptr, nullptr, 1);  // headers on; the string form keeps the flag
    s.echo(path);
    s.WriteBuffer("cd", 2, &written);
    EXPECT_EQ("ab\n<write[2]>\ncd", slurp(path));

    try {
        s.echo(m_root + "/missing/dir/file");
        FAIL() << "nothing thrown";
    } catch (const VexAssertError& e) {
        EXPECT_EQ("VEX_ASSERT(m_fpEcho != NULL);", e.getMessageAt(0).format().str());
    }
}

namespace {

// Switches TCP_NODELAY on a descriptor of the test's choosing.
class NoDelayProbe : public SkrSocketNonSSL {
public:
    void switchOn(SOCKET s)
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

}  // namespace

TEST_F(EchoTest, FailedNoDelaySwitchIsRecordedWithHeaders)
{
    int pipeEnds[2];
    ASSERT_EQ(0, ::pipe(pipeEnds));  // not a socket: setsockopt fails
    std::string path = m_root + "/nodelay.txt";
    {
        NoDelayProbe s;
        s.echo(nullptr, nullptr, 1);  // headers on
        s.echo(path);
        EXPECT_NO_THROW(s.switchOn(pipeEnds[0]));
        EXPECT_EQ("\nsetsockopt to TCP_NODELAY FAILED\n", slurp(path));  // flushed at once

        s.echo(nullptr, nullptr, 0);  // headers off: nothing recorded
        s.echo(path);
        EXPECT_NO_THROW(s.switchOn(pipeEnds[0]));
        EXPECT_EQ("\nsetsockopt to TCP_NODELAY FAILED\n", slurp(path));

        ScopedEnv rw("ZEV_SKT_ECHO_RW", "");  // the variable turns headers on
        EXPECT_NO_THROW(s.switchOn(pipeEnds[0]));
        EXPECT_EQ("\nsetsockopt to TCP_NODELAY FAILED\n\nsetsockopt to TCP_NODELAY FAILED\n", slurp(path));
    }
    ::close(pipeEnds[0]);
    ::close(pipeEnds[1]);
}

TEST_F(EchoTest, NoDelaySwitchWithoutSocketFailsItsAssertion)
{
    NoDelayProbe s;
    try {
        s.switchOn(INVALID_SOCKET);
        FAIL() << "nothing thrown";
    } catch (const VexAssertError& e) {
        EXPECT_EQ("VEX_ASSERT(m_commSocket != INVALID_SOCKET);", e.getMessageAt(0).format().str());
    }
    skarnTcpNoDelay.store(0);  // switch off: nothing is checked or set
    EXPECT_NO_THROW(s.switchOn(INVALID_SOCKET));
    skarnTcpNoDelay.store(1);
}
