#ifndef VEX_IDOM_DOM_IMPLEMENTATION_H
#define VEX_IDOM_DOM_IMPLEMENTATION_H

#include "../core/SkarnExport.h"

class VexIDOM_Document;

// The factory of documents (one per process).
class SKARN_EXPORT VexIDOM_DOMImplementation {
public:
    static VexIDOM_DOMImplementation& getImplementation();

    // An empty document, owned by the caller.
    VexIDOM_Document* createDocument();
    // A document whose root element has that namespace and qualified name
    // ("soap:Envelope"), owned by the caller. A bad name raises VexIDOM_DOMException.
    VexIDOM_Document* createDocument(const char* namespaceURI, const char* qualifiedName);
};

#endif
