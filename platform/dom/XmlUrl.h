#ifndef XML_URL_H
#define XML_URL_H

#include "../core/I18NString.h"

#include <xercesc/util/XercesDefs.hpp>

XERCES_CPP_NAMESPACE_BEGIN
class XMLURL;
XERCES_CPP_NAMESPACE_END

// A parsed URL (scheme://host[:port]/path[?query]), by Xerces' URL parser.
// A text that is not a URL raises Xerces' MalformedURLException (an
// XMLException) from the constructor; callers that take URLs from their
// own callers catch XERCES_CPP_NAMESPACE::XMLException.
class SKARN_EXPORT XmlUrl {
public:
    explicit XmlUrl(const I18NString& url);
    ~XmlUrl();
    XmlUrl(const XmlUrl&) = delete;
    XmlUrl& operator=(const XmlUrl&) = delete;

    // The path with its query ("/svc/x?a=1"); "/" when the URL has no path,
    // so that it can stand in a request line as it is.
    I18NString getPath() const;
    // The host as written; empty when there is none.
    I18NString getHost() const;
    // The scheme in lower case ("http").
    I18NString getProtocol() const;

private:
    XERCES_CPP_NAMESPACE::XMLURL* m_url;
};

#endif
