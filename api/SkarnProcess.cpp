#include "api/SkarnProcess.h"

#include "platform/core/VexCore.h"
#include "platform/crypto/VexCrypto.h"
#include "platform/winsock/Winsock.h"

int SkarnProcessInitialize(const char* /*name*/) { return SkarnCoreProcessInitialize("Skarn"); }

int SkarnProcessTerminate(const char* /*name*/) { return SkarnCoreProcessTerminate("Skarn"); }

int SkarnCoreProcessInitialize(const char* /*name*/)
{
    WSADATA data;
    int rc = WSAStartup(0x0101, &data);
    if (rc != 0)
        return rc;
    rc = vexInitialize("SkarnCore");
    if (rc == 0)
        VexCrypto::initialize("QSM_Crypto_Interface");
    return rc;
}

int SkarnCoreProcessTerminate(const char* /*name*/)
{
    VexCrypto::terminate();
    int rc = vexTerminate("SkarnCore");
    WSACleanup();
    return rc;
}
