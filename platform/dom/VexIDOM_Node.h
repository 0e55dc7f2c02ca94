#ifndef VEX_IDOM_NODE_H
#define VEX_IDOM_NODE_H

#include "../core/I18NString.h"

#include <xercesc/util/XercesDefs.hpp>

XERCES_CPP_NAMESPACE_BEGIN
class DOMNode;
XERCES_CPP_NAMESPACE_END

class VexIDOM_NodeList;

// A handle on one node of a DOM tree. It owns nothing: the tree belongs to its
// VexIDOM_Document, and a handle is valid while that document lives and the
// node is not removed. Handles copy freely; a default handle is null.
//
// Texts in and out are UTF-8. Operations that the tree refuses raise
// VexIDOM_DOMException with the DOM's code; using a null handle raises it with
// NOT_FOUND_ERR (8).
class SKARN_EXPORT VexIDOM_Node {
public:
    enum NodeType {
        ELEMENT_NODE = 1,
        ATTRIBUTE_NODE = 2,
        TEXT_NODE = 3,
        CDATA_SECTION_NODE = 4,
        ENTITY_REFERENCE_NODE = 5,
        ENTITY_NODE = 6,
        PROCESSING_INSTRUCTION_NODE = 7,
        COMMENT_NODE = 8,
        DOCUMENT_NODE = 9,
        DOCUMENT_TYPE_NODE = 10,
        DOCUMENT_FRAGMENT_NODE = 11,
        NOTATION_NODE = 12
    };

    VexIDOM_Node() = default;
    explicit VexIDOM_Node(XERCES_CPP_NAMESPACE::DOMNode* node) : m_node(node) {}
    VexIDOM_Node(const VexIDOM_Node&) = default;
    VexIDOM_Node& operator=(const VexIDOM_Node&) = default;
    virtual ~VexIDOM_Node();

    bool isNull() const { return m_node == nullptr; }
    int getNodeType() const;
    I18NString getNodeName() const;
    // Null-valued nodes (elements, documents) give an empty text.
    I18NString getNodeValue() const;
    void setNodeValue(const I18NString& value);
    I18NString getLocalName() const;
    I18NString getNamespaceURI() const;
    I18NString getPrefix() const;
    // The text of the node and all its descendants.
    I18NString getTextContent() const;

    VexIDOM_Node getParentNode() const;
    VexIDOM_Node getFirstChild() const;
    VexIDOM_Node getLastChild() const;
    VexIDOM_Node getNextSibling() const;
    VexIDOM_Node getPreviousSibling() const;
    VexIDOM_NodeList getChildNodes() const;
    bool hasChildNodes() const;

    // Appends `child` (of the same document; VexIDOM_Helper::appendChild
    // imports a foreign one) and returns it.
    VexIDOM_Node appendChild(const VexIDOM_Node& child);
    VexIDOM_Node removeChild(const VexIDOM_Node& child);
    // Same type, names, values, attributes and children, at every level.
    bool isEqualNode(const VexIDOM_Node& other) const;
    bool isSameNode(const VexIDOM_Node& other) const { return m_node == other.m_node; }

    XERCES_CPP_NAMESPACE::DOMNode* getXercesNode() const { return m_node; }

protected:
    // The node, or VexIDOM_DOMException NOT_FOUND_ERR for a null handle.
    XERCES_CPP_NAMESPACE::DOMNode* node(const char* function) const;

    XERCES_CPP_NAMESPACE::DOMNode* m_node = nullptr;
};

#endif
