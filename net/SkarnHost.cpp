#include "net/SkarnHost.h"

#include "api/SkarnException.h"
#include "platform/crypto/VexSocketAddress.h"
#include "platform/winsock/Winsock.h"

#include <unistd.h>

#include <string>

void SkarnHost::getInternetMachineName(char* buffer, unsigned int size)
{
    if (!buffer)
        return;
    if (::gethostname(buffer, size) != 0) {
        int error = WSAGetLastError();
        SkarnException::raise(VEX_LOCATION, "SkarnHost::getInternetMachineName", SkarnException::errHostName,
                              {I18NString(std::to_string(error))});
    }
}

sockaddr_storage SkarnHost::getIPAddress(const char* host)
{
    VexSocketAddress resolver("QSM_Crypto_Interface");
    int count = 0;
    resolver.QSM_ResolveAddress(host ? host : "localhost", 0, 0, &count);
    sockaddr_storage address;
    resolver.QSM_GetAddress(0, &address);
    return address;
}
