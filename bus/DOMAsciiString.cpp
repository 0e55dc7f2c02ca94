#include "bus/DOMAsciiString.h"

#include "api/SkarnException.h"

DOMAsciiString::DOMAsciiString(VexIDOM_Element& config, const I18NString& namespaceURI, const char* name)
    : m_element(config), m_ascii(nullptr)
{
    m_list = m_element.getElementsByTagNameNS(namespaceURI, name);
    if (m_list.getLength() > 0) {
        m_value = m_list.item(0).getFirstChild().isNull() ? I18NString() : m_list.item(0).getFirstChild().getNodeValue();
        if (!m_value.str().empty()) {
            m_ascii = m_value.getAsciiString();
            return;
        }
    }
    SkarnException::raise(VEX_LOCATION, "Skarn::getSession", SkarnException::errMissingConfigValue, {name});
}

DOMAsciiString::~DOMAsciiString()
{
    if (m_ascii)
        I18NString::releaseBuffer(m_ascii);
    m_ascii = nullptr;
}
