#include "platform/dom/VexIDOM_Element.h"

#include "platform/core/VexFileLocation.h"
#include "platform/dom/VexIDOM_DOMException.h"
#include "platform/dom/VexIDOM_Xerces.h"

#include <xercesc/dom/DOMElement.hpp>
#include <xercesc/dom/DOMException.hpp>

using namespace XERCES_CPP_NAMESPACE;

namespace {

DOMElement* asElement(DOMNode* n) { return static_cast<DOMElement*>(n); }

}  // namespace

VexIDOM_Element::VexIDOM_Element(const VexIDOM_Node& other) : VexIDOM_Node(other)
{
    if (m_node && m_node->getNodeType() != DOMNode::ELEMENT_NODE) {
        m_node = nullptr;
        VexIDOM_DOMException(VexIDOM_DOMException::TYPE_MISMATCH_ERR, "node is not an element")
            .hurl(VEX_LOCATION, "VexIDOM_Element::VexIDOM_Element", "VEX_THROW");
    }
}

VexIDOM_Element::~VexIDOM_Element() = default;

I18NString VexIDOM_Element::getTagName() const
{
    return VexIDOM_Xerces::toI18N(asElement(node("VexIDOM_Element::getTagName"))->getTagName());
}

I18NString VexIDOM_Element::getAttribute(const char* name) const
{
    DOMElement* e = asElement(node("VexIDOM_Element::getAttribute"));
    VexIDOM_Xerces::XStr n(name);
    return VexIDOM_Xerces::toI18N(e->getAttribute(n));
}

I18NString VexIDOM_Element::getAttributeNS(const char* namespaceURI, const char* localName) const
{
    DOMElement* e = asElement(node("VexIDOM_Element::getAttributeNS"));
    VexIDOM_Xerces::XStr ns(namespaceURI);
    VexIDOM_Xerces::XStr n(localName);
    return VexIDOM_Xerces::toI18N(e->getAttributeNS(ns, n));
}

bool VexIDOM_Element::hasAttribute(const char* name) const
{
    DOMElement* e = asElement(node("VexIDOM_Element::hasAttribute"));
    VexIDOM_Xerces::XStr n(name);
    return e->hasAttribute(n);
}

void VexIDOM_Element::setAttribute(const char* name, const char* value)
{
    DOMElement* e = asElement(node("VexIDOM_Element::setAttribute"));
    VexIDOM_Xerces::XStr n(name);
    VexIDOM_Xerces::XStr v(value ? value : "");
    try {
        e->setAttribute(n, v);
    } catch (const DOMException& x) {
        VexIDOM_Xerces::raise(x, "VexIDOM_Element::setAttribute");
    }
}

void VexIDOM_Element::setAttributeNS(const char* namespaceURI, const char* qualifiedName, const char* value)
{
    DOMElement* e = asElement(node("VexIDOM_Element::setAttributeNS"));
    VexIDOM_Xerces::XStr ns(namespaceURI);
    VexIDOM_Xerces::XStr n(qualifiedName);
    VexIDOM_Xerces::XStr v(value ? value : "");
    try {
        e->setAttributeNS(ns, n, v);
    } catch (const DOMException& x) {
        VexIDOM_Xerces::raise(x, "VexIDOM_Element::setAttributeNS");
    }
}

void VexIDOM_Element::removeAttribute(const char* name)
{
    DOMElement* e = asElement(node("VexIDOM_Element::removeAttribute"));
    VexIDOM_Xerces::XStr n(name);
    try {
        e->removeAttribute(n);
    } catch (const DOMException& x) {
        VexIDOM_Xerces::raise(x, "VexIDOM_Element::removeAttribute");
    }
}

VexIDOM_NodeList VexIDOM_Element::getElementsByTagName(const char* name) const
{
    DOMElement* e = asElement(node("VexIDOM_Element::getElementsByTagName"));
    VexIDOM_Xerces::XStr n(name);
    return VexIDOM_NodeList(e->getElementsByTagName(n));
}

VexIDOM_NodeList VexIDOM_Element::getElementsByTagNameNS(const I18NString& namespaceURI, const char* localName) const
{
    DOMElement* e = asElement(node("VexIDOM_Element::getElementsByTagNameNS"));
    VexIDOM_Xerces::XStr ns(namespaceURI);
    VexIDOM_Xerces::XStr n(localName);
    return VexIDOM_NodeList(e->getElementsByTagNameNS(ns, n));
}
