#ifndef VEX_SOCKET_ADDRESS_H
#define VEX_SOCKET_ADDRESS_H

#include "platform/core/SkarnExport.h"

#include <sys/socket.h>

#include <vector>

// The secure-socket library's resolver. Build it with the library's interface
// name ("QSM_Crypto_Interface"), resolve, then take results by index.
// An index with no result gives an address of family 0xFFFF, every byte 0xFF.
class SKARN_EXPORT VexSocketAddress {
public:
    explicit VexSocketAddress(const char* interfaceName);
    ~VexSocketAddress();

    // Resolves the host of a URL ("scheme://host[:port]/path", IPv6 literals in
    // brackets) with its port (or the scheme's default).
    int QSM_ResolveAddressFromURI(const char* url, int flags, int* count);
    // Resolves `host` (null: the local machine) with `port`; `passive` 1 for a listener.
    int QSM_ResolveAddress(const char* host, unsigned short port, int passive, int* count);
    int QSM_GetAddress(int index, sockaddr_storage* address);
    // The numeric text of an address ("127.0.0.1", "::1") into `text` of `size` bytes.
    int QSM_GetAddressAsText(const sockaddr_storage* address, char* text, int size);

private:
    std::vector<sockaddr_storage> m_results;
};

#endif
