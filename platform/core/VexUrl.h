#ifndef VEX_URL_H
#define VEX_URL_H

#include <cstddef>
#include <string>

// A URL split once into what each floor reads of it:
//
//     scheme://[userinfo@]host[:port][/path][?query][#fragment]
//
// with an IPv6 literal in brackets. Splitting never throws: a part that is
// missing stays empty and `fault` names the first reason why the URL cannot
// name a server, so that each caller refuses it in its own words (or, where
// its contract is more lenient, reads `portText` itself).
class VexUrl {
public:
    enum Fault {
        None,
        NoUrl,             // null or empty
        NoScheme,          // no "://", or nothing in front of it
        UnclosedLiteral,   // "[" without "]"
        TextAfterLiteral,  // "]" followed by something other than ":port"
        NoHost,
        BadPort,           // port text that is not 1 to 5 digits of 1..65535
        NoDefaultPort      // no port, and a scheme other than http or https
    };

    std::string text;        // the URL as given
    std::string scheme;      // lower case
    std::size_t keyBegin = std::string::npos;  // just after "://"; npos without it
    std::size_t keyEnd = std::string::npos;    // the first "/" after keyBegin, else the end of the text
    std::string host;        // without userinfo and without brackets
    bool hasPort = false;    // a ":" follows the host
    std::string portText;    // as written after that ":"
    int port = 0;            // the port written, else the scheme's default; 0 when neither holds
    std::string path;        // path and query, "/" when there is none; never the fragment
    Fault fault = NoUrl;

    static VexUrl split(const char* url);

    bool usable() const { return fault == None; }
    // Why the URL is not usable, naming it ("URL 'x' has no host"); empty when it is.
    std::string reason() const;
    bool isHttps() const { return scheme == "https"; }
    // The connection pool's key: the text between "://" and the next "/", as
    // written (so "h" and "h:80" are two keys). Empty without "://".
    std::string key() const;
    // The value of an HTTP Host header: the host (an IPv6 literal in
    // brackets) and ":port" unless the port is the scheme's default.
    std::string hostHeader() const;
    // 80 for http, 443 for https, 0 for any other scheme.
    static int defaultPort(const std::string& scheme);
};

#endif
