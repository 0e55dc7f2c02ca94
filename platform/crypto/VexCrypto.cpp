#include "platform/crypto/VexCrypto.h"

#include "platform/crypto/QsmSocket.h"

#include <atomic>
#include <cstdlib>
#include <cstring>

namespace {

std::atomic<int> g_open{0};

}  // namespace

int VexCrypto::initialize(const char* /*interfaceName*/)
{
    g_open.store(1);
    return QSM_S_OK;
}

void VexCrypto::terminate() { g_open.store(0); }

int VexCrypto::isOpen() { return g_open.load(); }

int VexCrypto::QSM_CryptoGetLastErrorDetails(QSM_HANDLE handle, char* /*reserved*/, char** details)
{
    if (!details)
        return QSM_E_FAILED;
    *details = nullptr;
    const QsmSocket* s = static_cast<const QsmSocket*>(handle);
    if (s && !s->lastError.empty())
        *details = ::strdup(s->lastError.c_str());
    return QSM_S_OK;
}

void VexCrypto::QSM_CryptoFree(void* text) { std::free(text); }

VexCrypto* VexCryptoSharedFactory::getInstance()
{
    static VexCrypto instance;
    return &instance;
}
