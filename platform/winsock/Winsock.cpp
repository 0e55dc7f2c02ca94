#include "platform/winsock/Winsock.h"

#include <netdb.h>
#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <climits>

int WSAStartup(unsigned short versionRequested, LPWSADATA data)
{
    if (data) {
        data->wVersion = versionRequested;
        data->wHighVersion = MAKEWORD(2, 2);
    }
    return 0;
}

int WSACleanup() { return 0; }

namespace {

struct ErrnoPair {
    int posix;
    int winsock;
};

// errno values and their Winsock numbers; EWOULDBLOCK and EAGAIN are one value on Linux.
const ErrnoPair kErrnoTable[] = {
    {EINTR, WSAEINTR},
    {EBADF, WSAEBADF},
    {EACCES, WSAEACCES},
    {EPERM, WSAEACCES},
    {EFAULT, WSAEFAULT},
    {EINVAL, WSAEINVAL},
    {EMFILE, WSAEMFILE},
    {ENFILE, WSAEMFILE},
    {EWOULDBLOCK, WSAEWOULDBLOCK},
    {EINPROGRESS, WSAEINPROGRESS},
    {EALREADY, WSAEALREADY},
    {ENOTSOCK, WSAENOTSOCK},
    {EDESTADDRREQ, WSAEDESTADDRREQ},
    {EMSGSIZE, WSAEMSGSIZE},
    {EPROTOTYPE, WSAEPROTOTYPE},
    {ENOPROTOOPT, WSAENOPROTOOPT},
    {EPROTONOSUPPORT, WSAEPROTONOSUPPORT},
    {ESOCKTNOSUPPORT, WSAESOCKTNOSUPPORT},
    {EOPNOTSUPP, WSAEOPNOTSUPP},
    {EPFNOSUPPORT, WSAEPFNOSUPPORT},
    {EAFNOSUPPORT, WSAEAFNOSUPPORT},
    {EADDRINUSE, WSAEADDRINUSE},
    {EADDRNOTAVAIL, WSAEADDRNOTAVAIL},
    {ENETDOWN, WSAENETDOWN},
    {ENETUNREACH, WSAENETUNREACH},
    {ENETRESET, WSAENETRESET},
    {ECONNABORTED, WSAECONNABORTED},
    {ECONNRESET, WSAECONNRESET},
    {EPIPE, WSAECONNRESET},  // a send to a peer that has gone
    {ENOBUFS, WSAENOBUFS},
    {ENOMEM, WSAENOBUFS},
    {EISCONN, WSAEISCONN},
    {ENOTCONN, WSAENOTCONN},
    {ESHUTDOWN, WSAESHUTDOWN},
    {ETOOMANYREFS, WSAETOOMANYREFS},
    {ETIMEDOUT, WSAETIMEDOUT},
    {ECONNREFUSED, WSAECONNREFUSED},
    {ELOOP, WSAELOOP},
    {ENAMETOOLONG, WSAENAMETOOLONG},
    {EHOSTDOWN, WSAEHOSTDOWN},
    {EHOSTUNREACH, WSAEHOSTUNREACH},
    {ENOTEMPTY, WSAENOTEMPTY},
    {EUSERS, WSAEUSERS},
    {EDQUOT, WSAEDQUOT},
    {ESTALE, WSAESTALE},
    {EREMOTE, WSAEREMOTE},
};

}  // namespace

int WSAErrorFromErrno(int error)
{
    for (const ErrnoPair& p : kErrnoTable)
        if (p.posix == error)
            return p.winsock;
    return error;
}

int WSAErrorFromResolver(int status)
{
    switch (status) {
    case 0:
        return 0;
    case EAI_NONAME:
        return WSAHOST_NOT_FOUND;
#ifdef EAI_NODATA
    case EAI_NODATA:
        return WSANO_DATA;
#endif
#ifdef EAI_ADDRFAMILY
    case EAI_ADDRFAMILY:
        return WSANO_DATA;
#endif
    case EAI_AGAIN:
        return WSATRY_AGAIN;
    case EAI_SYSTEM:
        return WSAErrorFromErrno(errno);
    default:
        return WSANO_RECOVERY;
    }
}

int WSAGetLastError() { return WSAErrorFromErrno(errno); }

void WSASetLastError(int error)
{
    for (const ErrnoPair& p : kErrnoTable) {
        if (p.winsock == error) {
            errno = p.posix;
            return;
        }
    }
    errno = error;
}

int closesocket(SOCKET s) { return ::close(s); }

namespace wsa {

SOCKET socket(int family, int type, int protocol) { return ::socket(family, type | SOCK_CLOEXEC, protocol); }

int send(SOCKET s, const char* bytes, int length, int flags)
{
    return static_cast<int>(::send(s, bytes, length < 0 ? 0 : static_cast<size_t>(length), flags | MSG_NOSIGNAL));
}

int recv(SOCKET s, char* bytes, int length, int flags)
{
    return static_cast<int>(::recv(s, bytes, length < 0 ? 0 : static_cast<size_t>(length), flags));
}

int waitReadable(SOCKET s, int seconds)
{
    pollfd p{};
    p.fd = s;
    p.events = POLLIN;
    int ms = seconds <= 0 ? 0 : (seconds >= INT_MAX / 1000 ? INT_MAX : seconds * 1000);
    int r = ::poll(&p, 1, ms);
    if (r < 0)
        return SOCKET_ERROR;
    if (r == 0)
        return 0;
    if (p.revents & POLLNVAL) {
        errno = EBADF;
        return SOCKET_ERROR;
    }
    return 1;  // readable, at its end, or with an error that recv will report
}

}  // namespace wsa
