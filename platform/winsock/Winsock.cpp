#include "platform/winsock/Winsock.h"

int WSAStartup(unsigned short versionRequested, LPWSADATA data)
{
    if (data) {
        data->wVersion = versionRequested;
        data->wHighVersion = MAKEWORD(2, 2);
    }
    return 0;
}

int WSACleanup() { return 0; }
