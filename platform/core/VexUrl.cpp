#include "platform/core/VexUrl.h"

namespace {

char lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

// 1 to 5 decimal digits of a value 1..65535; 0 otherwise.
int portNumber(const std::string& digits)
{
    if (digits.empty() || digits.size() > 5)
        return 0;
    int value = 0;
    for (char c : digits) {
        if (c < '0' || c > '9')
            return 0;
        value = value * 10 + (c - '0');
    }
    return value <= 65535 ? value : 0;
}

}  // namespace

VexUrl VexUrl::split(const char* url)
{
    VexUrl u;
    if (!url || !*url)
        return u;
    u.text = url;
    const std::string& t = u.text;
    const std::size_t sep = t.find("://");
    u.fault = NoScheme;
    if (sep == std::string::npos)
        return u;
    u.keyBegin = sep + 3;
    u.keyEnd = t.find('/', u.keyBegin);
    if (u.keyEnd == std::string::npos)
        u.keyEnd = t.size();
    for (std::size_t i = 0; i < sep; ++i)
        u.scheme += lower(t[i]);

    std::size_t end = t.find_first_of("/?#", u.keyBegin);
    if (end == std::string::npos)
        end = t.size();
    u.path = t.substr(end, t.find('#', end) - end);
    if (u.path.empty() || u.path[0] != '/')
        u.path.insert(0, "/");
    std::size_t begin = t.rfind('@', end);
    begin = begin == std::string::npos || begin < u.keyBegin ? u.keyBegin : begin + 1;

    u.fault = None;
    std::size_t hostEnd = end;
    if (begin < end && t[begin] == '[') {
        const std::size_t close = t.find(']', begin);
        if (close == std::string::npos || close > end) {
            u.fault = UnclosedLiteral;
        } else {
            u.host = t.substr(begin + 1, close - begin - 1);
            hostEnd = close + 1;
            if (hostEnd < end && t[hostEnd] != ':') {
                u.fault = TextAfterLiteral;
                hostEnd = end;
            }
        }
    } else {
        hostEnd = t.find(':', begin);
        if (hostEnd == std::string::npos || hostEnd > end)
            hostEnd = end;
        u.host = t.substr(begin, hostEnd - begin);
    }
    if (hostEnd < end) {
        u.hasPort = true;
        u.portText = t.substr(hostEnd + 1, end - hostEnd - 1);
    }
    u.port = u.portText.empty() ? defaultPort(u.scheme) : portNumber(u.portText);
    if (sep == 0)
        u.fault = NoScheme;
    else if (u.fault == None && u.host.empty())
        u.fault = NoHost;
    else if (u.fault == None && u.port == 0)
        u.fault = u.portText.empty() ? NoDefaultPort : BadPort;
    return u;
}

std::string VexUrl::reason() const
{
    const std::string url = "URL '" + text + "'";
    switch (fault) {
    case None: return std::string();
    case NoUrl: return "no URL";
    case NoScheme: return url + " has no scheme";
    case UnclosedLiteral: return url + " has an unclosed IPv6 literal";
    case TextAfterLiteral: return url + " has text after its IPv6 literal";
    case NoHost: return url + " has no host";
    case BadPort: return url + " has no valid port";
    case NoDefaultPort: return url + " has no port and scheme '" + scheme + "' has no default";
    }
    return url + " is not usable";
}

std::string VexUrl::key() const
{
    return keyBegin == std::string::npos ? std::string() : text.substr(keyBegin, keyEnd - keyBegin);
}

std::string VexUrl::hostHeader() const
{
    std::string value = host.find(':') != std::string::npos ? "[" + host + "]" : host;
    if (port != defaultPort(scheme))
        value += ":" + std::to_string(port);
    return value;
}

int VexUrl::defaultPort(const std::string& scheme)
{
    return scheme == "http" ? 80 : scheme == "https" ? 443 : 0;
}
