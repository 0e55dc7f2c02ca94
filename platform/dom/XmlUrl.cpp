#include "platform/dom/XmlUrl.h"

#include "platform/dom/VexIDOM_Xerces.h"

#include <xercesc/util/XMLExceptMsgs.hpp>
#include <xercesc/util/XMLURL.hpp>

#include <cctype>

using namespace XERCES_CPP_NAMESPACE;

XmlUrl::XmlUrl(const I18NString& url)
{
    VexIDOM_Xerces::ensureRegistered();
    VexIDOM_Xerces::XStr text(url);
    m_url = new XMLURL(text.get());
    // Xerces takes a text without scheme as a relative URL and does not
    // check the port's range: neither can name a server.
    if (m_url->isRelative() || (m_url->getPortNum() > 65535 && m_url->getPortNum() != 0xFFFFFFFF)) {
        delete m_url;
        m_url = nullptr;
        throw MalformedURLException(__FILE__, __LINE__, XMLExcepts::URL_MalformedURL);
    }
}

XmlUrl::~XmlUrl() { delete m_url; }

I18NString XmlUrl::getPath() const
{
    std::string path;
    VexIDOM_Xerces::appendUtf8(path, m_url->getPath());
    if (path.empty())
        path = "/";
    const XMLCh* query = m_url->getQuery();
    if (query && *query) {
        path += '?';
        VexIDOM_Xerces::appendUtf8(path, query);
    }
    return I18NString(std::move(path));
}

I18NString XmlUrl::getHost() const { return VexIDOM_Xerces::toI18N(m_url->getHost()); }

I18NString XmlUrl::getProtocol() const
{
    std::string s = VexIDOM_Xerces::toI18N(m_url->getProtocolName()).str();
    for (char& c : s)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return I18NString(std::move(s));
}
