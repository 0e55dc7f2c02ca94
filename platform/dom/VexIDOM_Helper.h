#ifndef VEX_IDOM_HELPER_H
#define VEX_IDOM_HELPER_H

#include "VexIDOM_Element.h"

class DomWriter;

// Operations on trees that the node classes do not offer.
class SKARN_EXPORT VexIDOM_Helper {
public:
    // Serialises `node` and everything below it as UTF-8 XML onto `writer`:
    // a document gets the declaration <?xml version="1.0" encoding="UTF-8"?>
    // and writeNewLine(); an element is written alone. Text escapes &, <, >
    // (and CR as &#13;), attribute values also ", tab, LF and CR. Namespace
    // declarations are written as found in the tree, and a declaration is added
    // where an element or attribute uses a namespace that no ancestor declares,
    // so that parsing the output gives the same names, prefixes and namespaces.
    // A null node writes nothing. Exceptions of the writer pass through.
    static void write(const VexIDOM_Node& node, DomWriter& writer);

    // Appends `child` under `parent`. A child of another document is first
    // imported (deep copy) into the parent's document, and the copy is
    // appended and returned. Refusals raise VexIDOM_DOMException.
    static VexIDOM_Node appendChild(VexIDOM_Node& parent, const VexIDOM_Node& child);

    // The first element at or below `root`, in document order, whose tag name
    // or local name is `name`; a null element when there is none.
    static VexIDOM_Element findFirstElement(const VexIDOM_Node& root, const char* name);

    // The text below the element (all text and CDATA descendants joined);
    // empty for a null element.
    static I18NString getElementText(const VexIDOM_Element& element);
};

#endif
