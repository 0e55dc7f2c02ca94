#ifndef VEX_IDOM_ELEMENT_H
#define VEX_IDOM_ELEMENT_H

#include "VexIDOM_Node.h"
#include "VexIDOM_NodeList.h"

// A handle on an element node. Built from a node handle, it checks the type:
// a node that is not an element raises VexIDOM_DOMException TYPE_MISMATCH_ERR
// (17); a null handle stays null.
class SKARN_EXPORT VexIDOM_Element : public VexIDOM_Node {
public:
    VexIDOM_Element() = default;
    explicit VexIDOM_Element(const VexIDOM_Node& node);
    ~VexIDOM_Element() override;

    I18NString getTagName() const;
    // Empty text when the attribute is absent.
    I18NString getAttribute(const char* name) const;
    I18NString getAttributeNS(const char* namespaceURI, const char* localName) const;
    bool hasAttribute(const char* name) const;
    void setAttribute(const char* name, const char* value);
    // `qualifiedName` may carry a prefix ("soap:mustUnderstand").
    void setAttributeNS(const char* namespaceURI, const char* qualifiedName, const char* value);
    void removeAttribute(const char* name);

    // All elements below this one, in document order, with that tag name
    // ("*": any) or namespace and local name ("*" matches any).
    VexIDOM_NodeList getElementsByTagName(const char* name) const;
    VexIDOM_NodeList getElementsByTagNameNS(const I18NString& namespaceURI, const char* localName) const;
};

#endif
