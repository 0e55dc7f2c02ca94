#ifndef VEX_SOCKET_ADDRESS_H
#define VEX_SOCKET_ADDRESS_H

#include "../core/SkarnExport.h"

#include <sys/socket.h>

#include <vector>

// The secure-socket library's resolver. Build it with the library's interface
// name ("QSM_Crypto_Interface"), resolve, then take results by index.
// An index with no result gives an address of family 0xFFFF, every byte 0xFF.
//
// Results are stream (TCP) addresses, IPv4 and IPv6, in the order the
// system's resolver prefers them, each with the port in network byte order.
// Every call returns QSM_S_OK (0) or QSM_E_NOT_RESOLVED; after a failed
// resolution getLastError() gives the Winsock number of the reason
// (11001 host not found, 11002 try again, 11003 non-recoverable, 11004 no data).
class SKARN_EXPORT VexSocketAddress {
public:
    enum { QSM_E_NOT_RESOLVED = -11 };

    explicit VexSocketAddress(const char* interfaceName);
    ~VexSocketAddress();

    // Resolves the host of a URL ("scheme://host[:port]/path", IPv6 literals in
    // brackets) with its port (or the scheme's default: http 80, https 443, else 0).
    int QSM_ResolveAddressFromURI(const char* url, int flags, int* count);
    // Resolves `host` (null: the local machine; for a listener, every local
    // address) with `port`; `passive` 1 for a listener.
    int QSM_ResolveAddress(const char* host, unsigned short port, int passive, int* count);
    int QSM_GetAddress(int index, sockaddr_storage* address);
    // The numeric text of an address ("127.0.0.1", "::1") into `text` of `size`
    // bytes; an address of another family gives an empty text and QSM_E_NOT_RESOLVED.
    int QSM_GetAddressAsText(const sockaddr_storage* address, char* text, int size);

    int getLastError() const { return m_lastError; }

private:
    std::vector<sockaddr_storage> m_results;
    int m_lastError = 0;
};

#endif
