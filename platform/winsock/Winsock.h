#ifndef SKARN_WINSOCK_H
#define SKARN_WINSOCK_H

// Winsock names over POSIX sockets: SOCKET is a descriptor, start-up and
// clean-up succeed and do nothing else, WSAGetLastError maps errno to the
// Winsock numbers the toolkit tests and prints.
//
// The calls whose POSIX form differs in what matters to the toolkit live in
// namespace wsa, with Winsock's signatures:
//   wsa::socket   creates the descriptor close-on-exec
//   wsa::send     never raises SIGPIPE (a peer that has gone fails the call instead)
//   wsa::recv     int lengths as Winsock has them
//   wsa::waitReadable  the select() of one socket for reading, without select's
//                 limit on descriptor numbers
// connect, setsockopt, shutdown, htons and ntohs are the POSIX calls themselves.

#include "../core/SkarnExport.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <sys/types.h>

typedef int SOCKET;
static const SOCKET INVALID_SOCKET = -1;
static const int SOCKET_ERROR = -1;
static const int SD_BOTH = SHUT_RDWR;

struct WSADATA {
    unsigned short wVersion;
    unsigned short wHighVersion;
};
typedef WSADATA* LPWSADATA;

inline unsigned short MAKEWORD(unsigned char low, unsigned char high)
{
    return static_cast<unsigned short>(low | (high << 8));
}

// Winsock error numbers the toolkit tests or prints.
enum {
    WSAEINTR = 10004,
    WSAEBADF = 10009,
    WSAEACCES = 10013,
    WSAEFAULT = 10014,
    WSAEINVAL = 10022,
    WSAEMFILE = 10024,
    WSAEWOULDBLOCK = 10035,
    WSAEINPROGRESS = 10036,
    WSAEALREADY = 10037,
    WSAENOTSOCK = 10038,
    WSAEDESTADDRREQ = 10039,
    WSAEMSGSIZE = 10040,
    WSAEPROTOTYPE = 10041,
    WSAENOPROTOOPT = 10042,
    WSAEPROTONOSUPPORT = 10043,
    WSAESOCKTNOSUPPORT = 10044,
    WSAEOPNOTSUPP = 10045,
    WSAEPFNOSUPPORT = 10046,
    WSAEAFNOSUPPORT = 10047,
    WSAEADDRINUSE = 10048,
    WSAEADDRNOTAVAIL = 10049,
    WSAENETDOWN = 10050,
    WSAENETUNREACH = 10051,
    WSAENETRESET = 10052,
    WSAECONNABORTED = 10053,
    WSAECONNRESET = 10054,
    WSAENOBUFS = 10055,
    WSAEISCONN = 10056,
    WSAENOTCONN = 10057,
    WSAESHUTDOWN = 10058,
    WSAETOOMANYREFS = 10059,
    WSAETIMEDOUT = 10060,
    WSAECONNREFUSED = 10061,
    WSAELOOP = 10062,
    WSAENAMETOOLONG = 10063,
    WSAEHOSTDOWN = 10064,
    WSAEHOSTUNREACH = 10065,
    WSAENOTEMPTY = 10066,
    WSAEPROCLIM = 10067,
    WSAEUSERS = 10068,
    WSAEDQUOT = 10069,
    WSAESTALE = 10070,
    WSAEREMOTE = 10071,
    WSASYSNOTREADY = 10091,
    WSAVERNOTSUPPORTED = 10092,
    WSANOTINITIALISED = 10093,
    WSAEDISCON = 10101,
    WSAHOST_NOT_FOUND = 11001,
    WSATRY_AGAIN = 11002,
    WSANO_RECOVERY = 11003,
    WSANO_DATA = 11004,
};

SKARN_EXPORT int WSAStartup(unsigned short versionRequested, LPWSADATA data);
SKARN_EXPORT int WSACleanup();

// The Winsock number of the calling thread's last socket failure (errno).
// An errno without a Winsock counterpart is returned as it is.
int WSAGetLastError();
// Sets the calling thread's last failure to a Winsock number (as errno).
void WSASetLastError(int error);

// The Winsock number of an errno value, and of a getaddrinfo status
// (11001 host not found, 11002 try again, 11003 non-recoverable, 11004 no data).
int WSAErrorFromErrno(int error);
int WSAErrorFromResolver(int status);

int closesocket(SOCKET s);

namespace wsa {

SOCKET socket(int family, int type, int protocol);
int send(SOCKET s, const char* bytes, int length, int flags);
int recv(SOCKET s, char* bytes, int length, int flags);
// Waits until `s` is readable (or at its end): 1 ready, 0 when `seconds`
// passed first (0 seconds: no wait at all), SOCKET_ERROR with the failure
// in WSAGetLastError() (WSAEINTR when a signal interrupted the wait).
int waitReadable(SOCKET s, int seconds);

}  // namespace wsa

#endif
