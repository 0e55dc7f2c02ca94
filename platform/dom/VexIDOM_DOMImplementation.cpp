#include "platform/dom/VexIDOM_DOMImplementation.h"

#include "platform/core/VexGuard.h"
#include "platform/dom/VexIDOM_Document.h"

#include <memory>

VexIDOM_DOMImplementation& VexIDOM_DOMImplementation::getImplementation()
{
    static VexIDOM_DOMImplementation instance;
    return instance;
}

VexIDOM_Document* VexIDOM_DOMImplementation::createDocument()
{
    return VEX_GUARDED_NEW("VexIDOM_DOMImplementation::createDocument", new VexIDOM_Document());
}

VexIDOM_Document* VexIDOM_DOMImplementation::createDocument(const char* namespaceURI, const char* qualifiedName)
{
    std::unique_ptr<VexIDOM_Document> doc(createDocument());
    VexIDOM_Element root = doc->createElementNS(namespaceURI, qualifiedName);
    doc->appendChild(root);
    return doc.release();
}
