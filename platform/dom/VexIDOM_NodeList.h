#ifndef VEX_IDOM_NODE_LIST_H
#define VEX_IDOM_NODE_LIST_H

#include "VexIDOM_Node.h"

XERCES_CPP_NAMESPACE_BEGIN
class DOMNodeList;
XERCES_CPP_NAMESPACE_END

// A handle on a live list of nodes (children, or elements found by name);
// the list belongs to the document and follows changes of the tree.
// A default list is empty.
class SKARN_EXPORT VexIDOM_NodeList {
public:
    VexIDOM_NodeList() = default;
    explicit VexIDOM_NodeList(XERCES_CPP_NAMESPACE::DOMNodeList* list) : m_list(list) {}

    unsigned getLength() const;
    // A null node when `index` is out of range.
    VexIDOM_Node item(unsigned index) const;

private:
    XERCES_CPP_NAMESPACE::DOMNodeList* m_list = nullptr;
};

#endif
