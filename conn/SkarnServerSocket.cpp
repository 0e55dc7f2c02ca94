#include "conn/SkarnServerSocket.h"

#include "api/SkarnException.h"
#include "conn/SkrServerSocket.h"
#include "platform/core/VexGuard.h"

#include <memory>

#define SKARN_NOT_SUPPORTED(function) SkarnException::raise(VEX_LOCATION, function, SkarnException::errNotSupported)

namespace {

const char kDefaultSSL[] =
    "<sessionConfigDocument><serviceID>SkarnServerSocket</serviceID><forceSSLStatus>ON</forceSSLStatus>"
    "</sessionConfigDocument>";
const char kDefaultPlain[] =
    "<sessionConfigDocument><serviceID>SkarnServerSocket</serviceID><forceSSLStatus>OFF</forceSSLStatus>"
    "</sessionConfigDocument>";

char* documentOrDefault(char* sessionConfigDoc, int serverSSL)
{
    if (sessionConfigDoc && *sessionConfigDoc)
        return sessionConfigDoc;
    return const_cast<char*>(serverSSL == 1 ? kDefaultSSL : kDefaultPlain);
}

}  // namespace

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

SkarnServerSocket* SkarnServerSocket::getServerSocket(int nPort, char* sessionConfigDoc, int, int serverSSL)
{
    static const char kFunction[] = "SkarnServerSocket::getServerSocket(2)";
    return VEX_GUARDED(kFunction, {
        std::unique_ptr<SkrServerSocket> server(new SkrServerSocket(serverSSL));
        static_cast<SkarnServerSocket&>(*server).open(nPort, documentOrDefault(sessionConfigDoc, serverSSL));
        return static_cast<SkarnServerSocket*>(server.release());
    });
}

SkarnServerSocket* SkarnServerSocket::getServerSocket(char* serverAddr, int nPort, char* sessionConfigDoc, int,
                                                      int serverSSL)
{
    static const char kFunction[] = "SkarnServerSocket::getServerSocket(3)";
    return VEX_GUARDED(kFunction, {
        std::unique_ptr<SkrServerSocket> server(new SkrServerSocket(serverSSL));
        static_cast<SkarnServerSocket&>(*server).open(serverAddr, nPort,
                                                      documentOrDefault(sessionConfigDoc, serverSSL));
        return static_cast<SkarnServerSocket*>(server.release());
    });
}
