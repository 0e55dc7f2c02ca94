#ifndef VEX_IDOM_TREE_H
#define VEX_IDOM_TREE_H

// Whole-tree operations of the DOM layer (internal, not exported). Xerces
// does each of them by recursion, one stack frame per level, so a deep tree
// overflows the stack; these walk first-child, next-sibling and parent links
// instead and cost no stack however deep the tree is.

#include "platform/core/I18NString.h"

#include <xercesc/util/XercesDefs.hpp>

XERCES_CPP_NAMESPACE_BEGIN
class DOMDocument;
class DOMNode;
XERCES_CPP_NAMESPACE_END

class VexIDOM_Tree {
public:
    // Releases `root` and everything below it, deepest nodes first. `root`
    // must not have a parent (a fragment, a detached node).
    static void release(XERCES_CPP_NAMESPACE::DOMNode* root);

    // The node's text content: the value of a text, CDATA, comment,
    // processing-instruction or attribute node; for other nodes the text and
    // CDATA descendants joined (comments and processing instructions left out).
    static I18NString text(const XERCES_CPP_NAMESPACE::DOMNode* node);

    // Equal as the DOM defines it: the same node types, names, namespaces,
    // prefixes, values and attributes (in any order), and equal children in order.
    static bool equal(const XERCES_CPP_NAMESPACE::DOMNode* a, const XERCES_CPP_NAMESPACE::DOMNode* b);

    // A copy of `node` and everything below it, made by `target`, not yet
    // appended anywhere. Refusals raise Xerces' DOMException.
    static XERCES_CPP_NAMESPACE::DOMNode* import(XERCES_CPP_NAMESPACE::DOMDocument* target,
                                                 XERCES_CPP_NAMESPACE::DOMNode* node);
};

#endif
