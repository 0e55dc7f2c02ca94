#ifndef XML_URL_H
#define XML_URL_H

#include "../core/I18NString.h"

class VexUrl;

// A parsed URL (scheme://host[:port]/path[?query]). A text that is not a
// URL (no scheme, no host, a broken IPv6 literal, a port outside 1..65535)
// raises Xerces' MalformedURLException (an XMLException) from the
// constructor; callers that take URLs from their own callers catch
// XERCES_CPP_NAMESPACE::XMLException.
class SKARN_EXPORT XmlUrl {
public:
    explicit XmlUrl(const I18NString& url);
    ~XmlUrl();
    XmlUrl(const XmlUrl&) = delete;
    XmlUrl& operator=(const XmlUrl&) = delete;

    // The path with its query ("/svc/x?a=1"); "/" when the URL has no path,
    // so that it can stand in a request line as it is.
    I18NString getPath() const;
    // The host, an IPv6 literal without its brackets.
    I18NString getHost() const;
    // The port given in the URL, else the scheme's default (80 for http,
    // 443 for https), else 0.
    int getPort() const;
    // The scheme in lower case ("http").
    I18NString getProtocol() const;

private:
    VexUrl* m_url;
};

#endif
