#ifndef DOM_ASCII_STRING_H
#define DOM_ASCII_STRING_H

#include "platform/core/I18NString.h"
#include "platform/dom/VexIDOM_Element.h"
#include "platform/dom/VexIDOM_NodeList.h"

// One value of a configuration element, as ASCII: the text of the first
// element `name` in `namespaceURI` below `config` (document order). A missing
// element or an empty text raises SkarnException errMissingConfigValue
// (message 1842308005, parameter `name`, function "Skarn::getSession").
class DOMAsciiString {
public:
    DOMAsciiString(VexIDOM_Element& config, const I18NString& namespaceURI, const char* name);
    ~DOMAsciiString();
    DOMAsciiString(const DOMAsciiString&) = delete;
    DOMAsciiString& operator=(const DOMAsciiString&) = delete;

    // Valid while this object lives.
    const char* getValue() const { return m_ascii; }

private:
    VexIDOM_Element m_element;
    VexIDOM_NodeList m_list;
    I18NString m_value;
    const char* m_ascii;
};

#endif
