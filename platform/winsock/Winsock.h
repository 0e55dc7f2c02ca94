#ifndef SKARN_WINSOCK_H
#define SKARN_WINSOCK_H

// Winsock names over POSIX sockets: SOCKET is a descriptor, start-up and
// clean-up succeed and do nothing else, WSAGetLastError maps errno to the
// Winsock numbers the toolkit tests and prints.

#include "platform/core/SkarnExport.h"

typedef int SOCKET;
static const SOCKET INVALID_SOCKET = -1;
static const int SOCKET_ERROR = -1;

struct WSADATA {
    unsigned short wVersion;
    unsigned short wHighVersion;
};
typedef WSADATA* LPWSADATA;

inline unsigned short MAKEWORD(unsigned char low, unsigned char high)
{
    return static_cast<unsigned short>(low | (high << 8));
}

SKARN_EXPORT int WSAStartup(unsigned short versionRequested, LPWSADATA data);
SKARN_EXPORT int WSACleanup();

#endif
