#include "platform/dom/XmlUrl.h"

#include "platform/core/VexUrl.h"
#include "platform/dom/VexIDOM_Xerces.h"

#include <xercesc/util/XMLExceptMsgs.hpp>
#include <xercesc/util/XMLURL.hpp>  // MalformedURLException

using namespace XERCES_CPP_NAMESPACE;

XmlUrl::XmlUrl(const I18NString& url) : m_url(new VexUrl(VexUrl::split(url.c_str())))
{
    // A scheme without a default port is still a URL; only what cannot name
    // a server is refused.
    if (!m_url->usable() && m_url->fault != VexUrl::NoDefaultPort) {
        delete m_url;
        m_url = nullptr;
        VexIDOM_Xerces::ensureRegistered();
        throw MalformedURLException(__FILE__, __LINE__, XMLExcepts::URL_MalformedURL);
    }
}

XmlUrl::~XmlUrl() { delete m_url; }

I18NString XmlUrl::getPath() const { return I18NString(m_url->path); }

I18NString XmlUrl::getHost() const { return I18NString(m_url->host); }

int XmlUrl::getPort() const { return m_url->port; }

I18NString XmlUrl::getProtocol() const { return I18NString(m_url->scheme); }
