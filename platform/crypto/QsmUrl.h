#ifndef QSM_URL_H
#define QSM_URL_H

#include <sys/socket.h>

#include <string>

#include "platform/core/VexUrl.h"

// A URL as the secure-socket layer connects to it: the toolkit's one split
// (VexUrl) with a verdict, and the address helpers of the layer.
class QsmUrl : public VexUrl {
public:
    // False with a reason in `error` when the URL has no scheme, no host, a
    // port outside 1..65535, or no port and a scheme without a default.
    bool parse(const char* url, std::string& error);

    // The first address of `family` (AF_INET, AF_INET6, or AF_UNSPEC for any)
    // for host and port. False with the resolver's reason in `error`.
    bool resolve(int family, sockaddr_storage& address, std::string& error) const;

    // "host:port" or "[host]:port" of an address, for failure texts.
    static std::string describe(const sockaddr_storage& address);
    // The port of an IPv4 or IPv6 address (host byte order); 0 for another family.
    static int portOf(const sockaddr_storage& address);
    // The address alone as text ("127.0.0.1", "::1"), for logs.
    static std::string addressText(const sockaddr_storage& address);
    // True when `host` is a numeric IPv4 or IPv6 address.
    static bool isIpLiteral(const std::string& host);
};

#endif
