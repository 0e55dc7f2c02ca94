// Winsock names over POSIX: the errno mapping and the calls that differ.
#include "platform/winsock/Winsock.h"

#include "support/LoopbackPeer.h"

#include <gtest/gtest.h>
#include <netdb.h>
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>

TEST(WinsockErrors, ErrnoMapping)
{
    struct Case {
        int posix;
        int winsock;
    };
    const Case cases[] = {
        {EINTR, 10004},       {EBADF, 10009},        {EACCES, 10013},        {EFAULT, 10014},
        {EINVAL, 10022},      {EMFILE, 10024},       {EWOULDBLOCK, 10035},   {EAGAIN, 10035},
        {EINPROGRESS, 10036}, {EALREADY, 10037},     {ENOTSOCK, 10038},      {EDESTADDRREQ, 10039},
        {EMSGSIZE, 10040},    {EPROTOTYPE, 10041},   {ENOPROTOOPT, 10042},   {EPROTONOSUPPORT, 10043},
        {ESOCKTNOSUPPORT, 10044}, {EOPNOTSUPP, 10045}, {EPFNOSUPPORT, 10046}, {EAFNOSUPPORT, 10047},
        {EADDRINUSE, 10048},  {EADDRNOTAVAIL, 10049}, {ENETDOWN, 10050},     {ENETUNREACH, 10051},
        {ENETRESET, 10052},   {ECONNABORTED, 10053}, {ECONNRESET, 10054},    {EPIPE, 10054},
        {ENOBUFS, 10055},     {EISCONN, 10056},      {ENOTCONN, 10057},      {ESHUTDOWN, 10058},
        {ETOOMANYREFS, 10059}, {ETIMEDOUT, 10060},   {ECONNREFUSED, 10061},  {ELOOP, 10062},
        {ENAMETOOLONG, 10063}, {EHOSTDOWN, 10064},   {EHOSTUNREACH, 10065},  {ENOTEMPTY, 10066},
        {EUSERS, 10068},      {EDQUOT, 10069},       {ESTALE, 10070},        {EREMOTE, 10071},
        {ENOENT, ENOENT},     {0, 0},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(c.winsock, WSAErrorFromErrno(c.posix)) << c.posix;
        errno = c.posix;
        EXPECT_EQ(c.winsock, WSAGetLastError()) << c.posix;
    }
    WSASetLastError(WSAECONNREFUSED);
    EXPECT_EQ(ECONNREFUSED, errno);
    EXPECT_EQ(10061, WSAGetLastError());
}

TEST(WinsockErrors, ResolverMappingAndStartup)
{
    const std::pair<int, int> cases[] = {{0, 0}, {EAI_NONAME, 11001}, {EAI_AGAIN, 11002}, {EAI_FAIL, 11003}, {EAI_NODATA, 11004}};
    for (const auto& c : cases)
        EXPECT_EQ(c.second, WSAErrorFromResolver(c.first)) << c.first;
    WSADATA data{};
    EXPECT_EQ(0, WSAStartup(MAKEWORD(1, 1), &data));
    EXPECT_EQ(0x0101, data.wVersion);
    EXPECT_EQ(0, WSACleanup());
}

TEST(WinsockCalls, SocketIsCloseOnExec)
{
    SOCKET s = wsa::socket(AF_INET, SOCK_STREAM, 0);
    ASSERT_NE(INVALID_SOCKET, s);
    EXPECT_TRUE(::fcntl(s, F_GETFD) & FD_CLOEXEC);
    EXPECT_EQ(0, closesocket(s));
    EXPECT_EQ(SOCKET_ERROR, closesocket(s));
    EXPECT_EQ(WSAEBADF, WSAGetLastError());
}

TEST(WinsockCalls, SendToClosedPeerFailsWithoutSignal)
{
    std::pair<int, int> pair = LoopbackPeer::connectedPair(LoopbackPeer::IPv4);
    ::close(pair.second);
    // Without MSG_NOSIGNAL the second or a later send would end this program.
    int result = 0;
    for (int i = 0; i < 50 && result >= 0; ++i)
        result = wsa::send(pair.first, "0123456789", 10, 0);
    EXPECT_EQ(SOCKET_ERROR, result);
    EXPECT_EQ(WSAECONNRESET, WSAGetLastError());
    closesocket(pair.first);
}

TEST(WinsockCalls, WaitReadable)
{
    std::pair<int, int> pair = LoopbackPeer::connectedPair(LoopbackPeer::IPv6);
    EXPECT_EQ(0, wsa::waitReadable(pair.first, 0));
    ASSERT_EQ(1, wsa::send(pair.second, "z", 1, 0));
    EXPECT_EQ(1, wsa::waitReadable(pair.first, 5));
    char c = 0;
    EXPECT_EQ(1, wsa::recv(pair.first, &c, 1, 0));
    EXPECT_EQ('z', c);
    closesocket(pair.first);
    closesocket(pair.second);
    EXPECT_EQ(SOCKET_ERROR, wsa::waitReadable(pair.first, 1));
    EXPECT_EQ(WSAEBADF, WSAGetLastError());
}
