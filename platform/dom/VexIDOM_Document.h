#ifndef VEX_IDOM_DOCUMENT_H
#define VEX_IDOM_DOCUMENT_H

#include "platform/dom/VexIDOM_Element.h"

XERCES_CPP_NAMESPACE_BEGIN
class DOMDocument;
XERCES_CPP_NAMESPACE_END

// A DOM document and the owner of its whole tree: every node handle taken from
// it is valid until the document is deleted. A new document is empty (no
// children); VexIDOM_Parser::parse fills it, or the create operations build
// nodes that the caller appends. Not copyable: copying the node part gives a
// plain handle on the document node.
class SKARN_EXPORT VexIDOM_Document : public VexIDOM_Node {
public:
    VexIDOM_Document();
    ~VexIDOM_Document() override;
    VexIDOM_Document(const VexIDOM_Document&) = delete;
    VexIDOM_Document& operator=(const VexIDOM_Document&) = delete;

    // The root element; null when there is none.
    VexIDOM_Element getDocumentElement() const;
    VexIDOM_Element createElement(const char* tagName);
    // `qualifiedName` may carry a prefix ("soap:Envelope").
    VexIDOM_Element createElementNS(const char* namespaceURI, const char* qualifiedName);
    VexIDOM_Node createTextNode(const char* text);
    VexIDOM_Node createCDATASection(const char* text);
    VexIDOM_Node createComment(const char* text);
    // A copy of a node of another document, owned by this one, not yet in the tree.
    VexIDOM_Node importNode(const VexIDOM_Node& node, bool deep);

    XERCES_CPP_NAMESPACE::DOMDocument* getXercesDocument() const { return m_doc; }
    // Takes over `doc` (from a parser), releasing the tree held so far.
    void adopt(XERCES_CPP_NAMESPACE::DOMDocument* doc);

private:
    XERCES_CPP_NAMESPACE::DOMDocument* m_doc = nullptr;
};

#endif
