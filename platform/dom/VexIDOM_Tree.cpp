#include "platform/dom/VexIDOM_Tree.h"

#include "platform/dom/VexIDOM_Xerces.h"

#include <xercesc/dom/DOMAttr.hpp>
#include <xercesc/dom/DOMCharacterData.hpp>
#include <xercesc/dom/DOMDocument.hpp>
#include <xercesc/dom/DOMNamedNodeMap.hpp>
#include <xercesc/dom/DOMNode.hpp>
#include <xercesc/util/XMLString.hpp>

#include <string>
#include <vector>

using namespace XERCES_CPP_NAMESPACE;

namespace {

bool same(const XMLCh* a, const XMLCh* b)
{
    if (!a || !*a)
        return !b || !*b;
    return b && XMLString::equals(a, b);
}

// The node itself, without its children; an element's attributes included.
bool sameNode(const DOMNode* a, const DOMNode* b);

bool sameAttributes(const DOMNode* a, const DOMNode* b)
{
    DOMNamedNodeMap* x = a->getAttributes();
    DOMNamedNodeMap* y = b->getAttributes();
    XMLSize_t n = x ? x->getLength() : 0;
    if (n != (y ? y->getLength() : 0))
        return false;
    for (XMLSize_t i = 0; i < n; ++i) {
        DOMNode* p = x->item(i);
        DOMNode* q = p->getLocalName() ? y->getNamedItemNS(p->getNamespaceURI(), p->getLocalName())
                                       : y->getNamedItem(p->getNodeName());
        if (!q || !sameNode(p, q))
            return false;
    }
    return true;
}

bool sameNode(const DOMNode* a, const DOMNode* b)
{
    if (a->getNodeType() != b->getNodeType() || !same(a->getNodeName(), b->getNodeName()) ||
        !same(a->getLocalName(), b->getLocalName()) || !same(a->getNamespaceURI(), b->getNamespaceURI()) ||
        !same(a->getPrefix(), b->getPrefix()) || !same(a->getNodeValue(), b->getNodeValue()))
        return false;
    return a->getNodeType() != DOMNode::ELEMENT_NODE || sameAttributes(a, b);
}

}  // namespace

void VexIDOM_Tree::release(DOMNode* root)
{
    if (!root)
        return;
    // Detach and release leaves until the root is one.
    DOMNode* n = root;
    for (;;) {
        DOMNode* child = n->getLastChild();
        if (child) {
            n = child;
            continue;
        }
        if (n == root)
            break;
        DOMNode* parent = n->getParentNode();
        parent->removeChild(n);
        n->release();
        n = parent;
    }
    root->release();
}

I18NString VexIDOM_Tree::text(const DOMNode* node)
{
    if (!node)
        return I18NString();
    switch (node->getNodeType()) {
    case DOMNode::TEXT_NODE:
    case DOMNode::CDATA_SECTION_NODE:
    case DOMNode::COMMENT_NODE:
    case DOMNode::PROCESSING_INSTRUCTION_NODE:
    case DOMNode::ATTRIBUTE_NODE:
        return VexIDOM_Xerces::toI18N(node->getNodeValue());
    case DOMNode::DOCUMENT_NODE:
    case DOMNode::DOCUMENT_TYPE_NODE:
    case DOMNode::NOTATION_NODE:
        return I18NString();
    default:
        break;
    }
    std::string out;
    const DOMNode* n = node->getFirstChild();
    while (n) {
        DOMNode::NodeType t = n->getNodeType();
        if (t == DOMNode::TEXT_NODE || t == DOMNode::CDATA_SECTION_NODE) {
            // The node knows its length: a long text is not scanned for its end.
            const DOMCharacterData* data = static_cast<const DOMCharacterData*>(n);
            VexIDOM_Xerces::appendUtf8(out, data->getData(), data->getLength());
        }
        const DOMNode* next = (t == DOMNode::ELEMENT_NODE || t == DOMNode::ENTITY_REFERENCE_NODE)
                                  ? n->getFirstChild()
                                  : nullptr;
        while (!next && n != node) {
            next = n->getNextSibling();
            if (!next)
                n = n->getParentNode();
        }
        n = next;
    }
    return I18NString(std::move(out));
}

bool VexIDOM_Tree::equal(const DOMNode* a, const DOMNode* b)
{
    if (!a || !b)
        return a == b;
    const DOMNode* x = a;
    const DOMNode* y = b;
    for (;;) {
        if (!sameNode(x, y))
            return false;
        const DOMNode* cx = x->getFirstChild();
        const DOMNode* cy = y->getFirstChild();
        if (!cx != !cy)
            return false;
        if (cx) {
            x = cx;
            y = cy;
            continue;
        }
        for (;;) {
            if (x == a)
                return true;
            const DOMNode* nx = x->getNextSibling();
            const DOMNode* ny = y->getNextSibling();
            if (!nx != !ny)
                return false;
            if (nx) {
                x = nx;
                y = ny;
                break;
            }
            x = x->getParentNode();
            y = y->getParentNode();
        }
    }
}

DOMNode* VexIDOM_Tree::import(DOMDocument* target, DOMNode* node)
{
    DOMNode::NodeType t = node->getNodeType();
    // An attribute brings its value along, an entity reference its expansion.
    if (t == DOMNode::ATTRIBUTE_NODE || t == DOMNode::ENTITY_REFERENCE_NODE)
        return target->importNode(node, true);
    // Each copy is appended to its parent's copy once it is complete, while
    // that parent is not yet attached: the append's check for a cycle, which
    // climbs the parent's ancestors, then costs one step, not one per level.
    std::vector<DOMNode*> copies;
    DOMNode* n = node;
    for (;;) {
        bool whole = n->getNodeType() == DOMNode::ENTITY_REFERENCE_NODE;
        copies.push_back(target->importNode(n, whole));
        DOMNode* child = whole ? nullptr : n->getFirstChild();
        if (child) {
            n = child;
            continue;
        }
        for (;;) {
            DOMNode* done = copies.back();
            if (n == node)
                return done;
            copies.pop_back();
            copies.back()->appendChild(done);
            DOMNode* next = n->getNextSibling();
            if (next) {
                n = next;
                break;
            }
            n = n->getParentNode();
        }
    }
}
