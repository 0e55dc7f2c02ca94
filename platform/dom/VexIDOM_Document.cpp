#include "platform/dom/VexIDOM_Document.h"

#include "platform/core/VexThreadSpare.h"
#include "platform/dom/VexIDOM_Xerces.h"
#include "platform/dom/VexIDOM_Tree.h"

#include <xercesc/dom/DOMCDATASection.hpp>
#include <xercesc/dom/DOMComment.hpp>
#include <xercesc/dom/DOMDocument.hpp>
#include <xercesc/dom/DOMDocumentFragment.hpp>
#include <xercesc/dom/DOMElement.hpp>
#include <xercesc/dom/DOMText.hpp>
#include <xercesc/dom/DOMException.hpp>
#include <xercesc/dom/DOMImplementation.hpp>
#include <xercesc/dom/impl/DOMImplementationImpl.hpp>

using namespace XERCES_CPP_NAMESPACE;

VEX_THREAD_RECYCLED_DEFINE(VexIDOM_Document)

namespace {

// Xerces' one implementation of the core DOM, straight from Xerces: asking
// the registry by feature name parses the name each time.
DOMImplementation* coreImplementation() { return DOMImplementationImpl::getDOMImplementationImpl(); }

}  // namespace

VexIDOM_Document::VexIDOM_Document()
{
    VexIDOM_Xerces::ensureRegistered();
    m_doc = coreImplementation()->createDocument();
    m_node = m_doc;
}

VexIDOM_Document::VexIDOM_Document(const VexIDOM_Node& host)
{
    VexIDOM_Xerces::ensureRegistered();
    DOMNode* h = host.getXercesNode();
    DOMDocument* owner = nullptr;
    if (h)
        owner = h->getNodeType() == DOMNode::DOCUMENT_NODE ? static_cast<DOMDocument*>(h) : h->getOwnerDocument();
    if (owner) {
        m_doc = owner;
        m_node = owner->createDocumentFragment();
        m_hosted = true;
        return;
    }
    m_doc = coreImplementation()->createDocument();
    m_node = m_doc;
}

VexIDOM_Document::~VexIDOM_Document()
{
    releaseTree();
    m_doc = nullptr;
    m_node = nullptr;
}

void VexIDOM_Document::releaseTree()
{
    if (m_hosted) {
        // The host's document stays; only the fragment and its nodes go.
        VexIDOM_Tree::release(m_node);
    } else if (m_doc) {
        m_doc->release();
    }
}

void VexIDOM_Document::adopt(DOMDocument* doc)
{
    releaseTree();
    m_hosted = false;
    m_doc = doc;
    m_node = doc;
}

void VexIDOM_Document::adoptChildren(DOMDocumentFragment* fragment)
{
    if (!m_hosted)
        return;
    releaseTree();
    m_node = fragment;
}

VexIDOM_Element VexIDOM_Document::getDocumentElement() const
{
    if (!m_hosted)
        return VexIDOM_Element(VexIDOM_Node(m_doc->getDocumentElement()));
    for (DOMNode* n = m_node ? m_node->getFirstChild() : nullptr; n; n = n->getNextSibling())
        if (n->getNodeType() == DOMNode::ELEMENT_NODE)
            return VexIDOM_Element(VexIDOM_Node(n));
    return VexIDOM_Element();
}

VexIDOM_Element VexIDOM_Document::createElement(const char* tagName)
{
    VexIDOM_Xerces::XStr n(tagName);
    try {
        return VexIDOM_Element(VexIDOM_Node(m_doc->createElement(n)));
    } catch (const DOMException& e) {
        VexIDOM_Xerces::raise(e, "VexIDOM_Document::createElement");
    }
}

VexIDOM_Element VexIDOM_Document::createElementNS(const char* namespaceURI, const char* qualifiedName)
{
    VexIDOM_Xerces::XStr ns(namespaceURI);
    VexIDOM_Xerces::XStr n(qualifiedName);
    try {
        return VexIDOM_Element(VexIDOM_Node(m_doc->createElementNS(ns, n)));
    } catch (const DOMException& e) {
        VexIDOM_Xerces::raise(e, "VexIDOM_Document::createElementNS");
    }
}

VexIDOM_Node VexIDOM_Document::createTextNode(const char* text)
{
    VexIDOM_Xerces::XStr t(text ? text : "");
    return VexIDOM_Node(m_doc->createTextNode(t));
}

VexIDOM_Node VexIDOM_Document::createCDATASection(const char* text)
{
    VexIDOM_Xerces::XStr t(text ? text : "");
    return VexIDOM_Node(m_doc->createCDATASection(t));
}

VexIDOM_Node VexIDOM_Document::createComment(const char* text)
{
    VexIDOM_Xerces::XStr t(text ? text : "");
    return VexIDOM_Node(m_doc->createComment(t));
}

VexIDOM_Node VexIDOM_Document::importNode(const VexIDOM_Node& other, bool deep)
{
    DOMNode* n = other.getXercesNode();
    try {
        return VexIDOM_Node(deep && n ? VexIDOM_Tree::import(m_doc, n) : m_doc->importNode(n, deep));
    } catch (const DOMException& e) {
        VexIDOM_Xerces::raise(e, "VexIDOM_Document::importNode");
    }
}
