// Winsock names over POSIX: the errno mapping and the calls that differ.
#include "platform/winsock/Winsock.h"

#include "support/LoopbackPeer.h"

#include <gtest/gtest.h>
#include <netdb.h>
#include <unistd.h>

#include <cerrno>

TEST(WinsockErrors, ErrnoMapping)
{
    // The ends of the table, its two doubled entries and a number it does not know.
    const std::pair<int, int> cases[] = {
        {EINTR, 10004}, {EAGAIN, 10035}, {ECONNRESET, 10054}, {EPIPE, 10054}, {ETIMEDOUT, 10060},
        {ECONNREFUSED, 10061}, {EREMOTE, 10071}, {ENOENT, ENOENT}, {EAI_NONAME, 11001}, {EAI_NODATA, 11004},
    };
    for (const auto& c : cases) {
        const bool resolver = c.second > 11000;
        EXPECT_EQ(c.second, resolver ? WSAErrorFromResolver(c.first) : WSAErrorFromErrno(c.first)) << c.first;
    }
    WSASetLastError(WSAECONNREFUSED);
    EXPECT_EQ(ECONNREFUSED, errno);
    EXPECT_EQ(10061, WSAGetLastError());
}

TEST(WinsockCalls, SendToClosedPeerAndWaitReadable)
{
    std::pair<int, int> gone = LoopbackPeer::connectedPair(LoopbackPeer::IPv4);
    ::close(gone.second);
    // Without MSG_NOSIGNAL the second or a later send would end this program.
    int result = 0;
    for (int i = 0; i < 50 && result >= 0; ++i)
        result = wsa::send(gone.first, "0123456789", 10, 0);
    EXPECT_EQ(SOCKET_ERROR, result);
    EXPECT_EQ(WSAECONNRESET, WSAGetLastError());
    closesocket(gone.first);
    std::pair<int, int> pair = LoopbackPeer::connectedPair(LoopbackPeer::IPv6);
    EXPECT_EQ(0, wsa::waitReadable(pair.first, 0));
    ASSERT_EQ(1, wsa::send(pair.second, "z", 1, 0));
    EXPECT_EQ(1, wsa::waitReadable(pair.first, 5));
    closesocket(pair.first);
    closesocket(pair.second);
    EXPECT_EQ(SOCKET_ERROR, wsa::waitReadable(pair.first, 1));
    EXPECT_EQ(WSAEBADF, WSAGetLastError());
}
