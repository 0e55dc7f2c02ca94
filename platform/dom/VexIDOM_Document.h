#ifndef VEX_IDOM_DOCUMENT_H
#define VEX_IDOM_DOCUMENT_H

#include "VexIDOM_Element.h"

#include <cstddef>

XERCES_CPP_NAMESPACE_BEGIN
class DOMDocument;
class DOMDocumentFragment;
XERCES_CPP_NAMESPACE_END

// A DOM document and the owner of its whole tree: every node handle taken from
// it is valid until the document is deleted. A new document is empty (no
// children); VexIDOM_Parser::parse fills it, or the create operations build
// nodes that the caller appends. Not copyable: copying the node part gives a
// plain handle on the document node.
class SKARN_EXPORT VexIDOM_Document : public VexIDOM_Node {
public:
    // The memory of a deleted object is kept for the next one made on the same
    // thread (VEX_THREAD_RECYCLED_DEFINE, platform/core/VexThreadSpare.h).
    static void* operator new(std::size_t n);
    static void operator delete(void* p, std::size_t n) noexcept;
    VexIDOM_Document();
    // A document whose nodes live in the document of `host` (`host` itself
    // when it is a document): what VexIDOM_Parser::parse puts into it can be
    // appended under `host` without a copy. Its children hang in a fragment of
    // that document, so this handle's node is the fragment (type 11), not a
    // document node; the fragment and what is still in it are released with
    // this object, which must go before the host's document does. Memory the
    // host's document hands out stays with it until it is released. A null
    // host gives an ordinary document. To host by a document, pass it as a
    // VexIDOM_Node (a VexIDOM_Document argument picks the deleted copy).
    explicit VexIDOM_Document(const VexIDOM_Node& host);
    ~VexIDOM_Document() override;
    VexIDOM_Document(const VexIDOM_Document&) = delete;
    VexIDOM_Document& operator=(const VexIDOM_Document&) = delete;

    // The root element (for a hosted document: its first element child);
    // null when there is none.
    VexIDOM_Element getDocumentElement() const;
    VexIDOM_Element createElement(const char* tagName);
    // `qualifiedName` may carry a prefix ("soap:Envelope").
    VexIDOM_Element createElementNS(const char* namespaceURI, const char* qualifiedName);
    VexIDOM_Node createTextNode(const char* text);
    VexIDOM_Node createCDATASection(const char* text);
    VexIDOM_Node createComment(const char* text);
    // A copy of a node of another document, owned by this one, not yet in the tree.
    VexIDOM_Node importNode(const VexIDOM_Node& node, bool deep);

    // The Xerces document that makes the nodes: this document's own, or the
    // host's for a hosted one.
    XERCES_CPP_NAMESPACE::DOMDocument* getXercesDocument() const { return m_doc; }
    // True for a document built in a host's document (see above).
    bool isHosted() const { return m_hosted; }
    // Takes over `doc` (from a parser), releasing the tree held so far; the
    // document then owns `doc` and is no longer hosted.
    void adopt(XERCES_CPP_NAMESPACE::DOMDocument* doc);
    // Hosted only: takes over `fragment` (of the host's document, from a
    // parser) as the holder of the children, releasing the one held so far.
    void adoptChildren(XERCES_CPP_NAMESPACE::DOMDocumentFragment* fragment);

private:
    void releaseTree();

    XERCES_CPP_NAMESPACE::DOMDocument* m_doc = nullptr;
    bool m_hosted = false;
};

#endif
