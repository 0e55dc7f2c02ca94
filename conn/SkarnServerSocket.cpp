#include "conn/SkarnServerSocket.h"

#include "api/SkarnException.h"

#define SKARN_NOT_SUPPORTED(function) SkarnException::raise(VEX_LOCATION, function, SkarnException::errNotSupported)

SkarnServerSocket::~SkarnServerSocket() = default;

void SkarnServerSocket::open(int) { SKARN_NOT_SUPPORTED("SkarnServerSocket::open(1)"); }

void SkarnServerSocket::open(char*, int) { SKARN_NOT_SUPPORTED("SkarnServerSocket::open(char*,int)"); }

void SkarnServerSocket::open(int, char*) { SKARN_NOT_SUPPORTED("SkarnServerSocket::open(int,char*)"); }

void SkarnServerSocket::open(char*, int, char*) { SKARN_NOT_SUPPORTED("SkarnServerSocket::open(3)"); }

SkarnSocket* SkarnServerSocket::awaitCommunicationAttempt(int)
{
    SKARN_NOT_SUPPORTED("SkarnSocket::AwaitCommunicationAttempt(1)");
}

SkarnSocket* SkarnServerSocket::awaitCommunicationAttempt()
{
    SKARN_NOT_SUPPORTED("SkarnSocket::AwaitCommunicationAttempt(0)");
}
