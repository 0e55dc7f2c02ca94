#include "platform/dom/VexIDOM_Node.h"

#include "platform/core/VexFileLocation.h"
#include "platform/dom/VexIDOM_DOMException.h"
#include "platform/dom/VexIDOM_NodeList.h"
#include "platform/dom/VexIDOM_Tree.h"
#include "platform/dom/VexIDOM_Xerces.h"

#include <xercesc/dom/DOMException.hpp>
#include <xercesc/dom/DOMNode.hpp>

using namespace XERCES_CPP_NAMESPACE;

VexIDOM_Node::~VexIDOM_Node() = default;

DOMNode* VexIDOM_Node::node(const char* function) const
{
    if (!m_node)
        VexIDOM_DOMException(VexIDOM_DOMException::NOT_FOUND_ERR, "null node").hurl(VEX_LOCATION, function, "VEX_THROW");
    return m_node;
}

int VexIDOM_Node::getNodeType() const { return static_cast<int>(node("VexIDOM_Node::getNodeType")->getNodeType()); }

I18NString VexIDOM_Node::getNodeName() const
{
    return VexIDOM_Xerces::toI18N(node("VexIDOM_Node::getNodeName")->getNodeName());
}

I18NString VexIDOM_Node::getNodeValue() const
{
    return VexIDOM_Xerces::toI18N(node("VexIDOM_Node::getNodeValue")->getNodeValue());
}

void VexIDOM_Node::setNodeValue(const I18NString& value)
{
    DOMNode* n = node("VexIDOM_Node::setNodeValue");
    VexIDOM_Xerces::XStr text(value);
    try {
        n->setNodeValue(text);
    } catch (const DOMException& e) {
        VexIDOM_Xerces::raise(e, "VexIDOM_Node::setNodeValue");
    }
}

I18NString VexIDOM_Node::getLocalName() const
{
    return VexIDOM_Xerces::toI18N(node("VexIDOM_Node::getLocalName")->getLocalName());
}

I18NString VexIDOM_Node::getNamespaceURI() const
{
    return VexIDOM_Xerces::toI18N(node("VexIDOM_Node::getNamespaceURI")->getNamespaceURI());
}

I18NString VexIDOM_Node::getPrefix() const
{
    return VexIDOM_Xerces::toI18N(node("VexIDOM_Node::getPrefix")->getPrefix());
}

I18NString VexIDOM_Node::getTextContent() const
{
    return VexIDOM_Tree::text(node("VexIDOM_Node::getTextContent"));
}

VexIDOM_Node VexIDOM_Node::getParentNode() const
{
    return VexIDOM_Node(node("VexIDOM_Node::getParentNode")->getParentNode());
}

VexIDOM_Node VexIDOM_Node::getFirstChild() const
{
    return VexIDOM_Node(node("VexIDOM_Node::getFirstChild")->getFirstChild());
}

VexIDOM_Node VexIDOM_Node::getLastChild() const
{
    return VexIDOM_Node(node("VexIDOM_Node::getLastChild")->getLastChild());
}

VexIDOM_Node VexIDOM_Node::getNextSibling() const
{
    return VexIDOM_Node(node("VexIDOM_Node::getNextSibling")->getNextSibling());
}

VexIDOM_Node VexIDOM_Node::getPreviousSibling() const
{
    return VexIDOM_Node(node("VexIDOM_Node::getPreviousSibling")->getPreviousSibling());
}

VexIDOM_NodeList VexIDOM_Node::getChildNodes() const
{
    return VexIDOM_NodeList(node("VexIDOM_Node::getChildNodes")->getChildNodes());
}

bool VexIDOM_Node::hasChildNodes() const { return node("VexIDOM_Node::hasChildNodes")->hasChildNodes(); }

VexIDOM_Node VexIDOM_Node::appendChild(const VexIDOM_Node& child)
{
    DOMNode* parent = node("VexIDOM_Node::appendChild");
    DOMNode* c = child.node("VexIDOM_Node::appendChild");
    try {
        return VexIDOM_Node(parent->appendChild(c));
    } catch (const DOMException& e) {
        VexIDOM_Xerces::raise(e, "VexIDOM_Node::appendChild");
    }
}

VexIDOM_Node VexIDOM_Node::removeChild(const VexIDOM_Node& child)
{
    DOMNode* parent = node("VexIDOM_Node::removeChild");
    DOMNode* c = child.node("VexIDOM_Node::removeChild");
    try {
        return VexIDOM_Node(parent->removeChild(c));
    } catch (const DOMException& e) {
        VexIDOM_Xerces::raise(e, "VexIDOM_Node::removeChild");
    }
}

bool VexIDOM_Node::isEqualNode(const VexIDOM_Node& other) const
{
    if (!m_node || !other.m_node)
        return m_node == other.m_node;
    return VexIDOM_Tree::equal(m_node, other.m_node);
}
